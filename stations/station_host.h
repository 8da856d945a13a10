// The address a station line's host text gives, as the driver reads it: a
// text with a full stop is an address as the platform's own conversion
// reads it (plat::ParseIpv4) and is never looked up; any other text but the
// empty one is a host name and is looked up (plat::ResolveHost). For the
// driver and for the tools that tell what it will do with a station file;
// the caller links a platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/socket_platform.h"
#include "stations/station_line.h"

namespace etl {

enum class HostReading : std::uint8_t {
    kAddress,     // an address the driver connects
    kNoAddress,   // empty, a dotted text the conversion refuses, or 0.0.0.0:
                  // the station is defined but never connected
    kOctalOrHex,  // a dotted text with a part read in octal or hex: defined,
                  // never connected (*address holds what the conversion read)
    kUnresolved,  // a name that does not resolve: the driver's start fails
};

// 0.0.0.0 and 255.255.255.255 are never connected.
constexpr bool UsableAddress(std::uint32_t address) {
    return address != 0 && address != 0xFFFFFFFFu;
}

// An address in network order as dotted text; buf holds at least 16 bytes.
inline void FormatDottedAddress(std::uint32_t address, char* buf, std::size_t size) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(buf, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// *address (network order) is what the conversion or the look-up gave, 0
// when neither gave anything.
inline HostReading ReadHostText(const char* host, std::uint32_t* address) {
    *address = 0;
    if (host[0] == '\0') return HostReading::kNoAddress;
    if (std::strchr(host, '.') == nullptr) {
        if (!plat::ResolveHost(host, address)) {
            *address = 0;
            return HostReading::kUnresolved;
        }
    } else {
        if (!plat::ParseIpv4(host, address)) *address = 0;
        if (HasOctalOrHexPart(host)) return HostReading::kOctalOrHex;
    }
    return UsableAddress(*address) ? HostReading::kAddress : HostReading::kNoAddress;
}

}  // namespace etl
