// The socket interface on Windows: Winsock, started as version 1.1.
#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "platform/socket_platform.h"

namespace etl::plat {
namespace {

// A handle of 0 or below is never a socket (a cleared station entry holds 0).
bool Usable(SocketHandle s) { return s > 0; }

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(static_cast<std::uint32_t>(s)); }

void ToNative(const SockAddrIn& in, sockaddr_in* out) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = static_cast<short>(in.family);
    out->sin_port = in.port;
    out->sin_addr.s_addr = in.address;
}

void FromNative(const sockaddr_in& in, SockAddrIn* out) {
    std::memset(out, 0, sizeof *out);
    out->family = static_cast<std::uint16_t>(in.sin_family);
    out->port = in.sin_port;
    out->address = in.sin_addr.s_addr;
}

timeval ToTimeval(std::uint32_t timeoutMs) {
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000u);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000u) * 1000u);
    return tv;
}

}  // namespace

int SocketsStart(std::uint16_t version) {
    WSADATA data;
    return WSAStartup(version, &data);
}

int SocketsCleanup() { return WSACleanup() == 0 ? 0 : WSAGetLastError(); }

int ErrorNotSocket() { return WSAENOTSOCK; }
int ErrorInvalid() { return WSAEINVAL; }
int ErrorNotStarted() { return WSANOTINITIALISED; }
int ErrorTooManyUsers() { return WSAEPROCLIM; }

int OpenSocket(int family, int type, int protocol, SocketHandle* out) {
    *out = kNoSocket;
    const SOCKET s = ::socket(family, type, protocol);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    const auto handle = static_cast<SocketHandle>(static_cast<std::uint32_t>(s));
    if (handle <= 0) {  // would read as "no socket"; never seen in practice
        ::closesocket(s);
        return WSAEMFILE;
    }
    *out = handle;
    return 0;
}

int SetNonBlocking(SocketHandle s, bool on) {
    if (!Usable(s)) return WSAENOTSOCK;
    u_long flag = on ? 1 : 0;
    return ::ioctlsocket(Native(s), FIONBIO, &flag) == 0 ? 0 : WSAGetLastError();
}

int Bind(SocketHandle s, const SockAddrIn& local) {
    if (!Usable(s)) return WSAENOTSOCK;
    if (local.family != kAfInet) return WSAEAFNOSUPPORT;
    sockaddr_in sa;
    ToNative(local, &sa);
    return ::bind(Native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0
               ? 0
               : WSAGetLastError();
}

int Connect(SocketHandle s, const SockAddrIn& remote) {
    if (!Usable(s)) return WSAENOTSOCK;
    if (remote.family != kAfInet) return WSAEAFNOSUPPORT;
    if (remote.address == 0 || remote.address == 0xFFFFFFFFu) return WSAEADDRNOTAVAIL;
    sockaddr_in sa;
    ToNative(remote, &sa);
    return ::connect(Native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0
               ? 0
               : WSAGetLastError();
}

bool InProgress(int error) { return error == WSAEWOULDBLOCK; }

bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }

int WaitWritable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    if (!Usable(s)) {
        *error = WSAENOTSOCK;
        return -1;
    }
    // A failed connection attempt shows in the exception set (at once under
    // Wine, after its retries on Windows); it ends the wait as well, and
    // ConnectOutcome tells the two apart.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(s), &writable);
    FD_SET(Native(s), &failed);
    timeval tv = ToTimeval(timeoutMs);
    const int n = ::select(0, nullptr, &writable, &failed, &tv);
    if (n == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return -1;
    }
    return n > 0 ? 1 : 0;
}

int WaitReadable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    if (!Usable(s)) {
        *error = WSAENOTSOCK;
        return -1;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval tv = ToTimeval(timeoutMs);
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return -1;
    }
    return n > 0 ? 1 : 0;
}

int WaitReadableBytes(SocketHandle s, std::uint32_t minimum, std::uint32_t timeoutMs,
                      std::uint32_t* count, int* error) {
    *count = 0;
    if (!Usable(s)) {
        *error = WSAENOTSOCK;
        return -1;
    }
    const DWORD start = ::GetTickCount();
    bool partial = false;
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - start;
        const std::uint32_t left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        int ready = 0;
        if (!partial && minimum > 0) {
            // Nothing yet: sleep until the first bytes (or the end of the
            // stream); bytes already there end the wait at once.
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(Native(s), &readable);
            timeval tv = ToTimeval(left);
            ready = ::select(0, &readable, nullptr, nullptr, &tv);
            if (ready == SOCKET_ERROR) {
                *error = WSAGetLastError();
                return -1;
            }
        }
        u_long n = 0;
        if (::ioctlsocket(Native(s), FIONREAD, &n) != 0) {
            *error = WSAGetLastError();
            return -1;
        }
        *count = static_cast<std::uint32_t>(n);
        if (*count >= minimum) return 1;
        if (ready > 0 && *count == 0) return 1;  // readable, nothing to read: ended
        if (left == 0) return 0;
        if (*count > 0) {
            // Part of the bytes is there, so the socket stays readable:
            // sleep a little at a time until the rest has come.
            partial = true;
            ::Sleep(1);
        }
    }
}

