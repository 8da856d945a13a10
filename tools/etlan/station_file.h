// The station files etlan writes for the driver: one for --host (a header
// and a line per station, each at that address), and a file's station lines
// with the answer time-out of --timeout. Text only, no I/O.
#pragma once

#include <set>
#include <string>

namespace etl::etlan {

// The own station number of the file for --host: no station's, so that no
// tag's station is taken for the PC's.
constexpr int kHostFilePcNumber = 65;

// "PC-stn: 65" and a line NN "HOST" "PORT" for each station; hostPort is
// HOST:PORT.
std::string HostStationFile(const std::string& hostPort, const std::set<int>& stations);

// The file with timeout=MS on each line the driver reads as a station line
// (not the header, comment lines or lines without their four quotes): a
// timeout= the line gives is replaced, its other options and its comment
// kept; line ends and line numbers stay. A line that would grow past the
// 254 characters the driver reads as one line is left as it is.
std::string WithTimeout(const std::string& content, int timeoutMs);

}  // namespace etl::etlan
