#include "tools/etlan/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "host/vocabulary.h"
#include "tools/common/command_line.h"

namespace etl::etlan {
namespace {

// The commands: their arguments, a line for the overview and the text that
// ends their --help, after the options they take.
struct CommandRule {
    const char* name;
    int minArgs, maxArgs;  // maxArgs -1: no limit
    const char* arguments;
    const char* summary;
    const char* page;
};

constexpr CommandRule kCommands[] = {
    {"info", 0, 0, "", "identity of the driver (code 14) and its banner",
     R"(Calls the driver's identity function (code 14) without a context and shows
the values it reports: the vendor text, the banner (drawn from code page 437
as Unicode box drawing), the context size the host must allocate, and the
constants infoValueA, infoValueB, infoValueC and the reply words.
)"},
    {"check", 1, 1, "TAG", "address check of a tag text (code 3; code 4 with\n--suffix or a \"_D\" suffix)",
     R"(Runs the driver's address check on TAG as a host would before using a tag:
code 3 (CheckAddress), or code 4 (CheckAddressD, which also accepts the
"_D" suffix) with --suffix. Shows the result and every field the check
fills: plcNumber, memoryLetter, addressNumber, bitNumber (255 = none) and
bitSize; for an invalid text, why it is invalid. Without --type the data
type is taken from the text as for "etlan read"; 3, 4, 5 are 32 bits, 6 is
a bit, 7 is refused. A count is at most 27, 13 for memory code G (LD).

Address text: PLC number (2 digits, 00-64), memory code, 4 address digits
(5 for D, F and G), a bit digit 0-F for a bit tag (data type 6). Examples:
01D00100  02Y0010  02X0001A (with --type 6)  01G00010 (with --type 3)
)"},
    {"start", 0, 0, "", "ColdStart on a station file, show the driver's log,\nEndVpi",
     R"(A station file's first check: runs ColdStart (code 1) for driver number N,
shows the driver's log lines (stations read, connections made or failed)
and a summary, then ends the instance with EndVpi (code 11).

The driver opens "zavURnn.int" (nn = driver number, at least two digits) in
its current directory. With -s FILE etlan copies FILE into a temporary
directory under that name and runs the driver there; without -s the file
zavURnn.int in the current directory is used.

Exit status 0 when the start succeeded and every station connected, 1
otherwise.
)"},
    {"lint", 0, 1, "[FILE]", "the station file's mistakes, each with its line",
     R"(Reads a station file (FILE, or -s FILE, or zavURnn.int in the current
directory) as the driver reads it and reports, on standard error, each
line the driver would pass over or take otherwise than meant, as
FILE:LINE: error|warning: what, with what the driver does with the line
and the fix (line 1 is the header): no header line, a UTF-8 byte order
mark, a PC number cut at the header's ninth character (ETLANPC10 gives 0),
an empty or binary file, an empty line, a station line indented with a
blank (the driver takes it as a comment) or with a tab (it does not), a
comment started with a tab, a station number 0 or above 64, the PC's own
number (the header's), a station twice, missing quotes, a port without
its quotes (the driver still connects the station), a port that is no
number 1-65535 nor a TCP service this machine knows, a host text longer
than 15 characters or no IPv4 address, a host name that does not resolve
(the driver's whole start fails), options it does not understand. Host
texts are read with the driver's own code. Then one line of what the
driver takes from the file, on standard output: its stations, each with
the address a name or short form gives and its options in brackets.

Exit status 0 when the file holds no error, 1 when it does, 3 when it
cannot be read.
)"},
    {"scan", 0, 0, "", "every station of the station file at once: address,\nconnection, a read of D 0, why one fails",
     R"(Asks every station of the station file (see "etlan start --help") at once,
each by a driver instance of its own started on that station's line, and
prints each station's line as soon as it is done (on a terminal, a
progress line counts the stations done): the address and port the driver
connects, whether the host text gives one, whether the station connected,
whether it answers a read of D 0 (ReadValue, code 5) and how fast, and
when it does not, why: connection refused, no reply within the time-out,
closed by the PLC, PLC error N with its meaning, no MEWTOCOL text in the
answer (garbage), another station's number in the answer. A station from
10 on that gives no reply or another station's number is asked once more
with its station field in the other form; when it answers so, its line
names the option to write (station-field=decimal or hex). Then a summary.
A scan takes one exchange's time in all (about 3 s when a station is
silent). Lines the driver does not take are named with their line number;
-v adds the driver's log lines about each station. --trace shows the
frames as for "etlan read".

Exit status 0 when every station answers, 1 when any fails.
)"},
    {"read", 1, 1, "TAG", "read one value, or --count N values",
     R"(Checks TAG, starts the driver on the station file (see "etlan start --help"),
reads and ends the instance. One value is read with ReadValue (code 5),
--count N > 1 values with ReadBlock (code 6).

Without --type the data type is taken from the text: the "_D" suffix means
a 32-bit value (data type 3, checked with code 4); memory code G means data
type 3; a bit digit after four address digits (8 characters, not D/F/G)
means a bit (data type 6); anything else a 16-bit word (data type 0).

Values are shown in decimal and hex; 32-bit values are combined from their
two PLC words (lower address = low word; --word-order high-first for the
other order); bits as 0 or 1. --format shows them in one form: int
(signed), uint, hex, bcd, or float (IEEE 754 over two words; a word tag is
then read as two words). With -q only the values are printed, one per
line, in decimal or the form of --format. A range longer than one request
takes (27 elements, 13 for memory code G) is read in several.

--host HOST:PORT reads from HOST:PORT without a station file: etlan writes
the driver one, a line for each station the tags name. --timeout MS sets
the time each attempt waits for an answer (timeout=MS on the station lines
of the file the driver gets).

--trace writes every frame between the driver and the stations on standard
error as it passes: the time, the station, the 12-byte header in hex and
the text, a negative answer with the PLC's error code and its meaning.
etlan connects to each station before the driver starts and relays the
driver's connection to it on 127.0.0.1; a station that does not connect
then is left to the driver as without --trace, and its frames are not shown.
)"},
    {"write", 2, -1, "TAG VALUE...", "write one value, or several to consecutive\naddresses; --verify reads each back",
     R"(Checks TAG, starts the driver on the station file (see "etlan start --help"),
writes VALUE with WriteValue (code 7) and ends the instance. Several
values go to consecutive addresses (a double word takes two), one
WriteValue each; every address is checked and every value read before the
first write. VALUE is decimal (a negative value is written in two's
complement) or hex with 0x; a bit takes 0 or 1. The data type is taken
from the text as for "etlan read" when --type is not given. X, T and C
cannot be written. --trace shows the frames as for "etlan read".
)"},
    {"poll", 1, -1, "TAG...", "read tags again and again (a live line on a terminal);\na station that stops answering gets WarmStart",
     R"(Starts the driver once and reads every TAG again and again, a round every
MS milliseconds (default 1000) on a fixed schedule: on a terminal a live
line with the counts of good and failed reads, fitted to its width and
left standing whenever a message comes (into a file or a pipe, and with
-v, -q, --csv or --json, a line per round); a round that takes longer
than MS is counted and the next starts at once. -1, or -n N polls, stops it with a
summary: "N rounds in S s, N overran the interval" and "N requests
transmitted, N received, N errors, X% request loss". Ctrl-C, SIGTERM or
SIGHUP stops it after the read under way, with the summary and exit status
130; a
second Ctrl-C ends it at once.

A station whose read gives 2 (no answer, not connected) gets WarmStart
(code 2) after the round: at once, then while its reads keep failing after
0.5 s, 1 s, 2 s ... at most 30 s apart; a good read starts over. Each
attempt is reported on standard error, the reconnections per station in
the summary. Why reads fail is said there too, with the time, when it
starts or changes and when the station answers again (connection refused,
no reply within 1000 ms, closed by the PLC, a PLC error...), also with -q.
Data types, ranges of -c, --format and --host work as for "etlan read";
--trace shows the frames as for "etlan read" (a WarmStart through the relay succeeds even
while the station is down; the relay then closes the connection and says
why).
)"},
    {"warmstart", 1, -1, "N...", "ColdStart on stations N..., then WarmStart of each",
     R"(Starts the driver on the lines of stations N... of the station file (see
"etlan start --help"), then calls WarmStart (code 2) for each, as the host
does to make a lost connection again, shows each result and ends the
instance. N is a station number from 1 to 64.

Exit status 0 when every WarmStart succeeded, 1 otherwise.
)"},
    {"browse", 0, 0, "", "the \"Tag Format\" address dialog (code 16)",
     R"(Opens the driver's "Tag Format" address dialog (code 16, no owner window)
and prints the address text composed in it, or "cancelled" (result 53).
Exit status 0 when confirmed, 1 when cancelled.
)"},
    {"bench", 0, 0, "", "the driver against a raw socket client: latency,\noperations per second, CPU",
     R"(Measures the driver against the physical limit: a raw client inside etlan
that sends the very same frames (the 12-byte ET-LAN header and the
MEWTOCOL-COM text the driver sends) on a blocking socket of its own and
reads each answer up to its carriage return. The driver is started on the
station file (see "etlan start --help") and called only through VpiMain.

For station P it times ReadValue of D A (code 5) and ReadBlock of 27 words
D A..D A+26 (code 6), and with --write-register W WriteValue of D W (code
7), in R rounds of N operations per client and kind, driver and raw client
taking turns, and
shows for each the median and 99th-percentile time, operations per second
and the CPU seconds this process used per 10,000 operations, with the
driver's ratios to the raw client. The registers must hold steady values:
the raw client reads them first and every later read must give them. It
writes nothing unless --write-register names D W: then D W is written
thousands of times with the value it held at the start (never on a running
plant).

Ends with the targets, each met or NOT MET: ReadValue median <= 1.1x raw,
p99 <= 1.3x raw, CPU per read <= 1.3x raw; CPU per 100 reads from the late
station <= 0.005 s; ColdStart on the silent stations <= 1.2 s.

Exit status 0 when the bench ran (whether or not the targets were met); 1
when an operation failed or read a wrong value; 3 when it could not run
(driver library, station file, station not in it, no answer to the first
read).
)"},
    {"help", 0, 1, "[COMMAND]", "this text, or a command's", ""},
};

