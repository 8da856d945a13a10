// The socket interface in memory: scripted peers and a fake clock. See
// memory_platform.h.
#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "platform/socket_platform.h"
#include "tests/support/memory_platform/memory_platform.h"

namespace etl::memplat {
namespace {

constexpr std::uint32_t kStepMs = 1;      // each TickCount
constexpr SocketHandle kFirstHandle = 3;  // never 0: that is "no socket"
constexpr std::uint16_t kFirstLocalPort = 49152;
constexpr std::size_t kMaxTargetsKept = 4096;  // of ConnectTargets, and of names

struct Piece {
    std::uint32_t at;  // fake time at which it becomes readable
    std::string bytes;
    bool close;  // the end of the stream
};

struct Conn {
    bool bound = false;
    bool connecting = false;
    bool connected = false;
    bool reset = false;
    bool peerClosed = false;
    bool selfLoop = false;  // connected to itself: what it sends, it reads
    int connectError = 0;
    std::uint32_t acceptAt = 0;  // fake time at which an accepted attempt is established
    Accept accept = Accept::kRefuse;
    SockAddrIn local{};
    SockAddrIn remote{};
    Peer* peer = nullptr;
    std::string readable;
    std::deque<Piece> scheduled;
    std::uint32_t lastScheduled = 0;  // time of the last piece scheduled
    int sends = 0;
    std::string lastSent;
    std::string receivedSinceSend;
};

struct Armed {
    int nth = 0;
    int error = 0;
    int count = 0;
};

struct State {
    std::recursive_mutex lock;
    std::uint32_t now = 1000;
    int users = 0;
    SocketHandle nextHandle = kFirstHandle;
    std::uint16_t nextPort = kFirstLocalPort;
    std::map<SocketHandle, Conn> sockets;
    std::map<std::pair<std::uint32_t, std::uint16_t>, Peer*> peers;
    int connectAttempts = 0;
    std::uint32_t connectDelayMs = 0;
    bool selfArmed = false;
    std::pair<std::uint32_t, std::uint16_t> selfTarget{};
    std::vector<SockAddrIn> targets;
    std::vector<std::string> names;
    Armed armed[6];
};

State& S() {
    static State* state = new State;  // outlives every static destructor
    return *state;
}

using Hold = std::lock_guard<std::recursive_mutex>;

Conn* Find(SocketHandle s) {
    if (s <= 0) return nullptr;
    auto it = S().sockets.find(s);
    return it == S().sockets.end() ? nullptr : &it->second;
}

// 0, or the armed error when this call of the kind is the one to fail.
int Injected(Call call) {
    Armed& a = S().armed[static_cast<int>(call)];
    if (a.nth <= 0) return 0;
    return ++a.count == a.nth ? a.error : 0;
}

// The socket a wait is on, or null with *error set: s is no socket, or the
// test armed this call to fail.
Conn* WaitTarget(SocketHandle s, Call call, int* error) {
    Conn* sock = Find(s);
    if (sock == nullptr) {
        *error = kNotSocket;
        return nullptr;
    }
    if (const int e = Injected(call)) {
        *error = e;
        return nullptr;
    }
    return sock;
}

// Signed distance of a from b on the wrapping clock.
std::int32_t Diff(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b); }

// Moves every piece whose time has come into the readable bytes.
void Pump(Conn& sock) {
    while (!sock.scheduled.empty() && Diff(sock.scheduled.front().at, S().now) <= 0) {
        Piece& p = sock.scheduled.front();
        if (!sock.peerClosed && !sock.reset) sock.readable += p.bytes;
        if (p.close) sock.peerClosed = true;
        sock.scheduled.pop_front();
    }
}

// Ends a connection attempt as its peer decides: true when it has ended
// (established or refused) or none was under way, false while it hangs or
// its accepted connection is not yet established.
bool SettleConnect(Conn& sock) {
    if (!sock.connecting) return true;
    switch (sock.accept) {
        case Accept::kAccept:
            if (Diff(sock.acceptAt, S().now) > 0) return false;
            sock.connecting = false;
            sock.connected = true;
            return true;
        case Accept::kRefuse:
            sock.connecting = false;
            sock.connectError = kConnRefused;
            return true;
        case Accept::kNever:
            break;
    }
    return false;
}

// An accepted attempt that is established within the wait: the clock moves
// on to that moment.
bool PendingAccept(Conn& sock, std::uint32_t timeoutMs) {
    if (!sock.connecting || sock.accept != Accept::kAccept) return false;
    const std::int32_t wait = Diff(sock.acceptAt, S().now);
    if (wait > static_cast<std::int32_t>(timeoutMs)) return false;
    if (wait > 0) S().now = sock.acceptAt;
    return SettleConnect(sock);
}

bool ReadReady(const Conn& sock) {
    return !sock.readable.empty() || sock.peerClosed || sock.reset || !sock.connected;
}

void Schedule(SocketHandle s, std::string_view bytes, bool close, std::uint32_t afterMs) {
    Conn* sock = Find(s);
    if (sock == nullptr || sock->reset) return;
    std::uint32_t at = S().now + afterMs;
    if (!sock->scheduled.empty() && Diff(at, sock->lastScheduled) < 0) at = sock->lastScheduled;
    sock->lastScheduled = at;
    sock->scheduled.push_back({at, std::string(bytes), close});
    Pump(*sock);
}

}  // namespace

