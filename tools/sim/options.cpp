#include "tools/sim/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>

#include "tools/common/command_line.h"

namespace etl::sim {
namespace {

using tools::ToNumber;

constexpr char kDescription[] =
    "Simulated PLC stations, each an ET-LAN unit on its own 127.0.0.1 port,\n"
    "answering MEWTOCOL-COM behind the 12-byte ET-LAN header. All stations\n"
    "share one memory image. Prints \"ready station N port P\" per station once\n"
    "it is set up (with \"(no listener: ...)\" where --refuse or --refuse-new\n"
    "keeps it from listening), then runs until SIGINT or SIGTERM. A value\n"
    "follows its option as the next word or after '=' (--split 118,\n"
    "--split=118); options are read in the order given.";

constexpr char kFooter[] =
    "Exit status: 0 stopped by a signal or the end of standard input; 1 a\n"
    "station could not listen or the capture file could not be written; 2 a\n"
    "wrong command line.\n";

constexpr char kMs[] = "a number of milliseconds from 0 to 600000";
constexpr char kStationsGroup[] = "Stations and memory";
constexpr char kAnswersGroup[] = "Answers (every station, or after --for N station N only)";
constexpr char kFaultsGroup[] = "Faults (every station, or after --for N station N only)";
constexpr char kOtherGroup[] = "Other";

// The options in the order of --help. What a value option allows names it
// in messages; a fault option with a number sets that field of Faults, a
// fault flag that one.
struct OptionEntry {
    const char* group;
    const char* names;  // a short form only where one has always been taken
    const char* value;  // nullptr: a flag
    const char* allowed;
    const char* help;
    long low = 0, high = 0;
    int Faults::*number = nullptr;
    bool Faults::*flag = nullptr;
};

const OptionEntry kOptions[] = {
    {kStationsGroup, "--station", "N[:PORT]",
     "N[:PORT] with N a station number from 1 to 255 and PORT a port from 0 to 65535 (0: any free port)",
     "add station N (1-255) on PORT (0 or none: any free port);\nrepeat it for more stations, each number and port once"},
    {kStationsGroup, "--model", "NAME", "generous, fp2, fp3 or fp5",
     "memory sizes of generous (default), fp2, fp3 or fp5;\naddresses past an area's end are refused with 61"},
    {kStationsGroup, "--set", "AREA=VALUE", "AREA=VALUE, e.g. D100=1234",
     "initial value, e.g. D100=1234, R10=0x0020, LD5=-1,\nD200=0x12345678 (two words, low word first); areas are\n"
     "the memory letters or LD, IX, IY, I0-IF, SV, EV;\nvalues from -32768 to 0xFFFFFFFF"},
    {kStationsGroup, "--file", "PATH", "the path of a file of AREA=VALUE lines",
     "lines of AREA=VALUE (blank lines and # comments allowed)"},
    {kAnswersGroup, "--for", "N|all", "all or a station number from 1 to 255",
     "scope of the answer and fault options that follow;\nN is a station given with --station"},
    {kAnswersGroup, "--split", "N", "0 or a number from 12 to 65535",
     "answers longer than N characters (CR included) go in\nparts, each asked for with %NN**& (PLCs: 118; 0: whole;\n"
     "otherwise 12 to 65535)"},
    {kAnswersGroup, "--station-field", "F",
     "hex or decimal, or hex-only or decimal-only (texts in that form alone)",
     "how a station writes its number: hex (default: station\n10 is 0A) or decimal (10), taking texts that name it\n"
     "in either form; hex-only or decimal-only take texts in\nthat form alone (or EE), others go unanswered"},
    {kFaultsGroup, "--delay-ms", "MS", kMs, "delay each answer (0 to 600000)", 0, 600000, &Faults::delayMs},
    {kFaultsGroup, "--answer-twice", "MS", kMs,
     "send each answer a second time, the same bytes, MS ms\nafter the first (0 to 600000)", 0, 600000,
     &Faults::duplicateAfterMs},
    {kFaultsGroup, "--crlf", nullptr, "",
     "end each answer with CR LF (the header's length counts\nthe text up to its CR)", 0, 0, nullptr, &Faults::crlf},
    {kFaultsGroup, "--pieces", "N", "a number of bytes from 0 to 65535 (0: whole answers)",
     "send answers in pieces of N bytes (0: whole) ...", 0, 65535, &Faults::pieceBytes},
    {kFaultsGroup, "--piece-pause-ms", "MS", kMs, "... with this pause between them (0 to 600000)", 0, 600000,
     &Faults::piecePauseMs},
    {kFaultsGroup, "--drop", "N", "-1 (every answer) or a number from 0 to 1000000000",
     "drop the next N answers (-1: all)", -1, 1000000000, &Faults::dropAnswers},
    {kFaultsGroup, "--negative", "N[:CODE]",
     "N[:CODE] with N -1 (every request) or a number from 0 to 1000000000 and CODE an error code from 0 to 99",
     "answer the next N requests negatively (-1: all) with\nerror CODE (0 to 99, default 42)"},
    {kFaultsGroup, "--close-after-request", nullptr, "", "close the connection after each request, unanswered",
     0, 0, nullptr, &Faults::closeAfterRequest},
    {kFaultsGroup, "--refuse", nullptr, "", "no listener: connects are refused, open connections dropped", 0, 0,
     nullptr, &Faults::refuseConnections},
    {kFaultsGroup, "--refuse-new", nullptr, "", "no listener: connects are refused, open connections stay", 0, 0,
     nullptr, &Faults::refuseNewConnections},
    {kFaultsGroup, "--never-accept", nullptr, "", "full accept queue: connects hang", 0, 0, nullptr,
     &Faults::neverAccept},
    {kFaultsGroup, "--stray", "TEXT", "a text with the escapes \\r, \\n, \\xHH and \\\\",
     "bytes sent before each answer (\\r \\n \\xHH \\\\ escapes)"},
    {kFaultsGroup, "--oversized", nullptr, "", "positive answers of 3000 bytes", 0, 0, nullptr,
     &Faults::oversizedAnswer},
    {kFaultsGroup, "--wrong-station", "N", "a station number from 0 to 255", "answers carry station number N (0 to 255)",
     0, 255, &Faults::wrongStation},
    {kFaultsGroup, "--garbage", nullptr, "", "answers that are not MEWTOCOL at all", 0, 0, nullptr, &Faults::garbage},
    {kFaultsGroup, "--part-fault", "KIND[:P]",
     "KIND[:PART] with KIND bad-bcc, extra-part, missing-part, never-comes or truncated and PART a number from 1 "
     "to 1000",
     "a fault of part P (1 to 1000, default 2) of an answer\nin parts: bad-bcc, extra-part, missing-part,\n"
     "never-comes, truncated"},
    {kOtherGroup, "-v,--verbose", nullptr, "", "log every request and answer to stderr"},
    {kOtherGroup, "--trace", nullptr, "",
     "print the frames each way and the connections' events to\nstderr as etlan --trace does (-> request, <- answer,\n"
     "== event or what a station does instead of answering)"},
    {kOtherGroup, "--record", "FILE.pcap", "a file name",
     "write every connection's packets to a capture file\n(pcap, Ethernet, TCP on 127.0.0.1, no privileges)"},
    {kOtherGroup, "--stdin-stop", nullptr, "", "also stop when standard input reaches its end"},
    {kOtherGroup, "-V,--version", nullptr, "", "etlan-sim's version"},
    {kOtherGroup, "-h,--help", nullptr, "", "this text"},
};

// etlan-sim's options on CLI11, which only splits the line into options
// and values: they are read here in the order given.
struct Line {
    CLI::App app{kDescription, "etlan-sim"};
    std::map<const CLI::Option*, const OptionEntry*> entries;

