// Non-blocking TCP sockets with bounded waits, on the platform's socket
// interface. Nothing here logs or keeps state: a socket lives in the
// caller's holder, and every result is 0, a platform error number, 257 for
// a wait that ran out, or -1 for a peer that closed.
#include "net/socket_layer.h"

#include <cstdio>

#include "platform/socket_platform.h"

namespace etl {
namespace {

// The drain stops after this many chunks even if the peer keeps sending, so
// that a station flooding its connection cannot hold the caller forever;
// what is left is discarded by the next drain.
constexpr int kDrainChunkLimit = 256;

}  // namespace

void ConnectFailureText(int result, int cause, std::uint32_t timeoutMs, char* text,
                        std::size_t size) {
    if (size == 0) return;
    text[0] = '\0';
    if (result != kTimeoutCode) return;
    if (cause == kTimeoutCode || cause == 0) {
        std::snprintf(text, size, " (no connection within %u ms)", static_cast<unsigned>(timeoutMs));
    } else if (cause == kSelfConnected) {
        std::snprintf(text, size, " (connected to itself: nothing listens on the port)");
    } else if (plat::KindOf(cause) == plat::ErrorKind::kRefused) {
        std::snprintf(text, size, " (connection refused)");
    } else {
        std::snprintf(text, size, " (connection failed, error %d)", cause);
    }
}

bool ConnectedToItself(const SockAddrIn& local, const SockAddrIn& remote) {
    return local.address == remote.address && local.port == remote.port;
}

int ConnectSocket(SocketHandle* holder, int family, int type, int protocol, int nonBlocking,
                  SockAddrIn* local, std::uint32_t timeoutMs, const SockAddrIn* remote,
                  int* cause) {
    int ignored = 0;
    if (cause == nullptr) cause = &ignored;
    *cause = 0;
    if (local == nullptr || remote == nullptr) {
        ReleaseSocket(holder);
        return *cause = plat::ErrorInvalid();
    }
    int rc = OpenSocket(holder, family, type, protocol, nonBlocking, local);
    if (rc != 0) return *cause = rc;
    if (type == plat::kSockStream) {
        rc = ConnectTimed(*holder, timeoutMs, remote, cause);
        if (rc != 0) {
            ReleaseSocket(holder);
            return rc;
        }
    }
    rc = GetLocalAddr(*holder, local);
    if (rc != 0) {
        ReleaseSocket(holder);
        return *cause = rc;
    }
    if (type == plat::kSockStream && ConnectedToItself(*local, *remote)) {
        ReleaseSocket(holder);
        *cause = kSelfConnected;
        return kTimeoutCode;
    }
    return 0;
}

static_assert(kMaxConnectRequests <= plat::kMaxWaitSockets, "one wait for all requests");

void ConnectSockets(ConnectRequest* requests, int count, std::uint32_t timeoutMs) {
    if (count > kMaxConnectRequests) count = kMaxConnectRequests;
    SocketHandle waiting[kMaxConnectRequests];
    ConnectRequest* owner[kMaxConnectRequests];
    bool settled[kMaxConnectRequests] = {};
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        ConnectRequest& r = requests[i];
        r.cause = 0;
        r.result = OpenSocket(r.holder, plat::kAfInet, plat::kSockStream, 0, 1, &r.local);
        if (r.result != 0) continue;
        r.result = plat::Connect(*r.holder, *r.remote);
        if (plat::InProgress(r.result)) {
            waiting[pending] = *r.holder;
            owner[pending++] = &r;
            continue;
        }
        if (r.result == 0) r.result = GetLocalAddr(*r.holder, &r.local);
        if (r.result == 0 && ConnectedToItself(r.local, *r.remote)) {
            r.result = kTimeoutCode;
            r.cause = kSelfConnected;
        }
        if (r.result != 0) {
            if (r.cause == 0) r.cause = r.result;
            ReleaseSocket(r.holder);
        }
    }

    const std::uint32_t start = plat::TickCount();
    int open = pending;
    int failure = 0;
    while (open > 0) {
        const std::uint32_t elapsed = plat::TickCount() - start;
        if (elapsed >= timeoutMs) break;
        int error = 0;
        const int n = plat::WaitConnects(waiting, pending, settled, timeoutMs - elapsed, &error);
        if (n < 0) {
            failure = error;
            break;
        }
        open -= n;
    }
    for (int k = 0; k < pending; ++k) {
        ConnectRequest& r = *owner[k];
        if (failure != 0 && !settled[k]) {
            r.result = r.cause = failure;
        } else if (!settled[k]) {
            r.result = r.cause = kTimeoutCode;  // still under way at the time-out
        } else if (const int outcome = plat::ConnectOutcome(waiting[k]); outcome != 0) {
            r.result = kTimeoutCode;  // ended without a connection
            r.cause = outcome;
        } else {
            r.result = r.cause = GetLocalAddr(waiting[k], &r.local);
            if (r.result == 0 && ConnectedToItself(r.local, *r.remote)) {
                r.result = kTimeoutCode;
                r.cause = kSelfConnected;
            }
        }
        if (r.result != 0) ReleaseSocket(r.holder);
    }
}

