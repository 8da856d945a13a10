// A station file read as the driver reads it, for the mistakes the driver
// passes over with at most a log line: a missing header, a UTF-8 byte
// order mark, a PC number cut by the ninth character ("ETLANPC10"), an
// empty or binary file, a station line indented (a comment to the driver)
// or started with a tab (no comment: a station number above 64), a
// station number out of range, the PC's own or twice, a line without its
// quotes (without the port's, the driver still keeps its host text), a
// host text too long, no IPv4 address or one with a part in octal or hex,
// a host name that does not resolve (which fails the whole start), a port
// that is no port number nor a known service, options that are not
// understood. Host texts and service names are read with the driver's own
// code (ReadHostText, ServicePort), looked up on this machine. Line
// numbers are the editor's: the header is line 1. No other I/O but
// reading files (and opening the log file that a command line names, to
// append to).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/etlan/options.h"

namespace etl::etlan {

struct StationProblem {
    int line = 0;      // 1-based, the header is line 1
    bool error = true; // false: a warning
    int station = -1;  // the station the line would define, -1 when none
    std::string text;
};

struct StationLint {
    std::vector<StationProblem> problems;
    int pcNumber = -1;             // the header's own station number, -1 when none
    std::set<int> defined;         // stations the driver takes from the file
    std::map<int, std::string> address;   // "address:port" the driver connects ("host:port" when none)
    std::map<int, bool> usable;           // false: the host text gives no address the driver connects
    std::map<int, std::string> hostText;  // the host text, where it is not the address itself ("localhost")
    std::map<int, std::string> options;  // the options a station's line gives ("timeout=500 ms")
    std::map<int, int> line;             // the line that defines a station
    std::map<int, std::string> unresolved;  // "name:port" of a host name that does not resolve, which fails the start
    bool HasErrors() const;
};

StationLint LintStations(const std::string& content);

// Why station plc is not among the stations the driver started, by the
// file's own lines ("station 10 is the PC's own number (header line)").
std::string MissingStationReason(const StationLint& lint, int plc);

// The file with the header and the lines of the given stations; every
// other line becomes a comment line (line numbers stay).
std::string OnlyStations(const std::string& content, const std::set<int>& keep);

bool ReadWholeFile(const std::string& path, std::string* out);

// Whether path is a file that can be read; otherwise why not, naming it
// as what ("station file"): not found, a directory, no regular file, or
// the system's reason it cannot be opened.
bool ReadableFile(const std::string& path, const std::string& what, std::string* why);

// The files a command line names, before anything is loaded, started or
// sent: the station files of -s and --silent readable, the --log file
// writable (created when missing) and none of the others (library being
// the driver library's path), nor QANPRO_LOG when --log is not given. 0,
// or etlan's exit status with why: 3 for a file that cannot be used or a
// QANPRO_LOG that names one of the others, 2 for a --log that does.
int CheckLineFiles(const Options& o, const std::string& library, std::string* why);

}  // namespace etl::etlan
