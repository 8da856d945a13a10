#include "tools/etlan/options.h"

#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

#include <getopt.h>

#include "host/vocabulary.h"

namespace etl::etlan {
namespace {

// A whole text as a decimal number: no sign but '-', no blank, no trailing
// character. False when it is none or does not fit a long.
bool ToLong(const std::string& text, long* out) {
    const char* first = text.data();
    const char* last = first + text.size();
    long v = 0;
    const auto [stop, error] = std::from_chars(first, last, v);
    if (text.empty() || error != std::errc() || stop != last) return false;
    *out = v;
    return true;
}

bool ToSeconds(const std::string& text, double low, double high, double* out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !(v >= low && v <= high)) return false;
    *out = v;
    return true;
}

// A negative number such as -5 or -0x10 is an argument, not an option.
// A word such as -1q is a cluster of short options.
bool LooksNegative(const std::string& s) {
    if (s.size() < 2 || s[0] != '-' || s[1] < '0' || s[1] > '9') return false;
    const bool hex = s.size() > 3 && s[1] == '0' && (s[2] == 'x' || s[2] == 'X');
    for (std::size_t i = hex ? 3 : 1; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])) && !(hex && std::isxdigit(static_cast<unsigned char>(s[i])))) {
            return false;
        }
    }
    return true;
}

// The options, by the kind of value they take.
struct FlagOption {
    const char* shortName;  // nullptr: long form only
    const char* longName;
    bool Options::*flag;
};

struct TextOption {
    const char* shortName;
    const char* longName;
    std::string Options::*text;
    const char* allowed;  // what the value names
};

struct NumberOption {
    const char* shortName;
    const char* longName;
    long low, high;
    void (*set)(Options*, long);
};

constexpr FlagOption kFlags[] = {
    {"-h", "--help", &Options::help},     {"-V", "--version", &Options::version},
    {"-1", "--once", &Options::once},     {"-o", "--timing", &Options::timing},
    {"-q", "--quiet", &Options::quiet},   {"-v", "--verbose", &Options::verbose},
    {nullptr, "--suffix", &Options::suffix},  {nullptr, "--csv", &Options::csv},
    {nullptr, "--json", &Options::json},  {nullptr, "--verify", &Options::verify},
    {nullptr, "--trace", &Options::trace},
};

constexpr TextOption kTexts[] = {
    {nullptr, "--library", &Options::library, "the driver library's file"},
    {"-s", "--stations", &Options::stations, "a station file"},
    {nullptr, "--raw", &Options::raw, "HOST:PORT"},
    {nullptr, "--silent", &Options::silent, "a station file"},
    {nullptr, "--log", &Options::log, "a file for the driver's log"},
};

// -c takes up to 10000000 for the bench and up to 1000 for the other
// commands (kCountLimit), known once the whole line is read.
constexpr long kCountLimit = 1000;
constexpr NumberOption kNumbers[] = {
    {"-d", "--driver", 0, 999, [](Options* o, long n) { o->driver = static_cast<int>(n); }},
    {"-t", "--type", -2147483647L - 1, 2147483647L,
     [](Options* o, long n) {
         o->type = static_cast<int>(n);
         o->typeGiven = true;
     }},
    {"-c", "--count", 1, 10000000,
     [](Options* o, long n) {
         o->count = static_cast<int>(n);
         o->countGiven = true;
     }},
    {"-l", "--interval", 10, 3600000, [](Options* o, long n) { o->intervalMs = static_cast<int>(n); }},
    {"-n", "--polls", 1, 2147483647L, [](Options* o, long n) { o->polls = n; }},
    {nullptr, "--plc", 1, 64, [](Options* o, long n) { o->plc = static_cast<int>(n); }},
    {nullptr, "--rounds", 1, 1000, [](Options* o, long n) { o->rounds = static_cast<int>(n); }},
    {nullptr, "--register", 0, 99999 - 26, [](Options* o, long n) { o->registerNumber = static_cast<int>(n); }},
    {nullptr, "--slow-plc", 1, 64, [](Options* o, long n) { o->slowPlc = static_cast<int>(n); }},
};