void Link::Deliver(std::string_view bytes, std::uint32_t afterMs) {
    Hold hold(S().lock);
    Schedule(socket_, bytes, false, afterMs);
}

void Link::Close(std::uint32_t afterMs) {
    Hold hold(S().lock);
    Schedule(socket_, {}, true, afterMs);
}

void Link::Reset() {
    Hold hold(S().lock);
    if (Conn* sock = Find(socket_)) {
        sock->reset = true;
        sock->readable.clear();
        sock->scheduled.clear();
    }
}

void Reset(std::uint32_t start) {
    State& st = S();
    Hold hold(st.lock);
    st.now = start;
    st.users = 0;
    st.nextHandle = kFirstHandle;
    st.nextPort = kFirstLocalPort;
    st.sockets.clear();
    st.peers.clear();
    st.connectAttempts = 0;
    st.selfArmed = false;
    st.connectDelayMs = 0;
    st.targets.clear();
    st.names.clear();
    for (Armed& a : st.armed) a = Armed{};
}

void Serve(std::uint32_t address, std::uint16_t port, Peer* peer) {
    Hold hold(S().lock);
    if (peer == nullptr) {
        S().peers.erase({address, port});
    } else {
        S().peers[{address, port}] = peer;
    }
}

std::uint32_t Loopback() {
    const std::uint8_t bytes[4] = {127, 0, 0, 1};
    std::uint32_t a;
    std::memcpy(&a, bytes, 4);
    return a;
}

std::uint16_t Port(std::uint16_t hostOrder) { return plat::HostToNet16(hostOrder); }

std::uint32_t Now() {
    Hold hold(S().lock);
    return S().now;
}

void SetNow(std::uint32_t now) {
    Hold hold(S().lock);
    S().now = now;
}

void SetConnectDelay(std::uint32_t ms) {
    Hold hold(S().lock);
    S().connectDelayMs = ms;
}

void ArmSelfConnect(std::uint32_t address, std::uint16_t port) {
    Hold hold(S().lock);
    S().selfArmed = true;
    S().selfTarget = {address, port};
}

void FailCall(Call call, int nth, int error) {
    Hold hold(S().lock);
    S().armed[static_cast<int>(call)] = Armed{nth, error, 0};
}

int OpenSockets() {
    Hold hold(S().lock);
    return static_cast<int>(S().sockets.size());
}

int Users() {
    Hold hold(S().lock);
    return S().users;
}

int ConnectAttempts() {
    Hold hold(S().lock);
    return S().connectAttempts;
}

std::vector<SockAddrIn> ConnectTargets() {
    Hold hold(S().lock);
    return S().targets;
}

std::vector<std::string> LookedUpNames() {
    Hold hold(S().lock);
    return S().names;
}

int Sends(SocketHandle s) {
    Hold hold(S().lock);
    const Conn* sock = Find(s);
    return sock != nullptr ? sock->sends : 0;
}

std::string LastSent(SocketHandle s) {
    Hold hold(S().lock);
    const Conn* sock = Find(s);
    return sock != nullptr ? sock->lastSent : std::string();
}

