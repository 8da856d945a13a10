// The simulated ET-LAN units: one thread per station serving its listener
// and connections, with the station's faults applied to every answer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/common/frame_text.h"
#include "tools/sim/net/sim_socket.h"
#include "tools/sim/simulator.h"

namespace etl::sim {

using simnet::kNoSimSocket;
using simnet::SimSocket;

namespace {

constexpr int kHeaderSize = 12;
constexpr int kMaxFrameText = 4096;     // a longer announced text closes the connection
constexpr int kPollMs = 10;
constexpr int kOversizedFrame = 3000;   // bytes of an oversized answer, header included
constexpr int kMaxFillers = 8;
constexpr int kSettleWaitMs = 3000;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Printable form of a frame for the log.
std::string Printable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        }
    }
    return out;
}

enum class Mode { kBound, kListening, kFull };

struct Connection {
    SimSocket socket = kNoSimSocket;
    std::string buffer;
    // The parts of an answer still to be asked for; an empty one is a part
    // whose request goes unanswered.
    std::deque<std::string> pending;
    std::uint16_t peer = 0;  // the client's port
    // The trace's view of the bytes each way (fed only while tracing).
    tools::FrameReader fromDriver, fromStation;
};

struct Station {
    int number = 0;
    std::uint16_t port = 0;
    // Touched by the station's thread only while it runs.
    SimSocket listener = kNoSimSocket;
    Mode mode = Mode::kBound;
    std::vector<SimSocket> fillers;
    std::vector<Connection> connections;
    // Guarded by Impl::mutex.
    Faults faults;
    int split = 0;
    StationField field = StationField::kHex;
    bool strict = false;  // takes texts in its own station field form only
    int requests = 0;
    int accepted = 0;
    int open = 0;
    std::string lastRequest;
    unsigned generation = 0;  // bumped by SetFaults / RestartStation
    unsigned applied = 0;     // what the thread has acted on
    bool restart = false;
    bool bindFailed = false;
    std::thread thread;
};

}  // namespace

struct Simulator::Impl {
    mutable std::mutex mutex;
    std::condition_variable settled;
    Memory memory;
    std::map<int, std::unique_ptr<Station>> stations;
    std::atomic<bool> stop{false};
    bool running = false;
    std::atomic<bool> verbose{false};
    std::atomic<bool> trace{false};
    std::atomic<std::FILE*> traceOut{stderr};
    std::atomic<Recorder*> recorder{nullptr};
    bool netStarted = false;

    explicit Impl(Model model) : memory(model) {}

    void Log(const Station& st, const char* dir, const std::string& bytes) {
        if (!verbose) return;
        std::string line = "etlan-sim: station " + std::to_string(st.number) + " " + dir + " " +
                           Printable(bytes) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }

    // One trace line for the station, stamped with the local time as
    // etlan --trace stamps its lines.
    void TraceLine(const Station& st, const char* mark, const std::string& text) {
        if (!trace) return;
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
        std::tm local{};
#if defined(_WIN32)
        localtime_s(&local, &seconds);
#else
        localtime_r(&seconds, &local);
#endif
        const std::string line = tools::TraceLine(tools::TraceStamp(local, ms), mark, st.number, text);
        std::FILE* out = traceOut;
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }

    // What the station does besides carrying frames: "== st NN text".
    void TraceEvent(const Station& st, const std::string& text) { TraceLine(st, "==", text); }

    // Bytes of the connection as they travel, cut into frames as etlan's
    // relay cuts them: "->" what the station receives, "<-" what it sends.
    void TraceBytes(const Station& st, Connection& c, bool fromDriver, std::string_view bytes) {
        if (!trace) return;
        tools::FrameReader& reader = fromDriver ? c.fromDriver : c.fromStation;
        for (const auto& line : reader.Feed(bytes.data(), bytes.size())) {
            TraceLine(st, fromDriver ? "->" : "<-", line);
        }
    }

