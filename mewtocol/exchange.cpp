// One command travels to its station behind the 12-byte ET-LAN header; up
// to three attempts, each judged by the answer it brings back.
#include "mewtocol/exchange.h"

#include <cstring>

#include "mewtocol/command_builder.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_table.h"

namespace etl {
namespace {

constexpr int kAnswerTextOffset = static_cast<int>(kEtlanHeaderSize);
constexpr int kDataOffset = kAnswerTextOffset + 6;  // "%", station, "$", code
constexpr char kCr = '\r';

bool IsUpperHex(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Index of the answer's carriage return, or -1 while it has not arrived.
int FindAnswerEnd(const std::uint8_t* frame, int received) {
    for (int i = kAnswerTextOffset; i < received; ++i) {
        if (frame[i] == kCr) return i;
    }
    return -1;
}

// Reads on until the answer is complete (its carriage return, or the whole
// expected size) or the attempt's time is up. 0 when complete.
int CompleteAnswer(SocketHandle s, DriverContext* ctx, int* received, std::uint32_t started) {
    const int expected = ctx->receiveLength;
    while (*received < expected && FindAnswerEnd(ctx->receiveFrame, *received) < 0) {
        const std::uint32_t elapsed = plat::TickCount() - started;
        if (elapsed >= EXCHANGE_TIMEOUT_MS) return kTimeoutCode;
        const int rc = WaitForBytes(s, EXCHANGE_TIMEOUT_MS - elapsed, 1);
        if (rc != 0) return rc;
        int count = expected - *received;
        const int rrc = ReceiveBuffer(s, 0, ctx->receiveFrame + *received, count, &count, nullptr);
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

// An attempt that ran out of time may still get its answer later, and on
// the same connection that answer would pass for the answer of the next
// request: the protocol carries no sequence number, so a late answer of a
// read of D100 looks exactly like the answer of a read of D200, and one
// write's answer like any other's. Such a connection is replaced at once,
// within what is left of the attempt's time (a writability wait and an
// answer wait); when nothing is left, it is only closed, and the station
// needs a WarmStart like any station whose connection was lost.
void ReplaceLateConnection(DriverContext* ctx, int station, std::uint32_t started) {
    StationEntry& entry = ctx->stations[station];
    if (ConnectionEnded(entry.socket)) return;
    const std::uint32_t budget = 2 * EXCHANGE_TIMEOUT_MS;
    const std::uint32_t spent = plat::TickCount() - started;
    if (spent >= budget) {
        ReleaseSocket(&entry.socket);
        return;
    }
    SockAddrIn local{};
    local.family = plat::kAfInet;  // any address, any port
    ConnectSocket(&entry.socket, plat::kAfInet, plat::kSockStream, 0, 1, &local, budget - spent,
                  &entry.address);
}

// A positive answer for this request: the right station, "$", a block
// check code that matches (or "**"), and for a read exactly the words
// asked for, in hexadecimal. Anything else is judged negative.
bool IsPositiveAnswer(VpiRequest* request, int received, int kind, int words) {
    const std::uint8_t* f = ContextOf(request)->receiveFrame;
    const int plcNumber = ParamsOf<TagIoBlock>(request)->plcNumber;
    const int end = FindAnswerEnd(f, received);
    if (end < 0 || CheckResponse(request) != 0) return false;
    const int hi = HexValue(f[kAnswerTextOffset + 1]);
    const int lo = HexValue(f[kAnswerTextOffset + 2]);
    if (hi < 0 || lo < 0 || hi * 16 + lo != (plcNumber & 0xFF)) return false;

    const int dataWords = kind == kCommandRead ? words : 0;
    if (end != kDataOffset + 4 * dataWords + 2) return false;
    for (int i = 0; i < 4 * dataWords; ++i) {
        if (!IsUpperHex(f[kDataOffset + i])) return false;
    }
    const std::uint8_t b1 = f[end - 2];
    const std::uint8_t b2 = f[end - 1];
    if (b1 == '*' && b2 == '*') return true;
    const int h = HexValue(b1);
    const int l = HexValue(b2);
    if (h < 0 || l < 0) return false;
    std::uint8_t bcc = 0;
    for (int i = kAnswerTextOffset; i < end - 2; ++i) bcc ^= f[i];
    return bcc == static_cast<std::uint8_t>(h * 16 + l);
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

    int result = kFailed;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        const SocketHandle s = ctx->stations[tag->plcNumber].socket;
        const std::uint32_t started = plat::TickCount();
        int received = 0;
        int rc = SendReceive(s, EXCHANGE_TIMEOUT_MS, ctx->sendHeader, ctx->sendLength,
                             ctx->receiveFrame, ctx->receiveLength, nullptr, nullptr, &received);
        if (rc == 0) rc = CompleteAnswer(s, ctx, &received, started);
        if (rc != 0) {
            if (rc == kTimeoutCode) ReplaceLateConnection(ctx, tag->plcNumber, started);
            result = kFailed;
            continue;
        }
        if (IsPositiveAnswer(request, received, kind, words)) return kOk;
        result = kInvalid;
    }
    return result;
}

}  // namespace

int BuildFrameHeader(VpiRequest* request, const char* text) {
    auto* ctx = ContextOf(request);
    const auto* tag = ParamsOf<TagIoBlock>(request);
    const std::size_t length = std::strlen(text);
    std::uint8_t* h = ctx->sendHeader;
    std::memset(h, 0, kEtlanHeaderSize);
    h[0] = 0x10;
    h[2] = static_cast<std::uint8_t>(length & 0xFF);
    h[3] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    h[10] = static_cast<std::uint8_t>(tag->plcNumber & 0xFF);
    h[11] = static_cast<std::uint8_t>(PcStationNumber() & 0xFF);
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
