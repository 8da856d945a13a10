// Instance lifecycle: ColdStart, WarmStart, UpdateConfig, EndVpi, and the
// module-wide InstanceCounter.
//
// Every ColdStart that gets past its enable test takes one start of the
// socket library for its context, and EndVpi gives back exactly that one:
// an instance that never started the library (enable 0, a failed start, a
// second EndVpi) cleans nothing up, so it cannot end the library, and with
// it the connections, of the other instances.
//
// Which contexts hold a start is kept here, in a fixed table of context
// addresses, each with a mark that is also written into the context. The
// host's context is uninitialised memory until its first ColdStart, so its
// own fields prove nothing: only a context found in the table with its mark
// in place has a station table that this driver filled, and only then are
// the handles in it closed (by a repeated ColdStart, and by EndVpi).
#include <atomic>
#include <cstring>
#include <mutex>

#include "host/operations.h"
#include "host/qanpro.h"
#include "mewtocol/scan.h"
#include "mewtocol/station_health.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {
namespace {

std::atomic<std::int32_t> InstanceCounter{0};

constexpr std::uint16_t kSocketsVersion = 0x0101;  // Winsock 1.1
constexpr int kMaxStartedContexts = 256;
constexpr std::uint32_t kMarkBase = 0x45544C00u;

struct StartedContext {
    const DriverContext* context;
    std::uint32_t mark;
    ScanTable* scan;
};

std::mutex g_startedLock;
StartedContext g_started[kMaxStartedContexts];
std::uint32_t g_markSequence = 0;

// The slot of a context that holds a start, or -1. The context's own mark
// is read only once its address is found, never from memory the driver
// has not written. Caller holds g_startedLock.
int FindStarted(const DriverContext* ctx) {
    for (int i = 0; i < kMaxStartedContexts; ++i) {
        if (g_started[i].context == ctx) {
            return ctx->ownerMark == g_started[i].mark ? i : -1;
        }
    }
    return -1;
}

// Records that ctx holds a start; false when the table is full.
bool RecordStart(DriverContext* ctx) {
    int stale = 0;
    bool recorded = false;
    {
        std::lock_guard<std::mutex> hold(g_startedLock);
        // A record of this address whose mark is gone belongs to a context
        // that the host dropped without EndVpi and whose memory it now
        // uses again: that start is given back below, its sockets are lost.
        for (int i = 0; i < kMaxStartedContexts; ++i) {
            if (g_started[i].context == ctx) {
                g_started[i].context = nullptr;
                ++stale;
            }
        }
        for (int i = 0; i < kMaxStartedContexts && !recorded; ++i) {
            if (g_started[i].context == nullptr) {
                std::uint32_t mark = 0;
                while (mark == 0) mark = kMarkBase ^ (++g_markSequence * 0x9E3779B9u);
                g_started[i] = {ctx, mark, nullptr};
                ctx->ownerMark = mark;
                ctx->socketsStarted = 1;
                recorded = true;
            }
        }
    }
    for (; stale > 0; --stale) plat::SocketsCleanup();
    return recorded;
}

// Gives back the start that ctx holds, if it holds one: its connections are
// closed first, then the socket library is cleaned up once.
void GiveBackStart(DriverContext* ctx) {
    {
        std::lock_guard<std::mutex> hold(g_startedLock);
        const int slot = FindStarted(ctx);
        if (slot < 0) return;
        g_started[slot].context = nullptr;
        g_started[slot].scan = nullptr;
        ctx->ownerMark = 0;
        ctx->socketsStarted = 0;
    }
    FreeScanTable(ctx);
    ReleaseStations(ctx);
    plat::SocketsCleanup();
}

// A name field of 12 bytes: copied up to and including its NUL.
void CopyName(char* to, const char* from) {
    for (std::size_t i = 0; i < sizeof(StartBlock::name); ++i) {
        to[i] = from[i];
        if (from[i] == '\0') break;
    }
}

}  // namespace

bool HoldsStart(const DriverContext* ctx) {
    std::lock_guard<std::mutex> hold(g_startedLock);
    return FindStarted(ctx) >= 0;
}

