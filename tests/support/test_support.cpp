#include "tests/support/test_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "qanpro/qanpro_test.h"

namespace fs = std::filesystem;

namespace etl::test {
namespace {

std::string UniqueName(const char* stem) {
    static std::mt19937_64 rng{std::random_device{}()};
    std::ostringstream name;
    name << stem << std::hex << rng();
    return name.str();
}

}  // namespace

LogCapture::LogCapture() : path_((fs::temp_directory_path() / UniqueName("etl-log-")).string()) {
    QanproSetLogPath(path_.c_str());
}

LogCapture::~LogCapture() {
    QanproSetLogPath(nullptr);
    std::error_code ec;
    fs::remove(path_, ec);
}

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "<date> <time> [<level>] <text>"
        const auto mark = line.find("] ");
        lines.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
    }
    return lines;
}

bool LogCapture::Has(const std::string& text) const {
    for (const auto& l : Lines()) {
        if (l == text) return true;
    }
    return false;
}

void LogCapture::Clear() {
    std::ofstream(path_, std::ios::binary | std::ios::trunc);
}

TempDir::TempDir() : previous_(fs::current_path().string()) {
    fs::path p = fs::temp_directory_path() / UniqueName("etl-dir-");
    fs::create_directories(p);
    path_ = p.string();
    fs::current_path(p);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    const fs::path p = fs::path(path_) / name;
    std::ofstream out(p, std::ios::binary);
    out << content;
    return p.string();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace etl::test
