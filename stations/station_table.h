// The station file, the station table and the connection of all stations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"

namespace etl {

// The PC's own station number, shared by every instance of the module: the
// last station file read sets it, and every frame carries it as source.
// Safe to read and set from any thread.
std::int32_t PcStationNumber();
void SetPcStationNumber(std::int32_t number);

constexpr std::uint32_t kConnectTimeoutMs = 1000;

// Clears and fills the context's station table from "zavUR%02d.int".
// 1 when a station address could not be resolved, else 0.
int InitFile(VpiRequest* request);

// Connects every configured station 1..64 once; always 0.
int InitConnections(VpiRequest* request);

// Closes every connection that the context's station table holds; each
// entry's socket is -1 afterwards. Only for a table this driver filled.
void ReleaseStations(DriverContext* context);

// Fills an IPv4 socket address from a host text and a port text (a service
// name or a number). 0, or -1 when the host name cannot be resolved.
int SetSockectAddr(SockAddrIn* address, const char* host, const char* port,
                   const char* protocol);

// Dotted IPv4 text as the socket library reads it (one to four parts,
// decimal, octal with a leading 0 or hexadecimal with 0x, the last part
// filling the remaining bytes), nothing after it: true and the address in
// network order.
bool ParseDottedAddress(const char* text, std::uint32_t* address);

// An address in network order as dotted text; buf holds at least 16 bytes.
void FormatDottedAddress(std::uint32_t address, char* buf, std::size_t size);

}  // namespace etl
