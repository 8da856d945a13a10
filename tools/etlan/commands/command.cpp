#include "tools/etlan/commands/command.h"

#include <cstdio>
#include <filesystem>

#include "tools/loader/library_loader.h"

namespace etl::etlan {

std::string Took(const Options& o, double ms) {
    if (!o.timing) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "  [%.1f ms]", ms);
    return buf;
}

void PrintLog(const std::vector<std::string>& lines) {
    for (const auto& l : lines) std::printf("  log | %s\n", l.c_str());
}

int Usage(const std::string& why) {
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
    const std::string path = LibraryPath(o);
    if (!host->Load(path)) {
        std::fprintf(stderr, "etlan: cannot load the driver library %s: %s\n", path.c_str(),
                     host->Error().c_str());
        return false;
    }
    return true;
}

bool PrepareStations(const Options& o, StationDir* dir) {
    if (!o.stations.empty()) {
        std::string why;
        if (!dir->Prepare(o.stations, o.driver, &why)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return false;
        }
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::exists(StationFileName(o.driver), ec) && !o.quiet) {
        std::fprintf(stderr, "etlan: warning: no %s in the current directory and no -s FILE: the driver defines no station\n",
                     StationFileName(o.driver).c_str());
    }
    return true;
}

}  // namespace etl::etlan