    // The connection ends: what its readers still hold, then why.
    void TraceClosed(const Station& st, Connection& c, const std::string& why) {
        if (!trace) return;
        for (const auto& line : c.fromDriver.Flush()) TraceLine(st, "->", line);
        for (const auto& line : c.fromStation.Flush()) TraceLine(st, "<-", line);
        TraceEvent(st, why + " (port " + std::to_string(c.peer) + ")");
    }

    // Sleeps ms unless the simulator stops, the station restarts or stops
    // listening (false: the answer is abandoned and its connection closed).
    // Other fault changes take effect at once, so SetFaults never waits for
    // a delayed answer.
    // Waits ms against the clock (a loaded machine stretches each short
    // sleep, never the whole wait), looking at stops and fault changes
    // every few milliseconds.
    bool Pause(Station& st, int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (stop || !Reconcile(st, true)) return false;
            const auto left = until - std::chrono::steady_clock::now();
            if (left <= std::chrono::milliseconds(0)) return !stop;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                left, std::chrono::milliseconds(5)));
        }
    }

    void CloseConnections(Station& st, const char* why) {
        for (auto& c : st.connections) {
            TraceClosed(st, c, std::string("closed by the station: ") + why);
            if (Recorder* r = recorder) r->Closed(c.peer, st.port, false);
            simnet::SimClose(c.socket);
        }
        st.connections.clear();
    }

    void CloseListener(Station& st) {
        for (SimSocket f : st.fillers) simnet::SimClose(f);
        st.fillers.clear();
        simnet::SimClose(st.listener);
        st.listener = kNoSimSocket;
    }

    // Makes the listener match the faults: bound only (connects refused),
    // listening, or listening with a full accept queue (connects hang).
    void ApplyMode(Station& st, Mode want) {
        if (st.mode == want && st.listener != kNoSimSocket) return;
        if (st.mode == Mode::kBound && want == Mode::kListening && st.listener != kNoSimSocket &&
            st.fillers.empty() && simnet::SimListen(st.listener, 16)) {
            st.mode = want;
            return;
        }
        CloseListener(st);
        std::uint16_t bound = 0;
        st.listener = simnet::SimBind(st.port, &bound);
        if (st.listener == kNoSimSocket) {
            std::fprintf(stderr, "etlan-sim: station %d cannot bind port %u again\n", st.number,
                         st.port);
            return;
        }
        st.mode = want;
        if (want == Mode::kListening) {
            simnet::SimListen(st.listener, 16);
        } else if (want == Mode::kFull) {
            // Backlog 0 and our own connections in the queue: the system
            // then drops further connection requests, so connects hang.
            simnet::SimListen(st.listener, 0);
            for (int i = 0; i < kMaxFillers; ++i) {
                SimSocket f = simnet::SimConnectStart(st.port);
                if (f == kNoSimSocket) break;
                st.fillers.push_back(f);
                if (!simnet::SimConnectWait(f, 100)) break;
            }
        }
    }

    // Applies what SetFaults and RestartStation asked for. While an answer
    // is pending (answering) the connections stay: then a change that would
    // close them returns false instead.
    bool Reconcile(Station& st, bool answering) {
        Mode want;
        bool restart;
        bool dropAll;
        unsigned generation;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (answering && st.applied == st.generation) return true;
            want = st.faults.refuseConnections || st.faults.refuseNewConnections ? Mode::kBound
                   : st.faults.neverAccept                                      ? Mode::kFull
                                                                                : Mode::kListening;
            dropAll = st.faults.refuseConnections;
            restart = st.restart;
            generation = st.generation;
        }
        if (restart || dropAll) {
            if (answering) return false;
            CloseConnections(st, restart ? "restarted" : "refusing connections");
        }
        ApplyMode(st, want);
        std::lock_guard<std::mutex> lock(mutex);
        st.bindFailed = st.listener == kNoSimSocket;
        if (!answering) st.restart = false;
        st.applied = generation;
        st.open = static_cast<int>(st.connections.size());
        settled.notify_all();
        return true;
    }

    void Serve(Station& st) {
        std::vector<SimSocket> socks;
        std::unique_ptr<bool[]> flags;
        std::size_t capacity = 0;
        while (!stop) {
            Reconcile(st, false);
            socks.clear();
            bool listening = st.mode == Mode::kListening;
            if (listening) socks.push_back(st.listener);
            for (auto& c : st.connections) socks.push_back(c.socket);
            if (capacity < socks.size() + 1) {
                capacity = socks.size() + 16;
                flags = std::make_unique<bool[]>(capacity);
            }
            int n = simnet::SimPoll(socks.data(), static_cast<int>(socks.size()), kPollMs,
                                    flags.get());
            if (n <= 0) {
                if (n < 0) SleepMs(kPollMs);
                continue;
            }
            std::size_t first = 0;
            if (listening) {
                first = 1;
                if (flags[0]) {
                    SimSocket s = simnet::SimAccept(st.listener);
                    if (s != kNoSimSocket) {
                        st.connections.push_back({s, {}, {}, simnet::SimPeerPort(s), {}, {}});
                        const std::uint16_t peer = st.connections.back().peer;
                        TraceEvent(st, "accepted a connection (port " + std::to_string(peer) + ")");
                        if (Recorder* r = recorder) r->Opened(peer, st.port);
                        std::lock_guard<std::mutex> lock(mutex);
                        ++st.accepted;
                        st.open = static_cast<int>(st.connections.size());
                    }
                }
            }
            // Connections accepted just now are not in socks; index by socket.
            std::vector<SimSocket> ready;
            for (std::size_t i = first; i < socks.size(); ++i) {
                if (flags[i]) ready.push_back(socks[i]);
            }
            for (SimSocket s : ready) ReadFrom(st, s);
        }
    }

    // Closes a connection: the client closed it (byClient) or the station
    // does (why, for the trace).
    void Drop(Station& st, SimSocket s, bool byClient, const std::string& why = {}) {
        Connection* gone = Find(st, s);
        if (gone != nullptr) TraceClosed(st, *gone, byClient ? "closed by the driver" : "closed by the station: " + why);
        if (Recorder* r = recorder; r != nullptr && gone != nullptr) r->Closed(gone->peer, st.port, byClient);
        simnet::SimClose(s);
        std::erase_if(st.connections, [s](const Connection& c) { return c.socket == s; });
        std::lock_guard<std::mutex> lock(mutex);
        st.open = static_cast<int>(st.connections.size());
    }

    Connection* Find(Station& st, SimSocket s) {
        for (auto& c : st.connections) {
            if (c.socket == s) return &c;
        }
        return nullptr;
    }

    void ReadFrom(Station& st, SimSocket s) {
        Connection* c = Find(st, s);
        if (c == nullptr) return;
        char chunk[2048];
        int got = simnet::SimRecv(s, chunk, sizeof chunk);
        if (got <= 0) {
            Drop(st, s, true);
            return;
        }
        TraceBytes(st, *c, true, std::string_view(chunk, static_cast<std::size_t>(got)));
        if (Recorder* r = recorder) r->Carried(c->peer, st.port, true, std::string_view(chunk, static_cast<std::size_t>(got)));
        c->buffer.append(chunk, static_cast<std::size_t>(got));
        // Every complete frame in the buffer, in order.
        while (true) {
            c = Find(st, s);
            if (c == nullptr || c->buffer.size() < kHeaderSize) return;
            const auto* b = reinterpret_cast<const unsigned char*>(c->buffer.data());
            int length = b[2] | (b[3] << 8);
            if (b[0] != 0x10 || length > kMaxFrameText) {
                Log(st, "closes on a bad header:", c->buffer.substr(0, kHeaderSize));
                Drop(st, s, false,
                     b[0] != 0x10 ? "no ET-LAN header" : "the header announces " + std::to_string(length) + " text bytes");
                return;
            }
            std::size_t total = kHeaderSize + static_cast<std::size_t>(length);
            if (c->buffer.size() < total) return;
            std::string frame = c->buffer.substr(0, total);
            c->buffer.erase(0, total);
            std::string why;
            if (!Answer(st, s, frame, &why)) {
                Drop(st, s, false, why);
                return;
            }
        }
    }

    // Handles one request frame; false (with the reason in *why) when the
    // connection must close.
    bool Answer(Station& st, SimSocket s, const std::string& frame, std::string* why) {
        Log(st, "<-", frame);
        Connection* conn = Find(st, s);
        if (conn == nullptr) return false;
        const std::string_view payload = std::string_view(frame).substr(kHeaderSize);
        Faults f;
        StationField field;
        bool strict = false;
        int split = 0;
        std::string text;
        bool negative = false;
        bool drop = false;
        bool part = false;  // text is a pending part, not a fresh answer
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++st.requests;
            st.lastRequest = frame;
            f = st.faults;
            field = st.field;
            strict = st.strict;
            split = st.split;
            if (f.closeAfterRequest) {
                // nothing else
            } else if (st.faults.dropAnswers != 0) {
                drop = true;
                if (st.faults.dropAnswers > 0) --st.faults.dropAnswers;
            } else if (st.faults.negativeAnswers != 0) {
                negative = true;
                if (st.faults.negativeAnswers > 0) --st.faults.negativeAnswers;
            }
            if (!f.closeAfterRequest && !drop && !negative) {
                if (!conn->pending.empty() && IsNextPartRequest(st.number, payload, field, strict)) {
                    text = std::move(conn->pending.front());
                    conn->pending.pop_front();
                    part = true;
                } else {
                    text = Execute(memory, st.number, payload, field, strict);
                }
            }
        }
        if (f.closeAfterRequest) {
            Log(st, "closes the connection after the request", "");
            *why = "after the request, unanswered (close after request)";
            return false;
        }
        if (drop) {
            Log(st, "drops the answer", "");
            TraceEvent(st, "no answer: dropped (drop)");
            return true;
        }
        int echo = f.wrongStation >= 0 ? f.wrongStation : st.number;
        if (negative) {
            conn->pending.clear();
            text.assign(1, '%');
            text += StationText(echo, field);
            char body[8];
            std::snprintf(body, sizeof body, "!%02d", (f.negativeCode % 100 + 100) % 100);
            text += body;
            char tail[4];
            std::snprintf(tail, sizeof tail, "%02X\r", Bcc(text));
            text += tail;
        } else if (part) {
            if (text.empty()) {
                conn->pending.clear();
                Log(st, "does not answer the request for the next part", "");
                TraceEvent(st, "no answer: the request for the next part goes unanswered (part fault)");
                return true;
            }
        } else if (text.empty()) {
            const std::string fieldText(payload.substr(1, 2));
            if (strict && NamesStation(st.number, payload, field, false)) {
                Log(st, "does not answer a text whose station field is not in its form", "");
                TraceEvent(st, "no answer: station field \"" + fieldText + "\" is not in the station's form (" +
                                   (field == StationField::kDecimal ? "decimal-only" : "hex-only") + ")");
            } else {
                Log(st, "does not answer another station's text", "");
                TraceEvent(st, "no answer: station field \"" + fieldText + "\" names another station");
            }
            return true;
        } else {
            conn->pending.clear();
            Reshape(text, f, echo, field);
            if (split > 0) {
                std::vector<std::string> parts =
                    SplitAnswer(text, split, f.partFault, f.partFaultAt);
                text = std::move(parts.front());
                conn->pending.assign(std::make_move_iterator(parts.begin() + 1),
                                     std::make_move_iterator(parts.end()));
                if (text.empty()) {
                    Log(st, "does not answer the command (its first part never comes)", "");
                    TraceEvent(st, "no answer: the command's first part never comes (part fault)");
                    return true;
                }
            }
        }
        std::string out = f.strayBytes;
        if (f.garbage) {
            out += std::string(12, '\xFF') + "?? not a PLC answer ??\r";
        } else {
            const auto* req = reinterpret_cast<const unsigned char*>(frame.data());
            std::size_t len = text.size();  // an LF after the CR is not counted
            char header[kHeaderSize] = {0x10, 0x00, static_cast<char>(len & 0xFF),
                                        static_cast<char>((len >> 8) & 0xFF), 0, 0, 0, 0, 0, 0,
                                        static_cast<char>(req[11]), static_cast<char>(req[10])};
            out.append(header, kHeaderSize);
            out += text;
            if (f.crlf) out += '\n';
        }
        *why = "the answer was abandoned (restarted or refusing connections)";
        if (f.delayMs > 0 && !Pause(st, f.delayMs)) return false;
        if (!SendAnswer(st, s, out, f, why)) return false;
        if (f.duplicateAfterMs < 0) return true;
        if (f.duplicateAfterMs > 0 && !Pause(st, f.duplicateAfterMs)) return false;
        TraceEvent(st, "the same answer again, " + std::to_string(f.duplicateAfterMs) +
                           " ms after the first (answer twice)");
        return SendAnswer(st, s, out, f, why);
    }

    // Sends one copy of an answer, whole or in pieces as the faults say.
    bool SendAnswer(Station& st, SimSocket s, const std::string& out, const Faults& f, std::string* why) {
        Log(st, "->", out);
        if (f.pieceBytes <= 0) return Send(st, s, out.data(), out.size(), why);
        for (std::size_t at = 0; at < out.size(); at += static_cast<std::size_t>(f.pieceBytes)) {
            if (at > 0 && f.piecePauseMs > 0 && !Pause(st, f.piecePauseMs)) {
                *why = "the answer was abandoned (restarted or refusing connections)";
                return false;
            }
            std::size_t n = std::min(out.size() - at, static_cast<std::size_t>(f.pieceBytes));
            if (!Send(st, s, out.data() + at, n, why)) return false;
        }
        return true;
    }

    // Sends all bytes (traced first, as the relay traces before it passes
    // bytes on), and reports them once they are sent.
    bool Send(Station& st, SimSocket s, const char* data, std::size_t n, std::string* why) {
        Connection* c = Find(st, s);
        if (c != nullptr) TraceBytes(st, *c, false, std::string_view(data, n));
        if (!simnet::SimSendAll(s, data, static_cast<int>(n))) {
            *why = "sending failed";
            return false;
        }
        if (Recorder* r = recorder; r != nullptr && c != nullptr) r->Carried(c->peer, st.port, false, std::string_view(data, n));
        return true;
    }

    // Wrong station number and oversized answers: a positive answer is
    // rewritten with a fresh block check code.
    static void Reshape(std::string& text, const Faults& f, int echo, StationField field) {
        if (f.wrongStation < 0 && !f.oversizedAnswer) return;
        std::string body = text.substr(0, text.size() - 3);  // without BCC and CR
        body.replace(1, 2, StationText(echo, field));
        if (f.oversizedAnswer && body.size() > 3 && body[3] == '$') {
            std::size_t want = kOversizedFrame - kHeaderSize - 3;
            while (body.size() + 4 <= want) body += "0000";
        }
        char tail[4];
        std::snprintf(tail, sizeof tail, "%02X\r", Bcc(body));
        text = body + tail;
    }

    void StartThread(Station& st) {
        st.mode = Mode::kBound;
        st.thread = std::thread([this, &st] { Serve(st); });
    }

    void StopThread(Station& st) {
        if (st.thread.joinable()) st.thread.join();
        CloseConnections(st, "stopped");
        CloseListener(st);
        st.mode = Mode::kBound;
        std::lock_guard<std::mutex> lock(mutex);
        st.open = 0;
    }

    // Waits until the station's thread has acted on the latest change.
    void WaitSettled(std::unique_lock<std::mutex>& lock, Station& st) {
        if (!running) return;
        unsigned target = st.generation;
        settled.wait_for(lock, std::chrono::milliseconds(kSettleWaitMs),
                         [&] { return st.applied - target < 0x80000000u; });
    }

    Station* Get(int station) const {
        auto it = stations.find(station);
        return it == stations.end() ? nullptr : it->second.get();
    }
};

