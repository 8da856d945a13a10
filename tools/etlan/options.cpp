#include "tools/etlan/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace etl::etlan {
namespace {

bool ToInt(const std::string& text, long low, long high, long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
    *out = v;
    return true;
}

// A negative number such as -5 or -0x10 is an argument, not an option.
bool LooksNegative(const std::string& s) {
    return s.size() >= 2 && s[0] == '-' && s[1] >= '0' && s[1] <= '9';
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* why) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const bool positional = optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" ||
                                (LooksNegative(arg) && (arg != "-1" || o->command == "write"));
        if (positional) {
            if (o->command.empty()) {
                o->command = arg;
            } else {
                o->args.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        auto takeValue = [&](std::string* v) {
            if (hasValue) {
                *v = value;
                return true;
            }
            if (i + 1 >= argc) {
                *why = "option " + name + " needs a value";
                return false;
            }
            *v = argv[++i];
            return true;
        };
        auto takeNumber = [&](long low, long high, long* v) {
            std::string text;
            if (!takeValue(&text)) return false;
            if (!ToInt(text, low, high, v)) {
                *why = "option " + name + ": \"" + text + "\" is not a number from " +
                       std::to_string(low) + " to " + std::to_string(high);
                return false;
            }
            return true;
        };
        long n = 0;
        if (name == "-h" || name == "--help") {
            o->help = true;
        } else if (name == "-V" || name == "--version") {
            o->version = true;
        } else if (name == "--library") {
            if (!takeValue(&o->library)) return false;
        } else if (name == "-s" || name == "--stations") {
            if (!takeValue(&o->stations)) return false;
        } else if (name == "-d" || name == "--driver") {
            if (!takeNumber(0, 999, &n)) return false;
            o->driver = static_cast<int>(n);
        } else if (name == "-t" || name == "--type") {
            if (!takeNumber(-2147483647L, 2147483647L, &n)) return false;
            o->type = static_cast<int>(n);
        } else if (name == "-c" || name == "--count") {
            if (!takeNumber(1, 1000, &n)) return false;
            o->count = static_cast<int>(n);
            o->countGiven = true;
        } else if (name == "-l" || name == "--interval") {
            if (!takeNumber(10, 3600000, &n)) return false;
            o->intervalMs = static_cast<int>(n);
        } else if (name == "-n" || name == "--polls") {
            if (!takeNumber(1, 2147483647L, &n)) return false;
            o->polls = n;
        } else if (name == "-1" || name == "--once") {
            o->once = true;
        } else if (name == "-o" || name == "--timing") {
            o->timing = true;
        } else if (name == "-q" || name == "--quiet") {
            o->quiet = true;
        } else if (name == "-v" || name == "--verbose") {
            o->verbose = true;
        } else if (name == "--suffix") {
            o->suffix = true;
        } else {
            *why = "unknown option " + arg;
            return false;
        }
    }
    if (o->quiet && o->verbose) {
        *why = "-q and -v exclude each other";
        return false;
    }
    return true;
}

const char* OverviewHelp() {
    return R"(etlan - command-line host for the ETLANdr driver (Matsushita FP PLCs via ET-LAN)

Usage: etlan [options] COMMAND [arguments]

Commands:
  info                       identity of the driver (code 14) and its banner
  check TAG                  address check of a tag text (code 3, --suffix: code 4)
  start                      ColdStart on a station file, show the driver's log, EndVpi
  read TAG                   read one value, or --count N values
  write TAG VALUE            write one value
  poll TAG...                read tags again and again, one live line of values
  browse                     the "Tag Format" address dialog (code 16)
  help [COMMAND]             this text, or a command's

Options (anywhere on the line):
  --library PATH             driver library (default: libETLANdr.so / ETLANdr.dll
                             next to etlan)
  -s, --stations FILE        station file for start, read, write and poll; etlan
                             copies it into a temporary directory as zavURnn.int
                             (nn = driver number) and runs the driver there.
                             Without -s the driver opens zavURnn.int in the
                             current directory, as the SCADA host does.
  -d, --driver N             driver number (default 1): names zavURnn.int
  -t, --type N               the host's data type code of the tag
  -c, --count N              element count (default 1)
  -l, --interval MS          poll interval in milliseconds (default 1000)
  -1, --once                 poll once and stop
  -n, --polls N              poll N times and stop
  -o, --timing               show how long each request blocked
  -q, --quiet                values only
  -v, --verbose              also the driver's log lines and the raw result codes
  -h, --help                 help; "etlan COMMAND --help" for a command
  -V, --version              etlan's version

Exit status: 0 success; 1 the driver reported a failure (invalid address,
refused command, negative answer, no answer, dialog cancelled, a station
that did not connect); 2 a wrong command line; 3 etlan could not run
(driver library or station file not found).

Result codes: 0 ok; 1 invalid address, refused command or negative answer;
2 no answer, not connected or failed start; 53 dialog cancelled.
)";
}

