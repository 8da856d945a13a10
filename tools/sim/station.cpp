// A simulated station's service: its listener as the faults want it, its
// connections read one chunk at a time, each request's reply sent in steps.
#include "tools/sim/station.h"

#include <algorithm>
#include <chrono>

#include <asio/post.hpp>
#include <asio/write.hpp>

namespace etl::sim {

using asio::ip::tcp;
using std::chrono::milliseconds;

namespace {

constexpr int kMaxFrameText = 4096;  // a longer announced text closes the connection
constexpr int kMaxFillers = 8;
constexpr int kFillerWaitMs = 100;
constexpr int kBacklog = 16;
constexpr int kSettleWaitMs = 3000;
const char* const kAbandoned = "the answer was abandoned (restarted or refusing connections)";

}  // namespace

struct Station::Connection {
    explicit Connection(asio::io_context& io) : socket(io) {}
    tcp::socket socket;
    std::string buffer;  // received, not yet a whole frame
    // The parts of an answer still to be asked for; an empty one is a part
    // whose request goes unanswered.
    std::deque<std::string> pending;
    std::uint16_t peer = 0;  // the client's port
    // The trace's view of the bytes each way (fed only while tracing).
    tools::FrameReader fromDriver, fromStation;
    // The read under way, and what it brought while the station was busy.
    std::array<char, 2048> chunk{};
    bool reading = false;
    bool held = false;
    std::size_t heldBytes = 0;
    std::error_code heldError;
    bool closed = false;
};

Station::Station(Shared& shared, int number) : shared_(shared), number_(number) { state.number = number; }

std::uint16_t Station::Bind(std::uint16_t port) {
    std::error_code ec;
    listener_.open(tcp::v4(), ec);
    if (!ec) listener_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) listener_.bind({asio::ip::address_v4::loopback(), port}, ec);
    const tcp::endpoint bound = ec ? tcp::endpoint() : listener_.local_endpoint(ec);
    if (ec) {
        listener_.close(ec);
        return 0;
    }
    return port_ = bound.port();
}

void Station::Start() {
    mode_ = Mode::kBound;
    stopping_ = false;
    io_.restart();
    work_.emplace(io_.get_executor());
    thread_ = std::thread([this] { io_.run(); });
    Wake();
}

void Station::Stop() {
    asio::post(io_, [this] { Shutdown(); });
    if (thread_.joinable()) thread_.join();
    mode_ = Mode::kBound;
    std::lock_guard<std::mutex> lock(shared_.mutex);
    open = 0;
}

void Station::Wake() {
    ++generation;
    if (shared_.running) asio::post(io_, [this] { Changed(); });
}

void Station::WaitSettled(std::unique_lock<std::mutex>& lock) {
    if (!shared_.running) return;
    const unsigned target = generation;
    shared_.settled.wait_for(lock, milliseconds(kSettleWaitMs), [&] { return applied - target < 0x80000000u; });
}

void Station::CloseListener() {
    std::error_code ignored;
    for (auto& f : fillers_) f.close(ignored);
    fillers_.clear();
    listener_.close(ignored);
    ++listenerId_;
    accepting_ = false;
    if (incoming_) incoming_->socket.close(ignored);
    incoming_.reset();
}

// Applies what SetFaults, RestartStation and Start asked for: a restart or
// refused connections abandon the answer under way and close every
// connection; the listener follows the faults at once.
void Station::Changed() {
    Mode want = Mode::kListening;
    bool restartNow = false;
    bool dropAll = false;
    unsigned target;
    {
        std::lock_guard<std::mutex> lock(shared_.mutex);
        const Faults& f = state.faults;
        if (f.refuseConnections || f.refuseNewConnections) {
            want = Mode::kBound;
        } else if (f.neverAccept) {
            want = Mode::kFull;
        }
        dropAll = f.refuseConnections;
        restartNow = restart;
        target = generation;
    }
    if (!stopping_) {
        if (restartNow || dropAll) {
            Abandon();
            CloseConnections(restartNow ? "restarted" : "refusing connections");
        }
        ApplyMode(want);
    }
    {
        std::lock_guard<std::mutex> lock(shared_.mutex);
        bindFailed = !listener_.is_open();
        restart = false;
        applied = target;
        open = static_cast<int>(connections_.size());
        shared_.settled.notify_all();
    }
    Serve();
}

// The end of the service: what is under way is abandoned, every socket
// closed; the thread's run ends with the last handler.
void Station::Shutdown() {
    stopping_ = true;
    Abandon();
    CloseConnections("stopped");
    CloseListener();
    work_.reset();
}