constexpr char kOverview[] = R"(Options go anywhere on the line, short ones clustered (-1q), long ones as
--opt value or --opt=value, or abbreviated (--dri 2). An option that the
command does not use is refused, as is a value outside what the option
takes; "etlan COMMAND --help" lists the options of a command.

Exit status: 0 success; 1 the driver reported a failure (invalid address,
refused command, negative answer, no answer, dialog cancelled, a station
that did not connect, output that could not be written); 2 a wrong
command line (an unknown command or option, a missing or extra argument,
a value that is not what it takes, an option the command does not use),
found before the driver starts and before anything is sent; 3 etlan could
not run (driver library or station file not found or not readable, log
file not writable); 130 stopped by Ctrl-C, SIGTERM or SIGHUP.

Results go to standard output, diagnoses to standard error.

Result codes: 0 ok; 1 invalid address, refused command or negative answer;
2 no answer, not connected or failed start; 53 dialog cancelled.
)";

std::string CommandList() {
    std::string list;
    for (const auto& c : kCommands) {
        list += list.empty() ? "" : ", ";
        list += c.name;
    }
    return list;
}

const CommandRule* RuleOf(const std::string& command) {
    for (const auto& c : kCommands) {
        if (command == c.name) return &c;
    }
    return nullptr;
}

