// What every etlan command shares: the exit statuses, the usage message,
// loading the driver, the station file in place, and the driver's log
// lines; and the commands themselves, one file each.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tools/etlan/driver.h"
#include "tools/etlan/options.h"

namespace etl::etlan {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotRun = 3;

// "etlan: WHY (etlan --help for usage)" on stderr; kExitUsage.
int Usage(const std::string& why);

// True once standard output has failed a write; the error it failed with
// (EPIPE: the reader went away) in *error.
bool OutputFailed(int* error = nullptr);

// "  [12.3 ms]" when -o asks for the time a request blocked, else "".
std::string Took(const Options& o, double ms);

// The driver's log lines, indented under "log |".
void PrintLog(const std::vector<std::string>& lines, std::FILE* to = stdout);

// The driver library: --library PATH or the one next to etlan, absolute.
std::string LibraryPath(const Options& o);
// Loads it; false (and a message) when it cannot be loaded.
bool LoadDriver(const Options& o, DriverHost* host);

// Prepares the station file; false (and a message) when it cannot be used.
// With only, the driver sees the lines of those stations alone. With
// --host or --timeout the driver gets a file that etlan writes (see
// StationFileText), kept in the temporary folder while etlan runs.
bool PrepareStations(const Options& o, StationDir* dir, const std::set<int>* only = nullptr);

// The station file as the driver will read it, and its name for messages:
// for --host a file of the stations in only (station 1 without only) at
// that address, named "--host HOST:PORT"; otherwise the file of -s, or
// zavURnn.int in the current directory; with --timeout each station line
// carrying timeout=MS. False with why when the file cannot be read, or
// when the address of --host is one the driver cannot use.
bool StationFileText(const Options& o, const std::set<int>* only, std::string* name, std::string* content,
                     std::string* why);

int CmdInfo(const Options& o);
int CmdCheck(const Options& o);
int CmdStart(const Options& o);
int CmdRead(const Options& o);
int CmdWrite(const Options& o);
int CmdPoll(const Options& o);
int CmdBrowse(const Options& o);
int CmdBench(const Options& given);
int CmdLint(const Options& o);
int CmdWarmStart(const Options& o);
int CmdScan(const Options& o);

}  // namespace etl::etlan
