// The station file, the station table and the connection of all stations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"
#include "stations/station_host.h"  // FormatDottedAddress, ReadHostText

namespace etl {

// The PC's own station number, shared by every instance of the module: the
// last station file read sets it, and every frame carries it as source.
// Safe to read and set from any thread.
std::int32_t PcStationNumber();
void SetPcStationNumber(std::int32_t number);

constexpr std::uint32_t kConnectTimeoutMs = 1000;

// Clears and fills the context's station table and the stations' options
// from "zavUR%02d.int". 1 when a host name could not be resolved, else 0.
// A line whose port text is neither a port number 1-65535 nor a service
// leaves its station undefined; one whose dotted host text has a part with
// a leading 0 defines its station without an address (never connected);
// options that are not understood leave the station at the defaults. Each
// with its log line; the other stations are not affected. Only a regular file is
// read, and at most kMaxStationFileBytes bytes and kMaxStationFileLines
// lines after the header; what comes before a bound stays in effect.
constexpr long kMaxStationFileBytes = 1L << 20;
constexpr int kMaxStationFileLines = 10000;
int InitFile(VpiRequest* request);

// Connects every configured station 1..64 once; always 0.
int InitConnections(VpiRequest* request);

// Whether a station entry holds an address that may be connected to: an
// IPv4 socket address other than 0.0.0.0 and 255.255.255.255. A dotted host
// text that the platform does not read as an address (a typo such as
// "127.0.0.300") leaves its entry without one: the station is defined but
// never connected. Every connection of a station entry is made only after
// this test passed.
bool StationAddressUsable(const StationEntry& entry);

// StationAddressUsable, and when the entry fails it although its host and
// port texts were read, the line 'ZavUR: station <n> host text "<text>" is
// no usable IPv4 address'.
bool CheckStationAddress(int station, const StationEntry& entry);

// Connects one station entry anew, its earlier connection closed first:
// 0, or the error number (with CheckStationAddress's line and no socket
// opened when the entry holds no usable address). The entry's socket is
// kNoSocket afterwards unless it is connected. cause (optional): why it
// did not connect, as ConnectSocket gives it.
int ConnectStation(int station, StationEntry* entry, int* cause = nullptr);

// Closes every connection that the context's station table holds; each
// entry's socket is -1 afterwards. Only for a table this driver filled.
void ReleaseStations(DriverContext* context);

// Fills an IPv4 socket address from a host text and a port text (a service
// name or a number). A host text with a full stop is read by the platform's
// address conversion (plat::ParseIpv4) and never looked up: one that it
// refuses gives the address 0.0.0.0, which is never connected. Any other
// host text is a name and is looked up. 0, or -1 when a name cannot be
// resolved (the address is then left as it was).
int SetSockectAddr(SockAddrIn* address, const char* host, const char* port,
                   const char* protocol);

}  // namespace etl
