// Connecting the configured stations of a table, once, at start-up.
#include <cstdio>

#include "host/qanpro.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {

void FormatDottedAddress(std::uint32_t address, char* buf, std::size_t size) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(buf, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

int InitConnections(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    // Every configured station's connection is started at once and all are
    // waited for together, so that silent stations cost one time-out in
    // all rather than one each; the lines are then logged in station order.
    // Station 0 may be filled from the file but is never connected.
    static_assert(kMaxStation <= kMaxConnectRequests, "one request per station");
    ConnectRequest requests[kMaxStation];
    int stationOf[kMaxStation];
    int count = 0;
    for (int s = 1; s <= kMaxStation; ++s) {
        StationEntry& entry = ctx->stations[s];
        if (entry.host[0] == '\0') continue;
        ConnectRequest& r = requests[count];
        r.holder = &entry.socket;
        r.remote = &entry.address;
        r.local = SockAddrIn{};
        r.local.family = plat::kAfInet;  // any address, any port
        r.result = 0;
        stationOf[count++] = s;
    }
    ConnectSockets(requests, count, kConnectTimeoutMs);

    for (int i = 0; i < count; ++i) {
        const ConnectRequest& r = requests[i];
        if (r.result != 0) {
            err(kLogLevel, "ZavUR: InitConnections(): ConnectSocket() Fail on station %d rc = %d",
                stationOf[i], static_cast<int>(static_cast<std::uint16_t>(r.result)));
            continue;
        }
        char text[16];
        FormatDottedAddress(r.local.address, text, sizeof text);
        err(kLogLevel, "ZavUR: InitConnections(): client: addr %s   port %d", text,
            static_cast<int>(plat::NetToHost16(r.local.port)));
    }
    return 0;
}

void ReleaseStations(DriverContext* context) {
    for (StationEntry& entry : context->stations) ReleaseSocket(&entry.socket);
}

}  // namespace etl