    Line() {
        auto format = std::make_shared<tools::HelpFormat>();
        format->column_width(24);
        format->pages["etlan-sim"] = {"", "--station N[:PORT]... [options]"};
        app.formatter(format);
        app.set_help_flag();
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        app.allow_extras();
        app.footer(kFooter);
        for (const OptionEntry& s : kOptions) {
            CLI::Option* o = s.value != nullptr ? app.add_option(s.names)->option_text(s.value) : app.add_flag(s.names);
            o->description(s.help)->group(s.group)->check(tools::Check(s.allowed, [](const std::string&) { return true; }));
            entries[o] = &s;
        }
    }
};

std::string Refused(const OptionEntry& s, const std::string& value) {
    return std::string("option ") + s.names + ": \"" + value + "\" is not " + s.allowed;
}

// \r, \n, \xHH and \\ to their bytes; false with the escape that is none
// of them.
bool Unescape(const std::string& in, std::string* out, std::string* bad) {
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            *out += in[i];
            continue;
        }
        const char e = i + 1 < in.size() ? in[i + 1] : '\0';
        if (e == 'r' || e == 'n' || e == '\\') {
            *out += e == 'r' ? '\r' : e == 'n' ? '\n' : '\\';
            ++i;
        } else if (e == 'x' && i + 3 < in.size() && std::isxdigit(static_cast<unsigned char>(in[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(in[i + 3]))) {
            *out += static_cast<char>(std::stoi(in.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            *bad = in.substr(i, e == 'x' ? 4 : 2);
            return false;
        }
    }
    return true;
}

bool ParsePartFault(const std::string& v, Faults* f) {
    using PF = Faults::PartFault;
    static const std::pair<const char*, PF> kKinds[] = {
        {"bad-bcc", PF::kBadBcc},           {"extra-part", PF::kExtraPart},
        {"missing-part", PF::kMissingPart}, {"never-comes", PF::kPartNeverComes},
        {"truncated", PF::kTruncatedPart},  {"none", PF::kNone},
    };
    const std::size_t colon = v.find(':');
    const std::string kind = v.substr(0, colon);
    long at = 2;
    if (colon != std::string::npos && !ToNumber(std::string_view(v).substr(colon + 1), 1, 1000, &at)) return false;
    for (const auto& [name, value] : kKinds) {
        if (kind == name) {
            f->partFault = value;
            f->partFaultAt = static_cast<int>(at);
            return true;
        }
    }
    return false;
}

// N[:SECOND], each part a number in its range; *second keeps its value
// when there is no colon.
bool NumberPair(const std::string& v, long low, long high, long low2, long high2, long* first, long* second) {
    const std::size_t colon = v.find(':');
    const std::string_view text(v);
    if (!ToNumber(text.substr(0, colon), low, high, first)) return false;
    return colon == std::string::npos || ToNumber(text.substr(colon + 1), low2, high2, second);
}

std::string Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

// Why a --set text is refused by a memory of the model, in words.
std::string SetProblem(Model model, const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) return "is not AREA=VALUE (e.g. D100=1234 or R10=0x0020)";
    const std::string area = Trimmed(std::string_view(text).substr(0, eq));
    const std::string value = text.substr(eq + 1);
    Memory scratch(model);
    if (!SetFromText(scratch, area + "=0")) {
        return "names " + (area.empty() ? std::string("no area") : area) + ", not an area and address that the " +
               ModelName(model) + " model has (areas: X Y R L T C D F, LD, SV, EV with a decimal address; IX, IY, "
               "I0-IF; --model sets the sizes)";
    }
    if (!SetFromText(scratch, "D0=" + value)) {
        return "has a value that is not a number from -32768 to 0xFFFFFFFF (decimal, or hex with 0x)";
    }
    return "has a value above 0xFFFF, which takes two words, and " + area + " is the last word of its area in the " +
           ModelName(model) + " model";
}

// The lines of a --file that are no blank or comment line, with their
// line numbers; false with a message when the file cannot be read.
bool ReadSetFile(const std::string& path, std::vector<SimOptions::Set>* sets, std::string* why) {
    if (path.empty()) {
        *why = "option --file: \"\" is not the path of a file of AREA=VALUE lines";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        *why = "option --file: cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    std::string line;
    int number = 0;
    for (int c = std::getc(f); c != EOF || !line.empty(); c = std::getc(f)) {
        if (c != EOF && c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        ++number;
        const std::string s = Trimmed(line);
        line.clear();
        if (!s.empty() && s[0] != '#') {
            sets->push_back({s, "option --file: \"" + path + "\" line " + std::to_string(number)});
        }
        if (c == EOF) break;
    }
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        *why = "option --file: cannot read \"" + path + "\": " + std::strerror(error);
        return false;
    }
    return true;
}

// What a station option sets.
bool AddStation(const std::string& v, SimOptions* o, std::string* why) {
    long number = 0;
    long port = 0;
    if (!NumberPair(v, 1, 255, 0, 65535, &number, &port)) return false;
    for (const auto& s : o->stations) {
        if (s.number == number) {
            *why = "option --station: \"" + v + "\": station " + std::to_string(number) +
                   " is given twice (each station number once)";
            return false;
        }
        if (port != 0 && s.port == port) {
            *why = "option --station: \"" + v + "\": port " + std::to_string(port) + " is station " +
                   std::to_string(s.number) + "'s already (each port once)";
            return false;
        }
    }
    o->stations.push_back({static_cast<int>(number), static_cast<std::uint16_t>(port)});
    return true;
}

// One option with its value, in the order given; scope is the station of
// the last --for (0: every station). False with *why when the value is
// refused; an empty *why then names the value and what the option allows.
bool Apply(const OptionEntry& entry, const std::string& v, int* scope, std::vector<std::pair<int, std::string>>* scopes,
           SimOptions* o, std::string* why) {
    const std::string_view name = entry.names;
    const auto edit = [&](std::function<void(StationSettings&)> change) {
        o->edits.emplace_back(*scope, std::move(change));
    };
    long n = 0;
    if (entry.flag != nullptr) {
        edit([flag = entry.flag](StationSettings& s) { s.faults.*flag = true; });
    } else if (entry.number != nullptr) {
        if (!ToNumber(v, entry.low, entry.high, &n)) return false;
        edit([number = entry.number, value = static_cast<int>(n)](StationSettings& s) { s.faults.*number = value; });
    } else if (name == "--station") {
        return AddStation(v, o, why);
    } else if (name == "--model") {
        return ParseModel(v, &o->model);
    } else if (name == "--set") {
        o->sets.push_back({v, "option --set"});
    } else if (name == "--file") {
        return ReadSetFile(v, &o->sets, why);
    } else if (name == "--for") {
        if (v != "all" && !ToNumber(v, 1, 255, &n)) return false;
        *scope = static_cast<int>(n);
        if (n != 0) scopes->emplace_back(*scope, v);
    } else if (name == "--split") {
        if (!ToNumber(v, 0, 65535, &n) || (n != 0 && n < 12)) return false;
        edit([split = static_cast<int>(n)](StationSettings& s) { s.split = split; });
    } else if (name == "--station-field") {
        const bool strict = v == "hex-only" || v == "decimal-only";
        const StationField field = v == "decimal" || v == "decimal-only" ? StationField::kDecimal : StationField::kHex;
        if (!strict && v != "hex" && v != "decimal") return false;
        edit([field, strict](StationSettings& s) {
            s.field = field;
            s.strictField = strict;
        });
    } else if (name == "--negative") {
        long code = 42;
        if (!NumberPair(v, -1, 1000000000, 0, 99, &n, &code)) return false;
        edit([count = static_cast<int>(n), code = static_cast<int>(code)](StationSettings& s) {
            s.faults.negativeAnswers = count;
            s.faults.negativeCode = code;
        });
    } else if (name == "--stray") {
        std::string bytes;
        std::string bad;
        if (!Unescape(v, &bytes, &bad)) {
            *why = "option --stray: \"" + v + "\": \"" + bad + "\" is not one of the escapes \\r, \\n, " +
                   "\\xHH (two hex digits) and \\\\";
            return false;
        }
        edit([bytes](StationSettings& s) { s.faults.strayBytes = bytes; });
    } else if (name == "--part-fault") {
        Faults parsed;
        if (!ParsePartFault(v, &parsed)) return false;
        edit([parsed](StationSettings& s) {
            s.faults.partFault = parsed.partFault;
            s.faults.partFaultAt = parsed.partFaultAt;
        });
    } else if (name == "-v,--verbose") {
        o->verbose = true;
    } else if (name == "--trace") {
        o->trace = true;
    } else if (name == "--record") {
        o->recordPath = v;
        return !v.empty();
    } else if (name == "--stdin-stop") {
        o->stdinStop = true;
    }
    return true;
}

}  // namespace

StationSettings SimOptions::SettingsFor(int station) const {
    StationSettings settings;
    for (const auto& [where, change] : edits) {
        if (where == 0 || where == station) change(settings);
    }
    return settings;
}

const char* SimUsage() {
    static const std::string text = Line().app.help();
    return text.c_str();
}

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* why) {
    Line line;
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!tools::FullLongOptions(line.app, &words, why, true)) {
        if (why->rfind("unknown option", 0) == 0) *why += " (etlan-sim --help lists the options)";
        return false;
    }
    const auto end = std::find(words.begin(), words.end(), "--");
    const std::vector<std::string> after(end == words.end() ? end : end + 1, words.end());
    words.erase(end, words.end());
    if (!tools::ParseWords(&line.app, words, why)) return false;

