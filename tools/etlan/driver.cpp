#include "tools/etlan/driver.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "tools/etlan/console.h"
#include "tools/etlan/station_lint.h"
#include "tools/etlan/trace/relay.h"

namespace fs = std::filesystem;

namespace etl::etlan {
namespace {

std::string UniqueTempPath(const char* stem) {
    std::random_device seed;
    char name[96];
    std::snprintf(name, sizeof name, "%s%ld-%08x", stem, ProcessId(), static_cast<unsigned>(seed()));
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    if (ec) dir = ".";
    return (dir / name).string();
}

}  // namespace

DriverHost::~DriverHost() {
    if (vpi_.Started()) EndVpi();
    if (ownLog_) {
        std::error_code ec;
        fs::remove(logPath_, ec);
        ForgetTemporary(logPath_);
    }
}

bool DriverHost::Load(const std::string& path) {
    const char* env = std::getenv("QANPRO_LOG");
    if (env != nullptr && env[0] != '\0') {
        logPath_ = env;
        std::error_code ec;
        const auto size = fs::file_size(logPath_, ec);
        logOffset_ = ec ? 0 : static_cast<std::uint64_t>(size);
    } else {
        logPath_ = UniqueTempPath("etlan-log-");
        ownLog_ = true;
        KeepTemporary(logPath_);
        std::ofstream(logPath_, std::ios::binary | std::ios::trunc);
        SetEnvironment("QANPRO_LOG", logPath_);
    }
    if (!library_.Load(path)) {
        error_ = library_.Error();
        return false;
    }
    vpi_.SetEntry(library_.Entry());
    return true;
}

std::int32_t DriverHost::ColdStart(int driverNumber) {
    if (!vpi_.HasContext()) {
        DriverInfoBlock info{};
        if (GetInfo(&info) != kOk || !vpi_.HasContext()) return kFailed;
    }
    vpi_.SetDriverNumber(driverNumber);
    return vpi_.Start("etlan");
}

std::vector<std::string> DriverHost::TakeLog() {
    std::vector<std::string> lines;
    std::ifstream in(logPath_, std::ios::binary);
    if (!in) return lines;
    in.seekg(0, std::ios::end);
    const auto end = static_cast<std::uint64_t>(in.tellg());
    if (end < logOffset_) logOffset_ = 0;  // the file was replaced
    in.seekg(static_cast<std::streamoff>(logOffset_));
    std::string line;
    std::uint64_t consumed = logOffset_;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // a line still being written: take it next time
        consumed += line.size() + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "<date> <time> [<level>] <text>"
        const auto mark = line.find("] ");
        lines.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
    }
    logOffset_ = consumed;
    return lines;
}

void DriverHost::Abandon() {
    vpi_.Abandon();
    if (ownLog_) {
        std::error_code ec;
        fs::remove(logPath_, ec);
        ForgetTemporary(logPath_);
        ownLog_ = false;
    }
}

StationDir::StationDir() = default;
StationDir::~StationDir() { Release(); }

void StationDir::Release() {
    relay_.reset();  // the driver has ended: its connections are closed
    if (dir_.empty()) return;
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::remove_all(dir_, ec);
    ForgetTemporary(file_);
    ForgetTemporary(dir_);
    dir_.clear();
}

bool StationDir::Prepare(const std::string& stationFile, int driverNumber, std::string* why,
                         const std::set<int>* only, bool trace) {
    std::error_code ec;
    if (!ReadableFile(stationFile, "station file", why)) return false;
    const fs::path source = fs::absolute(stationFile, ec);
    source_ = source.string();
    std::string content;
    if (!ReadWholeFile(source_, &content)) {
        *why = "cannot read " + stationFile;
        return false;
    }
    previous_ = fs::current_path(ec).string();
    dir_ = UniqueTempPath("etlan-run-");
    file_ = (fs::path(dir_) / StationFileName(driverNumber)).string();
    KeepTemporary(file_);
    KeepTemporary(dir_);
    if (!fs::create_directories(dir_, ec)) {
        *why = "cannot create " + dir_ + ": " + ec.message();
        ForgetTemporary(file_);
        ForgetTemporary(dir_);
        dir_.clear();
        return false;
    }
    if (only != nullptr) content = OnlyStations(content, *only);
    if (trace) {
        relay_ = std::make_unique<TraceRelay>(stderr);
        content = relay_->Redirect(content);
    }
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) {
        *why = "cannot write " + file_;
        return false;
    }
    fs::current_path(dir_, ec);
    if (ec) {
        *why = "cannot change to " + dir_ + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace etl::etlan
