// The socket interface on POSIX (Linux): BSD sockets made to behave as the
// driver's Winsock calls do.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/socket_platform.h"

namespace etl::plat {
namespace {

// Descriptors opened through OpenSocket, one bit each. Only these are ever
// read, written or closed, and the last SocketsCleanup closes all of them,
// as WSACleanup does. A descriptor beyond the map is refused at opening.
constexpr int kTrackedLimit = 65536;
constexpr int kWordBits = 32;
std::atomic<std::uint32_t> g_open[kTrackedLimit / kWordBits];
std::mutex g_lock;  // guards g_users and every change of g_open
int g_users = 0;

// The receive low-water mark each tracked socket has now (0: the default, 1).
constexpr std::uint32_t kTrustedLowMark = 4096;
std::atomic<std::uint32_t> g_lowMark[kTrackedLimit];

bool Tracked(SocketHandle s) {
    if (s <= 0 || s >= kTrackedLimit) return false;
    const std::uint32_t bit = 1u << (s % kWordBits);
    return (g_open[s / kWordBits].load(std::memory_order_acquire) & bit) != 0;
}

void Track(int fd, bool on) {
    const std::uint32_t bit = 1u << (fd % kWordBits);
    g_lowMark[fd].store(0, std::memory_order_relaxed);
    if (on) {
        g_open[fd / kWordBits].fetch_or(bit, std::memory_order_release);
    } else {
        g_open[fd / kWordBits].fetch_and(~bit, std::memory_order_release);
    }
}

void ToNative(const SockAddrIn& in, sockaddr_in* out) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = static_cast<sa_family_t>(in.family);
    out->sin_port = in.port;
    out->sin_addr.s_addr = in.address;
}

void FromNative(const sockaddr_in& in, SockAddrIn* out) {
    std::memset(out, 0, sizeof *out);
    out->family = static_cast<std::uint16_t>(in.sin_family);
    out->port = in.sin_port;
    out->address = in.sin_addr.s_addr;
}

// Sets the socket's receive low-water mark unless it is set already; false
// when the mark could not be set (its value is then unknown).
bool SetLowMark(SocketHandle s, std::uint32_t mark) {
    if (mark > INT_MAX) return false;
    const std::uint32_t now = g_lowMark[s].load(std::memory_order_relaxed);
    if (now == mark || (now == 0 && mark == 1)) return true;
    const int value = static_cast<int>(mark);
    if (::setsockopt(s, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value) != 0) {
        g_lowMark[s].store(0xFFFFFFFFu, std::memory_order_relaxed);
        return false;
    }
    g_lowMark[s].store(mark, std::memory_order_relaxed);
    return true;
}

std::uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// poll() on one descriptor, restarted after a signal with the time left.
int PollOne(SocketHandle s, short events, std::uint32_t timeoutMs, short* revents, int* error) {
    if (!Tracked(s)) {
        *error = EBADF;
        return -1;
    }
    const std::uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const std::uint64_t now = NowMs();
        const std::uint64_t left = now >= deadline ? 0 : deadline - now;
        pollfd p{s, events, 0};
        const int n = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            return -1;
        }
        if (n == 0) {
            if (left > INT_MAX) continue;  // a very long wait goes on
            return 0;
        }
        if ((p.revents & POLLNVAL) != 0) {
            *error = EBADF;
            return -1;
        }
        *revents = p.revents;
        return 1;
    }
}

}  // namespace

int SocketsStart(std::uint16_t version) {
    if ((version & 0xFF) == 0) return EINVAL;  // no version below 1.x exists
    std::lock_guard<std::mutex> hold(g_lock);
    ++g_users;
    return 0;
}

int SocketsCleanup() {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_users <= 0) return ENETDOWN;
    if (--g_users > 0) return 0;
    for (int w = 0; w < kTrackedLimit / kWordBits; ++w) {
        std::uint32_t bits = g_open[w].exchange(0, std::memory_order_acq_rel);
        for (int b = 0; bits != 0; ++b, bits >>= 1) {
            if ((bits & 1u) != 0) ::close(w * kWordBits + b);
        }
    }
    return 0;
}

int ErrorNotSocket() { return EBADF; }
int ErrorInvalid() { return EINVAL; }
int ErrorNotStarted() { return ENETDOWN; }
int ErrorTooManyUsers() { return EUSERS; }