Simulator::Simulator(Model model) : impl_(std::make_unique<Impl>(model)) {
    impl_->netStarted = simnet::SimNetStart();
}

Simulator::~Simulator() {
    Stop();
    for (auto& [n, st] : impl_->stations) impl_->CloseListener(*st);
    if (impl_->netStarted) simnet::SimNetStop();
}

int Simulator::AddStation(int station, std::uint16_t port) {
    if (station < 1 || station > 255) return -1;
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->stations.count(station) != 0) return -1;
    for (const auto& [n, other] : impl_->stations) {
        if (port != 0 && other->port == port) return -1;
    }
    auto st = std::make_unique<Station>();
    st->number = station;
    std::uint16_t bound = 0;
    st->listener = simnet::SimBind(port, &bound);
    if (st->listener == kNoSimSocket) return -1;
    st->port = bound;
    Station& ref = *st;
    impl_->stations[station] = std::move(st);
    if (impl_->running) {
        impl_->StartThread(ref);
        ++ref.generation;
        impl_->WaitSettled(lock, ref);
    }
    return bound;
}

std::uint16_t Simulator::Port(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? 0 : st->port;
}

bool Simulator::Start() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->running) return true;
    impl_->stop = false;
    impl_->running = true;
    for (auto& [n, st] : impl_->stations) {
        impl_->StartThread(*st);
        ++st->generation;
    }
    bool ok = true;
    for (auto& [n, st] : impl_->stations) {
        impl_->WaitSettled(lock, *st);
        if (st->applied != st->generation || st->bindFailed) ok = false;
    }
    return ok;
}

