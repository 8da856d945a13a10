// The scan of stations whose line says scan=MS (scan.h).
//
// Learning. A read of an address the table does not know is an exchange of
// its own, as without the option; when it succeeds, its address is learned.
// A tag that the PLC refuses is therefore never learned and never spoils
// the request of its neighbours, and the addresses between two learned
// ones, which a request may cover, lie inside the PLC's memory.
//
// Requests. A station's learned addresses are grouped by area into runs of
// at most kScanMaxWords words (contiguous, or with gaps of at most
// kScanGapWords words); each run is one read command, its frame built once.
// Answers in parts are asked for part by part, as by the exchange.
//
// Flights. One request at a time on a station's connection (the protocol
// has no sequence numbers). A request goes out without waiting; its answer
// is taken in by the calls that follow, or waited for by the read that
// needs it. Every attempt of a request sends the same frame, so a late
// answer is still its answer; after a request that saw a time-out the
// connection is closed, as after such an exchange. A station that does not
// answer rests, and a resting station gets no request until its probe.
#include "mewtocol/scan.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "host/digits.h"
#include "host/operations.h"
#include "host/qanpro.h"
#include "mewtocol/answer.h"
#include "mewtocol/command_builder.h"
#include "mewtocol/etlan_frame.h"
#include "mewtocol/exchange.h"
#include "mewtocol/memory_areas.h"
#include "mewtocol/station_health.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_options.h"
#include "stations/station_table.h"