std::string ReceivedSinceSend(SocketHandle s) {
    Hold hold(S().lock);
    const Conn* sock = Find(s);
    return sock != nullptr ? sock->receivedSinceSend : std::string();
}

}  // namespace etl::memplat

namespace etl::plat {

using memplat::Call;
using memplat::Find;
using memplat::Hold;
using memplat::Injected;
using memplat::S;

int SocketsStart(std::uint16_t version) {
    if ((version & 0xFF) == 0) return memplat::kInvalidArgument;
    Hold hold(S().lock);
    ++S().users;
    return 0;
}

int SocketsCleanup() {
    Hold hold(S().lock);
    if (S().users <= 0) return memplat::kNotStarted;
    if (--S().users == 0) S().sockets.clear();
    return 0;
}

int ErrorNotSocket() { return memplat::kNotSocket; }
int ErrorInvalid() { return memplat::kInvalidArgument; }
int ErrorNotStarted() { return memplat::kNotStarted; }
int ErrorTooManyUsers() { return memplat::kTooManyUsers; }

int OpenSocket(int family, int type, int protocol, SocketHandle* out) {
    *out = kNoSocket;
    Hold hold(S().lock);
    if (S().users <= 0) return memplat::kNotStarted;
    if (const int e = Injected(Call::kOpen)) return e;
    if (family != kAfInet) return memplat::kAfNotSupported;
    if (type != kSockStream || (protocol != 0 && protocol != 6)) return memplat::kInvalidArgument;
    const SocketHandle s = S().nextHandle++;
    if (S().nextHandle <= 0) S().nextHandle = memplat::kFirstHandle;
    memplat::Conn& sock = S().sockets[s];
    sock.local.family = kAfInet;
    *out = s;
    return 0;
}

int SetNonBlocking(SocketHandle s, bool) {
    Hold hold(S().lock);
    return Find(s) != nullptr ? 0 : memplat::kNotSocket;
}

int Bind(SocketHandle s, const SockAddrIn& local) {
    Hold hold(S().lock);
    memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (local.family != kAfInet) return memplat::kAfNotSupported;
    if (sock->bound) return memplat::kInvalidArgument;
    sock->bound = true;
    sock->local = local;
    return 0;
}

int Connect(SocketHandle s, const SockAddrIn& remote) {
    Hold hold(S().lock);
    memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (remote.family != kAfInet) return memplat::kAfNotSupported;
    if (remote.address == 0 || remote.address == 0xFFFFFFFFu) return memplat::kAddrNotAvailable;
    if (sock->connecting || sock->connected) return memplat::kInvalidArgument;
    ++S().connectAttempts;
    if (S().targets.size() < memplat::kMaxTargetsKept) S().targets.push_back(remote);
    sock->remote = remote;
    sock->connecting = true;
    sock->acceptAt = S().now + S().connectDelayMs;
    sock->local.family = kAfInet;
    sock->local.address = memplat::Loopback();
    sock->local.port = HostToNet16(S().nextPort++);
    if (S().nextPort == 0) S().nextPort = memplat::kFirstLocalPort;
    auto it = S().peers.find({remote.address, remote.port});
    if (it == S().peers.end() && S().selfArmed &&
        S().selfTarget == std::make_pair(remote.address, remote.port)) {
        S().selfArmed = false;
        sock->local = remote;
        sock->selfLoop = true;
        sock->accept = memplat::Accept::kAccept;
    } else if (it == S().peers.end()) {
        sock->accept = memplat::Accept::kRefuse;
    } else {
        sock->peer = it->second;
        memplat::Link link(s);
        sock->accept = sock->peer->OnConnect(link);
        sock = Find(s);  // the peer may have touched the table
        if (sock == nullptr) return memplat::kNotSocket;
    }
    return memplat::kInProgressError;
}

bool InProgress(int error) { return error == memplat::kInProgressError; }

bool WouldBlock(int error) { return error == memplat::kWouldBlock; }

int WaitWritable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    Hold hold(S().lock);
    memplat::Conn* sock = memplat::WaitTarget(s, Call::kWaitWritable, error);
    if (sock == nullptr) return -1;
    if (memplat::SettleConnect(*sock)) return 1;
    if (memplat::PendingAccept(*sock, timeoutMs)) return 1;
    S().now += timeoutMs;
    return 0;
}

