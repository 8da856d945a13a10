// Winsock's select takes at most FD_SETSIZE sockets a set: room for a
// listener and two connections for each of 64 stations, and the wake-up.
#define FD_SETSIZE 256
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include "host/digits.h"
#include "tools/etlan/trace/relay_net.h"

namespace etl::etlan::relaynet {
namespace {

SOCKET Sock(Handle s) { return static_cast<SOCKET>(s); }

// Winsock for the relay, started once; ended with the process.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool NonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

bool Resolve(const std::string& host, const std::string& port, Endpoint* out, std::string* why) {
    if (!StartWinsock()) {
        *why = "Winsock could not be started";
        return false;
    }
    if (host.find('.') != std::string::npos) {
        const unsigned long a = inet_addr(host.c_str());
        if (a == INADDR_NONE) {
            *why = "\"" + host + "\" is no IPv4 address";
            return false;
        }
        out->address = static_cast<std::uint32_t>(a);
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            *why = "cannot resolve \"" + host + "\": " + ErrorText(rc);
            return false;
        }
        out->address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    }
    if (const servent* s = getservbyname(port.c_str(), "tcp"); s != nullptr) {
        out->port = static_cast<std::uint16_t>(s->s_port);
    } else {
        out->port = htons(static_cast<std::uint16_t>(Atoi(port.c_str())));
    }
    return true;
}

Handle Listen(std::uint16_t* port, std::string* why) {
    if (!StartWinsock()) {
        *why = "Winsock could not be started";
        return kNone;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *why = "socket: " + ErrorText(WSAGetLastError());
        return kNone;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 || !NonBlocking(s)) {
        *why = "listener on 127.0.0.1: " + ErrorText(WSAGetLastError());
        closesocket(s);
        return kNone;
    }
    *port = ntohs(a.sin_port);
    return static_cast<Handle>(s);
}

Handle Accept(Handle listener) {
    SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNone;
    NonBlocking(s);
    return static_cast<Handle>(s);
}

Handle Connect(const Endpoint& to, std::string* why) {
    if (!StartWinsock()) {
        *why = "Winsock could not be started";
        return kNone;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *why = "socket: " + ErrorText(WSAGetLastError());
        return kNone;
    }
    NonBlocking(s);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = to.address;
    a.sin_port = to.port;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
        *why = ErrorText(WSAGetLastError());
        closesocket(s);
        return kNone;
    }
    return static_cast<Handle>(s);
}

int ConnectError(Handle s) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) return WSAGetLastError();
    return error;
}

long Receive(Handle s, char* buffer, std::size_t size, int* error) {
    const int n = ::recv(Sock(s), buffer, static_cast<int>(size), 0);
    if (n >= 0) return n;
    const int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return kWouldBlock;
    *error = e;
    return kFailed;
}

long Send(Handle s, const char* data, std::size_t size, int* error) {
    const int n = ::send(Sock(s), data, static_cast<int>(size), 0);
    if (n >= 0) return n;
    const int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return kWouldBlock;
    *error = e;
    return kFailed;
}

void Close(Handle s) {
    if (s != kNone) closesocket(Sock(s));
}

std::string ErrorText(int error) {
    switch (error) {
    case WSAECONNREFUSED: return "connection refused";
    case WSAECONNRESET: return "connection reset";
    case WSAETIMEDOUT: return "timed out";
    case WSAECONNABORTED: return "connection aborted";
    case WSAENETUNREACH: return "network unreachable";
    case WSAEHOSTUNREACH: return "host unreachable";
    case WSAEADDRNOTAVAIL: return "address not available";
    default: return "Winsock error " + std::to_string(error);
    }
}

std::string EndpointText(const Endpoint& e) {
    const auto* b = reinterpret_cast<const unsigned char*>(&e.address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]) +
           ":" + std::to_string(ntohs(e.port));
}

int Wait(std::vector<Watch>& watches, int timeoutMs) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    bool any = false;
    for (const Watch& w : watches) {
        if (w.read) FD_SET(Sock(w.socket), &readable);
        // A connection attempt that fails shows in the third set.
        if (w.write) {
            FD_SET(Sock(w.socket), &writable);
            FD_SET(Sock(w.socket), &failed);
        }
        any = any || w.read || w.write;
    }
    if (!any) {
        Sleep(static_cast<DWORD>(timeoutMs < 0 ? 1000 : timeoutMs));
        return 0;
    }
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    const int n = ::select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &tv);
    if (n < 0) return -1;
    for (Watch& w : watches) {
        w.readable = w.read && FD_ISSET(Sock(w.socket), &readable);
        w.writable = w.write && FD_ISSET(Sock(w.socket), &writable);
        w.failed = w.write && FD_ISSET(Sock(w.socket), &failed);
    }
    return n;
}

// A datagram socket on 127.0.0.1 that sends to itself.
Wake::Wake() {
    if (!StartWinsock()) return;
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !NonBlocking(s)) {
        closesocket(s);
        return;
    }
    read_ = static_cast<Handle>(s);
    write_ = read_;
}

Wake::~Wake() { Close(read_); }

void Wake::Signal() {
    const char b = 1;
    if (write_ != kNone) ::send(Sock(write_), &b, 1, 0);
}

void Wake::Drain() {
    char b[64];
    while (::recv(Sock(read_), b, sizeof b, 0) > 0) {
    }
}

std::thread StartThread(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace etl::etlan::relaynet