int WaitConnects(const SocketHandle* sockets, int count, bool* settled, std::uint32_t timeoutMs,
                 int* error) {
    static_assert(kMaxWaitSockets <= FD_SETSIZE, "every socket fits one fd_set");
    if (count < 0 || count > kMaxWaitSockets) {
        *error = WSAEINVAL;
        return -1;
    }
    // A failed attempt shows in the exception set, an established one in
    // the write set; either ends the wait for that socket.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int pending = 0;
    for (int i = 0; i < count; ++i) {
        if (settled[i]) continue;
        if (!Usable(sockets[i])) {
            *error = WSAENOTSOCK;
            return -1;
        }
        FD_SET(Native(sockets[i]), &writable);
        FD_SET(Native(sockets[i]), &failed);
        ++pending;
    }
    if (pending == 0) return 0;
    timeval tv = ToTimeval(timeoutMs);
    const int n = ::select(0, nullptr, &writable, &failed, &tv);
    if (n == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return -1;
    }
    int marked = 0;
    for (int i = 0; i < count && n > 0; ++i) {
        if (settled[i]) continue;
        if (FD_ISSET(Native(sockets[i]), &writable) || FD_ISSET(Native(sockets[i]), &failed)) {
            settled[i] = true;
            ++marked;
        }
    }
    return marked;
}

int ConnectOutcome(SocketHandle s) {
    if (!Usable(s)) return WSAENOTSOCK;
    int soError = 0;
    int len = sizeof soError;
    if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) !=
        0) {
        return WSAGetLastError();
    }
    if (soError != 0) return soError;
    sockaddr_in peer;
    int peerLen = sizeof peer;
    if (::getpeername(Native(s), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) {
        return WSAGetLastError();
    }
    return 0;
}

ErrorKind KindOf(int error) {
    if (error == WSAECONNREFUSED) return ErrorKind::kRefused;
    if (error == WSAECONNRESET || error == WSAECONNABORTED) return ErrorKind::kReset;
    return ErrorKind::kOther;
}

int LocalAddress(SocketHandle s, SockAddrIn* out) {
    if (!Usable(s)) return WSAENOTSOCK;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    int len = sizeof sa;
    if (::getsockname(Native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return WSAGetLastError();
    }
    FromNative(sa, out);
    return 0;
}

int Readable(SocketHandle s, std::uint32_t* count) {
    if (!Usable(s)) return WSAENOTSOCK;
    u_long n = 0;
    if (::ioctlsocket(Native(s), FIONREAD, &n) != 0) return WSAGetLastError();
    *count = static_cast<std::uint32_t>(n);
    return 0;
}

int Send(SocketHandle s, const void* data, int length, const SockAddrIn* to, int* done) {
    *done = 0;
    if (!Usable(s)) return WSAENOTSOCK;
    if (length < 0) return WSAEINVAL;
    sockaddr_in sa;
    const sockaddr* dest = nullptr;
    int destLen = 0;
    if (to != nullptr) {
        if (to->family != kAfInet) return WSAEAFNOSUPPORT;
        ToNative(*to, &sa);
        dest = reinterpret_cast<const sockaddr*>(&sa);
        destLen = sizeof sa;
    }
    const int n = ::sendto(Native(s), static_cast<const char*>(data), length, 0, dest, destLen);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    *done = n;
    return 0;
}

int Receive(SocketHandle s, void* buffer, int size, SockAddrIn* from, int* done) {
    *done = 0;
    if (!Usable(s)) return WSAENOTSOCK;
    if (size < 0) return WSAEINVAL;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    int len = sizeof sa;
    const int n = ::recvfrom(Native(s), static_cast<char*>(buffer), size, 0,
                             from != nullptr ? reinterpret_cast<sockaddr*>(&sa) : nullptr,
                             from != nullptr ? &len : nullptr);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    if (from != nullptr) FromNative(sa, from);
    *done = n;
    return 0;
}

void Close(SocketHandle s) {
    if (!Usable(s)) return;
    ::closesocket(Native(s));
}

std::uint32_t TickCount() { return ::GetTickCount(); }

bool ResolveHost(const char* name, std::uint32_t* address) {
    const hostent* h = ::gethostbyname(name);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 ||
        h->h_addr_list == nullptr || h->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, h->h_addr_list[0], 4);
    return true;
}

bool ParseIpv4(const char* text, std::uint32_t* address) {
    if (text[0] < '0' || text[0] > '9') return false;
    const unsigned long a = ::inet_addr(text);
    if (a == INADDR_NONE) return false;  // a refusal, or 255.255.255.255
    *address = static_cast<std::uint32_t>(a);
    return true;
}

bool ServicePort(const char* name, const char* protocol, std::uint16_t* port) {
    const servent* s = ::getservbyname(name, protocol);
    if (s == nullptr) return false;
    *port = static_cast<std::uint16_t>(s->s_port);
    return true;
}

std::uint16_t HostToNet16(std::uint16_t v) { return htons(v); }
std::uint16_t NetToHost16(std::uint16_t v) { return ntohs(v); }

}  // namespace etl::plat
