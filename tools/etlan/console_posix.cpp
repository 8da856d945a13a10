#include <cstdlib>

#include <unistd.h>

#include "tools/etlan/console.h"

namespace etl::etlan {

void SetEnvironment(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

void PrepareConsole() {}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

long ProcessId() { return static_cast<long>(getpid()); }

}  // namespace etl::etlan
