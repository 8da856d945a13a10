#include "tools/etlan/station_file.h"

#include <cstdio>
#include <vector>

namespace etl::etlan {
namespace {

// The longest line the driver reads in one piece, its LF not counted.
constexpr std::size_t kLongestLine = 254;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// One station line with timeout=MS after its port, or the line unchanged.
std::string LineWithTimeout(const std::string& line, const std::string& word) {
    if (line.empty() || line[0] == ' ' || line[0] == ';' || line[0] == '\0') return line;
    std::size_t quote = std::string::npos;
    for (int i = 0; i < 4; ++i) {
        quote = line.find('"', quote == std::string::npos ? 0 : quote + 1);
        if (quote == std::string::npos) return line;
    }
    std::string rest = line.substr(quote + 1);
    const bool cr = !rest.empty() && rest.back() == '\r';  // a CR before the LF stays where it was
    if (cr) rest.pop_back();
    std::string out = line.substr(0, quote + 1);
    out += ' ';
    out += word;
    for (std::size_t at = 0; at < rest.size();) {
        if (IsBlank(rest[at])) {
            ++at;
            continue;
        }
        if (rest[at] == ';') {  // the comment, to the end of the line
            out += ' ';
            out += rest.substr(at);
            break;
        }
        std::size_t stop = at;
        while (stop < rest.size() && !IsBlank(rest[stop])) ++stop;
        const std::string option = rest.substr(at, stop - at);
        if (option.rfind("timeout=", 0) != 0) {
            out += ' ';
            out += option;
        }
        at = stop;
    }
    if (out.size() + (cr ? 1 : 0) > kLongestLine) return line;
    if (cr) out += '\r';
    return out;
}

}  // namespace

std::string HostStationFile(const std::string& hostPort, const std::set<int>& stations) {
    const auto colon = hostPort.rfind(':');
    const std::string host = hostPort.substr(0, colon);
    const std::string port = colon == std::string::npos ? std::string() : hostPort.substr(colon + 1);
    std::string file = "PC-stn: ";
    file += std::to_string(kHostFilePcNumber);
    file += '\n';
    for (int station : stations) {
        std::vector<char> line(host.size() + port.size() + 32);
        std::snprintf(line.data(), line.size(), "%02d \"%s\" \"%s\"\n", station, host.c_str(), port.c_str());
        file += line.data();
    }
    return file;
}

std::string WithTimeout(const std::string& content, int timeoutMs) {
    const std::string word = "timeout=" + std::to_string(timeoutMs);
    std::string out;
    std::size_t at = 0;
    bool header = true;
    while (at < content.size()) {
        const auto newline = content.find('\n', at);
        const std::size_t stop = newline == std::string::npos ? content.size() : newline;
        const std::string line = content.substr(at, stop - at);
        out += header ? line : LineWithTimeout(line, word);
        if (newline != std::string::npos) out += '\n';
        header = false;
        at = stop + 1;
    }
    return out;
}

}  // namespace etl::etlan
