// The operating system's socket interface as the driver uses it. One
// implementation per platform (platform/win32, platform/posix); the build
// links exactly one. Protocol code sees only these calls.
//
// Error numbers are the platform's own (Winsock numbers on Windows, errno
// on POSIX); they never collide with the socket layer's 257 and -1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/blocks.h"

namespace etl::plat {

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;

// Socket library start (version 0x0101) and clean-up, counted as Winsock
// counts them. When the last user cleans up, every socket opened through
// this interface is closed.
int SocketsStart(std::uint16_t version);
int SocketsCleanup();

// Each call returns 0 or the platform error number of the failure.
int OpenSocket(int family, int type, int protocol, SocketHandle* out);
int SetNonBlocking(SocketHandle s, bool on);
int Bind(SocketHandle s, const SockAddrIn& local);
// 0 when connected at once, else the error number; InProgress() tells
// whether it is the would-block error of a connection still under way.
int Connect(SocketHandle s, const SockAddrIn& remote);
bool InProgress(int error);
// Waits until the socket is writable: 1 ready, 0 time-out, -1 failure
// (error number in *error).
int WaitWritable(SocketHandle s, long seconds, long microseconds, int* error);
// Outcome of a connection attempt after the wait: 0 when established.
int ConnectOutcome(SocketHandle s);
int LocalAddress(SocketHandle s, SockAddrIn* out);
int Readable(SocketHandle s, std::uint32_t* count);
// Byte counts are returned through *done; a return of 0 with *done == 0
// from Receive means that the peer closed the connection.
int Send(SocketHandle s, const void* data, int length, const SockAddrIn* to, int* done);
int Receive(SocketHandle s, void* buffer, int size, SockAddrIn* from, int* done);
void Close(SocketHandle s);

// Milliseconds, 32-bit and wrapping; Yield gives up the time slice.
std::uint32_t TickCount();
void Yield();

// Name and service look-ups for the station file.
constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;
// Dotted IPv4 text to an address in network order, kInaddrNone if invalid.
std::uint32_t ParseDotted(const char* text);
// Host name look-up: true and the first IPv4 address (network order).
bool ResolveHost(const char* name, std::uint32_t* address);
// Known service: true and its port in network order.
bool ServicePort(const char* name, const char* protocol, std::uint16_t* port);
// Dotted text of an address in network order, into buf (at least 16 bytes).
void FormatDotted(std::uint32_t address, char* buf, std::size_t size);

std::uint16_t HostToNet16(std::uint16_t v);
std::uint16_t NetToHost16(std::uint16_t v);

}  // namespace etl::plat
