// The temporary files and directories that a signal must remove: fixed
// slots that a signal handler can read, each in use while its flag is set.
#include <atomic>
#include <cstring>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

constexpr int kSlots = 8;
char g_paths[kSlots][1024];
std::atomic<bool> g_used[kSlots];

}  // namespace

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

void RemoveKeptTemporaries(void (*remove)(const char* path)) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_used[i].load()) remove(g_paths[i]);
    }
}

}  // namespace etl::etlan