    int scope = 0;                                    // 0: every station
    std::vector<std::pair<int, std::string>> scopes;  // each --for N with its text
    std::map<const CLI::Option*, std::size_t> taken;  // the values of each option read so far
    for (const CLI::Option* option : line.app.parse_order()) {
        const OptionEntry& entry = *line.entries.at(option);
        const std::string value = option->results().at(taken[option]++);
        if (std::string_view(entry.names) == "-h,--help" || std::string_view(entry.names) == "-V,--version") {
            (entry.names[1] == 'h' ? o->help : o->version) = true;
            return true;
        }
        why->clear();
        if (!Apply(entry, value, &scope, &scopes, o, why)) {
            if (why->empty()) *why = Refused(entry, value);
            return false;
        }
    }
    const std::vector<std::string> extras = line.app.remaining();
    if (!extras.empty() && extras[0].size() > 1 && extras[0][0] == '-') {
        *why = "unknown option " + extras[0] + " (etlan-sim --help lists the options)";
        return false;
    }
    if (!extras.empty() || !after.empty()) {
        *why = "unexpected argument \"" + (extras.empty() ? after[0] : extras[0]) +
               "\": etlan-sim takes options only (etlan-sim --help lists them)";
        return false;
    }
    if (o->stations.empty()) {
        *why = "no station: give at least one --station N[:PORT] (N from 1 to 255; etlan-sim --help lists the options)";
        return false;
    }
    for (const auto& [number, text] : scopes) {
        bool given = false;
        for (const auto& s : o->stations) given |= s.number == number;
        if (!given) {
            *why = "option --for: \"" + text + "\" is not all or a station given with --station";
            return false;
        }
    }
    Memory memory(o->model);
    for (const auto& set : o->sets) {
        if (!SetFromText(memory, set.text)) {
            *why = set.origin + ": \"" + set.text + "\" " + SetProblem(o->model, set.text);
            return false;
        }
    }
    return true;
}

std::string ReadyLine(const SimOptions& options, int station, unsigned port) {
    // A station without a working listener says so: the port is its own,
    // but a connection to it is refused, or hangs.
    const Faults f = options.SettingsFor(station).faults;
    const char* state = f.refuseConnections || f.refuseNewConnections
                            ? " (no listener: connections are refused)"
                        : f.neverAccept ? " (accept queue full: connections hang)"
                                        : "";
    char line[96];
    std::snprintf(line, sizeof line, "ready station %d port %u%s", station, port, state);
    return line;
}

}  // namespace etl::sim