constexpr const char* kSilentLimitAllowed = "a number of seconds from 0.1 to 3600";

// The commands: how many arguments each takes, and the options that mean
// something to it (long names; --help and --version go with every one).
struct CommandRule {
    const char* name;
    int minArgs, maxArgs;  // maxArgs -1: no limit
    const char* synopsis;
    const char* options;
};

constexpr CommandRule kCommands[] = {
    {"info", 0, 0, "", " library log timing "},
    {"check", 1, 1, "TAG", " library log type count suffix timing quiet "},
    {"start", 0, 0, "", " library log stations driver timing "},
    {"lint", 0, 1, "[FILE]", " stations driver quiet "},
    {"read", 1, 1, "TAG", " library log stations driver count type suffix timing quiet verbose trace "},
    {"write", 2, -1, "TAG VALUE...", " library log stations driver type suffix timing quiet verbose verify trace "},
    {"poll", 1, -1, "TAG...",
     " library log stations driver count type suffix timing quiet verbose trace interval once polls csv json "},
    {"scan", 0, 0, "", " library log stations driver verbose trace "},
    {"warmstart", 1, -1, "N...", " library log stations driver timing verbose "},
    {"browse", 0, 0, "", " library log quiet "},
    {"bench", 0, 0, "",
     " library log stations driver count verbose plc rounds raw register slow-plc silent silent-limit "},
    {"help", 0, 1, "[COMMAND]", " "},
};

const CommandRule* RuleOf(const std::string& command) {
    for (const auto& c : kCommands) {
        if (command == c.name) return &c;
    }
    return nullptr;
}

std::string CommandList() {
    std::string list;
    for (const auto& c : kCommands) list += std::string(list.empty() ? "" : ", ") + c.name;
    return list;
}

bool Allows(const CommandRule& c, const std::string& longName) {
    if (longName == "--help" || longName == "--version") return true;
    // A whole word of the list (no text is built here: mingw's GCC 12
    // reports a false -Wrestrict on " " + name + " ").
    const std::string_view name = std::string_view(longName).substr(2);
    const std::string_view list = c.options;
    for (std::size_t at = list.find(name); at != std::string_view::npos; at = list.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if (at > 0 && list[at - 1] == ' ' && end < list.size() && list[end] == ' ') return true;
    }
    return false;
}

