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
// The width of that terminal in columns; 0 when it cannot be told.
int TerminalColumns();

// Process id, for unique temporary names.
long ProcessId();

// Ctrl-C and SIGTERM (the console's close and break events on Windows).
// While a command watches for them (WatchStop), the first only asks it to
// stop (StopRequested); otherwise, and on the second, etlan removes its
// temporary files and exits with status 130 at once. A write to a closed
// pipe fails with an error instead of ending the process.
void InstallStopHandlers();
void WatchStop(bool on);
bool StopRequested();
constexpr int kExitInterrupted = 130;

// Temporary files and directories removed when a signal ends etlan, in the
// order they were kept (a directory's files before the directory).
void KeepTemporary(const std::string& path);
void ForgetTemporary(const std::string& path);
// Calls remove for each path kept (safe in a signal handler; temporaries.cpp).
void RemoveKeptTemporaries(void (*remove)(const char* path));

}  // namespace etl::etlan
