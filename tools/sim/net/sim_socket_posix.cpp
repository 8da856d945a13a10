// The simulator's and the tests' loopback sockets on POSIX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "tools/sim/net/sim_socket.h"

namespace etl::simnet {
namespace {

int Fd(SimSocket s) { return static_cast<int>(s); }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void SetBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return;
    fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

}  // namespace

bool SimNetStart() { return true; }
void SimNetStop() {}

SimSocket SimBind(std::uint16_t port, std::uint16_t* bound) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSimSocket;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return kNoSimSocket;
    }
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        return kNoSimSocket;
    }
    if (bound != nullptr) *bound = ntohs(a.sin_port);
    return fd;
}

bool SimListen(SimSocket s, int backlog) { return listen(Fd(s), backlog) == 0; }

SimSocket SimAccept(SimSocket listener) {
    int fd = accept(Fd(listener), nullptr, nullptr);
    if (fd < 0) return kNoSimSocket;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    SetBlocking(fd, true);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

SimSocket SimConnectStart(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSimSocket;
    SetBlocking(fd, false);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return kNoSimSocket;
    }
    return fd;
}

bool SimConnectWait(SimSocket s, int ms) {
    pollfd p{Fd(s), POLLOUT, 0};
    if (poll(&p, 1, ms) != 1) return false;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return false;
    SetBlocking(Fd(s), true);
    return true;
}

std::uint16_t SimPeerPort(SimSocket s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

int SimRecv(SimSocket s, char* buffer, int size) {
    ssize_t n = recv(Fd(s), buffer, static_cast<size_t>(size), 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool SimSendAll(SimSocket s, const char* data, int length) {
    while (length > 0) {
        ssize_t n = send(Fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<int>(n);
    }
    return true;
}

void SimClose(SimSocket s) {
    if (s != kNoSimSocket) close(Fd(s));
}

int SimPoll(const SimSocket* sockets, int count, int ms, bool* readable) {
    std::vector<pollfd> p(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) p[static_cast<size_t>(i)] = {Fd(sockets[i]), POLLIN, 0};
    int n = poll(p.data(), static_cast<nfds_t>(count), ms);
    if (n < 0) {
        if (errno != EINTR) return -1;
        n = 0;
    }
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        readable[i] = n > 0 && (p[static_cast<size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        ready += readable[i] ? 1 : 0;
    }
    return ready;
}

}  // namespace etl::simnet
