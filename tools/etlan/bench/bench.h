// etlan bench: the driver measured against the physical limit, a raw
// blocking-socket client that sends the very same frames and reads the
// answers up to their carriage return, in interleaved rounds on one
// station: latency, operations per second and this process's CPU time
// for ReadValue, ReadBlock and WriteValue; the CPU time of reads against a
// station that answers late; and the time ColdStart takes on a station
// file of stations that never answer.
#pragma once

#include "tools/etlan/driver.h"
#include "tools/etlan/options.h"

namespace etl::etlan {

// Runs the bench on a loaded driver whose station file is in place (the
// current directory holds zavURnn.int). Prints the table and returns the
// exit status: 0 when it ran, 1 when an operation failed or read a wrong
// value, 3 when it could not run. When a ColdStart outlives its limit the
// process ends here, without EndVpi, after releasing stationDir.
int RunBench(const Options& o, DriverHost* host, StationDir* stationDir);

}  // namespace etl::etlan