void Simulator::Stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->running) return;
        impl_->stop = true;
    }
    for (auto& [n, st] : impl_->stations) impl_->StopThread(*st);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->running = false;
}

void Simulator::SetFaults(int station, const Faults& faults) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st == nullptr) return;
    st->faults = faults;
    ++st->generation;
    impl_->WaitSettled(lock, *st);
}

Faults Simulator::GetFaults(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? Faults{} : st->faults;
}

void Simulator::SetModel(Model model) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memory = Memory(model);
}

Model Simulator::GetModel() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->memory.model();
}

void Simulator::SetSplit(int station, int chars) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st != nullptr) st->split = chars < 0 ? 0 : chars;
}

void Simulator::SetStationField(int station, StationField field, bool strict) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st != nullptr) {
        st->field = field;
        st->strict = strict;
    }
}

std::uint16_t Simulator::Word(char key, int address) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->memory.Get(key, address);
}

void Simulator::SetWord(char key, int address, std::uint16_t value) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memory.Set(key, address, value);
}

bool Simulator::SetFromText(std::string_view line) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return sim::SetFromText(impl_->memory, line);
}

int Simulator::Requests(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? 0 : st->requests;
}

std::string Simulator::LastRequest(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? std::string() : st->lastRequest;
}

int Simulator::Accepted(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? 0 : st->accepted;
}

int Simulator::Open(int station) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    return st == nullptr ? 0 : st->open;
}

void Simulator::RestartStation(int station) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st == nullptr) return;
    st->restart = true;
    ++st->generation;
    impl_->WaitSettled(lock, *st);
}

void Simulator::SetVerbose(bool on) { impl_->verbose = on; }

void Simulator::SetTrace(bool on, std::FILE* out) {
    impl_->traceOut = out != nullptr ? out : stderr;
    impl_->trace = on;
}

void Simulator::SetRecorder(Recorder* recorder) { impl_->recorder = recorder; }

}  // namespace etl::sim