ScanTable* StartedScanTable(const DriverContext* ctx) {
    if (ctx->scan == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(g_startedLock);
    const int slot = FindStarted(ctx);
    return slot >= 0 && g_started[slot].scan == ctx->scan ? ctx->scan : nullptr;
}

void RecordScanTable(const DriverContext* ctx, ScanTable* table) {
    std::lock_guard<std::mutex> hold(g_startedLock);
    const int slot = FindStarted(ctx);
    if (slot >= 0) g_started[slot].scan = table;
}

std::int32_t ColdStart(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    StartBlock* start = ParamsOf<StartBlock>(request);

    ctx->instanceNumber = InstanceCounter.fetch_add(1) + 1;
    err(kLogLevel, "Vpi%s%02d: ColdStart() entered", kVendorText,
        static_cast<int>(ctx->instanceNumber));
    ctx->enable = start->enable;
    if (start->enable == 0) return kOk;

    // A repeated start closes what the earlier one opened before the table
    // is read anew, and gives back its start of the library.
    GiveBackStart(ctx);

    int rc = plat::SocketsStart(kSocketsVersion);
    if (rc == 0 && !RecordStart(ctx)) {
        plat::SocketsCleanup();
        rc = plat::ErrorTooManyUsers();
    }
    if (rc != 0) {
        err(kLogLevel, "ME: WSAStartup() error %d", rc);
        return kFailed;
    }

    ctx->scan = nullptr;
    ClearStationHealth(ctx);
    if (InitFile(request) != 0) return kFailed;
    CreateScanTable(ctx);
    InitConnections(request);

    CopyName(ctx->name, start->name);
    start->replyWord1 = 1;
    start->replyWord2 = 0;
    ctx->hostValue = start->hostValue;
    ctx->driverNumberByte = static_cast<std::uint8_t>(request->driverNumber & 0xFF);
    err(kLogLevel, "VPI%s%02d : ColdStart() end OK", kVendorText,
        static_cast<int>(ctx->instanceNumber));
    return kOk;
}

std::int32_t WarmStart(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    const std::int32_t n = ParamsOf<WarmStartBlock>(request)->stationNumber;

    int rc;
    int cause = 0;
    if (n < 0 || n > kMaxStation) {
        rc = plat::ErrorInvalid();  // no such entry: nothing is touched
    } else if (!HoldsStart(ctx)) {
        rc = plat::ErrorNotStarted();  // the table was never filled by a start
    } else {
        // The host's reconnect always reaches the wire: a rest ends here.
        EndRest(ctx, static_cast<int>(n));
        ScanDropFlight(ctx, static_cast<int>(n));
        rc = ConnectStation(static_cast<int>(n), &ctx->stations[n], &cause);
    }
    if (rc != 0) {
        char why[64];
        ConnectFailureText(rc, cause, kConnectTimeoutMs, why, sizeof why);
        err(kLogLevel, "ZavUR: WarmStart() Fail station %d ConnectSocket() rc = %d%s",
            static_cast<int>(n), rc, why);
        return kFailed;
    }
    err(kLogLevel, "ZavUR: WarmStart() Pass station %d ConnectSocket() rc = %d",
        static_cast<int>(n), 0);
    return kOk;
}

std::int32_t UpdateConfig(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    const StartBlock* start = ParamsOf<StartBlock>(request);
    if (start->enable != 0) ctx->hostValue = static_cast<std::uint32_t>(start->enable);
    if (std::strncmp(start->name, ctx->name, sizeof(StartBlock::name)) != 0) {
        CopyName(ctx->name, start->name);
        ctx->renameValue = start->hostValue;
    }
    return kOk;
}

std::int32_t EndVpi(VpiRequest* request) {
    DriverContext* ctx = ContextOf(request);
    GiveBackStart(ctx);
    err(kLogLevel, "VPI%s %02d : EndVpi()", kVendorText, static_cast<int>(ctx->instanceNumber));
    const std::int32_t left = InstanceCounter.fetch_sub(1) - 1;
    err(kLogLevel, "VPI%s %02d : No. of Instances left: %d", kVendorText,
        static_cast<int>(ctx->instanceNumber), static_cast<int>(left));
    ctx->instanceNumber = -1;
    return kOk;
}

}  // namespace etl
