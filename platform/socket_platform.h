// The operating system's socket interface as the driver uses it. One
// implementation per platform (platform/win32, platform/posix); the build
// links exactly one. Protocol code sees only these calls.
//
// Error numbers are the platform's own (Winsock numbers on Windows, errno
// on POSIX); they never collide with the socket layer's 257 and -1.
//
// Both implementations behave as Winsock does for the driver:
//  - a handle of 0 or below never names a socket: every call on it fails
//    with ErrorNotSocket() and Close() leaves it alone (on POSIX descriptor
//    0 is standard input, and only descriptors opened through OpenSocket are
//    ever read, written or closed);
//  - Connect, Bind and Send refuse an address whose family is not AF_INET,
//    and Connect refuses 0.0.0.0 and 255.255.255.255 as destinations;
//  - a send on a connection that the peer has closed fails with an error and
//    never raises a signal in the process;
//  - sockets can only be opened while the socket library is started, and
//    the last SocketsCleanup closes every socket opened through OpenSocket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"

namespace etl::plat {

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;

// Socket library start (version 0x0101) and clean-up, counted as Winsock
// counts them: 0 or the error number. When the last user cleans up, every
// socket opened through this interface is closed.
int SocketsStart(std::uint16_t version);
int SocketsCleanup();

// Error numbers that the driver reports for conditions it detects itself.
int ErrorNotSocket();     // a handle that holds no socket
int ErrorInvalid();       // an argument that cannot be used
int ErrorNotStarted();    // the socket library is not started
int ErrorTooManyUsers();  // no room left to keep track of another user

// Each call returns 0 or the platform error number of the failure.
int OpenSocket(int family, int type, int protocol, SocketHandle* out);
int SetNonBlocking(SocketHandle s, bool on);
int Bind(SocketHandle s, const SockAddrIn& local);
// 0 when connected at once, else the error number; InProgress() tells
// whether it is the error of a non-blocking connection still under way.
int Connect(SocketHandle s, const SockAddrIn& remote);
bool InProgress(int error);
// Whether a send or receive failed only because it would have had to wait.
bool WouldBlock(int error);
// Wait until the socket is writable (or a connection attempt on it has
// ended, successfully or not) / until bytes or the end of the stream can be
// read: 1 ready, 0 time-out, -1 failure (error number in *error).
int WaitWritable(SocketHandle s, std::uint32_t timeoutMs, int* error);
int WaitReadable(SocketHandle s, std::uint32_t timeoutMs, int* error);
// Sleep until at least `minimum` bytes can be read or the stream has ended
// or broken (1), or the time-out runs out (0); -1 on failure (error number
// in *error). *count is what can be read when it returns, or at least
// `minimum` when the wait ended that way. Blocks in the system, never
// spins, also while part of an answer is pending.
int WaitReadableBytes(SocketHandle s, std::uint32_t minimum, std::uint32_t timeoutMs,
                      std::uint32_t* count, int* error);
// Connection attempts under way on several sockets at once (at most
// kMaxWaitSockets): sleep until at least one whose settled[i] is false has
// ended, successfully or not, and mark those. The number newly marked, 0 at
// the time-out, -1 on failure (error number in *error).
constexpr int kMaxWaitSockets = 64;
int WaitConnects(const SocketHandle* sockets, int count, bool* settled, std::uint32_t timeoutMs,
                 int* error);
// Outcome of a connection attempt after the wait: 0 only when established,
// else the attempt's error number.
int ConnectOutcome(SocketHandle s);
// What an error number says of the peer, for the log: it refused the
// connection, or it reset an established one.
enum class ErrorKind { kOther, kRefused, kReset };
ErrorKind KindOf(int error);
int LocalAddress(SocketHandle s, SockAddrIn* out);
int Readable(SocketHandle s, std::uint32_t* count);
// Byte counts are returned through *done; a return of 0 with *done == 0
// from Receive means that the peer closed the connection.
int Send(SocketHandle s, const void* data, int length, const SockAddrIn* to, int* done);
int Receive(SocketHandle s, void* buffer, int size, SockAddrIn* from, int* done);
void Close(SocketHandle s);

// Milliseconds, 32-bit and wrapping.
std::uint32_t TickCount();

// Host name look-up: true and the first IPv4 address (network order).
bool ResolveHost(const char* name, std::uint32_t* address);
// A dotted IPv4 text as the platform's own conversion reads it (inet_aton on
// POSIX, inet_addr on Windows: one to four parts, octal and hexadecimal
// parts, anything after a blank ignored): true and the address in network
// order. On every platform the text must start with a digit, and
// 255.255.255.255 in any spelling is refused, since inet_addr cannot tell it
// from a text it refuses. Never asks a name service.
bool ParseIpv4(const char* text, std::uint32_t* address);
// Known service: true and its port in network order.
bool ServicePort(const char* name, const char* protocol, std::uint16_t* port);

std::uint16_t HostToNet16(std::uint16_t v);
std::uint16_t NetToHost16(std::uint16_t v);

}  // namespace etl::plat
