// Stand-in for the host's runtime library: the log and the client calls
// that the driver imports. Behaviour is set through the environment:
//   QANPRO_LOG          file that receives the log lines (default: stderr)
//   QANPRO_VERSION      version that QanGetQanproVer reports (default 820)
//   QANPRO_CLIENT_FAIL  1 makes QanMkClient fail
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "host/qanpro.h"
#include "qanpro/qanpro_test.h"

namespace {

std::mutex g_logLock;
char g_logPath[1024];  // set by QanproSetLogPath; empty = use QANPRO_LOG
bool g_logPathSet = false;

const char* LogPath() {
    if (g_logPathSet) return g_logPath[0] != '\0' ? g_logPath : nullptr;
    const char* env = std::getenv("QANPRO_LOG");
    return (env != nullptr && env[0] != '\0') ? env : nullptr;
}

void WriteLine(int level, const char* text) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);

    std::lock_guard<std::mutex> hold(g_logLock);
    const char* path = LogPath();
    FILE* out = path != nullptr ? std::fopen(path, "ab") : stderr;
    if (out == nullptr) out = stderr;
    std::fprintf(out, "%s [%d] %s\n", stamp, level, text);
    if (out != stderr) {
        std::fclose(out);
    } else {
        std::fflush(out);
    }
}

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] == '\0') return fallback;
    return std::atoi(v);
}

}  // namespace

extern "C" {

QANPRO_API int QANPRO_CALL err(int level, const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return -1;
    // The line ends here; a newline at the end of the format adds nothing.
    std::size_t len = std::strlen(text);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) text[--len] = '\0';
    WriteLine(level, text);
    return n;
}

QANPRO_API std::uint16_t QANPRO_CALL QanMkClient(const char* name, int, int,
                                                 std::uint8_t* handle) {
    if (EnvInt("QANPRO_CLIENT_FAIL", 0) == 1) return 1;
    if (name == nullptr || handle == nullptr) return 2;
    *handle = 7;
    return 0;
}

QANPRO_API std::uint16_t QANPRO_CALL QanGetQanproVer(std::uint8_t, std::uint16_t* version,
                                                     char* text) {
    if (version != nullptr) *version = static_cast<std::uint16_t>(EnvInt("QANPRO_VERSION", 820));
    if (text != nullptr) std::snprintf(text, 100, "QANPRO stand-in");
    return 0;
}

QANPRO_API std::uint16_t QANPRO_CALL QanRmClient(std::uint8_t) { return 0; }

QANPRO_API void QANPRO_CALL QanproSetLogPath(const char* path) {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (path == nullptr) {
        g_logPathSet = false;
        return;
    }
    std::snprintf(g_logPath, sizeof g_logPath, "%s", path);
    g_logPathSet = true;
}

}  // extern "C"
