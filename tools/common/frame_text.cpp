#include "tools/common/frame_text.h"

#include <algorithm>
#include <cstdio>

#include "host/blocks.h"
#include "mewtocol/plc_errors.h"

namespace etl::tools {
namespace {

constexpr std::size_t kHeader = kEtlanHeaderSize;

// Whether the bytes at the front may start an ET-LAN header, as far as
// they go: 0x10, 0, two length bytes, six zeros.
bool MayBeHeader(std::string_view p) {
    if (p.empty() || static_cast<unsigned char>(p[0]) != 0x10) return false;
    if (p.size() > 1 && p[1] != 0) return false;
    for (std::size_t i = 4; i < 10 && i < p.size(); ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

std::string Raw(std::string_view bytes, const std::string& why) {
    return "raw, " + std::to_string(bytes.size()) + " byte(s), " + why + ": " + HexBytes(bytes) + "  \"" +
           ReadableText(bytes) + "\"";
}

}  // namespace

std::string HexBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char hex[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[i]));
        if (i != 0) out += ' ';
        out += hex;
    }
    return out;
}

std::string ReadableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char hex[8];
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string NegativeAnswerText(std::string_view text) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.size() < 6 || (text[0] != '%' && text[0] != '<') || text[3] != '!' || !digit(text[4]) || !digit(text[5])) {
        return "";
    }
    const int code = (text[4] - '0') * 10 + (text[5] - '0');
    return "PLC error " + std::to_string(code) + ": " + PlcErrorText(code);
}

std::string TraceStamp(const std::tm& time, int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time.tm_hour, time.tm_min, time.tm_sec, ms);
    return text;
}

std::string TraceLine(std::string_view stamp, std::string_view mark, int station, std::string_view text) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", station);
    std::string line(stamp);
    line += "  ";
    line += mark;
    line += " st ";
    line += number;
    line += "  ";
    line += text;
    line += '\n';
    return line;
}

std::vector<std::string> FrameReader::Feed(const char* data, std::size_t size) {
    pending_.append(data, size);
    std::vector<std::string> lines;
    while (TakeOne(&lines)) {
    }
    return lines;
}

std::vector<std::string> FrameReader::Flush() {
    std::vector<std::string> lines;
    while (TakeOne(&lines)) {
    }
    if (!pending_.empty()) lines.push_back(Raw(pending_, "incomplete when the connection ended"));
    pending_.clear();
    return lines;
}

bool FrameReader::TakeOne(std::vector<std::string>* lines) {
    const std::string_view p = pending_;
    if (p.empty()) return false;
    if (!MayBeHeader(p)) {
        // Stray bytes up to where a header may start.
        std::size_t next = 1;
        while (next < p.size() && !MayBeHeader(p.substr(next))) ++next;
        lines->push_back(Raw(p.substr(0, next), "no ET-LAN header"));
        pending_.erase(0, next);
        return true;
    }
    if (p.size() < kHeader) return false;
    const std::size_t length = static_cast<unsigned char>(p[2]) | (static_cast<std::size_t>(static_cast<unsigned char>(p[3])) << 8);
    if (length == 0) {
        lines->push_back(Raw(p.substr(0, kHeader), "a header with text length 0"));
        pending_.erase(0, kHeader);
        return true;
    }
    // A text ends with its carriage return: one that comes before the
    // length the header gives ends the frame all the same.
    const std::size_t have = std::min(p.size(), kHeader + length);
    const std::size_t cr = p.substr(0, have).find('\r', kHeader);
    if (cr == std::string_view::npos) {
        if (p.size() < kHeader + length) return false;
        lines->push_back(Raw(p.substr(0, kHeader + length), "the header's " + std::to_string(length) +
                                                                " text bytes end without a carriage return"));
        pending_.erase(0, kHeader + length);
        return true;
    }
    const std::size_t end = cr + 1;
    const std::string_view text = p.substr(kHeader, end - kHeader);
    if (text.size() != length) {
        lines->push_back(Raw(p.substr(0, end), "the header says " + std::to_string(length) +
                                                   " text bytes, the text ends after " + std::to_string(text.size())));
    } else {
        std::string line = HexBytes(p.substr(0, kHeader)) + "  " + ReadableText(text);
        const std::string negative = NegativeAnswerText(text);
        if (!negative.empty()) line += "   " + negative;
        lines->push_back(std::move(line));
    }
    pending_.erase(0, end);
    return true;
}

}  // namespace etl::tools