// "read, write, poll and scan": the commands an option means something to.
std::string CommandsFor(const std::string& longName) {
    std::vector<std::string> names;
    for (const auto& c : kCommands) {
        if (Allows(c, longName)) names.push_back(c.name);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

constexpr int kSilentLimit = 0x200;  // --silent-limit, seconds
constexpr int kLongOnly = 0x100;     // val of a long-only option: kLongOnly + its index

// One entry of getopt_long's table per option, and the short options'
// text; val is the short letter, or kLongOnly + the option's index.
struct OptionTable {
    std::vector<option> longOptions;
    std::string shortOptions = ":";  // ':' first: a missing value is told apart
    template <typename Option, std::size_t N>
    void Add(const Option (&table)[N], bool takesValue, int* index) {
        for (const Option& entry : table) {
            const int val = entry.shortName != nullptr ? entry.shortName[1] : kLongOnly + *index;
            longOptions.push_back({entry.longName + 2, takesValue ? required_argument : no_argument, nullptr, val});
            if (entry.shortName != nullptr) {
                shortOptions += entry.shortName[1];
                if (takesValue) shortOptions += ':';
            }
            ++*index;
        }
    }
};

template <typename Option, std::size_t N>
const Option* ByVal(const Option (&table)[N], int val, int first) {
    for (std::size_t i = 0; i < N; ++i) {
        const Option& entry = table[i];
        const int own = entry.shortName != nullptr ? entry.shortName[1] : kLongOnly + first + static_cast<int>(i);
        if (own == val) return &entry;
    }
    return nullptr;
}

// The highest value of a number option for the command.
long HighFor(const NumberOption& n, const std::string& command) {
    return std::strcmp(n.longName, "--count") == 0 && command != "bench" ? kCountLimit : n.high;
}

std::string NumberAllowed(const NumberOption& n, const std::string& command) {
    return "a number from " + std::to_string(n.low) + " to " + std::to_string(HighFor(n, command));
}

// A number for an option, or why not.
bool ApplyNumber(const NumberOption& n, const std::string& name, const std::string& text, const std::string& command,
                 Options* o, std::string* why) {
    long v = 0;
    const long high = HighFor(n, command);
    if (ToLong(text, &v) && v >= n.low && v <= high) {
        n.set(o, v);
        return true;
    }
    if (high == kCountLimit && ToLong(text, &v) && v > high) {
        // A count up to 1000 reaches the address check, which names the
        // limit of the tag's own type (read splits a longer range); a
        // larger one is refused here.
        *why = "option " + name + ": \"" + text + "\" is above 1000 (one request takes at most " +
               std::to_string(kMaxElements) + " elements, " + std::to_string(kMaxElementsEG) +
               " for memory codes E and G; read splits a longer range)";
        return false;
    }
    *why = "option " + name + ": \"" + text + "\" is not " + NumberAllowed(n, command);
    return false;
}

// --raw HOST:PORT: a host text and a port from 1 to 65535.
bool RawAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    long port = 0;
    return ToLong(text.substr(colon + 1), &port) && port >= 1 && port <= 65535;
}

// The long option a word names, exactly or by an unambiguous prefix as
// getopt_long takes it; nullptr when none or several.
struct LongName {
    const char* name;
    bool value;
};

std::vector<LongName> LongNames() {
    std::vector<LongName> names;
    for (const auto& f : kFlags) names.push_back({f.longName, false});
    for (const auto& t : kTexts) names.push_back({t.longName, true});
    for (const auto& n : kNumbers) names.push_back({n.longName, true});
    names.push_back({"--silent-limit", true});
    return names;
}

// Whether a word is the value of the option word before it ("-s FILE",
// "--driver 3", "--dri 3", "-qs FILE"), so that the command is not taken
// from it.
bool TakesValue(const std::string& word) {
    if (word.rfind("--", 0) == 0) {
        if (word.find('=') != std::string::npos) return false;
        const LongName* match = nullptr;
        int matches = 0;
        static const std::vector<LongName> names = LongNames();
        for (const auto& n : names) {
            if (word == n.name) return n.value;
            if (std::strncmp(n.name, word.c_str(), word.size()) == 0) {
                match = &n;
                ++matches;
            }
        }
        return matches == 1 && match->value;
    }
    // A cluster of short options: the first that takes a value takes the
    // rest of the word, or the next word when it ends the cluster.
    for (std::size_t i = 1; i < word.size(); ++i) {
        bool value = false;
        for (const auto& t : kTexts) value |= t.shortName != nullptr && t.shortName[1] == word[i];
        for (const auto& n : kNumbers) value |= n.shortName != nullptr && n.shortName[1] == word[i];
        if (value) return i + 1 == word.size();
    }
    return false;
}

// What a value option takes, for "needs a value".
std::string AllowedFor(int val, int flagsCount, int numbersFirst, const std::string& command) {
    if (val == kSilentLimit) return kSilentLimitAllowed;
    if (const TextOption* t = ByVal(kTexts, val, flagsCount)) return t->allowed;
    if (const NumberOption* n = ByVal(kNumbers, val, numbersFirst)) return NumberAllowed(*n, command);
    return "";
}

// The arguments' count against the command's synopsis.
bool CheckArguments(const CommandRule& c, const std::vector<std::string>& args, std::string* why) {
    const std::string takes = std::string(c.name) + " takes " + (c.synopsis[0] != '\0' ? c.synopsis : "no arguments");
    if (static_cast<int>(args.size()) < c.minArgs) {
        // The first word of the synopsis not given.
        std::string missing = c.synopsis;
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
    // A negative number (write 01D00500 -2) is an argument, not a cluster
    // of short options; "-1" is one only for write and warmstart. Such
    // words are handed to getopt_long in a form that is no option and put
    // back afterwards.
    std::string command;
    std::size_t commandAt = static_cast<std::size_t>(argc);  // no negative arguments without a command
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            command = arg;
            commandAt = static_cast<std::size_t>(i);
            break;
        }
        if (TakesValue(arg)) ++i;
    }
    std::vector<std::string> words(argv, argv + argc);
    std::vector<std::string> negatives;
    const std::string mark = "\x1f" "etlan-argument-";
    for (std::size_t i = commandAt + 1; i < words.size(); ++i) {
        if (words[i] == "--") break;
        if (LooksNegative(words[i]) && (words[i] != "-1" || command == "write" || command == "warmstart") &&
            !TakesValue(words[i - 1])) {
            negatives.push_back(words[i]);
            words[i] = mark + std::to_string(negatives.size() - 1);
        }
    }
    std::vector<char*> args;
    for (auto& w : words) args.push_back(w.data());
    args.push_back(nullptr);

    OptionTable table;
    int index = 0;
    table.Add(kFlags, false, &index);
    const int flagsCount = index;
    table.Add(kTexts, true, &index);
    const int numbersFirst = index;
    table.Add(kNumbers, true, &index);
    table.longOptions.push_back({"silent-limit", required_argument, nullptr, kSilentLimit});
    table.longOptions.push_back({nullptr, 0, nullptr, 0});
    // Options and arguments in any order (GNU permutes them; so does the
    // toolchain's getopt for Windows): no leading '+'.

    // Numbers are applied once the command is known (the limit of -c
    // depends on it); every option given is kept, as the user wrote it, to
    // be held against the command.
    struct Given {
        std::string longName, name;
    };
    struct Number {
        const NumberOption* option;
        std::string name, value;
    };
    std::vector<Given> given;
    std::vector<Number> numbers;
    std::string silentLimit, silentLimitName;
    opterr = 0;
    optind = 0;  // a fresh start, also after a line that ended inside a cluster
    const int count = static_cast<int>(args.size()) - 1;
    for (;;) {
        int longIndex = -1;
        const int c = getopt_long(count, args.data(), table.shortOptions.c_str(), table.longOptions.data(), &longIndex);
        if (c == -1) break;
        // The option as the user wrote it, for messages.
        const std::string name = longIndex >= 0 ? std::string("--") + table.longOptions[static_cast<std::size_t>(longIndex)].name
                                                : std::string("-") + static_cast<char>(c == '?' || c == ':' ? optopt : c);
        if (c == '?') {
            const std::string word = optopt != 0 ? "-" + std::string(1, static_cast<char>(optopt))
                                                 : std::string(args[static_cast<std::size_t>(optind - 1)]);
            *why = "unknown option " + word;
            return false;
        }
        if (c == ':') {
            // The word that ended the line: "--count" as written, or the
            // short option at the end of a cluster.
            const std::string last = args[static_cast<std::size_t>(optind - 1)];
            const std::string word = last.rfind("--", 0) == 0 ? last : "-" + std::string(1, static_cast<char>(optopt));
            *why = "option " + word + " needs a value: " + AllowedFor(optopt, flagsCount, numbersFirst, command);
            return false;
        }
        const std::string value = optarg != nullptr ? optarg : "";
        if (c == kSilentLimit) {
            silentLimit = value;
            silentLimitName = name;
            given.push_back({"--silent-limit", name});
        } else if (const FlagOption* f = ByVal(kFlags, c, 0)) {
            o->*(f->flag) = true;
            given.push_back({f->longName, name});
        } else if (const TextOption* t = ByVal(kTexts, c, flagsCount)) {
            if (value.empty()) {
                *why = "option " + name + ": \"\" is not " + t->allowed;
                return false;
            }
            o->*(t->text) = value;
            given.push_back({t->longName, name});
        } else if (const NumberOption* n = ByVal(kNumbers, c, numbersFirst)) {
            numbers.push_back({n, name, value});
            given.push_back({n->longName, name});
        } else {
            *why = "unknown option " + name;
            return false;
        }
    }
    bool commandGiven = false;
    for (int i = optind; i < count; ++i) {
        std::string arg = args[static_cast<std::size_t>(i)];
        if (arg.rfind(mark, 0) == 0) arg = negatives[std::stoul(arg.substr(mark.size()))];
        if (!commandGiven) {
            o->command = arg;
            commandGiven = true;
        } else {
            o->args.push_back(arg);
        }
    }
    const CommandRule* rule = RuleOf(o->command);
    if (commandGiven && rule == nullptr) {
        *why = "unknown command \"" + o->command + "\" (one of " + CommandList() + ")";
        return false;
    }
    for (const Number& n : numbers) {
        if (!ApplyNumber(*n.option, n.name, n.value, o->command, o, why)) return false;
    }
    if (!silentLimit.empty() && !ToSeconds(silentLimit, 0.1, 3600, &o->silentLimit)) {
        *why = "option " + silentLimitName + ": \"" + silentLimit + "\" is not " + kSilentLimitAllowed;
        return false;
    }
    if (!o->raw.empty() && !RawAddress(o->raw)) {
        *why = "option --raw: \"" + o->raw + "\" is not HOST:PORT (a port from 1 to 65535)";
        return false;
    }
    if (o->version) return true;
    if (!commandGiven) {
        if (o->help) return true;
        *why = "no command given (one of " + CommandList() + ")";
        return false;
    }
    if (o->help && o->command != "help") return true;  // "etlan read --help": the command's help
    // Options that mean nothing to the command are refused rather than
    // passed over: a user who gives one expects it to act.
    for (const Given& g : given) {
        if (!Allows(*rule, g.longName)) {
            *why = "option " + g.name + " is for " + CommandsFor(g.longName) + ", not for " + o->command;
            return false;
        }
    }
    if (!CheckArguments(*rule, o->args, why)) return false;
    if (o->command == "help" && !o->args.empty() && RuleOf(o->args[0]) == nullptr) {
        *why = "help: no command \"" + o->args[0] + "\" (one of " + CommandList() + ")";
        return false;
    }
    if (o->quiet && o->verbose) {
        *why = "-q and -v exclude each other";
        return false;
    }
    if (o->csv && o->json) {
        *why = "--csv and --json exclude each other";
        return false;
    }
    if (o->once && o->polls != 0) {
        *why = "-1 and -n exclude each other (-1 is -n 1)";
        return false;
    }
    if (o->command == "lint" && !o->args.empty() && !o->stations.empty()) {
        *why = "lint takes FILE or -s FILE, not both";
        return false;
    }
    return true;
}

