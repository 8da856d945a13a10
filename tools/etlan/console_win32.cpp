#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include "tools/etlan/console.h"

namespace etl::etlan {

void SetEnvironment(const char* name, const std::string& value) {
    // The C runtime's copy (getenv) and the process block (for DLLs with a
    // runtime of their own) are both updated.
    _putenv_s(name, value.c_str());
    SetEnvironmentVariableA(name, value.c_str());
}

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace etl::etlan