int OpenSocket(SocketHandle* holder, int family, int type, int protocol, int nonBlocking,
               const SockAddrIn* local) {
    ReleaseSocket(holder);
    SocketHandle s = kNoSocket;
    int rc = plat::OpenSocket(family, type, protocol, &s);
    if (rc != 0) {
        *holder = kNoSocket;
        return rc;
    }
    *holder = s;
    rc = plat::SetNonBlocking(s, nonBlocking != 0);
    if (rc == 0 && local != nullptr) rc = plat::Bind(s, *local);
    if (rc != 0) {
        ReleaseSocket(holder);
        return rc;
    }
    return 0;
}

int ReleaseSocket(SocketHandle* holder) {
    if (*holder != kNoSocket) {
        plat::Close(*holder);  // a holder of 0 holds no socket: nothing is closed
        *holder = kNoSocket;
    }
    return 0;
}

int GetLocalAddr(SocketHandle s, SockAddrIn* out) { return plat::LocalAddress(s, out); }

int ConnectTimed(SocketHandle s, std::uint32_t timeoutMs, const SockAddrIn* remote, int* cause) {
    int ignored = 0;
    if (cause == nullptr) cause = &ignored;
    *cause = 0;
    const int rc = plat::Connect(s, *remote);
    if (rc == 0) return 0;
    if (!plat::InProgress(rc)) return *cause = rc;
    const int wait = WaitWritable(s, timeoutMs);
    if (wait != 0) return *cause = wait;
    // The wait also ends when the attempt failed (refused, unreachable):
    // only an established connection counts.
    *cause = plat::ConnectOutcome(s);
    return *cause == 0 ? 0 : kTimeoutCode;
}

int WaitWritable(SocketHandle s, std::uint32_t timeoutMs) {
    int error = 0;
    const int n = plat::WaitWritable(s, timeoutMs, &error);
    if (n < 0) return error;
    return n == 0 ? kTimeoutCode : 0;
}

int SendBuffer(SocketHandle s, std::uint32_t timeoutMs, const void* data, int length,
               int* sent, const SockAddrIn* to) {
    // A connected socket with room takes the bytes at once; only when it
    // has none is there anything to wait for.
    int done = 0;
    int rc = plat::Send(s, data, length, to, &done);
    if (rc != 0 && timeoutMs > 0 && plat::WouldBlock(rc)) {
        rc = WaitWritable(s, timeoutMs);
        if (rc != 0) return rc;
        rc = plat::Send(s, data, length, to, &done);
    }
    if (rc != 0) return rc;
    *sent = done;
    return 0;
}

int WaitForBytes(SocketHandle s, std::uint32_t timeoutMs, int minimum) {
    // Sleeps in the system until the bytes are there (a minimum of 0 is
    // there at once); a stream that has ended can bring no more, so its wait
    // ends at once with the same outcome as at the time-out.
    std::uint32_t count = 0;
    int error = 0;
    if (plat::WaitReadableBytes(s, minimum > 0 ? static_cast<std::uint32_t>(minimum) : 0u,
                                timeoutMs, &count, &error) < 0) {
        return error;
    }
    // One to minimum-1 bytes at the time-out still count: the caller reads them.
    return count > 0 ? 0 : kTimeoutCode;
}

int ReceiveBuffer(SocketHandle s, std::uint32_t timeoutMs, void* buffer, int size, int* count,
                  SockAddrIn* from) {
    if (size <= 0) return plat::ErrorInvalid();
    // With a time-out, wait for the answer's first bytes (at most as many
    // as the caller expects); bytes already there end the wait at once.
    if (timeoutMs > 0 && *count > 0) {
        const int rc = WaitForBytes(s, timeoutMs, *count < kMinAnswerBytes ? *count : kMinAnswerBytes);
        if (rc != 0) return rc;
    }
    int done = 0;
    const int rc = plat::Receive(s, buffer, size, from, &done);
    if (rc != 0) return rc;
    if (done == 0) return kPeerClosed;
    *count = done;
    return 0;
}

int DrainSocket(SocketHandle s) {
    char scratch[kDrainChunk];
    std::uint32_t readable = 0;
    int rc = plat::Readable(s, &readable);
    if (rc != 0) return rc;
    for (int chunks = 0; readable > 0 && chunks < kDrainChunkLimit; ++chunks) {
        int done = 0;
        rc = plat::Receive(s, scratch, kDrainChunk, nullptr, &done);
        if (rc != 0) return rc;
        if (done == 0) break;
        rc = plat::Readable(s, &readable);
        if (rc != 0) return rc;
    }
    return 0;
}

int SendReceive(SocketHandle s, std::uint32_t timeoutMs, const void* data, int length,
                void* receive, int receiveSize, const SockAddrIn* to, SockAddrIn* from,
                int* received) {
    if (received != nullptr) *received = 0;
    int rc = DrainSocket(s);
    if (rc != 0) return rc;
    int sent = 0;
    rc = SendBuffer(s, timeoutMs, data, length, &sent, to);
    if (rc != 0) return rc;
    int count = timeoutMs > 0 ? receiveSize : 0;
    rc = ReceiveBuffer(s, timeoutMs, receive, receiveSize, &count, from);
    if (rc == 0 && received != nullptr) *received = count;
    return rc;
}

}  // namespace etl
