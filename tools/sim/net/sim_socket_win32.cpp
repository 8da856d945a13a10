// The simulator's and the tests' loopback sockets on Windows (Winsock 2).
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/sim/net/sim_socket.h"

namespace etl::simnet {
namespace {

SOCKET Sock(SimSocket s) { return static_cast<SOCKET>(s); }
SimSocket Wrap(SOCKET s) { return s == INVALID_SOCKET ? kNoSimSocket : static_cast<SimSocket>(s); }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void SetBlocking(SOCKET s, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &mode);
}

}  // namespace

bool SimNetStart() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void SimNetStop() { WSACleanup(); }

SimSocket SimBind(std::uint16_t port, std::uint16_t* bound) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSimSocket;
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = Loopback(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return kNoSimSocket;
    }
    int len = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        return kNoSimSocket;
    }
    if (bound != nullptr) *bound = ntohs(a.sin_port);
    return Wrap(s);
}

bool SimListen(SimSocket s, int backlog) { return listen(Sock(s), backlog) == 0; }

SimSocket SimAccept(SimSocket listener) {
    SOCKET s = accept(Sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSimSocket;
    SetBlocking(s, true);
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return Wrap(s);
}

SimSocket SimConnectStart(std::uint16_t port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSimSocket;
    SetBlocking(s, false);
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(s);
        return kNoSimSocket;
    }
    return Wrap(s);
}

bool SimConnectWait(SimSocket s, int ms) {
    fd_set w;
    fd_set e;
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(Sock(s), &w);
    FD_SET(Sock(s), &e);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (select(0, nullptr, &w, &e, &tv) <= 0 || !FD_ISSET(Sock(s), &w)) return false;
    int error = 0;
    int len = sizeof error;
    if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
        error != 0) {
        return false;
    }
    SetBlocking(Sock(s), true);
    return true;
}

std::uint16_t SimPeerPort(SimSocket s) {
    sockaddr_in a{};
    int len = sizeof a;
    if (getpeername(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

int SimRecv(SimSocket s, char* buffer, int size) {
    int n = recv(Sock(s), buffer, size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool SimSendAll(SimSocket s, const char* data, int length) {
    while (length > 0) {
        int n = send(Sock(s), data, length, 0);
        if (n == SOCKET_ERROR || n <= 0) return false;
        data += n;
        length -= n;
    }
    return true;
}

void SimClose(SimSocket s) {
    if (s != kNoSimSocket) closesocket(Sock(s));
}

int SimPoll(const SimSocket* sockets, int count, int ms, bool* readable) {
    fd_set r;
    FD_ZERO(&r);
    for (int i = 0; i < count && i < FD_SETSIZE; ++i) FD_SET(Sock(sockets[i]), &r);
    for (int i = 0; i < count; ++i) readable[i] = false;
    if (count == 0) {
        Sleep(static_cast<DWORD>(ms));
        return 0;
    }
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int n = select(0, &r, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) return -1;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        readable[i] = n > 0 && FD_ISSET(Sock(sockets[i]), &r);
        ready += readable[i] ? 1 : 0;
    }
    return ready;
}

}  // namespace etl::simnet
