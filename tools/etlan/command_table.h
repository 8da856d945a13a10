// etlan's commands: the arguments each takes, its line in the overview and
// the text that ends its --help, after the options it takes; and the text
// that ends the overview.
#pragma once

#include <span>

namespace etl::etlan {

struct CommandRule {
    const char* name;
    int minArgs, maxArgs;  // maxArgs -1: no limit
    const char* arguments;
    const char* summary;
    const char* page;
};

// In the order the overview lists them.
std::span<const CommandRule> CommandRules();

extern const char kOverview[];

}  // namespace etl::etlan