namespace etl {

namespace {

enum RequestState : std::uint8_t {
    kSlotFree,     // no request in this slot
    kNeverRead,    // planned, never answered
    kValues,       // values as of stamp
    kValuesStale,  // values that a write may have changed
    kRefreshFailed,  // its last refresh failed
};

// A whole answer of the longest request, with slack for bytes behind it.
constexpr int kRxSize = static_cast<int>(kEtlanHeaderSize) + 9 + 4 * kScanMaxWords + 64;
constexpr int kFrameSize = static_cast<int>(kEtlanHeaderSize + kCommandBufferSize);

}  // namespace

struct ScanRange {
    std::uint8_t station;
    char key;
    std::uint16_t words;
    std::uint32_t first;
};

struct ScanRequest {
    std::uint8_t state;
    std::uint8_t station;
    char key;
    std::uint16_t count;
    std::uint32_t first;
    std::uint32_t stamp;  // when the request that brought the values first went out
    std::uint16_t frameLength;
    std::uint8_t frame[kFrameSize];
    std::uint16_t values[kScanMaxWords];
};

struct ScanFlight {
    int request;  // in flight, or -1
    int maxAttempts;
    int attempts;
    int result;  // of the last request that finished: 0, 1 or 2
    bool timedOut;
    bool nextPart;  // a part after the first is awaited
    std::uint32_t firstSent;
    std::uint32_t attemptSent;
    int received;
    int joined;
    std::uint8_t rx[kRxSize];
    char data[4 * kScanMaxWords];
};

struct ScanTable {
    std::uint32_t scanMs[kStationSlots];
    ScanFlight flight[kStationSlots];
    int flying;
    int ranges;
    ScanRange range[kScanMaxRanges];
    ScanRequest request[kScanMaxRequests];
};

namespace {

// Areas whose words a request reads as a run (not the index registers).
bool Scannable(int key) {
    return std::strchr("XYRLGDTCVSF", key) != nullptr && key != '\0';
}

int MaxWords(int key) { return key == 'G' ? 2 * kMaxElementsEG : kScanMaxWords; }

bool Fresh(const ScanTable& t, const ScanRequest& q, std::uint32_t now) {
    return q.state == kValues && now - q.stamp <= t.scanMs[q.station];
}

// Due for a refresh of the driver's own: not valid, or half its age gone.
bool Due(const ScanTable& t, const ScanRequest& q, std::uint32_t now) {
    return q.state != kValues || now - q.stamp >= t.scanMs[q.station] / 2;
}

// The read command of a request behind its header; false when the builder
// refuses it.
bool BuildFrame(DriverContext* ctx, ScanRequest& q) {
    TagIoBlock tag{};
    tag.plcNumber = q.station;
    tag.memoryLetter = static_cast<unsigned char>(q.key);
    tag.elementCount = 1;
    tag.bitSize = 16;
    VpiRequest request{};
    request.context = ctx;
    request.params = &tag;
    const MemoryArea* area = MemoryAreaOf(static_cast<unsigned char>(q.key));
    if (area == nullptr) return false;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*u", area->width, static_cast<unsigned>(q.first));
    char text[kCommandBufferSize];
    if (SetMewtocolCmd(&request, kCommandRead, q.count, digits, text,
                       StationFieldDecimal(ctx, q.station)) != 0) {
        return false;
    }
    const std::size_t length = std::strlen(text);
    std::uint8_t header[kEtlanHeaderSize];
    WriteEtlanHeader(header, length, q.station, PcStationNumber());
    std::memcpy(q.frame, header, kEtlanHeaderSize);
    std::memcpy(q.frame + kEtlanHeaderSize, text, length);
    q.frameLength = static_cast<std::uint16_t>(kEtlanHeaderSize + length);
    return true;
}

// The request's command text, with its NUL, in the context's send area, for
// the log lines and the station's record.
void ShowCommand(DriverContext* ctx, const ScanRequest& q) {
    const std::size_t length = q.frameLength - kEtlanHeaderSize;
    std::memcpy(ctx->sendCommand, q.frame + kEtlanHeaderSize, length);
    ctx->sendCommand[length] = '\0';
}

// Groups the station's learned addresses into requests anew.
void Plan(DriverContext* ctx, ScanTable& t, int station) {
    for (ScanRequest& q : t.request) {
        if (q.state != kSlotFree && q.station == station) q.state = kSlotFree;
    }
    // The station's ranges in the order of area and address.
    int order[kScanMaxRanges];
    int n = 0;
    for (int i = 0; i < t.ranges; ++i) {
        if (t.range[i].station != station) continue;
        int at = n++;
        const ScanRange& r = t.range[i];
        while (at > 0) {
            const ScanRange& before = t.range[order[at - 1]];
            if (before.key < r.key || (before.key == r.key && before.first <= r.first)) break;
            order[at] = order[at - 1];
            --at;
        }
        order[at] = i;
    }
    int slot = 0;
    for (int i = 0; i < n;) {
        const ScanRange& r = t.range[order[i]];
        std::uint32_t first = r.first;
        std::uint32_t end = r.first + r.words;
        int j = i + 1;
        for (; j < n; ++j) {
            const ScanRange& next = t.range[order[j]];
            const std::uint32_t nextEnd = next.first + next.words;
            const std::uint32_t newEnd = nextEnd > end ? nextEnd : end;
            if (next.key != r.key || next.first > end + kScanGapWords ||
                newEnd - first > static_cast<std::uint32_t>(MaxWords(r.key))) {
                break;
            }
            end = newEnd;
        }
        while (slot < kScanMaxRequests && t.request[slot].state != kSlotFree) ++slot;
        if (slot == kScanMaxRequests) return;  // the rest stay exchanges of their own
        ScanRequest& q = t.request[slot];
        q.station = static_cast<std::uint8_t>(station);
        q.key = r.key;
        q.first = first;
        q.count = static_cast<std::uint16_t>(end - first);
        q.stamp = 0;
        if (BuildFrame(ctx, q)) q.state = kNeverRead;
        i = j;
    }
}

int FindRequest(const ScanTable& t, int station, int key, long long first, int words) {
    for (int i = 0; i < kScanMaxRequests; ++i) {
        const ScanRequest& q = t.request[i];
        if (q.state != kSlotFree && q.station == station && q.key == key && first >= q.first &&
            first + words <= static_cast<long long>(q.first) + q.count) {
            return i;
        }
    }
    return -1;
}

SocketHandle SocketOf(const DriverContext* ctx, int station) {
    return ctx->stations[station].socket;
}

bool Connected(const DriverContext* ctx, int station) {
    const SocketHandle s = SocketOf(ctx, station);
    return s != kNoSocket && s != 0;
}

// The flight ends: the request's state, the station's record, and the
// connection closed where more of it may still come or it is gone.
void Finish(DriverContext* ctx, ScanTable& t, int station, const Outcome& o, int result,
            bool replace) {
    ScanFlight& f = t.flight[station];
    ScanRequest& q = t.request[f.request];
    q.state = result == kOk ? kValues : kRefreshFailed;
    if (result == kOk) q.stamp = f.firstSent;
    f.request = -1;
    f.result = result;
    --t.flying;
    ShowCommand(ctx, q);
    RecordOutcome(ctx, station, o);
    if (replace || f.timedOut || Unreachable(o.failure)) ReleaseSocket(&ctx->stations[station].socket);
}

// Sends the request's frame once more. fresh: what the connection holds is
// stale and goes first; otherwise (after a time-out) the bytes of the
// answer so far stay, since a late answer to the same frame is its answer.
void SendAttempt(DriverContext* ctx, ScanTable& t, int station, bool fresh) {
    ScanFlight& f = t.flight[station];
    ScanRequest& q = t.request[f.request];
    const SocketHandle s = SocketOf(ctx, station);
    int rc = 0;
    if (fresh) {
        f.received = 0;
        f.joined = 0;
        f.nextPart = false;
        rc = DrainSocket(s);
    }
    q.frame[11] = static_cast<std::uint8_t>(PcStationNumber() & 0xFF);
    int sent = 0;
    if (rc == 0) rc = SendBuffer(s, 0, q.frame, q.frameLength, &sent, nullptr);
    ++f.attempts;
    f.attemptSent = plat::TickCount();
    if (rc != 0) Finish(ctx, t, station, ConnectionFailure(rc), kFailed, true);
}

void Start(DriverContext* ctx, ScanTable& t, int station, int request, int maxAttempts) {
    ScanFlight& f = t.flight[station];
    f.request = request;
    f.maxAttempts = maxAttempts;
    f.attempts = 0;
    f.timedOut = false;
    f.firstSent = plat::TickCount();
    ++t.flying;
    SendAttempt(ctx, t, station, true);
}

// An attempt brought an answer that is not this request's: the next one,
// or the end.
void AttemptFailed(DriverContext* ctx, ScanTable& t, int station, const Outcome& o) {
    ScanFlight& f = t.flight[station];
    if (f.attempts < f.maxAttempts) {
        SendAttempt(ctx, t, station, true);
    } else {
        Finish(ctx, t, station, o, Unreachable(o.failure) ? kFailed : kInvalid, false);
    }
}

Outcome BadAnswer(const char* detail) {
    Outcome o;
    o.failure = Failure::kBadAnswer;
    o.detail = detail;
    return o;
}

// A part has come in whole (its CR at end).
void TakePart(DriverContext* ctx, ScanTable& t, int station, int end) {
    ScanFlight& f = t.flight[station];
    ScanRequest& q = t.request[f.request];
    const char* code = reinterpret_cast<const char*>(q.frame) + kEtlanHeaderSize + 4;
    Outcome o;
    PartView view;
    const Part part = JudgePart(f.rx, end, !f.nextPart, station, code, &view, &o);
    const int surplus = Surplus(f.rx, end, f.received);
    if (part == Part::kBad) return AttemptFailed(ctx, t, station, o);
    const int length = view.dataEnd - view.dataBegin;
    const int want = 4 * q.count;
    if (f.joined + length > want) return AttemptFailed(ctx, t, station, BadAnswer("more data than asked for"));
    std::memcpy(f.data + f.joined, f.rx + view.dataBegin, static_cast<std::size_t>(length));
    f.joined += length;
    if (part == Part::kContinued) {
        if (surplus > 0) return AttemptFailed(ctx, t, station, BadAnswer("bytes behind the end"));
        if (length == 0) return AttemptFailed(ctx, t, station, BadAnswer("a continued part without data"));
        std::uint8_t next[kNextPartFrameSize];
        BuildNextPartFrame(station, StationFieldDecimal(ctx, station), next);
        const SocketHandle s = SocketOf(ctx, station);
        int sent = 0;
        int rc = DrainSocket(s);
        if (rc == 0) rc = SendBuffer(s, 0, next, static_cast<int>(sizeof next), &sent, nullptr);
        f.received = 0;
        f.nextPart = true;
        f.attemptSent = plat::TickCount();
        if (rc != 0) Finish(ctx, t, station, ConnectionFailure(rc), kFailed, true);
        return;
    }
    if (f.joined != want) return AttemptFailed(ctx, t, station, BadAnswer("less data than asked for"));
    for (int w = 0; w < q.count; ++w) q.values[w] = static_cast<std::uint16_t>(HexWordValue(f.data + 4 * w));
    if (surplus > 0 && !f.timedOut) {
        ShowCommand(ctx, q);
        NoteSurplus(ctx, station, surplus);
    }
    Finish(ctx, t, station, Outcome{}, kOk, surplus > 0);
}

// Takes in what the station's connection holds for its flight, without
// waiting; a flight whose attempt ran out of time is sent again or ends.
void Collect(DriverContext* ctx, ScanTable& t, int station) {
    ScanFlight& f = t.flight[station];
    if (f.request < 0) return;
    const SocketHandle s = SocketOf(ctx, station);
    std::uint32_t readable = 0;
    int rc = plat::Readable(s, &readable);
    int error = 0;
    if (rc == 0 && readable == 0 && plat::WaitReadable(s, 0, &error) != 0) readable = 1;  // ended?
    if (rc == 0 && readable > 0 && FindAnswerEnd(f.rx, f.received) < 0) {
        int count = kRxSize - f.received;
        if (count > 0) {
            rc = ReceiveBuffer(s, 0, f.rx + f.received, count, &count, nullptr);
            if (rc == 0) f.received += count;
            if (plat::WouldBlock(rc)) rc = 0;
        }
    }
    if (rc != 0) return Finish(ctx, t, station, ConnectionFailure(rc), kFailed, true);
    const int end = FindAnswerEnd(f.rx, f.received);
    if (end >= 0) return TakePart(ctx, t, station, end);
    if (f.received == kRxSize) return AttemptFailed(ctx, t, station, BadAnswer("no end of text"));
    if (plat::TickCount() - f.attemptSent < StationTimeoutMs(ctx, station)) return;
    f.timedOut = true;
    if (f.attempts < f.maxAttempts) {
        // Only a first part still arriving is carried on.
        SendAttempt(ctx, t, station, f.nextPart);
        return;
    }
    Outcome o;
    o.failure = Failure::kTimeout;
    o.timeoutMs = StationTimeoutMs(ctx, station);
    Finish(ctx, t, station, o, kFailed, true);
}

void CollectAll(DriverContext* ctx, ScanTable& t) {
    if (t.flying == 0) return;
    for (int s = 1; s <= kMaxStation; ++s) Collect(ctx, t, s);
}

// Sends, on every other scanning station that is free, connected and not
// resting, its request most in need of a refresh.
void Kick(DriverContext* ctx, ScanTable& t, int except) {
    const std::uint32_t now = plat::TickCount();
    for (int s = 1; s <= kMaxStation; ++s) {
        if (s == except || t.scanMs[s] == 0 || t.flight[s].request >= 0 || !Connected(ctx, s)) continue;
        int pick = -1;
        for (int i = 0; i < kScanMaxRequests; ++i) {
            const ScanRequest& q = t.request[i];
            if (q.state == kSlotFree || q.station != s || !Due(t, q, now)) continue;
            if (pick < 0 || q.state != kValues || q.stamp - t.request[pick].stamp > 0x80000000u) pick = i;
            if (q.state != kValues) break;
        }
        bool probe = false;
        if (pick < 0 || !MaySend(ctx, s, &probe, false)) continue;
        Start(ctx, t, s, pick, probe ? 1 : MAX_ATTEMPTS);
    }
}

// Waits for the station's flight to end, at most until deadline.
void WaitFlight(DriverContext* ctx, ScanTable& t, int station, std::uint32_t deadline) {
    ScanFlight& f = t.flight[station];
    for (;;) {
        Collect(ctx, t, station);
        if (f.request < 0) return;
        const std::uint32_t now = plat::TickCount();
        const std::uint32_t attemptEnd = f.attemptSent + StationTimeoutMs(ctx, station);
        std::uint32_t until = static_cast<std::int32_t>(attemptEnd - deadline) < 0 ? attemptEnd : deadline;
        if (static_cast<std::int32_t>(until - now) <= 0) {
            if (static_cast<std::int32_t>(deadline - now) <= 0) return;
            until = now + 1;
        }
        WaitForBytes(SocketOf(ctx, station), until - now, 1);
    }
}

// Gives a flight up: its request keeps the values it had, and the
// connection, which may still bring its answer, is closed.
void GiveUp(DriverContext* ctx, ScanTable& t, int station) {
    ScanFlight& f = t.flight[station];
    if (f.request < 0) return;
    f.request = -1;
    --t.flying;
    ReleaseSocket(&ctx->stations[station].socket);
}

void Fill(DriverContext* ctx, const ScanRequest& q, long long first, int words) {
    char* field = reinterpret_cast<char*>(ctx->receiveFrame) + kDataOffset;
    for (int w = 0; w < words; ++w) {
        char hex[5];
        WordToHex(q.values[first - q.first + w], hex);
        std::memcpy(field + 4 * w, hex, 4);
    }
}

// A new connection for the station, within the time given.
int Connect(DriverContext* ctx, int station, std::uint32_t waitMs, Outcome* o) {
    StationEntry& entry = ctx->stations[station];
    if (!StationAddressUsable(entry)) {
        o->failure = Failure::kNoConnection;
        return kFailed;
    }
    SockAddrIn local{};
    local.family = plat::kAfInet;
    o->rc = ConnectSocket(&entry.socket, plat::kAfInet, plat::kSockStream, 0, 1, &local,
                          waitMs < kConnectTimeoutMs ? waitMs : kConnectTimeoutMs, &entry.address,
                          &o->cause);
    if (o->rc == 0) return kOk;
    o->failure = Failure::kReconnect;
    o->timeoutMs = waitMs < kConnectTimeoutMs ? waitMs : kConnectTimeoutMs;
    return kFailed;
}

}  // namespace

bool CreateScanTable(DriverContext* ctx) {
    ctx->scan = nullptr;
    bool any = false;
    for (int s = 1; s <= kMaxStation; ++s) any = any || StationScanMs(ctx, s) > 0;
    if (!any) return true;
    ScanTable* t = new (std::nothrow) ScanTable();
    if (t == nullptr) {
        err(kLogLevel, "ZavUR: ColdStart() no memory for the scan of %d bytes; every read is an "
                       "exchange of its own",
            static_cast<int>(sizeof(ScanTable)));
        return false;
    }
    for (int s = 0; s <= kMaxStation; ++s) {
        t->scanMs[s] = s == 0 ? 0 : StationScanMs(ctx, s);
        t->flight[s].request = -1;
    }
    ctx->scan = t;
    RecordScanTable(ctx, t);
    return true;
}

void FreeScanTable(DriverContext* ctx) {
    delete ctx->scan;
    ctx->scan = nullptr;
}

void SettleScan(DriverContext* ctx, int station) {
    ScanTable* t = StartedScanTable(ctx);
    if (t == nullptr || t->flight[station].request < 0) return;
    const ScanFlight& f = t->flight[station];
    WaitFlight(ctx, *t, station, f.attemptSent + StationTimeoutMs(ctx, station));
    GiveUp(ctx, *t, station);
}

bool ScanRead(VpiRequest* request, int key, long long first, int words, int* result) {
    DriverContext* ctx = ContextOf(request);
    const int station = ParamsOf<TagIoBlock>(request)->plcNumber;
    ScanTable* table = StartedScanTable(ctx);
    if (table == nullptr || table->scanMs[station] == 0) return false;
    ScanTable& t = *table;
    const int index = FindRequest(t, station, key, first, words);
    if (index < 0) return false;
    CollectAll(ctx, t);
    ScanRequest& q = t.request[index];
    if (Fresh(t, q, plat::TickCount())) {
        Fill(ctx, q, first, words);
        *result = kOk;
        return true;
    }

    // A refresh: a resting station fails at once, as its exchanges do.
    bool probe = false;
    if (!MaySend(ctx, station, &probe)) {
        *result = kFailed;
        return true;
    }
    const std::uint32_t timeout = StationTimeoutMs(ctx, station);
    const std::uint32_t begun = plat::TickCount();
    const std::uint32_t deadline = begun + (probe ? timeout : MAX_ATTEMPTS * 2 * timeout);
    ScanFlight& f = t.flight[station];
    if (f.request >= 0 && f.request != index) {
        // The connection is busy with another of the station's requests:
        // it may finish within its attempt, or it is given up.
        WaitFlight(ctx, t, station, f.attemptSent + timeout);
        GiveUp(ctx, t, station);
    }
    if (f.request < 0 && !Connected(ctx, station)) {
        Outcome o;
        const std::int32_t left = static_cast<std::int32_t>(deadline - plat::TickCount());
        if (left <= 0 || Connect(ctx, station, static_cast<std::uint32_t>(left), &o) != kOk) {
            if (left <= 0) o.failure = Failure::kTimeout;
            q.state = kRefreshFailed;
            ShowCommand(ctx, q);
            RecordOutcome(ctx, station, o);
            *result = kFailed;
            return true;
        }
    }
    if (f.request < 0) Start(ctx, t, station, index, probe ? 1 : MAX_ATTEMPTS);
    Kick(ctx, t, station);
    WaitFlight(ctx, t, station, deadline);
    if (f.request == index) {
        // Out of time: the bound of the call holds; the request ends here.
        Outcome o;
        o.failure = Failure::kTimeout;
        o.timeoutMs = timeout;
        Finish(ctx, t, station, o, kFailed, true);
    }
    if (q.state == kValues) {
        Fill(ctx, q, first, words);
        *result = kOk;
    } else {
        *result = f.result == kOk ? kFailed : f.result;
    }
    return true;
}

void ScanLearn(DriverContext* ctx, int station, int key, long long first, int words) {
    ScanTable* table = StartedScanTable(ctx);
    if (table == nullptr || table->scanMs[station] == 0 || !Scannable(key)) return;
    ScanTable& t = *table;
    if (first < 0 || words < 1 || words > MaxWords(key) || t.flight[station].request >= 0) return;
    for (int i = 0; i < t.ranges; ++i) {
        const ScanRange& r = t.range[i];
        if (r.station == station && r.key == key && first >= r.first &&
            first + words <= static_cast<long long>(r.first) + r.words) {
            return;
        }
    }
    if (t.ranges == kScanMaxRanges) return;
    t.range[t.ranges++] = ScanRange{static_cast<std::uint8_t>(station), static_cast<char>(key),
                                    static_cast<std::uint16_t>(words), static_cast<std::uint32_t>(first)};
    Plan(ctx, t, station);
}

void ScanWritten(DriverContext* ctx, int station, int key, long long first, int words) {
    ScanTable* table = StartedScanTable(ctx);
    if (table == nullptr) return;
    for (ScanRequest& q : table->request) {
        if (q.state == kValues && q.station == station && q.key == key &&
            first < static_cast<long long>(q.first) + q.count && first + words > q.first) {
            q.state = kValuesStale;
        }
    }
}

void ScanDropFlight(DriverContext* ctx, int station) {
    ScanTable* table = StartedScanTable(ctx);
    if (table == nullptr) return;
    ScanFlight& f = table->flight[station];
    if (f.request < 0) return;
    f.request = -1;
    --table->flying;
}

}  // namespace etl