int OpenSocket(int family, int type, int protocol, SocketHandle* out) {
    *out = kNoSocket;
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_users <= 0) return ENETDOWN;
    int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) return errno;
    if (fd == 0) {
        // Only when standard input was closed; 0 would read as "no socket".
        const int moved = ::fcntl(0, F_DUPFD_CLOEXEC, 1);
        const int error = errno;
        ::close(0);
        if (moved < 0) return error;
        fd = moved;
    }
    if (fd >= kTrackedLimit) {
        ::close(fd);
        return EMFILE;
    }
    Track(fd, true);
    *out = fd;
    return 0;
}

int SetNonBlocking(SocketHandle s, bool on) {
    if (!Tracked(s)) return EBADF;
    int flag = on ? 1 : 0;
    return ::ioctl(s, FIONBIO, &flag) == 0 ? 0 : errno;
}

int Bind(SocketHandle s, const SockAddrIn& local) {
    if (!Tracked(s)) return EBADF;
    if (local.family != kAfInet) return EAFNOSUPPORT;
    sockaddr_in sa;
    ToNative(local, &sa);
    return ::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

int Connect(SocketHandle s, const SockAddrIn& remote) {
    if (!Tracked(s)) return EBADF;
    // Linux takes family 0 as "dissolve the association" and 0.0.0.0 as this
    // host; Winsock refuses both, and neither is a station's address.
    if (remote.family != kAfInet) return EAFNOSUPPORT;
    if (remote.address == 0 || remote.address == 0xFFFFFFFFu) return EADDRNOTAVAIL;
    sockaddr_in sa;
    ToNative(remote, &sa);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    // An interrupted connect goes on in the background, like one in progress.
    return errno == EINTR ? EINPROGRESS : errno;
}

bool InProgress(int error) { return error == EINPROGRESS; }

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

int WaitWritable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    short revents = 0;
    return PollOne(s, POLLOUT, timeoutMs, &revents, error);
}

int WaitReadable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    short revents = 0;
    return PollOne(s, POLLIN, timeoutMs, &revents, error);
}

int WaitReadableBytes(SocketHandle s, std::uint32_t minimum, std::uint32_t timeoutMs,
                      std::uint32_t* count, int* error) {
    *count = 0;
    if (!Tracked(s)) {
        *error = EBADF;
        return -1;
    }
    if (minimum == 0) {
        const int rc = Readable(s, count);
        *error = rc;
        return rc == 0 ? 1 : -1;
    }
    // With the socket's receive low-water mark at `minimum`, poll() sleeps
    // until that many bytes have come (or the stream ends), so a wake-up
    // without a hang-up needs no count; a larger mark may be cut down by the
    // kernel, so above kTrustedLowMark the bytes are counted after all.
    const bool marked = SetLowMark(s, minimum);
    const std::uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const std::uint64_t now = NowMs();
        const std::uint64_t left = now >= deadline ? 0 : deadline - now;
        pollfd p{s, static_cast<short>(POLLIN | POLLRDHUP), 0};
        const int n = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            return -1;
        }
        if ((p.revents & POLLNVAL) != 0) {
            *error = EBADF;
            return -1;
        }
        const bool ended = (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        if (n > 0 && !ended && marked && minimum <= kTrustedLowMark) {
            *count = minimum;  // at least
            return 1;
        }
        const int rc = Readable(s, count);
        if (rc != 0) {
            *error = rc;
            return -1;
        }
        if (*count >= minimum || ended) return 1;
        if (n == 0 && left <= INT_MAX) return 0;
    }
}

int WaitConnects(const SocketHandle* sockets, int count, bool* settled, std::uint32_t timeoutMs,
                 int* error) {
    if (count < 0 || count > kMaxWaitSockets) {
        *error = EINVAL;
        return -1;
    }
    pollfd p[kMaxWaitSockets];
    int index[kMaxWaitSockets];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (settled[i]) continue;
        if (!Tracked(sockets[i])) {
            *error = EBADF;
            return -1;
        }
        p[n] = pollfd{sockets[i], POLLOUT, 0};
        index[n++] = i;
    }
    if (n == 0) return 0;
    const std::uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const std::uint64_t now = NowMs();
        const std::uint64_t left = now >= deadline ? 0 : deadline - now;
        const int ready = ::poll(p, static_cast<nfds_t>(n),
                                 left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            *error = errno;
            return -1;
        }
        if (ready == 0) {
            if (left > INT_MAX) continue;
            return 0;
        }
        int marked = 0;
        for (int k = 0; k < n; ++k) {
            if (p[k].revents == 0) continue;
            settled[index[k]] = true;
            ++marked;
        }
        return marked;
    }
}

