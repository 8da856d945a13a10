// Connecting stations: every configured station of a table at start-up,
// and one station entry anew; only an entry with a usable address.
#include <cstdio>
#include <cstring>

#include "host/qanpro.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {

bool StationAddressUsable(const StationEntry& entry) {
    return entry.address.family == plat::kAfInet && UsableAddress(entry.address.address);
}

bool CheckStationAddress(int station, const StationEntry& entry) {
    if (StationAddressUsable(entry)) return true;
    // Only a host text that was read and gave no address is named: a line
    // refused before its port (family not set) was reported by InitFile.
    if (entry.address.family == plat::kAfInet && entry.host[0] != '\0' &&
        std::memchr(entry.host, '\0', sizeof entry.host) != nullptr) {
        err(kLogLevel, "ZavUR: station %d host text \"%s\" is no usable IPv4 address", station,
            entry.host);
    }
    return false;
}

int ConnectStation(int station, StationEntry* entry, int* cause) {
    if (!CheckStationAddress(station, *entry)) {
        ReleaseSocket(&entry->socket);
        if (cause != nullptr) *cause = plat::ErrorInvalid();
        return plat::ErrorInvalid();
    }
    SockAddrIn local{};
    local.family = plat::kAfInet;  // any address, any port
    return ConnectSocket(&entry->socket, plat::kAfInet, plat::kSockStream, 0, 1, &local,
                         kConnectTimeoutMs, &entry->address, cause);
}

int InitConnections(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    // Every configured station's connection is started at once and all are
    // waited for together, so that silent stations cost one time-out in
    // all rather than one each; the lines are then logged in station order.
    // Station 0 may be filled from the file but is never connected, nor is
    // a station without a usable address: it opens no socket and fails.
    static_assert(kMaxStation <= kMaxConnectRequests, "one request per station");
    ConnectRequest requests[kMaxStation];
    int stationOf[kMaxStation];
    int requestOf[kMaxStation];  // per configured station, -1: not tried
    int count = 0;
    int configured = 0;
    for (int s = 1; s <= kMaxStation; ++s) {
        StationEntry& entry = ctx->stations[s];
        if (entry.host[0] == '\0') continue;
        stationOf[configured] = s;
        if (!StationAddressUsable(entry)) {
            ReleaseSocket(&entry.socket);
            requestOf[configured++] = -1;
            continue;
        }
        ConnectRequest& r = requests[count];
        r.holder = &entry.socket;
        r.remote = &entry.address;
        r.local = SockAddrIn{};
        r.local.family = plat::kAfInet;  // any address, any port
        r.result = 0;
        requestOf[configured++] = count++;
    }
    ConnectSockets(requests, count, kConnectTimeoutMs);

    for (int i = 0; i < configured; ++i) {
        const int s = stationOf[i];
        int rc = plat::ErrorInvalid();
        int cause = rc;
        if (requestOf[i] < 0) {
            CheckStationAddress(s, ctx->stations[s]);
        } else {
            rc = requests[requestOf[i]].result;
            cause = requests[requestOf[i]].cause;
        }
        if (rc != 0) {
            char why[64];
            ConnectFailureText(rc, cause, kConnectTimeoutMs, why, sizeof why);
            err(kLogLevel, "ZavUR: InitConnections(): ConnectSocket() Fail on station %d rc = %d%s",
                s, static_cast<int>(static_cast<std::uint16_t>(rc)), why);
            continue;
        }
        const ConnectRequest& r = requests[requestOf[i]];
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
