#include <csignal>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

volatile std::sig_atomic_t g_watching = 0;
volatile std::sig_atomic_t g_stop = 0;

void RemovePath(const char* path) {
    if (unlink(path) != 0) rmdir(path);
}

extern "C" void OnStopSignal(int) {
    if (g_watching != 0 && g_stop == 0) {
        g_stop = 1;
        return;
    }
    RemoveKeptTemporaries(RemovePath);
    _exit(kExitInterrupted);
}

}  // namespace

void SetEnvironment(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

void PrepareConsole() {}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

int TerminalColumns() {
    struct winsize size {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

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

}  // namespace etl::etlan