const char* CommandHelp(const std::string& command) {
    if (command == "info") {
        return R"(Usage: etlan info [--library PATH]

Calls the driver's identity function (code 14) without a context and shows
the values it reports: the vendor text, the banner (drawn from code page 437
as Unicode box drawing), the context size the host must allocate, and the
constants infoValueA, infoValueB, infoValueC and the reply words.
)";
    }
    if (command == "check") {
        return R"(Usage: etlan check TAG [--type N] [--count N] [--suffix]

Runs the driver's address check on TAG as a host would before using a tag:
code 3 (CheckAddress), or code 4 (CheckAddressD, which also accepts the
"_D" suffix) with --suffix. Shows the result and every field the check
fills: plcNumber, memoryLetter, addressNumber, bitNumber (255 = none) and
bitSize; for an invalid text, why it is invalid.

  -t, --type N     data type code (default 0: a 16-bit word); 3, 4, 5 are
                   32 bits, 6 is a bit, 7 is refused
  -c, --count N    element count (at most 27; 13 for memory codes E and G)
  --suffix         check with code 4

Address text: PLC number (2 digits, 00-64), memory code, 4 address digits
(5 for D, F and G), a bit digit 0-F for a bit tag (data type 6). Examples:
01D00100  02Y0010  02X0001A (with --type 6)  01G00010 (with --type 3)
)";
    }
    if (command == "start") {
        return R"(Usage: etlan start [-s FILE] [-d N]

A station file's first check: runs ColdStart (code 1) for driver number N,
shows the driver's log lines (stations read, connections made or failed)
and a summary, then ends the instance with EndVpi (code 11).

The driver opens "zavURnn.int" (nn = driver number, at least two digits) in
its current directory. With -s FILE etlan copies FILE into a temporary
directory under that name and runs the driver there; without -s the file
zavURnn.int in the current directory is used.

Exit status 0 when the start succeeded and every station connected, 1
otherwise.
)";
    }
    if (command == "read") {
        return R"(Usage: etlan read TAG [-s FILE] [-d N] [-c N] [-t N] [-o] [-q | -v]

Checks TAG, starts the driver on the station file (see "etlan start --help"),
reads and ends the instance. One value is read with ReadValue (code 5),
--count N > 1 values with ReadBlock (code 6).

Without --type the data type is taken from the text: the "_D" suffix means
a 32-bit value (data type 3, checked with code 4); memory code G means data
type 3; a bit digit after four address digits (8 characters, not D/F/G)
means a bit (data type 6); anything else a 16-bit word (data type 0).

Values are shown in decimal and hex; 32-bit values are combined from their
two PLC words (lower address = low word); bits as 0 or 1. With -q only the
values are printed, one per line, in decimal.
)";
    }
    if (command == "write") {
        return R"(Usage: etlan write TAG VALUE [-s FILE] [-d N] [-t N] [-o] [-q | -v]

Checks TAG, starts the driver on the station file (see "etlan start --help"),
writes VALUE with WriteValue (code 7) and ends the instance. VALUE is decimal
(a negative value is written in two's complement) or hex with 0x; a bit
takes 0 or 1. The data type is taken from the text as for "etlan read" when
--type is not given. X, T and C cannot be written.
)";
    }
    if (command == "poll") {
        return R"(Usage: etlan poll TAG... [-l MS] [-1 | -n N] [-s FILE] [-d N] [-c N] [-t N] [-o] [-q | -v]

Starts the driver once and reads every TAG again and again, every MS
milliseconds (default 1000), on one live line with the counts of good and
failed reads. Ctrl-C (or -1, or -n N polls) stops it with a summary:
"N requests transmitted, N received, N errors, X% request loss".
Data types are taken from the texts as for "etlan read".
)";
    }
    if (command == "browse") {
        return R"(Usage: etlan browse [--library PATH]

Opens the driver's "Tag Format" address dialog (code 16, no owner window)
and prints the address text composed in it, or "cancelled" (result 53).
Exit status 0 when confirmed, 1 when cancelled.
)";
    }
    if (command == "help") return OverviewHelp();
    return nullptr;
}

}  // namespace etl::etlan
