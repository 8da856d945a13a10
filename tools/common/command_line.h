// What the command lines of etlan and etlan-sim share on top of CLI11:
// long options abbreviated as getopt_long took them, values after '=',
// numbers in plain decimal, refusals that name the option, the value and
// what the option takes, and help pages with the tools' usage lines.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace etl::tools {

// A whole decimal number from low to high: no sign but '-', no blank, no
// other character.
bool ToNumber(std::string_view text, long low, long high, long* out);

// "a, b and c".
std::string ListText(const std::vector<std::string>& items);

// Validators whose description, what they allow, names it in messages
// ("option --count needs a value: a number from 1 to 1000"). A number from
// low to high, made plain decimal.
CLI::Validator Number(long low, long high, const std::string& allowed = "");
// A text for which ok holds ("\"TEXT\" is not WHAT" otherwise); a text
// that is not empty.
CLI::Validator Check(const std::string& what, const std::function<bool(const std::string&)>& ok);
CLI::Validator NotEmpty(const std::string& what);

// Every long option word up to "--" in its full form: a prefix that one
// long name of app begins with expanded ("--dri" is "--driver"), and "--name=value" split into two words. False with a
// message for a name that no or several long names begin with, and for a
// value given to an option that takes none. With stopAtHelp the words
// after --help or --version (or a cluster ending in -h or -V) are left
// out: those end the reading where they stand.
bool FullLongOptions(const CLI::App& app, std::vector<std::string>* words, std::string* why,
                     bool stopAtHelp = false);

// The option a short option word ("-q", or the cluster "-qc2") or a long
// one names, in app; for a cluster the first letter that takes a value, or
// the last. nullptr when app has none.
const CLI::Option* OptionOf(const CLI::App& app, const std::string& word);

// Whether an option word takes the next word as its value ("-s", "-qs",
// "--driver"; not "-s FILE" written "-sFILE").
bool TakesNextWord(const CLI::App& app, const std::string& word);

// Parses words (without the program's name) with app. False with a
// message: a value refused by a validator ("option --count: "5x" is not
// a number from 1 to 1000"), a value missing at the end of the line
// ("option -c needs a value: a number from 1 to 1000"), options that
// exclude each other. Words CLI11 cannot place are left in remaining().
bool ParseWords(CLI::App* app, std::vector<std::string> words, std::string* why);

// Help pages: the program's description, "Usage: NAME SYNOPSIS" with each
// app's synopsis, the options by group, the commands with their arguments,
// the footer.
class HelpFormat : public CLI::Formatter {
public:
    struct Page {
        std::string arguments;  // "TAG VALUE..." for the list of commands
        std::string usage;      // "TAG VALUE... [options]"
    };
    std::map<std::string, Page> pages;  // by the app's name

    std::string make_usage(const CLI::App* app, std::string name) const override;
    std::string make_subcommand(const CLI::App* sub) const override;
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
    std::string make_option_name(const CLI::Option* o, bool positional) const override;
    std::string make_option_opts(const CLI::Option* o) const override;
};

}  // namespace etl::tools
