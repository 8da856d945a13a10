// A station's health in the host log, and its rest.
//
// A station whose exchanges fail is reported once, with the reason, and
// again once when it answers; the failures in between are only counted, so
// a station that stays silent does not flood the log.
//
// A command that the PLC refuses (an error answer), or whose answers are
// always malformed, is a fault of that one command, usually a tag outside
// the PLC's memory: the station still answers every other command. Such a
// station recovers only when that same command is answered, so that one bad
// tag among good ones is reported once rather than on every round of a poll.
//
// A station that does not answer at all (no answer in time, its connection
// closed or lost, no connection to be made) rests: for the rest period its
// requests fail at once, so that one PLC switched off costs the host one
// exchange's time and then, once per period, one attempt's time, instead of
// three attempts on every request. The period doubles after each probe
// that finds the station still silent, up to a ceiling; an answer of any
// kind ends the rest.
//
// Every station line goes through a small budget per station: five lines at
// once, then one a minute. What the budget holds back is counted and named
// in the next line that is logged, so a station flapping between failing
// and answering, thousands of times, leaves a handful of lines that still
// tell what happened.
#include "mewtocol/station_health.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/qanpro.h"
#include "mewtocol/plc_errors.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_options.h"

namespace etl {
namespace {

constexpr unsigned kMaxCount = 0xFFFF;
constexpr unsigned kLogBurst = 5;
static_assert(kLogBurst < (1u << (8 - kHealthTokenShift)), "the tokens fit their bits");
constexpr std::uint32_t kLogRefillMs = 60000;

std::uint32_t TextHash(const char* text) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (; *text != '\0'; ++text) {
        h = (h ^ static_cast<std::uint8_t>(*text)) * 16777619u;
    }
    return h;
}

void AddTo(std::uint8_t* counter, unsigned n) {
    const unsigned v = LoadU16(counter) + n;
    StoreU16(counter, v > kMaxCount ? kMaxCount : v);
}

// The command text without its carriage return, for the log.
int CommandLength(const DriverContext* ctx) {
    const void* nul = std::memchr(ctx->sendCommand, '\0', kSendCommandSize);
    const std::size_t n = nul == nullptr ? kSendCommandSize
                                         : static_cast<std::size_t>(static_cast<const char*>(nul) -
                                                                    ctx->sendCommand);
    return static_cast<int>(n > 0 && ctx->sendCommand[n - 1] == '\r' ? n - 1 : n);
}

unsigned Tokens(const StationHealth& h) { return h.flags >> kHealthTokenShift; }

void SetTokens(StationHealth& h, unsigned n) {
    const unsigned low = (1u << kHealthTokenShift) - 1;
    h.flags = static_cast<std::uint8_t>((h.flags & low) | (n << kHealthTokenShift));
}

// Whether the station's log budget allows a line now.
bool TakeLogToken(StationHealth& h) {
    const std::uint32_t now = plat::TickCount();
    if ((h.flags & kHealthLogStarted) == 0) {
        h.flags = static_cast<std::uint8_t>(h.flags | kHealthLogStarted);
        SetTokens(h, kLogBurst);
        StoreU32(h.logRefill, now);
    }
    const std::uint32_t since = now - LoadU32(h.logRefill);
    if (since >= kLogRefillMs) {
        const std::uint32_t add = since / kLogRefillMs;
        if (add >= kLogBurst - Tokens(h)) {
            SetTokens(h, kLogBurst);
            StoreU32(h.logRefill, now);
        } else {
            SetTokens(h, Tokens(h) + add);
            StoreU32(h.logRefill, LoadU32(h.logRefill) + add * kLogRefillMs);
        }
    }
    if (Tokens(h) == 0) return false;
    SetTokens(h, Tokens(h) - 1);
    return true;
}

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void StationLine(DriverContext* ctx, int station, const char* format, ...) {
    StationHealth& h = ctx->health[station];
    if (!TakeLogToken(h)) {
        AddTo(h.suppressed, 1);
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const unsigned suppressed = LoadU16(h.suppressed);
    if (suppressed == 0) {
        err(kLogLevel, "%s", text);
    } else {
        err(kLogLevel, "%s [%u earlier line(s) about station %d not logged]", text, suppressed,
            station);
        StoreU16(h.suppressed, 0);
    }
}

// Why the exchange failed, as its line says it.
void Reason(const DriverContext* ctx, const Outcome& o, char* out, std::size_t size) {
    const int n = CommandLength(ctx);
    const char* text = ctx->sendCommand;
    switch (o.failure) {
        case Failure::kNoConnection:
            std::snprintf(out, size, "not connected");
            break;
        case Failure::kReconnect: {
            char why[64];
            ConnectFailureText(o.rc, o.cause, o.timeoutMs, why, sizeof why);
            std::snprintf(out, size, "reconnect failed rc = %d%s", o.rc, why);
            break;
        }
        case Failure::kTimeout:
            std::snprintf(out, size, "no answer within %u ms to %.*s",
                          static_cast<unsigned>(o.timeoutMs), n, text);
            break;
        case Failure::kClosed:
            std::snprintf(out, size, "connection %s by the PLC at %.*s",
                          o.rc == kPeerClosed ? "closed" : "reset", n, text);
            break;
        case Failure::kConnectionLost:
            std::snprintf(out, size, "connection lost rc = %d at %.*s", o.rc, n, text);
            break;
        case Failure::kRefused:
            std::snprintf(out, size, "PLC error %02d (%s) to %.*s", o.plcError,
                          PlcErrorText(o.plcError), n, text);
            break;
        case Failure::kBadAnswer:
            std::snprintf(out, size, "%s in the answer to %.*s", o.detail, n, text);
            break;
        case Failure::kNone:
            out[0] = '\0';
            break;
    }
}

// What follows a failure for the station: its rest, and whether its next
// request makes a new connection.
void NextStep(const Outcome& o, unsigned restSeconds, char* out, std::size_t size) {
    const bool reconnects = o.failure == Failure::kClosed || o.failure == Failure::kConnectionLost;
    if (restSeconds > 0) {
        std::snprintf(out, size, "; resting %u s%s", restSeconds,
                      reconnects ? ", then a request connects again" : "");
    } else {
        std::snprintf(out, size, "%s", reconnects ? "; the next request connects again" : "");
    }
}

void LogRecovery(DriverContext* ctx, int station) {
    StationHealth& h = ctx->health[station];
    const unsigned rested = LoadU16(h.rested);
    char more[64] = "";
    if (rested > 0) {
        std::snprintf(more, sizeof more, ", %u request(s) refused at once while it rested", rested);
    }
    StationLine(ctx, station, "ZavUR: station %d answers again after %u failed exchanges%s", station,
                LoadU16(h.failures), more);
    h.flags = static_cast<std::uint8_t>(h.flags & ~(kHealthFailing | kHealthRefused));
    StoreU16(h.failures, 0);
    StoreU16(h.rested, 0);
}

// The station answered: a rest ends.
void EndRestNow(StationHealth& h) {
    h.flags = static_cast<std::uint8_t>(h.flags & ~kHealthResting);
    StoreU16(h.restSeconds, 0);
}

// A failure that leaves the station unreachable. Returns the rest period
// that starts now, 0 when none does.
unsigned Rest(DriverContext* ctx, int station) {
    StationHealth& h = ctx->health[station];
    const std::uint32_t first = StationFirstRestSeconds(ctx, station);
    if (first == 0) {
        EndRestNow(h);
        return 0;
    }
    std::uint32_t period = first;
    if ((h.flags & kHealthResting) != 0) {
        // A probe found it still silent: a longer rest.
        const std::uint32_t ceiling = first > kRestCeilingSeconds ? first : kRestCeilingSeconds;
        period = 2 * LoadU16(h.restSeconds);
        if (period < first) period = first;
        if (period > ceiling) period = ceiling;
    }
    StoreU16(h.restSeconds, period);
    StoreU32(h.restUntil, plat::TickCount() + period * 1000u);
    h.flags = static_cast<std::uint8_t>(h.flags | kHealthResting);
    return period;
}

}  // namespace

Outcome ConnectionFailure(int rc) {
    Outcome o;
    o.rc = rc;
    o.failure = rc == kPeerClosed || plat::KindOf(rc) == plat::ErrorKind::kReset ? Failure::kClosed
                                                                                 : Failure::kConnectionLost;
    return o;
}

bool MaySend(DriverContext* ctx, int station, bool* probe, bool count) {
    StationHealth& h = ctx->health[station];
    *probe = false;
    if ((h.flags & kHealthResting) == 0) return true;
    const std::uint32_t now = plat::TickCount();
    if (static_cast<std::int32_t>(now - LoadU32(h.restUntil)) < 0) {
        if (count) AddTo(h.rested, 1);
        return false;
    }
    *probe = true;
    return true;
}

void RecordOutcome(DriverContext* ctx, int station, const Outcome& o) {
    StationHealth& h = ctx->health[station];
    if (o.failure == Failure::kNone) {
        if ((h.flags & (kHealthFailing | kHealthResting)) == 0) {
            // The usual case: nothing to say, unless the log budget held
            // lines back that it can now account for.
            if (LoadU16(h.suppressed) != 0 && TakeLogToken(h)) {
                err(kLogLevel, "ZavUR: station %d answers; %u earlier line(s) about it not logged",
                    station, static_cast<unsigned>(LoadU16(h.suppressed)));
                StoreU16(h.suppressed, 0);
            }
            return;
        }
        EndRestNow(h);
        if ((h.flags & kHealthFailing) == 0) return;
        if ((h.flags & kHealthRefused) != 0 &&
            TextHash(ctx->sendCommand) != LoadU32(h.refusedText)) {
            return;  // the refused command still fails
        }
        LogRecovery(ctx, station);
        return;
    }

    char reason[256];
    char next[80];
    if (Unreachable(o.failure)) {
        const bool reported = (h.flags & kHealthFailing) != 0 && (h.flags & kHealthRefused) == 0;
        if (reported) {
            AddTo(h.failures, 1);
        } else {
            StoreU16(h.failures, 1);
        }
        // A station with nothing to connect to has nothing to rest from.
        const unsigned period = o.failure == Failure::kNoConnection ? 0 : Rest(ctx, station);
        h.flags = static_cast<std::uint8_t>((h.flags | kHealthFailing) & ~kHealthRefused);
        if (reported) return;  // only the start of a failure is logged
        Reason(ctx, o, reason, sizeof reason);
        NextStep(o, period, next, sizeof next);
        StationLine(ctx, station, "ZavUR: station %d fails: %s%s", station, reason, next);
        return;
    }

    // The station answered, though not with this command's answer: a rest
    // ends, and a station that was silent answers again.
    EndRestNow(h);
    if ((h.flags & kHealthFailing) != 0) {
        if ((h.flags & kHealthRefused) != 0) {
            AddTo(h.failures, 1);  // reported already
            return;
        }
        LogRecovery(ctx, station);
    }
    StoreU16(h.failures, 1);
    Reason(ctx, o, reason, sizeof reason);
    StationLine(ctx, station, "ZavUR: station %d fails: %s", station, reason);
    h.flags = static_cast<std::uint8_t>(h.flags | kHealthFailing | kHealthRefused);
    StoreU32(h.refusedText, TextHash(ctx->sendCommand));
}

void EndRest(DriverContext* ctx, int station) {
    StationHealth& h = ctx->health[station];
    if ((h.flags & kHealthResting) != 0) StoreU32(h.restUntil, plat::TickCount());
}

void NoteSurplus(DriverContext* ctx, int station, int bytes) {
    StationHealth& h = ctx->health[station];
    if ((h.flags & kHealthSurplus) != 0) return;
    h.flags = static_cast<std::uint8_t>(h.flags | kHealthSurplus);
    StationLine(ctx, station,
                "ZavUR: station %d sent %d byte(s) behind its answer to %.*s; the answer is taken, "
                "and the connection is made anew before the next request (logged once)",
                station, bytes, CommandLength(ctx), ctx->sendCommand);
}

void ClearStationHealth(DriverContext* ctx) { std::memset(ctx->health, 0, sizeof ctx->health); }

}  // namespace etl