// -c takes up to 10000000 for the bench and up to 1000 for the other
// commands; a count up to 1000 reaches the address check, which names the
// limit of the tag's own type (read splits a longer range).
CLI::Validator Count(const std::string& command) {
    if (command == "bench") return tools::Number(1, 10000000);
    const CLI::Validator number = tools::Number(1, 1000);
    return CLI::Validator(
        [number](std::string& text) {
            long v = 0;
            if (!tools::ToNumber(text, 1001, LONG_MAX, &v)) return number(text);
            std::string why = "\"" + text + "\" is above 1000 (one request takes at most ";
            why += std::to_string(kMaxElements) + " elements, " + std::to_string(kMaxElementsEG);
            return why + " for memory code G; read splits a longer range)";
        },
        number.get_description());
}

CLI::Validator Seconds() {
    return tools::Check("a number of seconds from 0.1 to 3600", [](const std::string& text) {
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        const bool blank = text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+';
        return !blank && errno == 0 && *end == '\0' && v >= 0.1 && v <= 3600;
    });
}

// --raw HOST:PORT: a host text and a port from 1 to 65535.
CLI::Validator RawAddress() {
    return tools::Check("HOST:PORT (a port from 1 to 65535)", [](const std::string& text) {
        const auto colon = text.rfind(':');
        long port = 0;
        return colon != std::string::npos && colon != 0 &&
               tools::ToNumber(std::string_view(text).substr(colon + 1), 1, 65535, &port);
    });
}

