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
    // Station 0 may be filled from the file but is never connected.
    for (int s = 1; s <= kMaxStation; ++s) {
        StationEntry& entry = ctx->stations[s];
        if (entry.host[0] == '\0') continue;
        SockAddrIn local{};
        local.family = plat::kAfInet;  // any address, any port
        const int rc = ConnectSocket(&entry.socket, plat::kAfInet, plat::kSockStream, 0, 1,
                                     &local, kConnectTimeoutMs, &entry.address);
        if (rc != 0) {
            err(kLogLevel, "ZavUR: InitConnections(): ConnectSocket() Fail on station %d rc = %d",
                s, static_cast<int>(static_cast<std::uint16_t>(rc)));
            continue;
        }
        char text[16];
        FormatDottedAddress(local.address, text, sizeof text);
        err(kLogLevel, "ZavUR: InitConnections(): client: addr %s   port %d", text,
            static_cast<int>(plat::NetToHost16(local.port)));
    }
    return 0;
}

void ReleaseStations(DriverContext* context) {
    for (StationEntry& entry : context->stations) ReleaseSocket(&entry.socket);
}

}  // namespace etl
