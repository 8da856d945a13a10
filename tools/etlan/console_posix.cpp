#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

volatile std::sig_atomic_t g_watching = 0;
volatile std::sig_atomic_t g_stop = 0;

void RemovePath(const char* path) {
    if (unlink(path) != 0) rmdir(path);
}

void WriteError(const char* text) {
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    (void)written;  // nothing more to do about a standard error that is gone
}

extern "C" void OnStopSignal(int) {
    if (g_watching != 0 && g_stop == 0) {
        g_stop = 1;
        return;
    }
    WriteStopNote(WriteError);
    RemoveKeptTemporaries(RemovePath);
    _exit(kExitInterrupted);
}

}  // namespace

void SetEnvironment(const char* name, const std::string& value) {
    setenv(name, value.c_str(), 1);
}

void PrepareConsole() { std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

long ProcessId() { return static_cast<long>(getpid()); }

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void WatchStop(bool on) {
    g_stop = 0;
    g_watching = on ? 1 : 0;
}

bool StopRequested() { return g_stop != 0; }

}  // namespace etl::etlan
