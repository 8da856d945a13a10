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
//
// Late answers. The protocol carries no sequence number: a late answer of a
// read of D100 looks exactly like the answer of a read of D200. Within one
// exchange every attempt sends the same frame, so an answer that arrives
// during a later attempt is the answer to this request and is taken, and
// the bytes of an attempt that ran out of time are kept, not discarded.
// After an exchange that saw a time-out, though, more answers to it may
// still come; the connection is closed, and the next request makes a new
// one, so that no byte of this exchange is ever read as the answer to the
// next. Bytes behind a complete answer (other than a lone LF, which some
// units send after the CR) put the stream out of step in the same way.
//
// Bounds. An exchange, the connection it makes first included, ends within
// what its attempts may take: each waits at most one time-out to send and
// one for its answer, all of its parts included. A probe of a resting
// station is one attempt within one time-out, its connection included.
#include "mewtocol/exchange.h"

#include <cstring>

#include "host/operations.h"
#include "host/qanpro.h"
#include "mewtocol/answer.h"
#include "mewtocol/command_builder.h"
#include "mewtocol/etlan_frame.h"
#include "mewtocol/scan.h"
#include "mewtocol/station_health.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_options.h"
#include "stations/station_table.h"

namespace etl {
namespace {

static_assert(EXCHANGE_TIMEOUT_MS == kDefaultTimeoutMs, "one default answer time-out");

constexpr int kArea = static_cast<int>(kReceiveFrameSize);

std::uint32_t Remaining(std::uint32_t from, std::uint32_t budget) {
    const std::uint32_t spent = plat::TickCount() - from;
    return spent >= budget ? 0 : budget - spent;
}

std::uint32_t Least(std::uint32_t a, std::uint32_t b) { return a < b ? a : b; }

// Reads on until the part is complete (its carriage return, or the whole
// buffer) or wait has passed since started. 0 when complete; kPeerClosed
// or the error of a reset when the stream ended first.
int CompleteAnswer(SocketHandle s, std::uint8_t* frame, int size, int* received,
                   std::uint32_t started, std::uint32_t wait) {
    while (*received < size && FindAnswerEnd(frame, *received) < 0) {
        const std::uint32_t left = Remaining(started, wait);
        if (left == 0) return kTimeoutCode;
        const int rc = WaitForBytes(s, left, 1);
        if (rc != 0 && rc != kTimeoutCode) return rc;
        // The wait also ends at once when the stream has ended: the read
        // tells the PLC's close from a time-out.
        int count = size - *received;
        const int rrc = ReceiveBuffer(s, 0, frame + *received, count, &count, nullptr);
        if (rrc == 0) {
            *received += count;
        } else if (!plat::WouldBlock(rrc)) {
            return rrc;
        }
    }
    return 0;
}

// One exchange as it runs.
struct Run {
    DriverContext* ctx = nullptr;
    int station = 0;
    int dataChars = 0;          // data characters the answer must carry
    bool decimal = false;       // the station field in decimal
    std::uint32_t timeoutMs = 0;  // one attempt's answer wait
    std::uint32_t begun = 0;      // the budget's start
    std::uint32_t budget = 0;     // what the whole exchange may take
    int received = 0;             // bytes of the answer in the receive area
    bool carry = false;           // the last attempt ran out of time: its answer may still come
    int surplus = 0;              // bytes behind the answer taken