// --host HOST:PORT: a host text as a station line holds it (at most 15
// characters, no blank or double quote) and a port from 1 to 65535.
CLI::Validator HostAddress() {
    return tools::Check("HOST:PORT (a host of at most 15 characters, a port from 1 to 65535)", [](const std::string& text) {
        const auto colon = text.rfind(':');
        long port = 0;
        if (colon == std::string::npos || colon == 0 || colon > 15) return false;
        for (std::size_t i = 0; i < colon; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c <= ' ' || c == '"' || c == 0x7F) return false;
        }
        return tools::ToNumber(std::string_view(text).substr(colon + 1), 1, 65535, &port);
    });
}

// A word of a list ("int, uint, hex, bcd or float").
CLI::Validator OneOf(const std::vector<std::string>& words) {
    std::string what = "one of ";
    for (std::size_t i = 0; i < words.size(); ++i) {
        what += i == 0 ? "" : i + 1 == words.size() ? " or " : ", ";
        what += words[i];
    }
    return tools::Check(what, [words](const std::string& text) {
        return std::find(words.begin(), words.end(), text) != words.end();
    });
}

// Whether an option means something to the command: a whole word of the
// list. The overview ("") shows every option.
bool Uses(const std::string& command, const char* list) {
    std::string words = " ", word = " ";
    words += list;
    words += " ";
    word += command;
    word += " ";
    return command.empty() || words == " all " || words.find(word) != std::string::npos;
}

