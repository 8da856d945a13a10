// A station's options: the text after the port of its station line,
//
//     05 "127.0.0.5" "9094" station-field=decimal timeout=500 rest=10
//
// as words of the form name=value separated by blanks or tabs (the line end
// counts as a blank); a word that starts with ';' begins a comment that runs
// to the end of the line. A file without them reads as it always has.
// Header-only, pure and without allocation, for the driver and for the
// tools that read a station file as the driver does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "host/blocks.h"

namespace etl {

// One attempt's answer time-out (timeout=MS).
constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::uint32_t kMinTimeoutMs = 50;
constexpr std::uint32_t kMaxTimeoutMs = 10000;

// The rest of a station that stopped answering (rest=S, 0: never rest): the
// first period, doubled after every probe that finds it still silent, up to
// the ceiling (or the first period, when that is longer).
constexpr std::uint32_t kDefaultRestSeconds = 5;
constexpr std::uint32_t kMaxRestSeconds = 3600;
constexpr std::uint32_t kRestCeilingSeconds = 60;

inline std::uint32_t StationTimeoutMs(const DriverContext* ctx, int station) {
    const std::uint32_t t = LoadU16(ctx->options[station].timeoutMs);
    return t == 0 ? kDefaultTimeoutMs : t;
}

// The first rest period in seconds; 0 when the station never rests.
inline std::uint32_t StationFirstRestSeconds(const DriverContext* ctx, int station) {
    const StationOptions& o = ctx->options[station];
    return (o.flags & kOptionRestSet) != 0 ? LoadU16(o.restSeconds) : kDefaultRestSeconds;
}

inline bool StationFieldDecimal(const DriverContext* ctx, int station) {
    return (ctx->options[station].flags & kOptionDecimal) != 0;
}

// Reads served from values at most this old (scan=MS); 0: every read is an
// exchange of its own.
constexpr std::uint32_t kMaxScanMs = 60000;
inline std::uint32_t StationScanMs(const DriverContext* ctx, int station) {
    return LoadU16(ctx->options[station].scanMs);
}

// What the options take, as the messages about a refused one list it.
constexpr const char* kStationOptionsAllowed =
    "station-field=hex|decimal, timeout=50-10000, rest=0-3600, scan=0-60000";

// Why a word of the options was refused.
enum class OptionFault : std::uint8_t {
    kNone,
    kUnknown,     // no name=value, or a name that is no option
    kMalformed,   // a value of the wrong form
    kOutOfRange,  // a number outside the option's bounds
    kRepeated,    // the same option a second time
};

// Which options a line gave, even those that equal the defaults.
constexpr unsigned kGivenStationField = 0x01;
constexpr unsigned kGivenTimeout = 0x02;
constexpr unsigned kGivenRest = 0x04;
constexpr unsigned kGivenScan = 0x08;

struct OptionsReading {
    unsigned given = 0;  // kGiven... bits
    OptionFault fault = OptionFault::kNone;
    const char* badBegin = nullptr;  // the refused word, when fault is set
    const char* badEnd = nullptr;
};

namespace station_options_detail {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether [begin, end) is text.
constexpr bool Equals(const char* begin, const char* end, const char* text) {
    for (; begin != end; ++begin, ++text) {
        if (*text == '\0' || *text != *begin) return false;
    }
    return *text == '\0';
}

// A decimal value of digits only; a long one stays above every bound.
constexpr bool ReadValue(const char* begin, const char* end, std::uint32_t* value) {
    if (begin == end) return false;
    std::uint32_t v = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<std::uint32_t>(*p - '0');
        if (v > 1000000) v = 1000000;
    }
    *value = v;
    return true;
}

}  // namespace station_options_detail

