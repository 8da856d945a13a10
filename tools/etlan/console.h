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

// Makes the console show UTF-8 output (box drawing of the banner), and
// standard output pass on each line as it is written, into a file or a
// pipe too (POSIX; the Windows C runtime has no line buffering, so the
// commands flush what a signal must not lose themselves).
void PrepareConsole();

// True when standard output is an interactive terminal.
bool OutputIsTerminal();
// The width of that terminal in columns; 0 when it cannot be told.
int TerminalColumns();

// Process id, for unique temporary names.
long ProcessId();

// CPU seconds (user + system) of every thread of this process so far.
double ProcessCpuSeconds();

// A thread beside the command's own (the trace's relay) that takes none of
// the stop signals: they stay with the command's thread.
std::thread StartQuietThread(std::function<void()> body);

// Ctrl-C, SIGTERM and SIGHUP (a terminal or SSH session that went away);
// on Windows the console's Ctrl-C and break events. While a command
// watches for them (WatchStop), the first only asks it to stop
// (StopRequested); otherwise, and on the second, etlan writes the stop
// note (SetStopNote) on standard error, removes its temporary files and
// exits with status 130 at once. A console that is closed (or a logoff or
// shutdown) ends etlan that way at once: the system would end it anyway. A
// write to a closed pipe fails with an error instead of ending the process.
void InstallStopHandlers();
void WatchStop(bool on);
bool StopRequested();
constexpr int kExitInterrupted = 130;

// What a command has done so far, for a signal that ends etlan at once:
// a whole line, "etlan: " first and a newline last (cut at 511 bytes);
// empty for none. WriteStopNote hands it to write (safe in a signal
// handler; temporaries.cpp).
void SetStopNote(const std::string& text);
void WriteStopNote(void (*write)(const char* text));

// Temporary files and directories removed when a signal ends etlan, in the
// order they were kept (a directory's files before the directory).
void KeepTemporary(const std::string& path);
void ForgetTemporary(const std::string& path);
// Calls remove for each path kept (safe in a signal handler; temporaries.cpp).
void RemoveKeptTemporaries(void (*remove)(const char* path));

}  // namespace etl::etlan
