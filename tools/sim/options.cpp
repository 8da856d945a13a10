#include "tools/sim/options.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <getopt.h>

namespace etl::sim {
namespace {

const char kUsage[] =
    "usage: etlan-sim --station N[:PORT]... [options]\n"
    "Simulated PLC stations, each an ET-LAN unit on its own 127.0.0.1 port,\n"
    "answering MEWTOCOL-COM behind the 12-byte ET-LAN header. All stations\n"
    "share one memory image. Prints \"ready station N port P\" per station once\n"
    "it listens, then runs until SIGINT or SIGTERM. A value follows its option\n"
    "as the next word or after '=' (--split 118, --split=118); options are\n"
    "read in the order given.\n"
    "\n"
    "Stations and memory:\n"
    "  --station N[:PORT]    add station N (1-255) on PORT (0 or none: any free port);\n"
    "                        repeat it for more stations, each number and port once\n"
    "  --model NAME          memory sizes of generous (default), fp2, fp3 or fp5;\n"
    "                        addresses past an area's end are refused with 61\n"
    "  --set AREA=VALUE      initial value, e.g. D100=1234, R10=0x0020, LD5=-1,\n"
    "                        D200=0x12345678 (two words, low word first); areas are\n"
    "                        the memory letters or LD, IX, IY, I0-IF, SV, EV;\n"
    "                        values from -32768 to 0xFFFFFFFF\n"
    "  --file PATH           lines of AREA=VALUE (blank lines and # comments allowed)\n"
    "\n"
    "Answers (every station, or after --for N station N only):\n"
    "  --for N|all           scope of the answer and fault options that follow;\n"
    "                        N is a station given with --station\n"
    "  --split N             answers longer than N characters (CR included) go in\n"
    "                        parts, each asked for with %NN**& (PLCs: 118; 0: whole;\n"
    "                        otherwise 12 to 65535)\n"
    "  --station-field F     how a station writes its number: hex (default: station\n"
    "                        10 is 0A) or decimal (10), taking texts that name it\n"
    "                        in either form; hex-only or decimal-only take texts in\n"
    "                        that form alone (or EE), others go unanswered\n"
    "\n"
    "Faults (every station, or after --for N station N only):\n"
    "  --delay-ms MS         delay each answer (0 to 600000)\n"
    "  --answer-twice MS     send each answer a second time, the same bytes, MS ms\n"
    "                        after the first (0 to 600000)\n"
    "  --crlf                end each answer with CR LF (the header's length counts\n"
    "                        the text up to its CR)\n"
    "  --pieces N            send answers in pieces of N bytes (0: whole) ...\n"
    "  --piece-pause-ms MS   ... with this pause between them (0 to 600000)\n"
    "  --drop N              drop the next N answers (-1: all)\n"
    "  --negative N[:CODE]   answer the next N requests negatively (-1: all) with\n"
    "                        error CODE (0 to 99, default 42)\n"
    "  --close-after-request close the connection after each request, unanswered\n"
    "  --refuse              no listener: connects are refused, open connections dropped\n"
    "  --refuse-new          no listener: connects are refused, open connections stay\n"
    "  --never-accept        full accept queue: connects hang\n"
    "  --stray TEXT          bytes sent before each answer (\\r \\n \\xHH \\\\ escapes)\n"
    "  --oversized           positive answers of 3000 bytes\n"
    "  --wrong-station N     answers carry station number N (0 to 255)\n"
    "  --garbage             answers that are not MEWTOCOL at all\n"
    "  --part-fault KIND[:P] a fault of part P (1 to 1000, default 2) of an answer\n"
    "                        in parts: bad-bcc, extra-part, missing-part,\n"
    "                        never-comes, truncated\n"
    "\n"
    "Other:\n"
    "  -v, --verbose         log every request and answer to stderr\n"
    "  --trace               print the frames each way and the connections' events to\n"
    "                        stderr as etlan --trace does (-> request, <- answer,\n"
    "                        == event or what a station does instead of answering)\n"
    "  --record FILE.pcap    write every connection's packets to a capture file\n"
    "                        (pcap, Ethernet, TCP on 127.0.0.1, no privileges)\n"
    "  --stdin-stop          also stop when standard input reaches its end\n"
    "  -V, --version         etlan-sim's version\n"
    "  -h, --help            this text\n"
    "\n"
    "Exit status: 0 stopped by a signal or the end of standard input; 1 a\n"
    "station could not listen or the capture file could not be written; 2 a\n"
    "wrong command line.\n";

// The options; a short form only where one has always been taken.
enum Id : int {
    kStation = 0x100,
    kModel,
    kSet,
    kFile,
    kFor,
    kSplit,
    kStationField,
    kDelayMs,
    kAnswerTwice,
    kCrlf,
    kPieces,
    kPiecePauseMs,
    kDrop,
    kNegative,
    kCloseAfterRequest,
    kRefuse,
    kRefuseNew,
    kNeverAccept,
    kStray,
    kOversized,
    kWrongStation,
    kGarbage,
    kPartFault,
    kTrace,
    kRecord,
    kStdinStop,
};

struct OptionEntry {
    const char* name;
    int id;
    const char* allowed;  // nullptr: takes no value
};

constexpr char kStationAllowed[] =
    "N[:PORT] with N a station number from 1 to 255 and PORT a port from 0 to 65535 (0: any free port)";
constexpr char kMs[] = "a number of milliseconds from 0 to 600000";
constexpr char kSplitAllowed[] = "0 or a number from 12 to 65535";
constexpr char kDropAllowed[] = "-1 (every answer) or a number from 0 to 1000000000";
constexpr char kNegativeAllowed[] =
    "N[:CODE] with N -1 (every request) or a number from 0 to 1000000000 and CODE an error code from 0 to 99";
constexpr char kPartFaultAllowed[] =
    "KIND[:PART] with KIND bad-bcc, extra-part, missing-part, never-comes or truncated and PART a number from 1 to "
    "1000";

constexpr OptionEntry kOptionTable[] = {
    {"help", 'h', nullptr},
    {"version", 'V', nullptr},
    {"verbose", 'v', nullptr},
    {"station", kStation, kStationAllowed},
    {"model", kModel, "generous, fp2, fp3 or fp5"},
    {"set", kSet, "AREA=VALUE, e.g. D100=1234"},
    {"file", kFile, "the path of a file of AREA=VALUE lines"},
    {"for", kFor, "all or a station number from 1 to 255"},
    {"split", kSplit, kSplitAllowed},
    {"station-field", kStationField, "hex or decimal, or hex-only or decimal-only (texts in that form alone)"},
    {"delay-ms", kDelayMs, kMs},
    {"answer-twice", kAnswerTwice, kMs},
    {"crlf", kCrlf, nullptr},
    {"pieces", kPieces, "a number of bytes from 0 to 65535 (0: whole answers)"},
    {"piece-pause-ms", kPiecePauseMs, kMs},
    {"drop", kDrop, kDropAllowed},
    {"negative", kNegative, kNegativeAllowed},
    {"close-after-request", kCloseAfterRequest, nullptr},
    {"refuse", kRefuse, nullptr},
    {"refuse-new", kRefuseNew, nullptr},
    {"never-accept", kNeverAccept, nullptr},
    {"stray", kStray, "a text with the escapes \\r, \\n, \\xHH and \\\\"},
    {"oversized", kOversized, nullptr},
    {"wrong-station", kWrongStation, "a station number from 0 to 255"},
    {"garbage", kGarbage, nullptr},
    {"part-fault", kPartFault, kPartFaultAllowed},
    {"trace", kTrace, nullptr},
    {"record", kRecord, "a file name"},
    {"stdin-stop", kStdinStop, nullptr},
};

// '+': options are taken in the order given and reading stops at the
// first word that is none (an error here); ':' reports a missing value.
constexpr char kShortOptions[] = "+:hVv";

const OptionEntry* OptionOf(int id) {
    for (const OptionEntry& s : kOptionTable) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

// A whole decimal number from low to high, nothing before or after it.
bool Number(std::string_view text, long low, long high, long* out) {
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || v < low || v > high) return false;
    *out = v;
    return true;
}

std::string Refused(const std::string& name, const std::string& value, const std::string& allowed) {
    return "option --" + name + ": \"" + value + "\" is not " + allowed;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
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
        } else if (e == 'x' && i + 3 < in.size() && HexValue(in[i + 2]) >= 0 && HexValue(in[i + 3]) >= 0) {
            *out += static_cast<char>(HexValue(in[i + 2]) * 16 + HexValue(in[i + 3]));
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
    if (colon != std::string::npos && !Number(std::string_view(v).substr(colon + 1), 1, 1000, &at)) return false;
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
    if (!Number(text.substr(0, colon), low, high, first)) return false;
    return colon == std::string::npos || Number(text.substr(colon + 1), low2, high2, second);
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

// Why getopt_long refused the word it was reading (its short option in
// optopt), in words.
std::string Diagnose(const char* word, int optopt) {
    const std::string w = word != nullptr ? word : "";
    if (w.rfind("--", 0) != 0) {
        if (optopt > 0 && optopt < 0x100) {
            return "unknown option -" + std::string(1, static_cast<char>(optopt)) +
                   " (etlan-sim --help lists the options)";
        }
        return "unknown option " + w + " (etlan-sim --help lists the options)";
    }
    const std::size_t eq = w.find('=');
    const std::string name = w.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::vector<const OptionEntry*> matches;
    for (const OptionEntry& s : kOptionTable) {
        if (name == s.name) {
            matches.assign(1, &s);
            break;
        }
        if (!name.empty() && std::string_view(s.name).substr(0, name.size()) == name) matches.push_back(&s);
    }
    if (matches.empty()) return "unknown option --" + name + " (etlan-sim --help lists the options)";
    if (matches.size() > 1) {
        std::string all;
        for (const OptionEntry* s : matches) all += std::string(all.empty() ? "" : ", ") + "--" + s->name;
        return "option --" + name + " is ambiguous: " + all;
    }
    const OptionEntry& s = *matches[0];
    if (s.allowed == nullptr) {
        return "option --" + std::string(s.name) + " takes no value (\"" + w.substr(eq + 1) + "\" given)";
    }
    return "option --" + std::string(s.name) + " needs a value: " + s.allowed;
}

}  // namespace

StationSettings SimOptions::SettingsFor(int station) const {
    StationSettings settings;
    for (const auto& [where, change] : edits) {
        if (where == 0 || where == station) change(settings);
    }
    return settings;
}

const char* SimUsage() { return kUsage; }

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* why) {
    std::vector<option> longOptions;
    for (const OptionEntry& s : kOptionTable) {
        longOptions.push_back({s.name, s.allowed != nullptr ? required_argument : no_argument, nullptr, s.id});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    int scope = 0;  // 0: every station
    std::vector<std::pair<int, std::string>> scopes;  // each --for N with its text
    auto edit = [&](std::function<void(Faults&)> f) {
        o->edits.emplace_back(scope, [f = std::move(f)](StationSettings& s) { f(s.faults); });
    };
    opterr = 0;
    optind = 0;  // a fresh start, also after a line that ended inside a cluster
    for (;;) {
        const int at = optind == 0 ? 1 : optind;  // the word being read
        const int c = getopt_long(argc, argv, kShortOptions, longOptions.data(), nullptr);
        if (c == -1) break;
        if (c == '?' || c == ':') {
            *why = Diagnose(at < argc ? argv[at] : nullptr, optopt);
            return false;
        }
        const OptionEntry* entry = OptionOf(c);
        if (entry == nullptr) {
            *why = "unknown option " + std::string(at < argc ? argv[at] : "");
            return false;
        }
        const std::string name = entry->name;
        const std::string v = optarg != nullptr && entry->allowed != nullptr ? optarg : "";
        long n = 0;
        switch (c) {
            case 'h':
                o->help = true;
                return true;
            case 'V':
                o->version = true;
                return true;
            case 'v':
                o->verbose = true;
                break;
            case kStation: {
                long number = 0;
                long port = 0;
                if (!NumberPair(v, 1, 255, 0, 65535, &number, &port)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                for (const auto& s : o->stations) {
                    if (s.number == number) {
                        *why = "option --station: \"" + v + "\": station " + std::to_string(number) +
                               " is given twice (each station number once)";
                        return false;
                    }
                    if (port != 0 && s.port == port) {
                        *why = "option --station: \"" + v + "\": port " + std::to_string(port) +
                               " is station " + std::to_string(s.number) + "'s already (each port once)";
                        return false;
                    }
                }
                o->stations.push_back({static_cast<int>(number), static_cast<std::uint16_t>(port)});
                break;
            }
            case kModel:
                if (!ParseModel(v, &o->model)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                break;
            case kSet:
                o->sets.push_back({v, "option --set"});
                break;
            case kFile:
                if (!ReadSetFile(v, &o->sets, why)) return false;
                break;
            case kFor:
                if (v == "all") {
                    scope = 0;
                } else if (Number(v, 1, 255, &n)) {
                    scope = static_cast<int>(n);
                    scopes.emplace_back(scope, v);
                } else {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                break;
            case kSplit:
                if (!Number(v, 0, 65535, &n) || (n != 0 && n < 12)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                o->edits.emplace_back(scope, [split = static_cast<int>(n)](StationSettings& s) { s.split = split; });
                break;
            case kStationField: {
                const bool strict = v == "hex-only" || v == "decimal-only";
                const StationField field =
                    v == "decimal" || v == "decimal-only" ? StationField::kDecimal : StationField::kHex;
                if (!strict && v != "hex" && v != "decimal") {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                o->edits.emplace_back(scope, [field, strict](StationSettings& s) {
                    s.field = field;
                    s.strictField = strict;
                });
                break;
            }
            case kDelayMs:
            case kAnswerTwice:
            case kPiecePauseMs:
            case kPieces:
            case kDrop:
            case kWrongStation: {
                const long low = c == kDrop ? -1 : 0;
                const long high = c == kDrop ? 1000000000 : c == kPieces ? 65535 : c == kWrongStation ? 255 : 600000;
                if (!Number(v, low, high, &n)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                const int value = static_cast<int>(n);
                if (c == kDelayMs) edit([value](Faults& f) { f.delayMs = value; });
                if (c == kAnswerTwice) edit([value](Faults& f) { f.duplicateAfterMs = value; });
                if (c == kPiecePauseMs) edit([value](Faults& f) { f.piecePauseMs = value; });
                if (c == kPieces) edit([value](Faults& f) { f.pieceBytes = value; });
                if (c == kDrop) edit([value](Faults& f) { f.dropAnswers = value; });
                if (c == kWrongStation) edit([value](Faults& f) { f.wrongStation = value; });
                break;
            }
            case kNegative: {
                long count = 0;
                long code = 42;
                if (!NumberPair(v, -1, 1000000000, 0, 99, &count, &code)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                edit([count, code](Faults& f) {
                    f.negativeAnswers = static_cast<int>(count);
                    f.negativeCode = static_cast<int>(code);
                });
                break;
            }
            case kStray: {
                std::string bytes;
                std::string bad;
                if (!Unescape(v, &bytes, &bad)) {
                    *why = "option --stray: \"" + v + "\": \"" + bad + "\" is not one of the escapes \\r, \\n, " +
                           "\\xHH (two hex digits) and \\\\";
                    return false;
                }
                edit([bytes](Faults& f) { f.strayBytes = bytes; });
                break;
            }
            case kPartFault: {
                Faults parsed;
                if (!ParsePartFault(v, &parsed)) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                edit([parsed](Faults& f) {
                    f.partFault = parsed.partFault;
                    f.partFaultAt = parsed.partFaultAt;
                });
                break;
            }
            case kCloseAfterRequest:
                edit([](Faults& f) { f.closeAfterRequest = true; });
                break;
            case kRefuse:
                edit([](Faults& f) { f.refuseConnections = true; });
                break;
            case kRefuseNew:
                edit([](Faults& f) { f.refuseNewConnections = true; });
                break;
            case kNeverAccept:
                edit([](Faults& f) { f.neverAccept = true; });
                break;
            case kOversized:
                edit([](Faults& f) { f.oversizedAnswer = true; });
                break;
            case kGarbage:
                edit([](Faults& f) { f.garbage = true; });
                break;
            case kCrlf:
                edit([](Faults& f) { f.crlf = true; });
                break;
            case kTrace:
                o->trace = true;
                break;
            case kRecord:
                if (v.empty()) {
                    *why = Refused(name, v, entry->allowed);
                    return false;
                }
                o->recordPath = v;
                break;
            case kStdinStop:
                o->stdinStop = true;
                break;
            default:
                *why = "unknown option " + std::string(at < argc ? argv[at] : "");
                return false;
        }
    }
    if (optind < argc) {
        *why = "unexpected argument \"" + std::string(argv[optind]) +
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

}  // namespace etl::sim
