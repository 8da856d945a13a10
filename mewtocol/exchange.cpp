// One command travels to its station behind the 12-byte ET-LAN header; up
// to three attempts, each judged by the answer it brings back.
//
// A PLC sends a long answer in parts: the first part is "%" station "$"
// command code, data, BCC, "&" CR; the host asks for each next part with
// "%" station "**&" CR, and every next part is "%" station, data, BCC and
// "&" CR, the last one BCC and CR alone. Each part's BCC covers that part
// from its "%". The parts' data are joined in the receive area, behind the
// first part's "%" station "$" command code, exactly where an answer sent
// whole would have put them; whether a unit forwards an answer whole or in
// parts makes no difference to the caller.
#include "mewtocol/exchange.h"

#include <cstring>

#include "host/operations.h"
#include "mewtocol/command_builder.h"
#include "mewtocol/etlan_frame.h"
#include "mewtocol/station_health.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {
namespace {

constexpr int kAnswerTextOffset = static_cast<int>(kEtlanHeaderSize);
constexpr int kDataOffset = kAnswerTextOffset + 6;      // "%", station, "$", code
constexpr int kPartDataOffset = kAnswerTextOffset + 3;  // "%", station
constexpr char kCr = '\r';
constexpr char kMore = '&';
// An exchange, the driver's own reconnect included, ends within what its
// attempts may take: each waits at most one time-out to send and one for
// the answer, all of its parts included.
constexpr std::uint32_t kAttemptBudgetMs = 2 * EXCHANGE_TIMEOUT_MS;
constexpr std::uint32_t kExchangeBudgetMs = MAX_ATTEMPTS * kAttemptBudgetMs;

bool IsUpperHex(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int DecimalValue(std::uint8_t c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

std::uint32_t Remaining(std::uint32_t deadlineFrom, std::uint32_t budget) {
    const std::uint32_t spent = plat::TickCount() - deadlineFrom;
    return spent >= budget ? 0 : budget - spent;
}

// Index of the part's carriage return, or -1 while it has not arrived.
int FindAnswerEnd(const std::uint8_t* frame, int received) {
    for (int i = kAnswerTextOffset; i < received; ++i) {
        if (frame[i] == kCr) return i;
    }
    return -1;
}

// Reads on until the part is complete (its carriage return, or the whole
// buffer) or the time is up. 0 when complete.
int CompleteAnswer(SocketHandle s, std::uint8_t* frame, int size, int* received,
                   std::uint32_t started, std::uint32_t budget) {
    while (*received < size && FindAnswerEnd(frame, *received) < 0) {
        const std::uint32_t left = Remaining(started, budget);
        if (left == 0) return kTimeoutCode;
        const int rc = WaitForBytes(s, left, 1);
        if (rc != 0) return rc;
        int count = size - *received;
        const int rrc = ReceiveBuffer(s, 0, frame + *received, count, &count, nullptr);
        if (rrc != 0) return rrc;
        *received += count;
    }
    return 0;
}

// True when the connection has ended or broken: readable with nothing to
// read, or the socket cannot be asked at all.
bool ConnectionEnded(SocketHandle s) {
    std::uint32_t count = 0;
    if (plat::Readable(s, &count) != 0) return true;
    int error = 0;
    return count == 0 && plat::WaitReadable(s, 0, &error) != 0;
}

int Reconnect(StationEntry& entry, std::uint32_t timeoutMs) {
    SockAddrIn local{};
    local.family = plat::kAfInet;  // any address, any port
    return ConnectSocket(&entry.socket, plat::kAfInet, plat::kSockStream, 0, 1, &local, timeoutMs,
                         &entry.address);
}

// An attempt that ran out of time may still get its answer later, and on
// the same connection that answer would pass for the answer of the next
// request: the protocol carries no sequence number, so a late answer of a
// read of D100 looks exactly like the answer of a read of D200, and one
// write's answer like any other's. Such a connection is replaced at once,
// within what is left of the attempt's time (a writability wait and an
// answer wait). When that is not possible (no time left, or the unit
// refuses the new connection while it still holds the old one's slot), the
// station is marked so that its next request reconnects it.
void ReplaceLateConnection(DriverContext* ctx, int station, std::uint32_t started) {
    StationEntry& entry = ctx->stations[station];
    if (ConnectionEnded(entry.socket)) return;
    const std::uint32_t left = Remaining(started, kAttemptBudgetMs);
    if (left == 0 || Reconnect(entry, left) != 0) {
        ReleaseSocket(&entry.socket);
        ctx->health[station].flags |= kHealthReconnect;
    }
}

// The station field of an answer: the PLC number in hexadecimal, as the
// request writes it, or in decimal, as some units answer.
bool StationMatches(const std::uint8_t* field, int plcNumber) {
    const int hi = HexValue(field[0]);
    const int lo = HexValue(field[1]);
    if (hi >= 0 && lo >= 0 && field[0] <= 'F' && field[1] <= 'F' && hi * 16 + lo == plcNumber) {
        return true;
    }
    const int dh = DecimalValue(field[0]);
    const int dl = DecimalValue(field[1]);
    return dh >= 0 && dl >= 0 && dh * 10 + dl == plcNumber;
}

enum class Part { kBad, kLast, kContinued };

struct PartView {
    int dataBegin = 0;
    int dataEnd = 0;
};

// Judges the part in f (its carriage return at end): "%", the station,
// for the first part "$" and the command code of the request, the data in
// upper-case hexadecimal, the BCC (or "**"), and "&" when more follows. On
// kBad, outcome says why.
Part JudgePart(const std::uint8_t* f, int end, bool first, int plcNumber, const char* code,
               PartView* view, Outcome* outcome) {
    outcome->failure = Failure::kBadAnswer;
    if (end < kPartDataOffset + 2 || f[kAnswerTextOffset] != '%') {
        outcome->detail = "no MEWTOCOL text";
        return Part::kBad;
    }
    if (!StationMatches(f + kAnswerTextOffset + 1, plcNumber)) {
        outcome->detail = "another station's number";
        return Part::kBad;
    }
    const bool more = f[end - 1] == kMore;
    const int bccAt = (more ? end - 1 : end) - 2;
    if (bccAt < kPartDataOffset) {
        outcome->detail = "a truncated text";
        return Part::kBad;
    }
    if (!(f[bccAt] == '*' && f[bccAt + 1] == '*')) {
        const int h = HexValue(f[bccAt]);
        const int l = HexValue(f[bccAt + 1]);
        std::uint8_t bcc = 0;
        for (int i = kAnswerTextOffset; i < bccAt; ++i) bcc ^= f[i];
        if (h < 0 || l < 0 || bcc != static_cast<std::uint8_t>(h * 16 + l)) {
            outcome->detail = "a wrong block check code";
            return Part::kBad;
        }
    }
    int pos = kPartDataOffset;
    if (f[pos] == '!' && !more) {
        const int d1 = DecimalValue(f[pos + 1]);
        const int d2 = pos + 2 < bccAt ? DecimalValue(f[pos + 2]) : -1;
        if (d1 >= 0 && d2 >= 0 && pos + 3 == bccAt) {
            outcome->failure = Failure::kRefused;
            outcome->plcError = d1 * 10 + d2;
        } else {
            outcome->detail = "a malformed error code";
        }
        return Part::kBad;
    }
    if (first) {
        if (bccAt < kDataOffset || f[pos] != '$') {
            outcome->detail = "no positive answer";
            return Part::kBad;
        }
        if (f[pos + 1] != static_cast<std::uint8_t>(code[0]) ||
            f[pos + 2] != static_cast<std::uint8_t>(code[1])) {
            outcome->detail = "the code of another command";
            return Part::kBad;
        }
        pos = kDataOffset;
    }
    for (int i = pos; i < bccAt; ++i) {
        if (!IsUpperHex(f[i])) {
            outcome->detail = "data that are not hexadecimal";
            return Part::kBad;
        }
    }
    view->dataBegin = pos;
    view->dataEnd = bccAt;
    outcome->failure = Failure::kNone;
    return more ? Part::kContinued : Part::kLast;
}

// Asks for the next part and receives it into part[] (its carriage return
// at *end). 0, or a socket result.
int FetchNextPart(SocketHandle s, int plcNumber, std::uint8_t* part, int size, int* end,
                  std::uint32_t started) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char request[] = {'%', kHex[(plcNumber >> 4) & 0xF], kHex[plcNumber & 0xF], '*', '*',
                            kMore, kCr};
    struct {
        std::uint8_t header[kEtlanHeaderSize];
        char text[sizeof request];
    } frame;
    static_assert(sizeof frame == kEtlanHeaderSize + sizeof request, "one contiguous frame");
    WriteEtlanHeader(frame.header, sizeof request, plcNumber, PcStationNumber());
    std::memcpy(frame.text, request, sizeof request);

    const std::uint32_t left = Remaining(started, kAttemptBudgetMs);
    if (left == 0) return kTimeoutCode;
    int received = 0;
    int rc = SendReceive(s, left < EXCHANGE_TIMEOUT_MS ? left : EXCHANGE_TIMEOUT_MS, &frame,
                         static_cast<int>(sizeof frame), part, size, nullptr, nullptr, &received);
    if (rc == 0) rc = CompleteAnswer(s, part, size, &received, started, kAttemptBudgetMs);
    if (rc != 0) return rc;
    *end = FindAnswerEnd(part, received);
    if (*end < 0 || received != *end + 1) *end = -1;  // no end, or bytes behind it
    return 0;
}

// The answer of one attempt, its first part in the receive area: every
// part judged, the data joined behind the first part's command code, and
// exactly dataChars of them. Returns 0 when the answer was read (the
// outcome tells whether it answers the request, and if not, why), or the
// socket result of a next part's transaction.
int ReadAnswer(DriverContext* ctx, SocketHandle s, int plcNumber, int received, int dataChars,
               std::uint32_t started, Outcome* outcome) {
    std::uint8_t* frame = ctx->receiveFrame;
    const int end = FindAnswerEnd(frame, received);
    outcome->failure = Failure::kBadAnswer;
    if (end < 0) {
        outcome->detail = "no end of text";
        return 0;
    }
    if (received != end + 1) {
        outcome->detail = "bytes behind the end";
        return 0;
    }
    PartView view;
    const char* code = ctx->sendCommand + 4;  // "%", station, "#", then the command
    Part part = JudgePart(frame, end, true, plcNumber, code, &view, outcome);
    if (part == Part::kBad) return 0;
    int joined = view.dataEnd - view.dataBegin;

    std::uint8_t next[kReceiveFrameSize];
    while (part == Part::kContinued) {
        // Every continued part must bring data, and never more than asked
        // for: the number of parts stays bounded.
        if (view.dataEnd == view.dataBegin || joined > dataChars) break;
        int nextEnd = -1;
        const int rc = FetchNextPart(s, plcNumber, next, sizeof next, &nextEnd, started);
        if (rc != 0) return rc;
        if (nextEnd < 0) {
            outcome->failure = Failure::kBadAnswer;
            outcome->detail = "a part without an end";
            return 0;
        }
        part = JudgePart(next, nextEnd, false, plcNumber, code, &view, outcome);
        if (part == Part::kBad) return 0;
        const int length = view.dataEnd - view.dataBegin;
        if (joined + length > dataChars) {
            joined += length;
            break;
        }
        std::memcpy(frame + kDataOffset + joined, next + view.dataBegin,
                    static_cast<std::size_t>(length));
        joined += length;
    }
    outcome->failure = Failure::kBadAnswer;
    if (part == Part::kContinued && view.dataEnd == view.dataBegin) {
        outcome->detail = "a continued part without data";
        return 0;
    }
    if (joined != dataChars) {
        outcome->detail = joined > dataChars ? "more data than asked for" : "less data than asked for";
        return 0;
    }
    outcome->failure = Failure::kNone;
    return 0;
}

// One attempt: send the frame, take the answer with all its parts.
int Attempt(DriverContext* ctx, int plcNumber, int dataChars, std::uint32_t timeoutMs,
            Outcome* outcome) {
    const SocketHandle s = ctx->stations[plcNumber].socket;
    const std::uint32_t started = plat::TickCount();
    int received = 0;
    // The answer is read up to its carriage return, into the whole receive
    // area: a first part, with its "&", may be one byte longer than the
    // whole answer, and bytes behind the answer must be seen to be refused.
    constexpr int kArea = static_cast<int>(kReceiveFrameSize);
    int rc = SendReceive(s, timeoutMs, ctx->sendHeader, ctx->sendLength, ctx->receiveFrame, kArea,
                         nullptr, nullptr, &received);
    if (rc == 0) rc = CompleteAnswer(s, ctx->receiveFrame, kArea, &received, started, timeoutMs);
    if (rc == 0) rc = ReadAnswer(ctx, s, plcNumber, received, dataChars, started, outcome);
    if (rc == 0) return outcome->failure == Failure::kNone ? kOk : kInvalid;

    if (s == kNoSocket || s == 0) {
        outcome->failure = Failure::kNoConnection;
    } else if (rc == kTimeoutCode) {
        outcome->failure = Failure::kTimeout;
        outcome->timeoutMs = timeoutMs;
        ReplaceLateConnection(ctx, plcNumber, started);
    } else {
        outcome->failure = Failure::kConnectionLost;
        outcome->rc = rc;
    }
    return kFailed;
}

int Exchange(VpiRequest* request, int kind, int words, const char* addressDigits) {
    auto* tag = ParamsOf<TagIoBlock>(request);
    auto* ctx = ContextOf(request);

    // Requests that could not be answered inside the receive area, or that
    // name no station of the table, are refused before anything is sent.
    if (tag->plcNumber < 0 || tag->plcNumber > kMaxStation) return kInvalid;
    if (words < 1 || words > static_cast<int>((kReceiveFrameSize - 21) / 4)) return kInvalid;

    char text[kCommandBufferSize];
    if (SetMewtocolCmd(request, kind, words, addressDigits, text) != 0) return kInvalid;

    BuildFrameHeader(request, text);
    std::memcpy(ctx->sendCommand, text, std::strlen(text) + 1);
    ctx->receiveLength = 4 * words + 21;
    const int station = tag->plcNumber;
    const int dataChars = kind == kCommandRead ? 4 * words : 0;
    const std::uint32_t begun = plat::TickCount();

    Outcome outcome;
    StationEntry& entry = ctx->stations[station];
    StationHealth& health = ctx->health[station];
    if ((health.flags & kHealthReconnect) != 0) {
        // The driver dropped this station's connection: one reconnect,
        // before anything is sent.
        if (entry.socket == kNoSocket && StationAddressUsable(entry) && HoldsStart(ctx)) {
            outcome.rc = Reconnect(entry, EXCHANGE_TIMEOUT_MS);
            if (outcome.rc != 0) {
                outcome.failure = Failure::kReconnect;
                RecordOutcome(ctx, station, outcome);
                return kFailed;
            }
        }
        health.flags = static_cast<std::uint8_t>(health.flags & ~kHealthReconnect);
    }

    // The log names the first failure of the exchange: the attempts after a
    // time-out may find the connection already gone.
    int result = kFailed;
    Outcome first;
    first.failure = Failure::kTimeout;
    first.timeoutMs = EXCHANGE_TIMEOUT_MS;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        const std::uint32_t left = Remaining(begun, kExchangeBudgetMs);
        if (left == 0) break;
        outcome = Outcome{};
        result = Attempt(ctx, station, dataChars,
                         left < EXCHANGE_TIMEOUT_MS ? left : EXCHANGE_TIMEOUT_MS, &outcome);
        if (result == kOk) break;
        if (attempt == 0) first = outcome;
    }
    RecordOutcome(ctx, station, result == kOk ? outcome : first);
    return result;
}

}  // namespace

int BuildFrameHeader(VpiRequest* request, const char* text) {
    auto* ctx = ContextOf(request);
    const auto* tag = ParamsOf<TagIoBlock>(request);
    const std::size_t length = std::strlen(text);
    WriteEtlanHeader(ctx->sendHeader, length, tag->plcNumber, PcStationNumber());
    ctx->sendLength = static_cast<std::int32_t>(length + kEtlanHeaderSize);
    return 0;
}

int CheckResponse(VpiRequest* request) {
    const auto* f = ContextOf(request)->receiveFrame;
    return (f[kAnswerTextOffset] == '%' && f[kAnswerTextOffset + 3] == '$') ? 0 : 1;
}

int ReadExchange(VpiRequest* request, int words, const char* addressDigits) {
    return Exchange(request, kCommandRead, words, addressDigits);
}

int WriteExchange(VpiRequest* request, int words, const char* addressDigits) {
    return Exchange(request, kCommandWrite, words, addressDigits);
}

}  // namespace etl
