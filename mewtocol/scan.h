// Reads served from a scan: for a station whose line says scan=MS, the
// driver learns which addresses the host reads from it, groups neighbouring
// ones into as few requests as the protocol allows, and serves a read from
// values at most MS milliseconds old. When a read needs fresh values, the
// requests of every scanning station whose values are due go out at once,
// each on its station's own connection, and the read waits only for the
// answer it needs; the others are taken in by the calls that follow.
//
// The table is made at ColdStart when a station scans, and freed by EndVpi
// and by a new ColdStart; nothing is allocated or logged on a read that
// succeeds. A station without the option is never touched by any of this.
#pragma once

#include <cstdint>

#include "host/blocks.h"

namespace etl {

// Limits of one instance's table: learned addresses, requests, and the
// words of one request (27 double words, the longest block the address
// check allows; 13 for the data link registers). A read that does not fit
// is an exchange of its own, as without the option.
constexpr int kScanMaxRanges = 1024;
constexpr int kScanMaxRequests = 256;
constexpr int kScanMaxWords = 54;
// Addresses this close to each other share a request.
constexpr int kScanGapWords = 8;

// Makes the table when a station of the context scans (false, with a log
// line, when it cannot be made: reads are then exchanges of their own), and
// frees it.
bool CreateScanTable(DriverContext* ctx);
void FreeScanTable(DriverContext* ctx);

// Before an exchange of its own on the station's connection: a scan request
// still in flight on it is finished or given up (within its time-out).
void SettleScan(DriverContext* ctx, int station);

// A read of words at a word address of an area (memory letter): true when
// the scan serves it (*result: 0 with the words in the receive area's data
// field, as an exchange leaves them; 1 or 2 as an exchange fails), false
// when the read must be an exchange of its own.
bool ScanRead(VpiRequest* request, int key, long long first, int words, int* result);

// After such an exchange succeeded: the address is learned, when there is
// room for it.
void ScanLearn(DriverContext* ctx, int station, int key, long long first, int words);

// A write to words of an area: no value from before it is served again.
void ScanWritten(DriverContext* ctx, int station, int key, long long first, int words);

// The host made the station's connection anew: a request in flight on the
// old one is given up.
void ScanDropFlight(DriverContext* ctx, int station);

}  // namespace etl