int WaitReadable(SocketHandle s, std::uint32_t timeoutMs, int* error) {
    Hold hold(S().lock);
    memplat::Conn* sock = memplat::WaitTarget(s, Call::kWaitReadable, error);
    if (sock == nullptr) return -1;
    memplat::Pump(*sock);
    if (memplat::ReadReady(*sock)) return 1;
    if (!sock->scheduled.empty()) {
        const std::uint32_t wait = sock->scheduled.front().at - S().now;
        if (wait <= timeoutMs) {
            S().now += wait;
            memplat::Pump(*sock);
            return 1;
        }
    }
    S().now += timeoutMs;
    return 0;
}

int WaitReadableBytes(SocketHandle s, std::uint32_t minimum, std::uint32_t timeoutMs,
                      std::uint32_t* count, int* error) {
    *count = 0;
    Hold hold(S().lock);
    memplat::Conn* sock = memplat::WaitTarget(s, Call::kWaitReadable, error);
    if (sock == nullptr) return -1;
    const std::uint32_t deadline = S().now + timeoutMs;
    for (;;) {
        memplat::Pump(*sock);
        *count = static_cast<std::uint32_t>(sock->readable.size());
        if (*count >= minimum || sock->peerClosed || sock->reset || !sock->connected) return 1;
        // Nothing ends the wait but the next scheduled piece.
        if (sock->scheduled.empty() || memplat::Diff(sock->scheduled.front().at, deadline) > 0) {
            if (memplat::Diff(deadline, S().now) > 0) S().now = deadline;
            return 0;
        }
        if (memplat::Diff(sock->scheduled.front().at, S().now) > 0) {
            S().now = sock->scheduled.front().at;
        }
    }
}

int WaitConnects(const SocketHandle* sockets, int count, bool* settled, std::uint32_t timeoutMs,
                 int* error) {
    Hold hold(S().lock);
    if (count < 0 || count > kMaxWaitSockets) {
        *error = memplat::kInvalidArgument;
        return -1;
    }
    if (const int e = Injected(Call::kWaitWritable)) {
        *error = e;
        return -1;
    }
    int pending = 0;
    int marked = 0;
    for (int i = 0; i < count; ++i) {
        if (settled[i]) continue;
        memplat::Conn* sock = Find(sockets[i]);
        if (sock == nullptr) {
            *error = memplat::kNotSocket;
            return -1;
        }
        ++pending;
        if (memplat::SettleConnect(*sock)) {
            settled[i] = true;
            ++marked;
        }
    }
    if (pending == 0 || marked > 0) return marked;
    // Nothing has ended yet: the first accepted attempt that is established
    // within the wait ends it.
    std::uint32_t first = S().now + timeoutMs;
    for (int i = 0; i < count; ++i) {
        const memplat::Conn* sock = settled[i] ? nullptr : Find(sockets[i]);
        if (sock != nullptr && sock->connecting && sock->accept == memplat::Accept::kAccept &&
            memplat::Diff(sock->acceptAt, first) < 0) {
            first = sock->acceptAt;
        }
    }
    S().now = first;
    for (int i = 0; i < count; ++i) {
        memplat::Conn* sock = settled[i] ? nullptr : Find(sockets[i]);
        if (sock != nullptr && memplat::SettleConnect(*sock)) {
            settled[i] = true;
            ++marked;
        }
    }
    return marked;
}

int ConnectOutcome(SocketHandle s) {
    Hold hold(S().lock);
    const memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (sock->connected) return 0;
    if (sock->connectError != 0) return sock->connectError;
    return memplat::kNotConnected;
}

ErrorKind KindOf(int error) {
    if (error == memplat::kConnRefused) return ErrorKind::kRefused;
    if (error == memplat::kConnReset) return ErrorKind::kReset;
    return ErrorKind::kOther;
}

int LocalAddress(SocketHandle s, SockAddrIn* out) {
    Hold hold(S().lock);
    const memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    *out = sock->local;
    return 0;
}

