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
#include "tools/etlan/command_table.h"

namespace etl::etlan {
namespace {

std::string CommandList() {
    std::string list;
    for (const auto& c : CommandRules()) {
        list += list.empty() ? "" : ", ";
        list += c.name;
    }
    return list;
}

const CommandRule* RuleOf(const std::string& command) {
    for (const auto& c : CommandRules()) {
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
        for (const CommandRule& c : CommandRules()) {
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
