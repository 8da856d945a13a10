// Non-blocking TCP sockets with bounded waits, and the request/response
// transaction of one exchange. Results: 0, a platform error number,
// kTimeoutCode when a wait ran out, kPeerClosed when the peer closed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"

namespace etl {

constexpr int kTimeoutCode = 257;
constexpr int kPeerClosed = -1;
constexpr int kMinAnswerBytes = 5;
constexpr int kDrainChunk = 512;

// Why a connection was not made, where the result alone (257 for every
// attempt that did not connect in time) does not tell: the platform's error
// number of an attempt that ended (refused, unreachable), kTimeoutCode for
// one still under way at its time-out, or kSelfConnected for a connection
// that reached its own socket. A connection from a port to the same address
// and port is no connection to a station: with nothing listening on a port
// of the system's ephemeral range, the system may give that very port to
// the connecting socket, which then reads its own request as the answer and
// keeps the port from the station. It is closed and counts as refused.
constexpr int kSelfConnected = -2;

// For a log line that reports result 257: " (connection refused)",
// " (no connection within 1000 ms)", " (connected to itself: ...)"; for any
// other result, whose error number speaks for itself, "". size >= 64.
void ConnectFailureText(int result, int cause, std::uint32_t timeoutMs, char* text,
                        std::size_t size);

// cause (optional) receives why a connection was not made (0 on success).
int ConnectSocket(SocketHandle* holder, int family, int type, int protocol, int nonBlocking,
                  SockAddrIn* local, std::uint32_t timeoutMs, const SockAddrIn* remote,
                  int* cause = nullptr);
int OpenSocket(SocketHandle* holder, int family, int type, int protocol, int nonBlocking,
               const SockAddrIn* local);
int ReleaseSocket(SocketHandle* holder);

// Several non-blocking TCP connections made at once: every attempt starts,
// then all are waited for together within one time-out. Each entry's result
// is what ConnectSocket would give for it (0 and its local address in
// `local`, an error number, or 257); the holder keeps only an established
// connection. A refused attempt ends without waiting for the others.
struct ConnectRequest {
    SocketHandle* holder;
    const SockAddrIn* remote;
    SockAddrIn local;  // any address and port on entry; the one bound on success
    int result;
    int cause;  // why the connection was not made, as ConnectSocket's cause
};
constexpr int kMaxConnectRequests = 64;
void ConnectSockets(ConnectRequest* requests, int count, std::uint32_t timeoutMs);
int GetLocalAddr(SocketHandle s, SockAddrIn* out);
int ConnectTimed(SocketHandle s, std::uint32_t timeoutMs, const SockAddrIn* remote,
                 int* cause = nullptr);
// Whether a connected socket's local address is its remote address.
bool ConnectedToItself(const SockAddrIn& local, const SockAddrIn& remote);
int WaitWritable(SocketHandle s, std::uint32_t timeoutMs);
int SendBuffer(SocketHandle s, std::uint32_t timeoutMs, const void* data, int length,
               int* sent, const SockAddrIn* to);
int WaitForBytes(SocketHandle s, std::uint32_t timeoutMs, int minimum);
int ReceiveBuffer(SocketHandle s, std::uint32_t timeoutMs, void* buffer, int size, int* count,
                  SockAddrIn* from);
int DrainSocket(SocketHandle s);
// received (optional) reports how many bytes the one read took, so that the
// caller can tell a complete answer from one still arriving.
int SendReceive(SocketHandle s, std::uint32_t timeoutMs, const void* data, int length,
                void* receive, int receiveSize, const SockAddrIn* to, SockAddrIn* from,
                int* received = nullptr);

}  // namespace etl