int Readable(SocketHandle s, std::uint32_t* count) {
    Hold hold(S().lock);
    memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (const int e = Injected(Call::kReadable)) return e;
    memplat::Pump(*sock);
    *count = static_cast<std::uint32_t>(sock->readable.size());
    return 0;
}

int Send(SocketHandle s, const void* data, int length, const SockAddrIn*, int* done) {
    *done = 0;
    Hold hold(S().lock);
    memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (length < 0) return memplat::kInvalidArgument;
    if (const int e = Injected(Call::kSend)) return e;
    if (!sock->connected) return memplat::kNotConnected;
    if (sock->reset || sock->peerClosed) return memplat::kConnReset;
    std::string chunk(static_cast<const char*>(data), static_cast<std::size_t>(length));
    ++sock->sends;
    sock->lastSent = chunk;
    sock->receivedSinceSend.clear();
    *done = length;
    if (sock->selfLoop) sock->readable += chunk;
    if (sock->peer != nullptr) {
        memplat::Link link(s);
        sock->peer->OnData(link, chunk);
    }
    return 0;
}

int Receive(SocketHandle s, void* buffer, int size, SockAddrIn* from, int* done) {
    *done = 0;
    Hold hold(S().lock);
    memplat::Conn* sock = Find(s);
    if (sock == nullptr) return memplat::kNotSocket;
    if (size < 0) return memplat::kInvalidArgument;
    if (const int e = Injected(Call::kReceive)) return e;
    memplat::Pump(*sock);
    if (sock->reset) return memplat::kConnReset;
    if (!sock->connected) return memplat::kNotConnected;
    if (from != nullptr) *from = sock->remote;
    if (sock->readable.empty()) return sock->peerClosed ? 0 : memplat::kWouldBlock;
    const std::size_t n = std::min(sock->readable.size(), static_cast<std::size_t>(size));
    std::memcpy(buffer, sock->readable.data(), n);
    sock->receivedSinceSend.append(sock->readable, 0, n);
    sock->readable.erase(0, n);
    *done = static_cast<int>(n);
    return 0;
}

void Close(SocketHandle s) {
    Hold hold(S().lock);
    if (s > 0) S().sockets.erase(s);
}

std::uint32_t TickCount() {
    Hold hold(S().lock);
    S().now += memplat::kStepMs;
    return S().now;
}

bool ResolveHost(const char* name, std::uint32_t* address) {
    Hold hold(S().lock);
    if (S().names.size() < memplat::kMaxTargetsKept) S().names.emplace_back(name);
    if (std::strcmp(name, "localhost") != 0) return false;
    *address = memplat::Loopback();
    return true;
}

bool ParseIpv4(const char* text, std::uint32_t* address) {
    // The C library's conversion, as on POSIX: a pure function, no name
    // service, and not recorded among the looked-up names.
    if (text[0] < '0' || text[0] > '9') return false;
#if defined(_WIN32)
    const unsigned long a = ::inet_addr(text);  // INADDR_NONE also for a refusal
    if (a == INADDR_NONE) return false;
    *address = static_cast<std::uint32_t>(a);
#else
    in_addr a{};
    if (::inet_aton(text, &a) == 0 || a.s_addr == 0xFFFFFFFFu) return false;
    *address = a.s_addr;
#endif
    return true;
}

bool ServicePort(const char* name, const char* protocol, std::uint16_t* port) {
    struct Service {
        const char* name;
        std::uint16_t port;
    };
    static const Service kServices[] = {
        {"echo", 7}, {"discard", 9}, {"ftp", 21}, {"telnet", 23}, {"http", 80},
    };
    if (protocol != nullptr && std::strcmp(protocol, "tcp") != 0 &&
        std::strcmp(protocol, "udp") != 0) {
        return false;
    }
    for (const Service& s : kServices) {
        if (std::strcmp(name, s.name) == 0) {
            *port = HostToNet16(s.port);
            return true;
        }
    }
    return false;
}

std::uint16_t HostToNet16(std::uint16_t v) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v & 0xFF)};
    std::uint16_t out;
    std::memcpy(&out, bytes, 2);
    return out;
}

std::uint16_t NetToHost16(std::uint16_t v) {
    std::uint8_t bytes[2];
    std::memcpy(bytes, &v, 2);
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

}  // namespace etl::plat