// The options the command takes (every option for the overview, c empty),
// each bound to its field of o.
void AddOptions(CLI::App* app, const std::string& c, Options* o) {
    const auto flag = [&](const char* names, bool* to, const char* commands, const std::string& help) {
        return Uses(c, commands) ? app->add_flag(names, *to, help) : nullptr;
    };
    const auto value = [&](const char* names, auto* to, const char* text, const char* commands, const std::string& help,
                           const CLI::Validator& check) {
        return Uses(c, commands) ? app->add_option(names, *to, help)->option_text(text)->transform(check) : nullptr;
    };
    const char* kDriven = "info check start read write poll scan warmstart browse bench";
    const char* kStations = "start lint read write poll scan warmstart bench";
    const bool bench = c == "bench";
    flag("-h,--help", &o->help, "all", "this text; etlan COMMAND --help for a command");
    flag("-V,--version", &o->version, "all", "etlan's version");
    value("--library", &o->library, "PATH", kDriven,
          "driver library (default: libETLANdr.so or\nETLANdr.dll next to etlan)",
          tools::NotEmpty("the driver library's file"));
    value("-s,--stations", &o->stations, "FILE", kStations,
          "station file; etlan copies it into a temporary\ndirectory as zavURnn.int (nn = driver number) and\n"
          "runs the driver there. Without -s the driver\nopens zavURnn.int in the current directory, as\n"
          "the SCADA host does.",
          tools::NotEmpty("a station file"));
    value("-d,--driver", &o->driver, "N", kStations, "driver number (default 1): names zavURnn.int",
          tools::Number(0, 999));
    auto* type = value("-t,--type", &o->type, "N", "check read write poll",
                       "the host's data type code of the tag (default:\ntaken from the text)",
                       tools::Number(INT_MIN, INT_MAX));
    if (type != nullptr) type->each([o](const std::string&) { o->typeGiven = true; });
    auto* count = value("-c,--count", &o->count, "N", "check read poll bench",
                        bench       ? "operations per round, client and kind (default\n500)"
                        : c.empty() ? "element count (default 1); for bench the\noperations per round"
                                    : "element count (default 1)",
                        Count(c));
    if (count != nullptr) count->each([o](const std::string&) { o->countGiven = true; });
    value("-l,--interval", &o->intervalMs, "MS", "poll", "poll interval in milliseconds (default 1000)",
          tools::Number(10, 3600000));
    auto* once = flag("-1,--once", &o->once, "poll", "poll once and stop");
    auto* polls = value("-n,--polls", &o->polls, "N", "poll", "poll N times and stop", tools::Number(1, INT_MAX));
    if (once != nullptr) once->excludes(polls);
    flag("-o,--timing", &o->timing, "info check start read write poll warmstart",
         "show how long each request blocked");
    auto* quiet = flag("-q,--quiet", &o->quiet, "check lint read write poll browse",
                       "values only on standard output (what explains a\nfailure still on standard error)");
    auto* verbose = flag("-v,--verbose", &o->verbose, "read write poll scan warmstart bench",
                         bench ? "also show the raw client's frames"
                               : "also the driver's log lines and the raw result\ncodes");
    if (quiet != nullptr && verbose != nullptr) quiet->excludes(verbose);
    flag("--suffix", &o->suffix, "check read write poll",
         "check with code 4 (CheckAddressD, which also\ntakes the \"_D\" suffix)");
    flag("--verify", &o->verify, "write", "read each value back after writing it");
    flag("--trace", &o->trace, "read write poll scan",
         "every frame between the driver and the stations\non standard error (etlan read --help)");
    auto* csv = flag("--csv", &o->csv, "poll",
                     "one record per tag and round (time, round, tag,\nstation, result, meaning, a value column per\n"
                     "element, ms, reason) on standard output, the\nstatistics on standard error");
    auto* json = flag("--json", &o->json, "poll", "the same records as JSON lines");
    if (csv != nullptr) csv->excludes(json);
    value("--log", &o->log, "FILE", kDriven, "keep the driver's log in FILE (appended to)",
          tools::NotEmpty("a file for the driver's log"));
    auto* host = value("--host", &o->host, "HOST:PORT", "read write poll scan warmstart",
                       "the stations the tags name, at HOST:PORT: no\nstation file (etlan writes one for the driver)",
                       HostAddress());
    if (host != nullptr && app->get_option_no_throw("--stations") != nullptr) {
        host->excludes(app->get_option("--stations"));
    }
    value("--timeout", &o->timeoutMs, "MS", "read write poll scan warmstart",
          "milliseconds a station's answer is waited for\n(50-10000, default 1000): timeout=MS on each\n"
          "station line of the file etlan gives the driver",
          tools::Number(50, 10000));
    value("--format", &o->format, "F", "read poll",
          "values as int (signed), uint, hex, bcd or float\n(IEEE 754 over two words: a word tag is read\n"
          "as two); default: decimal and hex",
          OneOf({"int", "uint", "hex", "bcd", "float"}));
    auto* words = value("--word-order", &o->wordOrder, "ORDER", "read poll",
                        "low-first (default: the lower address holds the\nlow word, as the PLC keeps 32-bit "
                        "values) or\nhigh-first",
                        OneOf({"low-first", "high-first"}));
    if (words != nullptr) {
        words->each([o](const std::string& text) { o->highWordFirst = text == "high-first"; });
    }
    const char* kBench = "bench";
    value("--plc", &o->plc, "P", kBench, "station measured (default: the station file's\nfirst)",
          tools::Number(1, 64));
    value("--rounds", &o->rounds, "R", kBench, "rounds (default 20)", tools::Number(1, 1000));
    value("--raw", &o->raw, "HOST:PORT", kBench,
          "address of the raw client's connection (default:\nthe station file's line for P)", RawAddress());
    value("--register", &o->registerNumber, "A", kBench, "first data register of D A..D A+26 (default 1000)",
          tools::Number(0, 99999 - 26));
    value("--write-register", &o->writeRegister, "W", kBench,
          "also time WriteValue: D W is written thousands of\ntimes with the value read from it at the start\n"
          "(never on a running plant); without it the bench\nonly reads",
          tools::Number(0, 99999));
    value("--slow-plc", &o->slowPlc, "Q", kBench,
          "also 100 reads per client from station Q, one\nthat answers late: CPU seconds per 100 reads",
          tools::Number(1, 64));
    value("--silent", &o->silent, "FILE2", kBench,
          "also time ColdStart on FILE2, a station file of\nstations that never answer (connects that hang)",
          tools::NotEmpty("a station file"));
    value("--silent-limit", &o->silentLimit, "S", kBench,
          "wait at most S seconds for that ColdStart\n(default 5); a ColdStart still running then is\n"
          "reported as \"> S s\" and etlan ends without EndVpi",
          Seconds());
}

