// Shared pieces of the fuzz targets, compiled into each of them: the host
// log (every line is formatted, as the host would, and then dropped) and a
// private working directory.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <unistd.h>

#include "host/qanpro.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int err(int, const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n;
}

namespace etl::fuzz {
namespace {

std::string g_dir;

// Removes the files of the private directory and the directory itself.
void RemovePrivateDir() {
    if (DIR* d = opendir(g_dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") unlink((g_dir + "/" + name).c_str());
        }
        closedir(d);
    }
    rmdir(g_dir.c_str());
}

}  // namespace

void EnterPrivateDir() {
    static bool entered = false;
    if (entered) return;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                          "/etl-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        Fail("no private temporary directory");
    }
    g_dir = pattern;
    std::atexit(RemovePrivateDir);
    entered = true;
}

}  // namespace etl::fuzz
