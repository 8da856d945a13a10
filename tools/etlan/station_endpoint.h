// Where a station's host and port texts lead, read by the driver's own
// rules, for the tools' connections to the stations of a station file
// (the trace's relay, the bench's raw client).
#pragma once

#include <string>

#include <asio/ip/tcp.hpp>

namespace etl::etlan {

// A host text with a full stop is an IPv4 address as the platform's
// conversion reads it (plat::ParseIpv4), refused when a part is in octal or
// hexadecimal (HasOctalOrHexPart: the driver never connects such a
// station); any other host text is a name, looked up (plat::ResolveHost).
// The port text is a service name (plat::ServicePort) or a port number
// 1-65535 (ReadPortNumber). False with the reason in *why.
bool StationEndpoint(const std::string& host, const std::string& port, asio::ip::tcp::endpoint* out,
                     std::string* why);

}  // namespace etl::etlan
