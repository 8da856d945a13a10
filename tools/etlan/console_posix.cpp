#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <sys/ioctl.h>
#include <time.h>
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

int TerminalColumns() {
    struct winsize size {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

long ProcessId() { return static_cast<long>(getpid()); }

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::thread StartQuietThread(std::function<void()> body) {
    // The new thread inherits the mask in force while it is created.
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    std::thread t(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return t;
}

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
