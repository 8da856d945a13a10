// What a signal handler needs of etlan: the temporary files and
// directories it must remove, in fixed slots each in use while its flag is
// set, and the stop note, in two buffers of which the one not shown is
// filled before it is shown.
#include <atomic>
#include <cstring>

#include "tools/etlan/console.h"

namespace etl::etlan {
namespace {

constexpr int kSlots = 8;
char g_paths[kSlots][1024];
std::atomic<bool> g_used[kSlots];

constexpr std::size_t kNoteSize = 512;
char g_notes[2][kNoteSize];
std::atomic<int> g_note{-1};  // the buffer shown; -1: no note

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

void SetStopNote(const std::string& text) {
    if (text.empty()) {
        g_note.store(-1);
        return;
    }
    const int next = g_note.load() == 0 ? 1 : 0;
    const std::size_t n = text.size() < kNoteSize ? text.size() : kNoteSize - 1;
    std::memcpy(g_notes[next], text.data(), n);
    g_notes[next][n] = '\0';
    g_note.store(next);
}

void WriteStopNote(void (*write)(const char* text)) {
    const int shown = g_note.load();
    if (shown >= 0) write(g_notes[shown]);
}

}  // namespace etl::etlan
