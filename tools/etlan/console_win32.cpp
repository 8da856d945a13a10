#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

std::atomic<bool> g_watching{false};
std::atomic<bool> g_stop{false};

void RemovePath(const char* path) {
    if (!DeleteFileA(path)) RemoveDirectoryA(path);
}

void WriteError(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// Runs on a thread of its own that the system starts for the event. A
// closed console (logoff, shutdown) ends the process when this returns:
// only Ctrl-C and break wait for the command.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const bool stoppable = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (stoppable && g_watching.load() && !g_stop.exchange(true)) return TRUE;
    WriteStopNote(WriteError);
    // The temporary station directory is the current directory while the
    // driver runs, and Windows does not remove a directory in use as one:
    // leave it first.
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length > 0 && length < sizeof temp) SetCurrentDirectoryA(temp);
    RemoveKeptTemporaries(RemovePath);
    _exit(kExitInterrupted);
}

}  // namespace

void SetEnvironment(const char* name, const std::string& value) {
    // The C runtime's copy (getenv) and the process block (for DLLs with a
    // runtime of their own) are both updated.
    _putenv_s(name, value.c_str());
    SetEnvironmentVariableA(name, value.c_str());
}

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto seconds = [](const FILETIME& t) {  // in 100 ns units
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// The console's events come on a thread of the system's own.
std::thread StartQuietThread(std::function<void()> body) { return std::thread(std::move(body)); }

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void WatchStop(bool on) {
    g_stop.store(false);
    g_watching.store(on);
}

bool StopRequested() { return g_stop.load(); }

}  // namespace etl::etlan
