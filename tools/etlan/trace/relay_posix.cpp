#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/digits.h"
#include "tools/etlan/trace/relay_net.h"

namespace etl::etlan::relaynet {
namespace {

int Fd(Handle s) { return static_cast<int>(s); }

bool NonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

bool Resolve(const std::string& host, const std::string& port, Endpoint* out, std::string* why) {
    if (host.find('.') != std::string::npos) {
        in_addr a{};
        if (inet_aton(host.c_str(), &a) == 0 || a.s_addr == 0xFFFFFFFFu) {
            *why = "\"" + host + "\" is no IPv4 address";
            return false;
        }
        out->address = a.s_addr;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            *why = "cannot resolve \"" + host + "\": " + gai_strerror(rc);
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
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + std::strerror(errno);
        return kNone;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || !NonBlocking(fd)) {
        *why = std::string("listener on 127.0.0.1: ") + std::strerror(errno);
        ::close(fd);
        return kNone;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

Handle Accept(Handle listener) {
    for (;;) {
        const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno == EINTR) continue;
        return fd < 0 ? kNone : fd;
    }
}

Handle Connect(const Endpoint& to, std::string* why) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + std::strerror(errno);
        return kNone;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = to.address;
    a.sin_port = to.port;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        *why = std::strerror(errno);
        ::close(fd);
        return kNone;
    }
    return fd;
}

int ConnectError(Handle s) {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

long Receive(Handle s, char* buffer, std::size_t size, int* error) {
    for (;;) {
        const ssize_t n = ::recv(Fd(s), buffer, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
        *error = errno;
        return kFailed;
    }
}

long Send(Handle s, const char* data, std::size_t size, int* error) {
    for (;;) {
        const ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
        *error = errno;
        return kFailed;
    }
}

void Close(Handle s) {
    if (s != kNone) ::close(Fd(s));
}

std::string ErrorText(int error) { return std::strerror(error); }

std::string EndpointText(const Endpoint& e) {
    in_addr a{};
    a.s_addr = e.address;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(e.port));
}

int Wait(std::vector<Watch>& watches, int timeoutMs) {
    std::vector<pollfd> fds(watches.size());
    for (std::size_t i = 0; i < watches.size(); ++i) {
        fds[i].fd = Fd(watches[i].socket);
        fds[i].events = static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
    }
    const int n = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        const short r = fds[i].revents;
        watches[i].readable = (r & POLLIN) != 0;
        watches[i].writable = (r & POLLOUT) != 0;
        watches[i].failed = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }
    return n;
}

Wake::Wake() {
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) return;
    read_ = p[0];
    write_ = p[1];
}

Wake::~Wake() {
    Close(read_);
    Close(write_);
}

void Wake::Signal() {
    const char b = 1;
    if (write_ != kNone) (void)!::write(Fd(write_), &b, 1);
}

void Wake::Drain() {
    char b[64];
    while (::read(Fd(read_), b, sizeof b) > 0) {
    }
}

std::thread StartThread(std::function<void()> body) {
    // The new thread inherits the mask in force while it is created.
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    std::thread t(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return t;
}

}  // namespace etl::etlan::relaynet
