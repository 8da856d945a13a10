// The few things etlan needs from the operating system besides the driver
// library and its sockets: the environment, the console, temporary names,
// the process's CPU time and signals. One file per
// platform (console_posix.cpp, console_win32.cpp), chosen by the build.
#pragma once

#include <functional>
#include <string>
#include <thread>

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

// CPU seconds (user + system) of every thread of this process so far.
double ProcessCpuSeconds();

// A thread beside the command's own (the trace's relay) that takes none of
// the stop signals: Ctrl-C and SIGTERM stay with the command's thread.
std::thread StartQuietThread(std::function<void()> body);

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
