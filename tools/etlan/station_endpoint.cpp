#include "tools/etlan/station_endpoint.h"

#include <cstring>

#include "platform/socket_platform.h"
#include "stations/station_line.h"

namespace etl::etlan {

bool StationEndpoint(const std::string& host, const std::string& port, asio::ip::tcp::endpoint* out,
                     std::string* why) {
    std::uint32_t address = 0;  // network order
    if (host.find('.') != std::string::npos) {
        if (!plat::ParseIpv4(host.c_str(), &address)) {
            *why = "\"" + host + "\" is no IPv4 address";
            return false;
        }
        if (HasOctalOrHexPart(host.c_str())) {
            *why = "\"" + host + "\" has a part in octal or hex, which the driver never connects";
            return false;
        }
    } else if (!plat::ResolveHost(host.c_str(), &address)) {
        *why = "cannot resolve \"" + host + "\"";
        return false;
    }
    std::uint16_t number = 0;
    if (plat::ServicePort(port.c_str(), "tcp", &number)) {
        number = plat::NetToHost16(number);
    } else if (!ReadPortNumber(port.c_str(), &number)) {
        *why = "port \"" + port + "\" is no port number 1-65535 or service";
        return false;
    }
    asio::ip::address_v4::bytes_type bytes;
    std::memcpy(bytes.data(), &address, bytes.size());
    *out = {asio::ip::address_v4(bytes), number};
    return true;
}

}  // namespace etl::etlan
