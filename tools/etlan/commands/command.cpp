#include "tools/etlan/commands/command.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "tools/etlan/console.h"
#include "tools/etlan/station_file.h"
#include "tools/etlan/station_lint.h"
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

namespace {

// The station file etlan writes for the driver: in the temporary folder
// while etlan runs, removed when it ends (by the stop handlers too).
class WrittenStationFile {
public:
    WrittenStationFile() = default;
    WrittenStationFile(const WrittenStationFile&) = delete;
    WrittenStationFile& operator=(const WrittenStationFile&) = delete;
    ~WrittenStationFile() { Remove(); }

    bool Write(const std::string& content, std::string* why) {
        Remove();
        std::error_code ec;
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec) dir = ".";
        char name[96];
        std::snprintf(name, sizeof name, "etlan-stations-%ld-%08x.int", ProcessId(),
                      static_cast<unsigned>(std::random_device()()));
        path_ = (dir / name).string();
        KeepTemporary(path_);
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) {
            *why = "cannot write the station file " + path_;
            Remove();
            return false;
        }
        return true;
    }
    const std::string& Path() const { return path_; }

private:
    void Remove() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove(path_, ec);
        ForgetTemporary(path_);
        path_.clear();
    }
    std::string path_;
};

WrittenStationFile& Written() {
    static WrittenStationFile file;
    return file;
}

}  // namespace

bool StationFileText(const Options& o, const std::set<int>* only, std::string* name, std::string* content,
                     std::string* why) {
    if (!o.host.empty()) {
        *name = "--host " + o.host;
        *content = HostStationFile(o.host, only != nullptr ? *only : std::set<int>{1});
        // The address is read as the driver reads it: one it cannot use is
        // refused before anything starts.
        for (const StationProblem& p : LintStations(*content).problems) {
            if (p.error) {
                *why = *name + ": " + p.text;
                return false;
            }
        }
    } else {
        *name = o.stations.empty() ? StationFileName(o.driver) : o.stations;
        if (o.stations.empty() && !std::filesystem::exists(*name)) {
            *why = "no " + *name + " in the current directory and no -s FILE: no station to reach";
            return false;
        }
        if (!ReadableFile(*name, "station file", why)) return false;
        if (!ReadWholeFile(*name, content)) {
            *why = "cannot read the station file " + *name;
            return false;
        }
    }
    if (o.timeoutMs != 0) *content = WithTimeout(*content, o.timeoutMs);
    return true;
}

bool PrepareStations(const Options& o, StationDir* dir, const std::set<int>* only) {
    std::error_code ec;
    if (!o.host.empty() || o.timeoutMs != 0) {
        std::string name, content, why;
        if (!StationFileText(o, only, &name, &content, &why) || !Written().Write(content, &why) ||
            !dir->Prepare(Written().Path(), o.driver, &why, only, o.trace)) {
            std::fprintf(stderr, "etlan: %s\n", why.c_str());
            return false;
        }
        return true;
    }
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
