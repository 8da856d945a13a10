#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

// Temporary paths, readable from a signal handler: fixed slots, each in use
// while its flag is set.
constexpr int kSlots = 8;
char g_paths[kSlots][1024];
std::atomic<bool> g_used[kSlots];

volatile std::sig_atomic_t g_watching = 0;
volatile std::sig_atomic_t g_stop = 0;

void RemoveTemporaries() {
    for (int i = 0; i < kSlots; ++i) {
        if (!g_used[i].load()) continue;
        if (unlink(g_paths[i]) != 0) rmdir(g_paths[i]);
    }
}

extern "C" void OnStopSignal(int) {
    if (g_watching != 0 && g_stop == 0) {
        g_stop = 1;
        return;
    }
    RemoveTemporaries();
    _exit(kExitInterrupted);
}

}  // namespace

void SetEnvironment(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

void PrepareConsole() {}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

long ProcessId() { return static_cast<long>(getpid()); }

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void WatchStop(bool on) {
    g_stop = 0;
    g_watching = on ? 1 : 0;
}

bool StopRequested() { return g_stop != 0; }

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
