#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

constexpr int kSlots = 8;
char g_paths[kSlots][1024];
std::atomic<bool> g_used[kSlots];
std::atomic<bool> g_watching{false};
std::atomic<bool> g_stop{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_watching.load() && !g_stop.exchange(true)) return TRUE;
    for (int i = 0; i < kSlots; ++i) {
        if (!g_used[i].load()) continue;
        if (!DeleteFileA(g_paths[i])) RemoveDirectoryA(g_paths[i]);
    }
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

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void WatchStop(bool on) {
    g_stop.store(false);
    g_watching.store(on);
}

bool StopRequested() { return g_stop.load(); }

void KeepTemporary(const std::string& path) {
    if (path.size() >= sizeof g_paths[0]) return;
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i].load()) continue;
        std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
        g_used[i].store(true);
        return;
    }
}

void ForgetTemporary(const std::string& path) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i].load() && path == g_paths[i]) g_used[i].store(false);
    }
}

}  // namespace etl::etlan
