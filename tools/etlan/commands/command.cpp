#include "tools/etlan/commands/command.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "tools/etlan/console.h"
#include "tools/loader/library_loader.h"

namespace etl::etlan {

bool OutputFailed(int* error) {
    static int saved = -1;
    if (std::ferror(stdout) == 0) return false;
    if (saved < 0) saved = errno;
    if (error != nullptr) *error = saved;
    return true;
}

std::string Took(const Options& o, double ms) {
    if (!o.timing) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "  [%.1f ms]", ms);
    return buf;
}

void PrintLog(const std::vector<std::string>& lines, std::FILE* to) {
    for (const auto& l : lines) std::fprintf(to, "  log | %s\n", l.c_str());
    std::fflush(to);  // where output is not passed on line by line (Windows)
}

int Usage(const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "etlan: %s (etlan --help for usage)\n", why.c_str());
    return kExitUsage;
}

std::string LibraryPath(const Options& o) {
    std::string path = o.library.empty() ? plat::ExecutableDirectory() + plat::DriverFileName() : o.library;
    std::error_code ec;
    const auto abs = std::filesystem::absolute(path, ec);  // the current directory may change
    return ec ? path : abs.string();
}

bool LoadDriver(const Options& o, DriverHost* host) {
    // The host runtime writes its log where QANPRO_LOG points; etlan reads
    // its lines from there (and leaves a file of --log or QANPRO_LOG).
    std::string given;
    if (!o.log.empty()) {
        std::error_code ec;
        const auto abs = std::filesystem::absolute(o.log, ec);  // the current directory may change
        given = ec ? o.log : abs.string();
    }
    std::string why;
    if (!host->PrepareLog(given, &why)) {
        std::fprintf(stderr, "etlan: %s\n", why.c_str());
        return false;
    }
    const std::string path = LibraryPath(o);
    if (!host->Load(path)) {
        std::fprintf(stderr, "etlan: cannot load the driver library %s: %s\n", path.c_str(),
                     host->Error().c_str());
        return false;
    }
    return true;
}

bool PrepareStations(const Options& o, StationDir* dir, const std::set<int>* only) {
    std::error_code ec;
    const bool inPlace = o.stations.empty();
    if (!inPlace || ((only != nullptr || o.trace) && std::filesystem::exists(StationFileName(o.driver), ec))) {
        // The file in the current directory is copied too when only some of
        // its stations are to be started, or when the driver is to reach
        // them through the trace's relay.
        std::string why;
        if (!dir->Prepare(inPlace ? StationFileName(o.driver) : o.stations, o.driver, &why, only, o.trace)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return false;
        }
        return true;
    }
    if (!std::filesystem::exists(StationFileName(o.driver), ec)) {
        // start shows what the driver makes of a missing file; the other
        // commands have no station to reach.
        if (o.command != "start") {
            std::fprintf(stderr, "etlan: no %s in the current directory and no -s FILE: no station to reach\n",
                         StationFileName(o.driver).c_str());
            return false;
        }
        std::fprintf(stderr, "etlan: warning: no %s in the current directory and no -s FILE: the driver defines no station\n",
                     StationFileName(o.driver).c_str());
    }
    return true;
}

}  // namespace etl::etlan