// Makes the listener match the faults: bound only (connects refused),
// listening, or listening with a full accept queue (connects hang).
void Station::ApplyMode(Mode want) {
    std::error_code ec;
    if (mode_ == want && listener_.is_open()) return;
    if (mode_ == Mode::kBound && want == Mode::kListening && listener_.is_open() && fillers_.empty()) {
        listener_.listen(kBacklog, ec);
        if (!ec) {
            mode_ = want;
            return;
        }
    }
    CloseListener();
    if (Bind(port_) == 0) {
        std::fprintf(stderr, "etlan-sim: station %d cannot bind port %u again\n", number_, port_);
        return;
    }
    mode_ = want;
    if (want == Mode::kListening) {
        listener_.listen(kBacklog, ec);
    } else if (want == Mode::kFull) {
        // Backlog 0 and our own connections in the queue: the system then
        // drops further connection requests, so connects hang.
        listener_.listen(0, ec);
        fillers_.reserve(kMaxFillers);  // the sockets never move while they connect
        for (int i = 0; i < kMaxFillers; ++i) {
            auto result = std::make_shared<std::optional<std::error_code>>();
            fillers_.emplace_back(fillIo_).async_connect({asio::ip::address_v4::loopback(), port_},
                                                         [result](std::error_code e) { *result = e; });
            fillIo_.restart();
            fillIo_.run_for(milliseconds(kFillerWaitMs));
            if (!*result || **result) break;
        }
    }
}

// Takes what the listener and the connections brought, one at a time and
// in order, unless an answer is under way (its end comes back here); then
// waits for more.
void Station::Serve() {
    if (stopping_) return;
    while (!answering_) {
        if (incoming_) {
            Welcome(std::exchange(incoming_, nullptr));
            continue;
        }
        const auto it = std::find_if(connections_.begin(), connections_.end(),
                                     [](const ConnectionPtr& c) { return c->held; });
        if (it == connections_.end()) break;
        const ConnectionPtr c = *it;
        c->held = false;
        if (c->heldError) {
            Drop(c, true);
            continue;
        }
        const std::string_view bytes(c->chunk.data(), c->heldBytes);
        shared_.TraceBytes(number_, c->fromDriver, true, bytes);
        if (Recorder* r = shared_.recorder) r->Carried(c->peer, port_, true, bytes);
        c->buffer.append(bytes);
        Frames(c);
    }
    if (answering_) return;
    Accept();
    for (const auto& c : connections_) Read(c);
}

void Station::Accept() {
    if (mode_ != Mode::kListening || accepting_ || incoming_) return;
    accepting_ = true;
    auto c = std::make_shared<Connection>(io_);
    listener_.async_accept(c->socket, [this, c, id = listenerId_](std::error_code ec) {
        if (id != listenerId_) return;  // that listener is gone
        accepting_ = false;
        if (!ec) incoming_ = c;
        Serve();
    });
}

void Station::Welcome(ConnectionPtr c) {
    std::error_code ec;
    c->socket.set_option(tcp::no_delay(true), ec);
    const tcp::endpoint peer = c->socket.remote_endpoint(ec);
    c->peer = ec ? 0 : peer.port();
    connections_.push_back(c);
    shared_.Trace(number_, "==", "accepted a connection (port " + std::to_string(c->peer) + ")");
    if (Recorder* r = shared_.recorder) r->Opened(c->peer, port_);
    std::lock_guard<std::mutex> lock(shared_.mutex);
    ++accepted;
    open = static_cast<int>(connections_.size());
}

void Station::Read(const ConnectionPtr& c) {
    if (c->reading || c->held || c->closed) return;
    c->reading = true;
    c->socket.async_read_some(asio::buffer(c->chunk), [this, c](std::error_code ec, std::size_t n) {
        c->reading = false;
        if (c->closed) return;
        c->held = true;
        c->heldBytes = n;
        c->heldError = ec;
        Serve();
    });
}

// Every complete frame in the connection's buffer, in order, until one
// starts an answer that takes its time (its end comes back here).
void Station::Frames(const ConnectionPtr& c) {
    while (!c->closed && !answering_ && c->buffer.size() >= kHeaderSize) {
        const auto* b = reinterpret_cast<const unsigned char*>(c->buffer.data());
        const int length = b[2] | (b[3] << 8);
        if (b[0] != 0x10 || length > kMaxFrameText) {
            shared_.Log(number_, "closes on a bad header:", c->buffer.substr(0, kHeaderSize));
            Drop(c, false,
                 b[0] != 0x10 ? "no ET-LAN header" : "the header announces " + std::to_string(length) + " text bytes");
            return;
        }
        const std::size_t total = kHeaderSize + static_cast<std::size_t>(length);
        if (c->buffer.size() < total) return;
        const std::string frame = c->buffer.substr(0, total);
        c->buffer.erase(0, total);
        Answer(c, frame);
    }
}

