#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include "tools/etlan/bench/bench_platform.h"

namespace etl::etlan {
namespace {

double Seconds(const FILETIME& t) {
    const unsigned long long ticks = (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(ticks) * 1e-7;  // 100 ns units
}

std::string ErrorText(int code) { return "error " + std::to_string(code); }

// Winsock for the raw client, started once; ended with the process.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

RawConnection::~RawConnection() { Close(); }

bool RawConnection::Open(const std::string& host, const std::string& port, int connectMs,
                         int receiveMs, std::string* why) {
    Close();
    if (!StartWinsock()) {
        *why = "Winsock could not be started";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (gai != 0 || found == nullptr) {
        *why = "cannot resolve " + host + ":" + port + ": " + ErrorText(gai);
        return false;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *why = "socket: " + ErrorText(WSAGetLastError());
        freeaddrinfo(found);
        return false;
    }
    // A connect bounded in time: non-blocking while it is under way, then
    // blocking for the exchanges.
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    int rc = ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen));
    freeaddrinfo(found);
    int error = rc == 0 ? 0 : WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{};
        tv.tv_sec = connectMs / 1000;
        tv.tv_usec = (connectMs % 1000) * 1000;
        rc = ::select(0, nullptr, &writable, &failed, &tv);
        if (rc == 0) {
            error = WSAETIMEDOUT;
        } else if (rc < 0) {
            error = WSAGetLastError();
        } else {
            int soError = 0;
            int len = sizeof soError;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            error = FD_ISSET(s, &writable) && soError == 0 ? 0 : (soError != 0 ? soError : WSAECONNREFUSED);
        }
    }
    if (error != 0) {
        *why = "cannot connect to " + host + ":" + port + ": " + ErrorText(error);
        closesocket(s);
        return false;
    }
    u_long off = 0;
    ioctlsocket(s, FIONBIO, &off);
    const DWORD timeout = static_cast<DWORD>(receiveMs);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    handle_ = static_cast<std::intptr_t>(s);
    return true;
}

bool RawConnection::Send(const void* data, int length) {
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        const int n = ::send(static_cast<SOCKET>(handle_), p, length, 0);
        if (n <= 0) return false;
        p += n;
        length -= n;
    }
    return true;
}

int RawConnection::Receive(void* buffer, int size) {
    const int n = ::recv(static_cast<SOCKET>(handle_), static_cast<char*>(buffer), size, 0);
    return n < 0 ? -1 : n;
}

void RawConnection::Close() {
    if (handle_ != kNone) closesocket(static_cast<SOCKET>(handle_));
    handle_ = kNone;
}

}  // namespace etl::etlan