// etlan's command line: the overview's app, every option on it, and one
// subcommand per command with the options it takes.
struct Line {
    CLI::App app{"etlan - command-line host for the ETLANdr driver (Matsushita FP PLCs via ET-LAN)", "etlan"};
    std::vector<CLI::App*> commands;

    explicit Line(Options* o) {
        auto format = std::make_shared<tools::HelpFormat>();
        format->column_width(26);
        format->pages["etlan"] = {"", "[options] COMMAND [arguments]"};
        app.formatter(format);
        app.set_help_flag();
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.allow_extras();
        app.require_subcommand(0, 1);  // a command's argument named like a command stays an argument
        app.footer(kOverview);
        AddOptions(&app, "", o);
        for (const CommandRule& c : kCommands) {
            CLI::App* sub = app.add_subcommand(c.name, c.summary);
            sub->group("Commands");
            sub->allow_extras();
            sub->footer(c.page);
            sub->add_option("arguments", o->args)->group("");
            AddOptions(sub, c.name, o);
            std::string usage = c.arguments;
            usage += usage.empty() ? "[options]" : " [options]";
            format->pages[c.name] = {c.arguments, usage};
            commands.push_back(sub);
        }
    }

    CLI::App* Command(const std::string& name) const {
        for (CLI::App* sub : commands) {
            if (sub->get_name() == name) return sub;
        }
        return nullptr;
    }

    // Why an option word is refused for the command: "unknown option -x",
    // "option -n is for poll, not for read".
    std::string Refusal(const std::string& word, const std::string& command) const {
        const std::string name = word.rfind("--", 0) == 0 ? word.substr(0, word.find('=')) : word.substr(0, 2);
        std::vector<std::string> users;
        for (const CLI::App* sub : commands) {
            if (sub->get_option_no_throw(name) != nullptr) users.push_back(sub->get_name());
        }
        if (users.empty()) return "unknown option " + name;
        return "option " + name + " is for " + tools::ListText(users) + ", not for " + command;
    }
};