// One request frame: its reply sent in steps, the connection closed, or
// nothing sent.
void Station::Answer(const ConnectionPtr& c, const std::string& frame) {
    shared_.Log(number_, "<-", frame);
    Reply reply;
    Faults f;
    {
        std::lock_guard<std::mutex> lock(shared_.mutex);
        ++requests;
        lastRequest = frame;
        f = state.faults;
        reply = ReplyTo(shared_.memory, state, c->pending, frame);
    }
    if (reply.kind != Reply::Kind::kAnswer) {
        shared_.Log(number_, reply.log.c_str(), "");
        if (reply.kind == Reply::Kind::kClose) {
            Drop(c, false, reply.event);
        } else {
            shared_.Trace(number_, "==", reply.event);
        }
        return;
    }
    AddCopy(steps_, f.delayMs, {}, reply.bytes, f);
    if (f.duplicateAfterMs >= 0) {
        AddCopy(steps_, f.duplicateAfterMs,
                "the same answer again, " + std::to_string(f.duplicateAfterMs) + " ms after the first (answer twice)",
                reply.bytes, f);
    }
    answering_ = c;
    ++answerId_;
    SendSteps();
}

// One copy of an answer, whole or in pieces as the faults say.
void Station::AddCopy(std::deque<Step>& steps, int waitMs, const std::string& event, const std::string& out,
                      const Faults& f) {
    const std::size_t piece = f.pieceBytes > 0 ? static_cast<std::size_t>(f.pieceBytes) : out.size();
    steps.push_back({waitMs, event, out, out.substr(0, piece)});
    for (std::size_t at = piece; at < out.size(); at += piece) {
        steps.push_back({f.piecePauseMs, {}, {}, out.substr(at, piece)});
    }
}

// Sends the answer's steps in turn until one has to wait (false: its timer
// resumes them); true once the answer is done, or its connection closed
// because a send failed.
bool Station::SendSteps() {
    const ConnectionPtr c = answering_;
    while (!steps_.empty()) {
        Step& step = steps_.front();
        if (step.waitMs > 0) {
            timer_.expires_after(milliseconds(std::exchange(step.waitMs, 0)));
            timer_.async_wait([this, c, id = answerId_](std::error_code ec) {
                if (ec || id != answerId_ || !SendSteps()) return;
                Frames(c);  // what came behind the request
                Serve();
            });
            return false;
        }
        if (!step.event.empty()) shared_.Trace(number_, "==", step.event);
        if (!step.log.empty()) shared_.Log(number_, "->", step.log);
        shared_.TraceBytes(number_, c->fromStation, false, step.bytes);
        std::error_code ec;
        asio::write(c->socket, asio::buffer(step.bytes), ec);
        if (ec) {
            steps_.clear();
            answering_.reset();
            Drop(c, false, "sending failed");
            return true;
        }
        if (Recorder* r = shared_.recorder) r->Carried(c->peer, port_, false, step.bytes);
        steps_.pop_front();
    }
    answering_.reset();
    return true;
}

// Drops the answer under way and closes its connection.
void Station::Abandon() {
    if (!answering_) return;
    const ConnectionPtr c = std::exchange(answering_, nullptr);
    steps_.clear();
    ++answerId_;
    timer_.cancel();
    Drop(c, false, kAbandoned);
}

// Closes a connection: the client closed it (byClient) or the station does
// (why, for the trace).
void Station::Drop(const ConnectionPtr& c, bool byClient, const std::string& why) {
    Close(*c, byClient, byClient ? "closed by the driver" : "closed by the station: " + why);
    std::erase(connections_, c);
    std::lock_guard<std::mutex> lock(shared_.mutex);
    open = static_cast<int>(connections_.size());
}

void Station::Close(Connection& c, bool byClient, const std::string& why) {
    if (shared_.trace) {
        for (const auto& line : c.fromDriver.Flush()) shared_.Trace(number_, "->", line);
        for (const auto& line : c.fromStation.Flush()) shared_.Trace(number_, "<-", line);
        shared_.Trace(number_, "==", why + " (port " + std::to_string(c.peer) + ")");
    }
    if (Recorder* r = shared_.recorder) r->Closed(c.peer, port_, byClient);
    // Shut down first: on Windows a program the process started meanwhile
    // may hold the socket too (inherited with the one made in advance for
    // the accept), and closing one copy would leave the connection open.
    std::error_code ignored;
    c.socket.shutdown(tcp::socket::shutdown_both, ignored);
    c.socket.close(ignored);
    c.closed = true;
}

void Station::CloseConnections(const char* why) {
    for (auto& c : connections_) Close(*c, false, std::string("closed by the station: ") + why);
    connections_.clear();
}

}  // namespace etl::sim
