// One line of the station file, taken apart as the driver reads it:
//
//     05 "127.0.0.5" "9094"        station 5, host text, port or service
//
// the station number in the first two characters, the host between the
// first two double quotes, the port between the next two. Header-only and
// pure, for the driver and for the tools that read a station file as the
// driver does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/digits.h"

namespace etl {

// The PC's own station number starts at the header line's ninth character.
constexpr std::size_t kHeaderNumberOffset = 8;
// The longest host text; the driver skips a line with a longer one.
constexpr std::size_t kHostTextMax = 15;

// An empty line, or one that starts with a blank or ';', defines nothing.
constexpr bool IsStationComment(const char* line) {
    return line[0] == ' ' || line[0] == ';' || line[0] == '\0';
}

// The station number: the first two characters by the digit rule, so that
// "0A" is station 10.
constexpr int StationNumberOf(const char* line) {
    return 10 * DigitValue(line[0]) + DigitValue(line[1]);
}

// The text between the next two double quotes at or after from: *begin is
// its first character, *end the closing quote. False when fewer than two
// quotes follow.
inline bool QuotedText(const char* from, const char** begin, const char** end) {
    const char* open = std::strchr(from, '"');
    const char* close = open != nullptr ? std::strchr(open + 1, '"') : nullptr;
    if (close == nullptr) return false;
    *begin = open + 1;
    *end = close;
    return true;
}

// Whether a host text with a full stop has a part that the platform's
// address conversion reads in octal or hexadecimal: one of more than one
// character that starts with 0, as in "192.168.001.010" (which is read as
// 192.168.1.8, another device) or "0x7f.0.0.1". The parts end at the first
// white space, after which the conversion reads nothing. Short forms
// ("127.1") and texts without a full stop (host names) have none.
inline bool HasOctalOrHexPart(const char* host) {
    if (std::strchr(host, '.') == nullptr) return false;
    const char* part = host;
    for (const char* p = host;; ++p) {
        if (*p == '.' || *p == '\0' || IsSpace(*p)) {
            if (p - part > 1 && part[0] == '0') return true;
            if (*p != '.') return false;
            part = p + 1;
        }
    }
}

// A port text that is a port number: decimal digits for 1 to 65535, blanks
// or tabs before and after them allowed. False for anything else, among it
// "", "0", "70000", "-1", "+502" and "9O94"; such a text can only be the
// name of a service.
constexpr bool ReadPortNumber(const char* text, std::uint16_t* port) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text < '0' || *text > '9') return false;
    std::uint32_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + static_cast<std::uint32_t>(*text - '0');
        if (v > 65535) return false;
    }
    while (*text == ' ' || *text == '\t') ++text;
    if (*text != '\0' || v == 0) return false;
    *port = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace etl