    SocketHandle Socket() const { return ctx->stations[station].socket; }
    std::uint32_t Left() const { return Remaining(begun, budget); }
    // One wait of an attempt: the time-out, or what is left of the budget.
    std::uint32_t Wait() const { return Least(timeoutMs, Left()); }
};

// Asks for the next part and receives it into part[] (its carriage return
// at *end, -1 when it has none; *surplus bytes behind it). 0, or a socket
// result.
int FetchNextPart(Run& run, std::uint8_t* part, int size, int* end, int* surplus) {
    std::uint8_t frame[kNextPartFrameSize];
    BuildNextPartFrame(run.station, run.decimal, frame);
    const SocketHandle s = run.Socket();
    const std::uint32_t wait = run.Wait();
    if (wait == 0) return kTimeoutCode;
    int rc = DrainSocket(s);
    int sent = 0;
    if (rc == 0) rc = SendBuffer(s, wait, frame, static_cast<int>(sizeof frame), &sent, nullptr);
    int received = 0;
    if (rc == 0) rc = CompleteAnswer(s, part, size, &received, plat::TickCount(), run.Wait());
    if (rc != 0) return rc;
    *end = FindAnswerEnd(part, received);
    *surplus = *end < 0 ? 0 : Surplus(part, *end, received);
    return 0;
}

// The answer of one attempt, its first part in the receive area: every
// part judged, the data joined behind the first part's command code, and
// exactly dataChars of them. Returns 0 when the answer was read (the
// outcome tells whether it answers the request, and if not, why), or the
// socket result of a next part's transaction.
int ReadAnswer(Run& run, Outcome* outcome) {
    std::uint8_t* frame = run.ctx->receiveFrame;
    const int end = FindAnswerEnd(frame, run.received);
    outcome->failure = Failure::kBadAnswer;
    if (end < 0) {
        outcome->detail = "no end of text";
        return 0;
    }
    int surplus = Surplus(frame, end, run.received);
    PartView view;
    const char* code = run.ctx->sendCommand + 4;  // "%", station, "#", then the command
    Part part = JudgePart(frame, end, true, run.station, code, &view, outcome);
    if (part == Part::kBad) return 0;
    int joined = view.dataEnd - view.dataBegin;

    std::uint8_t next[kReceiveFrameSize];
    while (part == Part::kContinued) {
        // Asking for more on a stream that is out of step would join
        // another answer's data; every continued part must bring data, and
        // never more than asked for, so the number of parts stays bounded.
        if (surplus > 0) {
            outcome->failure = Failure::kBadAnswer;
            outcome->detail = "bytes behind the end";
            return 0;
        }
        if (view.dataEnd == view.dataBegin || joined > run.dataChars) break;
        int nextEnd = -1;
        const int rc = FetchNextPart(run, next, sizeof next, &nextEnd, &surplus);
        if (rc != 0) return rc;
        if (nextEnd < 0) {
            outcome->failure = Failure::kBadAnswer;
            outcome->detail = "a part without an end";
            return 0;
        }
        part = JudgePart(next, nextEnd, false, run.station, code, &view, outcome);
        if (part == Part::kBad) return 0;
        const int length = view.dataEnd - view.dataBegin;
        if (joined + length > run.dataChars) {
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
    if (joined != run.dataChars) {
        outcome->detail = joined > run.dataChars ? "more data than asked for" : "less data than asked for";
        return 0;
    }
    // The answer is complete and proven by its BCC and length: it is taken,
    // and what came behind it only costs the connection.
    run.surplus = surplus;
    outcome->failure = Failure::kNone;
    return 0;
}

// One attempt: send the frame, take the answer with all its parts. After
// an attempt that ran out of time the stream is not drained: what arrives
// is this frame's answer, and the bytes already read are kept.
int Attempt(Run& run, Outcome* outcome) {
    DriverContext* ctx = run.ctx;
    const SocketHandle s = run.Socket();
    const std::uint32_t wait = run.Wait();
    int rc = wait == 0 ? kTimeoutCode : 0;
    if (rc == 0 && !run.carry) {
        run.received = 0;
        rc = DrainSocket(s);
    }
    int sent = 0;
    if (rc == 0) rc = SendBuffer(s, wait, ctx->sendHeader, ctx->sendLength, &sent, nullptr);
    // The answer is read up to its carriage return, into the whole receive
    // area: a first part, with its "&", may be one byte longer than the
    // whole answer, and bytes behind the answer must be seen.
    if (rc == 0) rc = CompleteAnswer(s, ctx->receiveFrame, kArea, &run.received, plat::TickCount(), run.Wait());
    if (rc == 0) rc = ReadAnswer(run, outcome);
    if (rc == 0) return outcome->failure == Failure::kNone ? kOk : kInvalid;

    if (s == kNoSocket || s == 0) {
        outcome->rc = rc;
        outcome->failure = Failure::kNoConnection;
    } else if (rc == kTimeoutCode) {
        outcome->rc = rc;
        outcome->failure = Failure::kTimeout;
        outcome->timeoutMs = run.timeoutMs;
    } else {
        *outcome = ConnectionFailure(rc);
    }
    return kFailed;
}

// A station without a connection gets one before its request is sent,
// within the exchange's budget. 0, or kFailed with the outcome.
int Connect(Run& run, Outcome* outcome) {
    StationEntry& entry = run.ctx->stations[run.station];
    if (entry.socket != kNoSocket && entry.socket != 0) return 0;
    if (!StationAddressUsable(entry) || !HoldsStart(run.ctx)) {
        outcome->failure = Failure::kNoConnection;
        return kFailed;
    }
    const std::uint32_t wait = Least(kConnectTimeoutMs, run.Left());
    SockAddrIn local{};
    local.family = plat::kAfInet;  // any address, any port
    outcome->rc = wait == 0 ? kTimeoutCode
                            : ConnectSocket(&entry.socket, plat::kAfInet, plat::kSockStream, 0, 1,
                                            &local, wait, &entry.address, &outcome->cause);
    if (outcome->rc == 0) return 0;
    if (wait == 0) outcome->cause = kTimeoutCode;
    outcome->failure = Failure::kReconnect;
    outcome->timeoutMs = wait;
    return kFailed;
}

int Exchange(VpiRequest* request, int kind, int words, const char* addressDigits) {
    auto* tag = ParamsOf<TagIoBlock>(request);
    auto* ctx = ContextOf(request);

    // Requests that could not be answered inside the receive area, or that
    // name no station of the table, are refused before anything is sent.
    if (tag->plcNumber < 0 || tag->plcNumber > kMaxStation) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() PLC number %d out of range", tag->plcNumber);
        return kInvalid;
    }
    if (words < 1 || words > kMaxAnswerWords) {
        err(kLogLevel, "ZOVUZ: SetMewtocolCmd() Word count %d not allowed", words);
        return kInvalid;
    }

    // A station that scans serves what it has learned from its scan, and
    // its connection is free before an exchange of its own.
    const int key = tag->memoryLetter & 0xFF;
    const long long address = WordAddressOf(addressDigits);
    if (ctx->scan != nullptr) {
        int served = kOk;
        if (kind == kCommandRead && ScanRead(request, key, address, words, &served)) return served;
        SettleScan(ctx, tag->plcNumber);
    }

    Run run;
    run.ctx = ctx;
    run.station = tag->plcNumber;
    run.decimal = StationFieldDecimal(ctx, run.station);
    char text[kCommandBufferSize];
    if (SetMewtocolCmd(request, kind, words, addressDigits, text, run.decimal) != 0) return kInvalid;

    BuildFrameHeader(request, text);
    std::memcpy(ctx->sendCommand, text, std::strlen(text) + 1);
    ctx->receiveLength = 4 * words + 21;

    // A resting station's request fails at once; the first one after its
    // rest is a probe: one attempt within one time-out.
    bool probe = false;
    if (!MaySend(ctx, run.station, &probe)) return kFailed;
    run.dataChars = kind == kCommandRead ? 4 * words : 0;
    run.timeoutMs = StationTimeoutMs(ctx, run.station);
    run.begun = plat::TickCount();
    run.budget = probe ? run.timeoutMs : MAX_ATTEMPTS * 2 * run.timeoutMs;

    Outcome outcome;
    outcome.failure = Failure::kTimeout;
    outcome.timeoutMs = run.timeoutMs;
    int result = Connect(run, &outcome);
    const int attempts = result != 0 ? 0 : probe ? 1 : MAX_ATTEMPTS;
    bool timedOut = false;
    Outcome first;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        outcome = Outcome{};
        result = Attempt(run, &outcome);
        if (attempt == 0) first = outcome;
        if (result == kOk) break;
        const Failure f = outcome.failure;
        // Only a first part still arriving is carried on; a time-out while
        // later parts were asked for leaves the stream out of step.
        run.carry = f == Failure::kTimeout && FindAnswerEnd(ctx->receiveFrame, run.received) < 0;
        timedOut = timedOut || f == Failure::kTimeout;
        // Without a connection the attempts left cannot do better.
        if (f == Failure::kClosed || f == Failure::kConnectionLost || f == Failure::kNoConnection) break;
        if (run.Left() == 0) break;
    }
    // The connection is made anew before the next request when more of this
    // exchange may still arrive on it, or when it is gone.
    if (timedOut || run.surplus > 0 || Unreachable(outcome.failure)) {
        if (run.surplus > 0 && !timedOut) NoteSurplus(ctx, run.station, run.surplus);
        ReleaseSocket(&ctx->stations[run.station].socket);
    }
    // The log names the first failure of the exchange, as long as the last
    // one, which decides the result, is of the same kind.
    if (result != kOk && attempts > 0 && Unreachable(first.failure) == Unreachable(outcome.failure)) {
        outcome = first;
    }
    RecordOutcome(ctx, run.station, outcome);
    if (ctx->scan != nullptr) {
        // A write may have changed what a scan holds, done or not.
        if (kind == kCommandWrite) ScanWritten(ctx, run.station, key, address, words);
        if (kind == kCommandRead && result == kOk) ScanLearn(ctx, run.station, key, address, words);
    }
    return result;
}

}  // namespace

void BuildNextPartFrame(int plcNumber, bool decimal, std::uint8_t out[kNextPartFrameSize]) {
    std::uint8_t header[kEtlanHeaderSize];
    WriteEtlanHeader(header, kNextPartFrameSize - kEtlanHeaderSize, plcNumber, PcStationNumber());
    std::memcpy(out, header, kEtlanHeaderSize);
    char station[3];
    StationField(plcNumber, decimal, station);
    const char text[] = {'%', station[0], station[1], '*', '*', '&', '\r'};
    static_assert(sizeof text == kNextPartFrameSize - kEtlanHeaderSize, "one frame");
    std::memcpy(out + kEtlanHeaderSize, text, sizeof text);
}

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