// The arguments' count against the command's synopsis.
bool CheckArguments(const CommandRule& c, const std::vector<std::string>& args, std::string* why) {
    std::string takes = c.name;
    takes += " takes ";
    takes += c.arguments[0] != '\0' ? c.arguments : "no arguments";
    if (static_cast<int>(args.size()) < c.minArgs) {
        // The first word of the synopsis not given.
        std::string missing = c.arguments;
        for (std::size_t i = 0; i < args.size(); ++i) missing = missing.substr(missing.find(' ') + 1);
        missing = missing.substr(0, missing.find(' '));
        if (missing.size() > 3 && missing.compare(missing.size() - 3, 3, "...") == 0) missing.resize(missing.size() - 3);
        *why = takes + ": " + missing + " missing";
        return false;
    }
    if (c.maxArgs >= 0 && static_cast<int>(args.size()) > c.maxArgs) {
        *why = takes + ": unexpected argument \"" + args[static_cast<std::size_t>(c.maxArgs)] + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* why) {
    Line line(o);
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!tools::FullLongOptions(line.app, &words, why)) return false;
    // The command is the first word that is no option and no option's
    // value; it goes first, so that its own options are read wherever
    // they stand. Options before it are options even when they look like
    // a negative number (-1 write ...).
    std::size_t at = 0;
    std::vector<std::string> before;
    for (; at < words.size(); ++at) {
        if (words[at] == "--") {
            words.erase(words.begin() + static_cast<std::ptrdiff_t>(at));
            break;
        }
        if (words[at].size() < 2 || words[at][0] != '-') break;
        before.push_back(words[at]);
        if (tools::TakesNextWord(line.app, words[at])) ++at;
    }
    const CLI::App* command = nullptr;
    if (at < words.size()) {
        o->command = words[at];
        command = line.Command(o->command);
        if (command == nullptr) {
            *why = "unknown command \"" + o->command + "\" (one of " + CommandList() + ")";
            return false;
        }
        for (const std::string& w : before) {
            if (std::isdigit(static_cast<unsigned char>(w[1])) && tools::OptionOf(*command, w) == nullptr) {
                *why = line.Refusal(w, o->command);
                return false;
            }
        }
        std::rotate(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(at),
                    words.begin() + static_cast<std::ptrdiff_t>(at + 1));
    }
    // The words after "--" are arguments, whatever they look like.
    const auto end = std::find(words.begin() + (command != nullptr ? 1 : 0), words.end(), "--");
    const std::vector<std::string> after(end == words.end() ? end : end + 1, words.end());
    words.erase(end, words.end());
    if (!tools::ParseWords(&line.app, words, why)) return false;
    if (o->version || o->help) return true;  // "etlan read --help": the command's help
    if (command == nullptr) {
        *why = "no command given (one of " + CommandList() + ")";
        return false;
    }
    // Options that mean nothing to the command are refused rather than
    // passed over: a user who gives one expects it to act. Only write and
    // warmstart take negative numbers as arguments.
    std::vector<std::string> refused = command->remaining();
    if (o->command != "write" && o->command != "warmstart") {
        for (const std::string& a : o->args) {
            if (a.size() > 1 && a[0] == '-') refused.push_back(a);
        }
    }
    if (!refused.empty()) {
        *why = line.Refusal(refused[0], o->command);
        return false;
    }
    o->args.insert(o->args.end(), after.begin(), after.end());
    if (!CheckArguments(*RuleOf(o->command), o->args, why)) return false;
    if (o->command == "help" && !o->args.empty() && RuleOf(o->args[0]) == nullptr) {
        *why = "help: no command \"" + o->args[0] + "\" (one of " + CommandList() + ")";
        return false;
    }
    if (o->command == "lint" && !o->args.empty() && !o->stations.empty()) {
        *why = "lint takes FILE or -s FILE, not both";
        return false;
    }
    return true;
}

std::string OverviewHelp() {
    Options o;
    return Line(&o).app.help();
}

std::string CommandHelp(const std::string& command) {
    if (command == "help") return OverviewHelp();
    Options o;
    const Line line(&o);
    const CLI::App* sub = line.Command(command);
    return sub != nullptr ? sub->help("etlan") : std::string();
}

}  // namespace etl::etlan
