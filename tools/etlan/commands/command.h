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
// With only, the driver sees the lines of those stations alone.
bool PrepareStations(const Options& o, StationDir* dir, const std::set<int>* only = nullptr);

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
