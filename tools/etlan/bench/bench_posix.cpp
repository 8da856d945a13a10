#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/etlan/bench/bench_platform.h"

namespace etl::etlan {

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

RawConnection::~RawConnection() { Close(); }

bool RawConnection::Open(const std::string& host, const std::string& port, int connectMs,
                         int receiveMs, std::string* why) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int gai = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (gai != 0 || found == nullptr) {
        *why = "cannot resolve " + host + ":" + port + ": " + gai_strerror(gai);
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + std::strerror(errno);
        freeaddrinfo(found);
        return false;
    }
    // A connect bounded in time: non-blocking while it is under way, then
    // blocking for the exchanges.
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    int error = rc == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, connectMs);
        if (rc == 0) {
            error = ETIMEDOUT;
        } else if (rc < 0) {
            error = errno;
        } else {
            socklen_t len = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        }
    }
    if (error != 0) {
        *why = "cannot connect to " + host + ":" + port + ": " + std::strerror(error);
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    timeval tv{};
    tv.tv_sec = receiveMs / 1000;
    tv.tv_usec = (receiveMs % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    handle_ = fd;
    return true;
}

bool RawConnection::Send(const void* data, int length) {
    const auto* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::send(static_cast<int>(handle_), p, static_cast<std::size_t>(length), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<int>(n);
    }
    return true;
}

int RawConnection::Receive(void* buffer, int size) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(handle_), buffer, static_cast<std::size_t>(size), 0);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : static_cast<int>(n);
    }
}

void RawConnection::Close() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

}  // namespace etl::etlan
