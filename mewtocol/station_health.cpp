// A station's health in the host log. A station whose exchanges fail is
// reported once, with the reason, and again once when it answers; the
// failures in between are only counted, so a station that stays silent
// does not flood the log.
//
// A command that the PLC refuses (an error answer) is a fault of that one
// command, usually a tag outside the PLC's memory: the station still
// answers every other command. Such a station recovers only when that same
// command is answered, so that one bad tag among good ones is reported once
// rather than on every round of a poll.
#include "mewtocol/station_health.h"

#include <cstring>

#include "host/qanpro.h"
#include "mewtocol/plc_errors.h"

namespace etl {
namespace {

constexpr unsigned kMaxCount = 0xFFFF;

std::uint32_t TextHash(const char* text) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (; *text != '\0'; ++text) {
        h = (h ^ static_cast<std::uint8_t>(*text)) * 16777619u;
    }
    return h;
}

unsigned Count(const StationHealth& h) {
    return static_cast<unsigned>(h.failures[0]) | (static_cast<unsigned>(h.failures[1]) << 8);
}

void SetCount(StationHealth& h, unsigned n) {
    if (n > kMaxCount) n = kMaxCount;
    h.failures[0] = static_cast<std::uint8_t>(n & 0xFF);
    h.failures[1] = static_cast<std::uint8_t>(n >> 8);
}

// The command text without its carriage return, for the log.
int CommandLength(const DriverContext* ctx) {
    const void* nul = std::memchr(ctx->sendCommand, '\0', kSendCommandSize);
    const std::size_t n = nul == nullptr ? kSendCommandSize
                                         : static_cast<std::size_t>(static_cast<const char*>(nul) -
                                                                    ctx->sendCommand);
    return static_cast<int>(n > 0 && ctx->sendCommand[n - 1] == '\r' ? n - 1 : n);
}

void LogFailure(const DriverContext* ctx, int station, const Outcome& o) {
    const int n = CommandLength(ctx);
    const char* text = ctx->sendCommand;
    switch (o.failure) {
        case Failure::kNoConnection:
            err(kLogLevel, "ZavUR: station %d fails: not connected", station);
            break;
        case Failure::kReconnect:
            err(kLogLevel, "ZavUR: station %d fails: reconnect failed rc = %d", station, o.rc);
            break;
        case Failure::kTimeout:
            err(kLogLevel, "ZavUR: station %d fails: no answer within %u ms to %.*s", station,
                static_cast<unsigned>(o.timeoutMs), n, text);
            break;
        case Failure::kConnectionLost:
            err(kLogLevel, "ZavUR: station %d fails: connection lost rc = %d at %.*s", station,
                o.rc, n, text);
            break;
        case Failure::kRefused:
            err(kLogLevel, "ZavUR: station %d fails: PLC error %02d (%s) to %.*s", station,
                o.plcError, PlcErrorText(o.plcError), n, text);
            break;
        case Failure::kBadAnswer:
            err(kLogLevel, "ZavUR: station %d fails: %s in the answer to %.*s", station, o.detail,
                n, text);
            break;
        case Failure::kNone:
            break;
    }
}

}  // namespace

void RecordOutcome(DriverContext* ctx, int station, const Outcome& o) {
    StationHealth& h = ctx->health[station];
    if (o.failure == Failure::kNone) {
        if ((h.flags & kHealthFailing) == 0) return;
        if ((h.flags & kHealthRefused) != 0) {
            std::uint32_t refused;
            std::memcpy(&refused, h.refusedText, sizeof refused);
            if (TextHash(ctx->sendCommand) != refused) return;  // the refused command still fails
        }
        err(kLogLevel, "ZavUR: station %d answers again after %u failed exchanges", station,
            Count(h));
        h.flags = static_cast<std::uint8_t>(h.flags & ~(kHealthFailing | kHealthRefused));
        SetCount(h, 0);
        return;
    }

    const bool refusal = o.failure == Failure::kRefused;
    if ((h.flags & kHealthFailing) != 0) {
        SetCount(h, Count(h) + 1);
        // Reported already, unless the station was failing on one refused
        // command and now fails as a whole.
        if ((h.flags & kHealthRefused) == 0 || refusal) return;
    } else {
        SetCount(h, 1);
    }
    LogFailure(ctx, station, o);
    h.flags = static_cast<std::uint8_t>(h.flags | kHealthFailing);
    if (refusal) {
        h.flags = static_cast<std::uint8_t>(h.flags | kHealthRefused);
        const std::uint32_t hash = TextHash(ctx->sendCommand);
        std::memcpy(h.refusedText, &hash, sizeof hash);
    } else {
        h.flags = static_cast<std::uint8_t>(h.flags & ~kHealthRefused);
    }
}

void ClearStationHealth(DriverContext* ctx) { std::memset(ctx->health, 0, sizeof ctx->health); }

}  // namespace etl
