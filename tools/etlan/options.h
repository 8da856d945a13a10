// etlan's command line, read with CLI11: a command, its arguments and
// options in the manner of the common field-bus pollers (-s station file,
// -d driver, -c count, -t type, -l interval, -1 once, -o timing, -q, -v),
// anywhere on the line.
#pragma once

#include <string>
#include <vector>

namespace etl::etlan {

struct Options {
    std::string command;            // info, check, start, lint, read, write, poll, scan, warmstart, browse, bench, help
    std::vector<std::string> args;  // the command's arguments
    std::string library;            // --library PATH
    std::string stations;           // -s FILE
    int driver = 1;                 // -d N
    int type = -1;                  // -t N
    bool typeGiven = false;
    int count = 1;                  // -c N
    bool countGiven = false;
    int intervalMs = 1000;          // -l MS
    bool once = false;              // -1
    long polls = 0;                 // -n N; 0: until Ctrl-C
    bool timing = false;            // -o
    bool quiet = false;             // -q
    bool verbose = false;           // -v
    bool suffix = false;            // --suffix
    bool verify = false;            // --verify: write reads each value back
    bool trace = false;             // --trace: every frame on the wire, on standard error
    bool csv = false;               // --csv: poll records as CSV
    bool json = false;              // --json: poll records as JSON lines
    std::string log;                // --log FILE: the driver's log kept there
    std::string host;               // --host HOST:PORT: the tags' stations there, without a station file
    int timeoutMs = 0;              // --timeout MS: each station's answer time-out; 0: the file's own
    std::string format;             // --format int|uint|hex|bcd|float; empty: decimal and hex
    std::string wordOrder;          // --word-order low-first|high-first, as given
    bool highWordFirst = false;     // high-first: the lower address holds the high word
    bool help = false;              // -h
    bool version = false;           // -V
    // bench
    int plc = 0;                    // --plc N; 0: the station file's first station
    int rounds = 20;                // --rounds N
    std::string raw;                // --raw HOST:PORT
    int registerNumber = 1000;      // --register N: D N .. D N+26
    int writeRegister = -1;         // --write-register N: D N is written; -1: the bench only reads
    int slowPlc = 0;                // --slow-plc N; 0: none
    std::string silent;             // --silent FILE
    double silentLimit = 5.0;       // --silent-limit SECONDS
};

// False with a message in *why on a malformed line: an unknown option or
// command, a value that is not what the option takes (named, with what it
// takes), an option that means nothing to the command, too few or too many
// arguments. Each command checks its arguments' values itself.
bool ParseOptions(int argc, char** argv, Options* out, std::string* why);

// Usage texts: the overview, and one per command (empty when unknown).
std::string OverviewHelp();
std::string CommandHelp(const std::string& command);

}  // namespace etl::etlan
