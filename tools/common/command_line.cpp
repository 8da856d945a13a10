#include "tools/common/command_line.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace etl::tools {
namespace {

using Options = std::vector<const CLI::Option*>;

bool TakesValue(const CLI::Option& o) { return o.get_items_expected_max() != 0; }

}  // namespace

bool ToNumber(std::string_view text, long low, long high, long* out) {
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, v);
    if (text.empty() || error != std::errc() || stop != end || v < low || v > high) return false;
    *out = v;
    return true;
}

std::string ListText(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += i == 0 ? "" : i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

CLI::Validator Number(long low, long high, const std::string& allowed) {
    std::string what = allowed;
    if (what.empty()) {
        what = "a number from ";
        what += std::to_string(low);
        what += " to ";
        what += std::to_string(high);
    }
    return CLI::Validator(
        [low, high, what](std::string& text) {
            long v = 0;
            if (!ToNumber(text, low, high, &v)) return "\"" + text + "\" is not " + what;
            text = std::to_string(v);  // plain decimal for CLI11, which reads 010 as octal
            return std::string();
        },
        what);
}

CLI::Validator Check(const std::string& what, const std::function<bool(const std::string&)>& ok) {
    return CLI::Validator([what, ok](std::string& text) { return ok(text) ? std::string() : "\"" + text + "\" is not " + what; },
                          what);
}

CLI::Validator NotEmpty(const std::string& what) {
    return Check(what, [](const std::string& text) { return !text.empty(); });
}

bool FullLongOptions(const CLI::App& app, std::vector<std::string>* words, std::string* why, bool stopAtHelp) {
    // --help or --version, alone or ending a cluster of flags.
    const auto ends = [stopAtHelp](const CLI::Option* o) {
        return stopAtHelp && o != nullptr && (o->check_lname("help") || o->check_lname("version"));
    };
    std::vector<std::string> out;
    for (std::size_t i = 0; i < words->size(); ++i) {
        const std::string& word = (*words)[i];
        const bool more = i + 1 < words->size();
        if (word == "--") {
            out.insert(out.end(), words->begin() + static_cast<std::ptrdiff_t>(i), words->end());
            break;
        }
        if (word.rfind("--", 0) != 0) {
            out.push_back(word);
            if (ends(OptionOf(app, word))) break;
            if (TakesNextWord(app, word) && more) out.push_back((*words)[++i]);
            continue;
        }
        const std::size_t eq = std::min(word.find('='), word.size());
        const std::string given = word.substr(0, eq);
        std::vector<std::string> names;  // the long names that begin so
        const CLI::Option* match = app.get_option_no_throw(given);
        for (const CLI::Option* o : match == nullptr && given.size() > 2 ? app.get_options() : Options{}) {
            for (const std::string& name : o->get_lnames()) {
                if (name.rfind(given.substr(2), 0) != 0) continue;
                names.push_back("--" + name);
                match = o;
            }
        }
        if (match == nullptr || names.size() > 1) {
            *why = names.empty() ? "unknown option " + given : "option " + given + " is ambiguous: " + ListText(names);
            return false;
        }
        out.push_back(names.empty() ? given : names[0]);
        if (eq < word.size() && !TakesValue(*match)) {
            *why = "option " + out.back() + " takes no value (\"" + word.substr(eq + 1) + "\" given)";
            return false;
        }
        if (eq < word.size()) {
            out.push_back(word.substr(eq + 1));
        } else if (TakesValue(*match) && more) {
            out.push_back((*words)[++i]);  // the value, whatever it looks like
        } else if (ends(match)) {
            break;
        }
    }
    *words = std::move(out);
    return true;
}

const CLI::Option* OptionOf(const CLI::App& app, const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return nullptr;
    if (word[1] == '-') return app.get_option_no_throw(word.substr(0, word.find('=')));
    const CLI::Option* option = nullptr;
    for (std::size_t i = 1; i < word.size(); ++i) {
        option = app.get_option_no_throw(std::string{'-', word[i]});
        if (option == nullptr || TakesValue(*option)) break;
    }
    return option;
}

bool TakesNextWord(const CLI::App& app, const std::string& word) {
    const CLI::Option* option = OptionOf(app, word);
    if (option == nullptr || !TakesValue(*option)) return false;
    if (word[1] == '-') return word.find('=') == std::string::npos;
    // A cluster: the value is the rest of the word when there is one.
    const std::size_t at = word.find_first_of(option->get_snames()[0], 1);
    return at + 1 == word.size();
}

bool ParseWords(CLI::App* app, std::vector<std::string> words, std::string* why) {
    const std::vector<std::string> line = words;
    std::reverse(words.begin(), words.end());  // CLI11 takes the words last first
    try {
        app->parse(words);
        return true;
    } catch (const CLI::ArgumentMismatch&) {
        // The last word is an option that takes a value.
        const std::vector<CLI::App*> parsed = app->get_subcommands();
        CLI::App* in = parsed.empty() ? app : parsed.back();
        const std::string& last = line.empty() ? std::string() : line.back();
        CLI::Option* option = const_cast<CLI::Option*>(OptionOf(*in, last));
        std::string name = last.substr(0, 2);
        if (last.rfind("--", 0) == 0) name = last;
        if (option != nullptr && last[1] != '-') name.back() = option->get_snames()[0][0];
        *why = "option " + name + " needs a value";
        if (option != nullptr) *why += ": " + option->get_validator()->get_description();
    } catch (const CLI::ValidationError& e) {
        *why = "option ";
        *why += e.what();
    } catch (const CLI::ExcludesError& e) {
        *why = "option ";
        *why += e.what();
    } catch (const CLI::ParseError& e) {
        *why = e.what();
    }
    return false;
}

std::string HelpFormat::make_usage(const CLI::App* app, std::string name) const {
    std::string usage = "Usage: ";
    usage += name;
    usage += " ";
    usage += pages.at(app->get_name()).usage;
    usage += "\n";
    return usage;
}

std::string HelpFormat::make_subcommand(const CLI::App* sub) const {
    std::ostringstream out;
    std::string name = sub->get_name();
    name += " ";
    name += pages.at(sub->get_name()).arguments;
    CLI::detail::format_help(out, name, sub->get_description(), column_width_);
    return out.str();
}

std::string HelpFormat::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const {
    std::string out;
    if (app->get_parent() == nullptr) {
        out += app->get_description();
        out += "\n\n";
    }
    out += make_usage(app, name);
    for (const std::string& group : app->get_groups()) {
        const auto options = app->get_options(
            [&group](const CLI::Option* o) { return o->get_group() == group && o->nonpositional(); });
        if (!group.empty() && !options.empty()) out += make_group(group, false, options);
    }
    out += make_subcommands(app, mode);
    out += "\n";
    out += app->get_footer();
    return out;
}

// "-s, --stations FILE": the names, then what the option takes.
std::string HelpFormat::make_option_name(const CLI::Option* o, bool) const {
    std::string names;
    for (const char c : o->get_name(false, true)) names += c == ',' ? std::string(", ") : std::string(1, c);
    return names;
}

std::string HelpFormat::make_option_opts(const CLI::Option* o) const {
    return o->get_option_text().empty() ? std::string() : " " + o->get_option_text();
}

}  // namespace etl::tools
