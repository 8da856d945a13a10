// A station's options: the text after the port of its station line,
//
//     05 "127.0.0.5" "9094" station-field=decimal timeout=500 rest=10
//
// as words of the form name=value separated by blanks. A file without them
// reads as it always has. Header-only and pure, for the driver and for the
// tools that read a station file as the driver does.
#pragma once

#include <cstdint>

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

}  // namespace etl
