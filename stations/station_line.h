// One line of the station file, taken apart as the driver reads it:
//
//     05 "127.0.0.5" "9094"        station 5, host text, port or service
//
// the station number in the first two characters, the host between the
// first two double quotes, the port between the next two. Header-only and
// pure, for the driver and for the tools that read a station file as the
// driver does.
#pragma once

#include <cstring>

#include "host/digits.h"

namespace etl {

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

}  // namespace etl