int ConnectOutcome(SocketHandle s) {
    if (!Tracked(s)) return EBADF;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return errno;
    if (soError != 0) return soError;
    sockaddr_in peer;
    socklen_t peerLen = sizeof peer;
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) return errno;
    return 0;
}

ErrorKind KindOf(int error) {
    if (error == ECONNREFUSED) return ErrorKind::kRefused;
    if (error == ECONNRESET || error == EPIPE || error == ECONNABORTED) return ErrorKind::kReset;
    return ErrorKind::kOther;
}

int LocalAddress(SocketHandle s, SockAddrIn* out) {
    if (!Tracked(s)) return EBADF;
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    std::memset(&sa, 0, sizeof sa);
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return errno;
    FromNative(sa, out);
    return 0;
}

int Readable(SocketHandle s, std::uint32_t* count) {
    if (!Tracked(s)) return EBADF;
    int n = 0;
    if (::ioctl(s, FIONREAD, &n) != 0) return errno;
    *count = n > 0 ? static_cast<std::uint32_t>(n) : 0u;
    return 0;
}

int Send(SocketHandle s, const void* data, int length, const SockAddrIn* to, int* done) {
    *done = 0;
    if (!Tracked(s)) return EBADF;
    if (length < 0) return EINVAL;
    sockaddr_in sa;
    const sockaddr* dest = nullptr;
    socklen_t destLen = 0;
    if (to != nullptr) {
        if (to->family != kAfInet) return EAFNOSUPPORT;
        ToNative(*to, &sa);
        dest = reinterpret_cast<const sockaddr*>(&sa);
        destLen = sizeof sa;
    }
    for (;;) {
        const ssize_t n = ::sendto(s, data, static_cast<std::size_t>(length), MSG_NOSIGNAL, dest,
                                   destLen);
        if (n >= 0) {
            *done = static_cast<int>(n);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int Receive(SocketHandle s, void* buffer, int size, SockAddrIn* from, int* done) {
    *done = 0;
    if (!Tracked(s)) return EBADF;
    if (size < 0) return EINVAL;
    for (;;) {
        sockaddr_in sa;
        std::memset(&sa, 0, sizeof sa);
        socklen_t len = sizeof sa;
        const ssize_t n = ::recvfrom(s, buffer, static_cast<std::size_t>(size), 0,
                                     from != nullptr ? reinterpret_cast<sockaddr*>(&sa) : nullptr,
                                     from != nullptr ? &len : nullptr);
        if (n >= 0) {
            if (from != nullptr) FromNative(sa, from);
            *done = static_cast<int>(n);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

void Close(SocketHandle s) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!Tracked(s)) return;
    Track(s, false);
    ::close(s);
}

std::uint32_t TickCount() { return static_cast<std::uint32_t>(NowMs()); }

bool ResolveHost(const char* name, std::uint32_t* address) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return false;
    bool found = false;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr &&
            a->ai_addrlen >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
            sockaddr_in sa;
            std::memcpy(&sa, a->ai_addr, sizeof sa);
            *address = sa.sin_addr.s_addr;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(list);
    return found;
}

bool ParseIpv4(const char* text, std::uint32_t* address) {
    if (text[0] < '0' || text[0] > '9') return false;
    in_addr a{};
    if (::inet_aton(text, &a) == 0 || a.s_addr == 0xFFFFFFFFu) return false;
    *address = a.s_addr;
    return true;
}

bool ServicePort(const char* name, const char* protocol, std::uint16_t* port) {
    servent entry;
    servent* result = nullptr;
    char scratch[1024];
    if (::getservbyname_r(name, protocol, &entry, scratch, sizeof scratch, &result) != 0 ||
        result == nullptr) {
        return false;
    }
    *port = static_cast<std::uint16_t>(result->s_port);
    return true;
}

std::uint16_t HostToNet16(std::uint16_t v) { return htons(v); }
std::uint16_t NetToHost16(std::uint16_t v) { return ntohs(v); }

}  // namespace etl::plat