// Reads the options of a station line from text (what follows the port's
// closing quote, NUL-terminated). True when every word was understood: *out
// holds them, zero for the defaults. Otherwise *out is all zero (the
// station keeps every default) and reading names the first word refused.
inline bool ParseStationOptions(const char* text, StationOptions* out,
                                OptionsReading* reading) {
    namespace d = station_options_detail;
    *out = StationOptions{};
    *reading = OptionsReading{};
    StationOptions o{};
    const char* p = text;
    for (;;) {
        while (d::IsBlank(*p)) ++p;
        if (*p == '\0' || *p == ';') break;
        const char* begin = p;
        const char* equals = nullptr;
        while (*p != '\0' && !d::IsBlank(*p)) {
            if (*p == '=' && equals == nullptr) equals = p;
            ++p;
        }
        const char* end = p;
        OptionFault fault = OptionFault::kNone;
        unsigned option = 0;
        if (equals == nullptr) {
            fault = OptionFault::kUnknown;
        } else if (d::Equals(begin, equals, "station-field")) {
            option = kGivenStationField;
        } else if (d::Equals(begin, equals, "timeout")) {
            option = kGivenTimeout;
        } else if (d::Equals(begin, equals, "rest")) {
            option = kGivenRest;
        } else if (d::Equals(begin, equals, "scan")) {
            option = kGivenScan;
        } else {
            fault = OptionFault::kUnknown;
        }
        std::uint32_t v = 0;
        if (option != 0 && (reading->given & option) != 0) {
            fault = OptionFault::kRepeated;
        } else if (option == kGivenStationField) {
            if (d::Equals(equals + 1, end, "decimal")) {
                o.flags = static_cast<std::uint8_t>(o.flags | kOptionDecimal);
            } else if (!d::Equals(equals + 1, end, "hex")) {
                fault = OptionFault::kMalformed;
            }
        } else if (option == kGivenTimeout) {
            if (!d::ReadValue(equals + 1, end, &v)) {
                fault = OptionFault::kMalformed;
            } else if (v < kMinTimeoutMs || v > kMaxTimeoutMs) {
                fault = OptionFault::kOutOfRange;
            } else {
                StoreU16(o.timeoutMs, v);
            }
        } else if (option == kGivenRest) {
            if (!d::ReadValue(equals + 1, end, &v)) {
                fault = OptionFault::kMalformed;
            } else if (v > kMaxRestSeconds) {
                fault = OptionFault::kOutOfRange;
            } else {
                o.flags = static_cast<std::uint8_t>(o.flags | kOptionRestSet);
                StoreU16(o.restSeconds, v);
            }
        } else if (option == kGivenScan) {
            if (!d::ReadValue(equals + 1, end, &v)) {
                fault = OptionFault::kMalformed;
            } else if (v > kMaxScanMs) {
                fault = OptionFault::kOutOfRange;
            } else {
                StoreU16(o.scanMs, v);
            }
        }
        if (fault != OptionFault::kNone) {
            reading->given = 0;
            reading->fault = fault;
            reading->badBegin = begin;
            reading->badEnd = end;
            return false;
        }
        reading->given |= option;
    }
    *out = o;
    return true;
}

// The options a line gave, as "station-field=decimal timeout=500 ms
// rest=10 s scan=100 ms"; empty when it gave none.
inline void FormatStationOptions(const StationOptions& o, unsigned given, char* buf,
                                 std::size_t size) {
    const bool field = (given & kGivenStationField) != 0;
    const bool timeout = (given & kGivenTimeout) != 0;
    const bool rest = (given & kGivenRest) != 0;
    const bool scan = (given & kGivenScan) != 0;
    char timeoutText[24] = "";
    char restText[40] = "";
    char scanText[64] = "";
    if (scan) {
        const unsigned ms = LoadU16(o.scanMs);
        std::snprintf(scanText, sizeof scanText, "%sscan=%u ms%s", field || timeout || rest ? " " : "",
                      ms, ms == 0 ? " (every read asks the PLC)" : "");
    }
    if (timeout) {
        std::snprintf(timeoutText, sizeof timeoutText, "%stimeout=%u ms", field ? " " : "",
                      static_cast<unsigned>(LoadU16(o.timeoutMs)));
    }
    if (rest) {
        const unsigned seconds = LoadU16(o.restSeconds);
        std::snprintf(restText, sizeof restText, "%srest=%u s%s", field || timeout ? " " : "",
                      seconds, seconds == 0 ? " (never rests)" : "");
    }
    const char* fieldText = !field                              ? ""
                            : (o.flags & kOptionDecimal) != 0 ? "station-field=decimal"
                                                              : "station-field=hex";
    std::snprintf(buf, size, "%s%s%s%s", fieldText, timeoutText, restText, scanText);
}

}  // namespace etl