const char* OverviewHelp() {
    return R"(etlan - command-line host for the ETLANdr driver (Matsushita FP PLCs via ET-LAN)

Usage: etlan [options] COMMAND [arguments]

Commands:
  info                       identity of the driver (code 14) and its banner
  check TAG                  address check of a tag text (code 3, --suffix or
                             a "_D" suffix: code 4)
  start                      ColdStart on a station file, show the driver's log, EndVpi
  lint [FILE]                the station file's mistakes, each with its line
  scan                       every station of the station file: address,
                             connection, a read of D 0 and its time
  read TAG                   read one value, or --count N values
  write TAG VALUE...         write one value, or several to consecutive
                             addresses; --verify reads each back
  poll TAG...                read tags again and again, one live line of values;
                             a station that stops answering gets WarmStart
  warmstart N...             ColdStart on stations N..., then WarmStart of each
  browse                     the "Tag Format" address dialog (code 16)
  bench                      the driver against a raw socket client: latency,
                             operations per second, CPU (etlan bench --help)
  help [COMMAND]             this text, or a command's

Options (anywhere on the line; an option that the command does not use is
refused, as is a value outside what the option takes):
  --library PATH             driver library (default: libETLANdr.so / ETLANdr.dll
                             next to etlan)
  -s, --stations FILE        station file for start, read, write and poll; etlan
                             copies it into a temporary directory as zavURnn.int
                             (nn = driver number) and runs the driver there.
                             Without -s the driver opens zavURnn.int in the
                             current directory, as the SCADA host does.
  -d, --driver N             driver number (default 1): names zavURnn.int
  -t, --type N               the host's data type code of the tag
  -c, --count N              element count (default 1); for bench the
                             operations per round
  --plc N, --rounds N, --raw HOST:PORT, --register N, --slow-plc N,
  --silent FILE, --silent-limit S   bench options (etlan bench --help)
  -l, --interval MS          poll interval in milliseconds (default 1000)
  -1, --once                 poll once and stop
  -n, --polls N              poll N times and stop
  -o, --timing               show how long each request blocked
  -q, --quiet                values only
  -v, --verbose              also the driver's log lines and the raw result codes
  --csv, --json              poll: one record per tag and round (time, round,
                             tag, station, result, meaning, value, ms) on
                             standard output, the statistics on standard error
  --log FILE                 keep the driver's log in FILE (appended to)
  --trace                    read, write, poll, scan: every frame between the
                             driver and the stations on standard error, time-
                             stamped, header in hex, text readable, negative
                             answers with the PLC's error meaning
  -h, --help                 help; "etlan COMMAND --help" for a command
  -V, --version              etlan's version

Exit status: 0 success; 1 the driver reported a failure (invalid address,
refused command, negative answer, no answer, dialog cancelled, a station
that did not connect, output that could not be written); 2 a wrong
command line (an unknown command or option, a missing or extra argument,
a value that is not what it takes, an option the command does not use),
found before the driver starts and before anything is sent; 3 etlan could
not run (driver library or station file not found or not readable, log
file not writable); 130 stopped by Ctrl-C or SIGTERM.

Results go to standard output, diagnoses to standard error.

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

  -t, --type N     data type code (default: taken from the text as for
                   "etlan read"); 3, 4, 5 are 32 bits, 6 is a bit, 7 is
                   refused
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
        return R"(Usage: etlan read TAG [-s FILE] [-d N] [-c N] [-t N] [-o] [-q | -v] [--trace]

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

--trace writes every frame between the driver and the stations on standard
error as it passes: the time, the station, the 12-byte header in hex and
the text, a negative answer with the PLC's error code and its meaning.
etlan connects to each station before the driver starts and relays the
driver's connection to it on 127.0.0.1; a station that does not connect
then is left to the driver as without --trace, and its frames are not shown.
)";
    }
    if (command == "write") {
        return R"(Usage: etlan write TAG VALUE... [--verify] [-s FILE] [-d N] [-t N] [-o] [-q | -v] [--trace]

Checks TAG, starts the driver on the station file (see "etlan start --help"),
writes VALUE with WriteValue (code 7) and ends the instance. Several
values go to consecutive addresses (a double word takes two), one
WriteValue each; every address is checked and every value read before the
first write. --verify reads each value back after writing it. VALUE is decimal
(a negative value is written in two's complement) or hex with 0x; a bit
takes 0 or 1. The data type is taken from the text as for "etlan read" when
--type is not given. X, T and C cannot be written. --trace shows the frames
as for "etlan read".
)";
    }
    if (command == "poll") {
        return R"(Usage: etlan poll TAG... [-l MS] [-1 | -n N] [-s FILE] [-d N] [-c N] [-t N] [-o] [-q | -v]
                  [--csv | --json] [--log FILE] [--trace]

Starts the driver once and reads every TAG again and again, a round every
MS milliseconds (default 1000) on a fixed schedule, on one live line with
the counts of good and failed reads; a round that takes longer than MS is
counted and the next starts at once. -1, or -n N polls, stops it with a
summary: "N rounds in S s, N overran the interval" and "N requests
transmitted, N received, N errors, X% request loss". Ctrl-C or SIGTERM stops
it after the read under way, with the summary and exit status 130; a
second Ctrl-C ends it at once.

A station whose read gives 2 (no answer, not connected) gets WarmStart
(code 2) after the round: at once, then while its reads keep failing after
0.5 s, 1 s, 2 s ... at most 30 s apart; a good read starts over. Each
attempt is reported on standard error, the reconnections per station in
the summary.
Data types are taken from the texts as for "etlan read"; --trace shows the
frames as for "etlan read" (a WarmStart through the relay succeeds even
while the station is down; the relay then closes the connection and says
why).
)";
    }
    if (command == "browse") {
        return R"(Usage: etlan browse [--library PATH]

Opens the driver's "Tag Format" address dialog (code 16, no owner window)
and prints the address text composed in it, or "cancelled" (result 53).
Exit status 0 when confirmed, 1 when cancelled.
)";
    }
    if (command == "bench") {
        return R"(Usage: etlan bench [-s FILE] [-d N] [--plc P] [--rounds R] [-c N] [--raw HOST:PORT]
                   [--register A] [--slow-plc Q] [--silent FILE2] [--silent-limit S] [-v]

Measures the driver against the physical limit: a raw client inside etlan
that sends the very same frames (the 12-byte ET-LAN header and the
MEWTOCOL-COM text the driver sends) on a blocking socket of its own and
reads each answer up to its carriage return. The driver is started on the
station file (see "etlan start --help") and called only through VpiMain.

For station P (default: the first in the station file) it times ReadValue
of D A (code 5), ReadBlock of 27 words D A..D A+26 (code 6) and WriteValue
of D A (code 7) in R rounds (default 20) of N operations (default 500) per
client and kind, driver and raw client taking turns, and shows for each
the median and 99th-percentile time, operations per second and the CPU
seconds this process used per 10,000 operations, with the driver's ratios
to the raw client. The registers must hold steady values: the raw client
reads them first, every later read must give them, and the write writes
the value D A holds back. A is 1000 unless --register gives it.

  --plc P            station measured (1-64)
  --rounds R         rounds (default 20)
  -c, --count N      operations per round, client and kind (default 500)
  --raw HOST:PORT    address of the raw client's connection (default: the
                     station file's line for P)
  --register A       first data register (default 1000)
  --slow-plc Q       also 100 reads per client from station Q, one that
                     answers late: CPU seconds per 100 reads
  --silent FILE2     also time ColdStart on FILE2, a station file of
                     stations that never answer (connects that hang)
  --silent-limit S   wait at most S seconds for that ColdStart (default 5);
                     a ColdStart still running then is reported as "> S s"
                     and etlan ends without EndVpi
  -v                 also show the raw client's frames

Ends with the targets, each met or NOT MET: ReadValue median <= 1.1x raw,
p99 <= 1.3x raw, CPU per read <= 1.3x raw; CPU per 100 reads from the late
station <= 0.005 s; ColdStart on the silent stations <= 1.2 s.

Exit status 0 when the bench ran (whether or not the targets were met); 1
when an operation failed or read a wrong value; 3 when it could not run
(driver library, station file, station not in it, no answer to the first
read).
)";
    }
    if (command == "lint") {
        return R"(Usage: etlan lint [FILE] [-s FILE] [-d N] [-q]

Reads a station file (FILE, or -s FILE, or zavURnn.int in the current
directory) as the driver reads it and reports, on standard error, each
line the driver would pass over or take otherwise than meant, as
FILE:LINE: error|warning: what (line 1 is the header): no header line, an
empty or binary file, a station number 0 or above 64, the PC's own number
(the header's), a station twice, missing quotes, a host text longer than
15 characters or no IPv4 address. Then one line of what the driver takes
from the file, on standard output.

Exit status 0 when the file holds no error, 1 when it does, 3 when it
cannot be read.
)";
    }
    if (command == "scan") {
        return R"(Usage: etlan scan [-s FILE] [-d N] [--trace]

Starts the driver on the station file (see "etlan start --help") and shows
one line per station of the file: its host and port, whether the host text
is an IPv4 address, whether the station connected at the start, and
whether it answers a read of D 0 (ReadValue, code 5) and how fast; then a
summary. Lines the driver does not take are named with their line number.

--trace shows the frames as for "etlan read".

Exit status 0 when every station answers, 1 when any fails.
)";
    }
    if (command == "warmstart") {
        return R"(Usage: etlan warmstart N... [-s FILE] [-d N] [-o] [-v]

Starts the driver on the lines of stations N... of the station file (see
"etlan start --help"), then calls WarmStart (code 2) for each, as the host
does to make a lost connection again, shows each result and ends the
instance. N is a station number from 1 to 64.

Exit status 0 when every WarmStart succeeded, 1 otherwise.
)";
    }
    if (command == "help") return OverviewHelp();
    return nullptr;
}

}  // namespace etl::etlan
