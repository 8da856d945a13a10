// The few things etlan needs from the operating system besides the driver
// library: the environment, the console and temporary names. One file per
// platform (console_posix.cpp, console_win32.cpp), chosen by the build.
#pragma once

#include <string>

namespace etl::etlan {

// Sets an environment variable of this process (and of the libraries it
// loads afterwards).
void SetEnvironment(const char* name, const std::string& value);

// Makes the console show UTF-8 output (box drawing of the banner).
void PrepareConsole();

// True when standard output is an interactive terminal.
bool OutputIsTerminal();

// Process id, for unique temporary names.
long ProcessId();

}  // namespace etl::etlan
