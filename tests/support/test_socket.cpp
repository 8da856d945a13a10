// The tests' sockets: the BSD calls both systems share, with the few that
// differ (closing, blocking mode, the last error, the wait) set apart.
#if defined(_WIN32)
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>
#endif

#include "tests/support/test_socket.h"

namespace etl::testnet {
namespace {

#if defined(_WIN32)
using Native = SOCKET;
using Length = int;
constexpr int kNoSignal = 0;
Socket Wrap(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s); }
void CloseNative(SOCKET s) { closesocket(s); }
bool InProgress() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void SetBlocking(SOCKET s, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &mode);
}
#else
using Native = int;
using Length = socklen_t;
constexpr int kNoSignal = MSG_NOSIGNAL;
Socket Wrap(int fd) { return fd < 0 ? kNoSocket : fd; }
void CloseNative(int fd) { close(fd); }
bool InProgress() { return errno == EINPROGRESS; }
void SetBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}
#endif

Native N(Socket s) { return static_cast<Native>(s); }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void NoDelay(Native s) {
    const int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Waits up to ms for the sockets: readable (or closed) when read, else
// connected or failed. Fills ready; how many, 0 on time-out, -1 on failure.
int Wait(const Socket* sockets, int count, int ms, bool read, bool* ready) {
    for (int i = 0; i < count; ++i) ready[i] = false;
#if defined(_WIN32)
    if (count == 0) {
        Sleep(static_cast<DWORD>(ms));
        return 0;
    }
    fd_set set;
    fd_set failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    for (int i = 0; i < count && i < FD_SETSIZE; ++i) {
        FD_SET(N(sockets[i]), &set);
        FD_SET(N(sockets[i]), &failed);
    }
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int n = select(0, read ? &set : nullptr, read ? nullptr : &set, read ? nullptr : &failed, &tv);
    if (n == SOCKET_ERROR) return -1;
    int got = 0;
    for (int i = 0; i < count && n > 0; ++i) {
        ready[i] = FD_ISSET(N(sockets[i]), &set) != 0;
        got += ready[i] ? 1 : 0;
    }
    return got;
#else
    std::vector<pollfd> p(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) p[static_cast<std::size_t>(i)] = {N(sockets[i]), static_cast<short>(read ? POLLIN : POLLOUT), 0};
    const int n = poll(p.data(), static_cast<nfds_t>(count), ms);
    if (n < 0) return errno == EINTR ? 0 : -1;
    const short events = read ? (POLLIN | POLLHUP | POLLERR) : POLLOUT;
    int got = 0;
    for (int i = 0; i < count && n > 0; ++i) {
        ready[i] = (p[static_cast<std::size_t>(i)].revents & events) != 0;
        got += ready[i] ? 1 : 0;
    }
    return got;
#endif
}

}  // namespace

bool NetStart() {
#if defined(_WIN32)
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

void NetStop() {
#if defined(_WIN32)
    WSACleanup();
#endif
}

Socket Bind(std::uint16_t port, std::uint16_t* bound) {
    const Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (Wrap(s) == kNoSocket) return kNoSocket;
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = Loopback(port);
    Length len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        CloseNative(s);
        return kNoSocket;
    }
    if (bound != nullptr) *bound = ntohs(a.sin_port);
    return Wrap(s);
}

bool Listen(Socket s, int backlog) { return listen(N(s), backlog) == 0; }

Socket Accept(Socket listener) {
    const Native s = accept(N(listener), nullptr, nullptr);
    if (Wrap(s) == kNoSocket) return kNoSocket;
    SetBlocking(s, true);
    NoDelay(s);
    return Wrap(s);
}

Socket ConnectStart(std::uint16_t port) {
    const Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (Wrap(s) == kNoSocket) return kNoSocket;
    SetBlocking(s, false);
    NoDelay(s);
    sockaddr_in a = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && !InProgress()) {
        CloseNative(s);
        return kNoSocket;
    }
    return Wrap(s);
}

bool ConnectWait(Socket s, int ms) {
    bool connected = false;
    if (Wait(&s, 1, ms, false, &connected) != 1) return false;
    int error = 0;
    Length len = sizeof error;
    if (getsockopt(N(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 || error != 0) {
        return false;
    }
    SetBlocking(N(s), true);
    return true;
}

std::uint16_t PeerPort(Socket s) {
    sockaddr_in a{};
    Length len = sizeof a;
    if (getpeername(N(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

int Recv(Socket s, char* buffer, int size) {
    const auto n = recv(N(s), buffer, size, 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool SendAll(Socket s, const char* data, int length) {
    while (length > 0) {
        const auto n = send(N(s), data, length, kNoSignal);
#if !defined(_WIN32)
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return false;
        data += n;
        length -= static_cast<int>(n);
    }
    return true;
}

void Close(Socket s) {
    if (s != kNoSocket) CloseNative(N(s));
}

int Poll(const Socket* sockets, int count, int ms, bool* readable) {
    return Wait(sockets, count, ms, true, readable);
}

}  // namespace etl::testnet
