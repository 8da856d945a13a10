#include "tools/etlan/driver.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::atomic<bool> g_logLost{false};

// Appends one byte to path (created when missing): 0, or the system's
// error number when that fails.
int AppendError(const std::string& path) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr) return errno != 0 ? errno : EIO;
    int error = 0;
    if (std::fputc('\n', f) == EOF || std::fflush(f) != 0) error = errno != 0 ? errno : EIO;
    if (std::fclose(f) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    return error;
}

// Whether the folder of path takes a byte more, tried with a file of
// etlan's own there: the system's reason for a full filesystem or a size
// limit, else "" (a folder that cannot be written says nothing of that).
std::string FolderFull(const std::string& path) {
    std::error_code ec;
    const fs::path folder = fs::absolute(path, ec).parent_path();
    if (ec) return "";
    if (const auto space = fs::space(folder, ec); !ec && space.available == 0) return std::strerror(ENOSPC);
    char name[64];
    std::snprintf(name, sizeof name, "etlan-probe-%ld-%08x", ProcessId(), static_cast<unsigned>(std::random_device{}()));
    const std::string probe = (folder / name).string();
    KeepTemporary(probe);
    const int error = AppendError(probe);
    fs::remove(probe, ec);
    ForgetTemporary(probe);
#if defined(EDQUOT)
    if (error == EDQUOT) return std::strerror(error);
#endif
    return error == ENOSPC || error == EFBIG ? std::strerror(error) : "";
}

}  // namespace

bool DriverLogLost() { return g_logLost.load(); }

DriverHost::~DriverHost() {
    if (vpi_.Started()) EndVpi();
    if (ownLog_) {
        std::error_code ec;
        fs::remove(logPath_, ec);
        ForgetTemporary(logPath_);
    }
}

bool DriverHost::PrepareLog(const std::string& given, std::string* why) {
    const char* env = std::getenv("QANPRO_LOG");
    const std::string named = !given.empty() ? given : env != nullptr ? env : "";
    std::error_code ec;
    if (named.empty()) {
        // A full temporary folder shows here, before anything starts.
        logPath_ = UniqueTempPath("etlan-log-");
        KeepTemporary(logPath_);
        const int error = AppendError(logPath_);
        std::string failure = error != 0 ? std::strerror(error) : "";
        if (failure.empty()) {
            fs::resize_file(logPath_, 0, ec);
            if (ec) failure = ec.message();
        }
        if (!failure.empty()) {
            *why = "cannot write its log ";
            *why += logPath_;
            *why += " in the temporary folder: ";
            *why += failure;
            *why += " (--log FILE puts the log elsewhere)";
            fs::remove(logPath_, ec);
            ForgetTemporary(logPath_);
            return false;
        }
        ownLog_ = true;
        SetEnvironment("QANPRO_LOG", logPath_);
        return true;
    }
    logPath_ = named;
    std::string logName = !given.empty() ? "option --log: log file \"" : "QANPRO_LOG: log file \"";
    logName += named;
    logName += '"';
    // etlan reads the log back from where its run began: a device, a pipe
    // or a directory has no such place (and /dev/zero no end).
    const auto regular = [&] {
        const auto type = fs::status(named, ec).type();
        return type == fs::file_type::regular || type == fs::file_type::not_found;
    };
    if (!regular()) {
        *why = logName;
        *why += " is not a regular file: etlan reads the driver's lines back from it";
        return false;
    }
    errno = 0;
    std::FILE* f = std::fopen(named.c_str(), "ab");  // created when missing, as the runtime would
    if (f == nullptr) {
        *why = logName;
        *why += " cannot be written: ";
        *why += std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    std::fclose(f);
    if (!fs::is_regular_file(named, ec)) {
        *why = logName;
        *why += " is not a regular file: etlan reads the driver's lines back from it";
        return false;
    }
    logOffset_ = LogSize();
    if (!given.empty()) SetEnvironment("QANPRO_LOG", named);
    return true;
}

void DriverHost::ShareLog(const DriverHost& owner) {
    logPath_ = owner.logPath_;
    ownLog_ = false;
    logOffset_ = LogSize();
}

bool DriverHost::Load(const std::string& path) {
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
    const std::uint64_t before = LogSize();
    const std::int32_t rc = vpi_.Start("etlan");
    // The driver logs every start, and its end when it succeeds. Lines that
    // stop short, or none on a filesystem that takes no byte more, mean the
    // log was not written; none where bytes still fit mean a host runtime
    // that keeps its log elsewhere, which etlan cannot read in any case.
    std::string text;
    const bool read = ReadLogFrom(before, &text);
    const bool whole = text.find("ColdStart() entered") != std::string::npos &&
                       (rc != kOk || text.find("ColdStart() end OK") != std::string::npos);
    if (!whole) {
        std::string full;
        if (ownLog_) {
            const std::uint64_t size = LogSize();
            if (const int error = AppendError(logPath_); error != 0) full = std::strerror(error);
            std::error_code ec;
            fs::resize_file(logPath_, size, ec);  // the byte tried goes again
        } else {
            full = FolderFull(logPath_);
        }
        if (!full.empty() || (read && !text.empty())) {
            logLost_ = true;
            // Said once, however many instances of this process found it.
            if (!g_logLost.exchange(true)) std::fprintf(stderr, "etlan: the driver's lines did not reach its log \"%s\" (%s): etlan cannot tell what the driver did\n",
                         logPath_.c_str(), !full.empty() ? full.c_str() : "the lines of its start stop short");
        }
    }
    return rc;
}

std::uint64_t DriverHost::LogSize() const {
    std::error_code ec;
    if (!fs::is_regular_file(logPath_, ec)) return 0;
    const auto size = fs::file_size(logPath_, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

bool DriverHost::ReadLogFrom(std::uint64_t offset, std::string* text) const {
    text->clear();
    const std::uint64_t size = LogSize();
    if (size <= offset) return size == offset;
    std::ifstream in(logPath_, std::ios::binary);
    if (!in.seekg(static_cast<std::streamoff>(offset))) return false;
    text->resize(static_cast<std::size_t>(size - offset));
    in.read(text->data(), static_cast<std::streamsize>(text->size()));
    text->resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

std::vector<std::string> DriverHost::TakeLog() {
    std::vector<std::string> lines;
    if (LogSize() < logOffset_) logOffset_ = 0;  // the file was replaced
    std::string text;
    if (!ReadLogFrom(logOffset_, &text)) return lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "<date> <time> [<level>] <text>"
        const auto mark = line.find("] ");
        lines.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
    }
    logOffset_ += at;  // a line still being written is taken next time
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
