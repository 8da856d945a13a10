// One simulated station on Asio (station.cpp): its listener on 127.0.0.1,
// its connections and the answer under way, served by an io_context and a
// thread of their own that sleep until a socket, the answer's timer or a
// change made through the Simulator (posted by Wake) wakes them. An answer
// goes out in steps, each after its wait (delay, pause between pieces,
// time before the second copy); while one is under way the station takes
// nothing else from its sockets. Internal to the simulator.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "tools/common/frame_text.h"
#include "tools/sim/reply.h"
#include "tools/sim/simulator.h"

namespace etl::sim {

// What the stations share: the memory, the lock over it and over every
// station's settings and counts, the log, the trace and the recorder.
struct Shared {
    explicit Shared(Model model) : memory(model) {}
    std::mutex mutex;
    std::condition_variable settled;  // a station's thread acted on a change
    Memory memory;
    bool running = false;
    std::atomic<bool> verbose{false};
    std::atomic<bool> trace{false};
    std::atomic<std::FILE*> traceOut{stderr};
    std::atomic<Recorder*> recorder{nullptr};

    // "etlan-sim: station N <dir> <bytes>" on standard error when verbose.
    void Log(int station, const char* dir, const std::string& bytes) const;
    // One trace line of the station, stamped with the local time as etlan
    // --trace stamps its lines.
    void Trace(int station, const char* mark, const std::string& text) const;
    // Bytes one way, cut into frames by the connection's reader as etlan's
    // relay cuts them: "->" what the station receives, "<-" what it sends.
    void TraceBytes(int station, tools::FrameReader& reader, bool fromDriver, std::string_view bytes) const;
};

class Station {
public:
    Station(Shared& shared, int number);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Binds the listener to 127.0.0.1:port (0: ephemeral) without listening
    // (connects are refused); the port bound, 0 when it failed.
    std::uint16_t Bind(std::uint16_t port);
    std::uint16_t Port() const { return port_; }
    // Starts the thread, which then acts on the settings (Shared::mutex
    // held); Stop closes every socket and joins it (not held).
    void Start();
    void Stop();
    // Asks the running thread to act on the latest settings (held).
    void Wake();
    // Waits until the thread has acted on the latest change (held).
    void WaitSettled(std::unique_lock<std::mutex>& lock);
    // Closes the listener of a station whose thread does not run.
    void CloseListener();

    // Guarded by Shared::mutex.
    StationState state;
    int requests = 0;
    int accepted = 0;
    int open = 0;
    std::string lastRequest;
    unsigned generation = 0;  // bumped by every change (Wake)
    unsigned applied = 0;     // what the thread has acted on
    bool restart = false;
    bool bindFailed = false;

private:
    enum class Mode { kBound, kListening, kFull };
    struct Connection;
    using ConnectionPtr = std::shared_ptr<Connection>;
    // One send of an answer: after waitMs, an event traced and the copy
    // logged (at its first piece), then the bytes.
    struct Step {
        int waitMs = 0;
        std::string event;
        std::string log;
        std::string bytes;
    };

    void Changed();
    void Shutdown();
    void ApplyMode(Mode want);
    void Serve();
    void Accept();
    void Welcome(ConnectionPtr c);
    void Read(const ConnectionPtr& c);
    void Frames(const ConnectionPtr& c);
    void Answer(const ConnectionPtr& c, const std::string& frame);
    static void AddCopy(std::deque<Step>& steps, int waitMs, const std::string& event, const std::string& out,
                        const Faults& f);
    bool SendSteps();
    void Abandon();
    void Drop(const ConnectionPtr& c, bool byClient, const std::string& why = {});
    void Close(Connection& c, bool byClient, const std::string& why);
    void CloseConnections(const char* why);

    Shared& shared_;
    const int number_;
    std::uint16_t port_ = 0;
    // The thread's own while it runs.
    asio::io_context io_;
    asio::io_context fillIo_;  // the fillers' connects, run while they are made
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    asio::ip::tcp::acceptor listener_{io_};
    unsigned listenerId_ = 0;  // a new one for each listener made: older accepts are stale
    Mode mode_ = Mode::kBound;
    bool stopping_ = false;
    std::vector<asio::ip::tcp::socket> fillers_;
    bool accepting_ = false;
    ConnectionPtr incoming_;  // accepted while the station was busy
    std::vector<ConnectionPtr> connections_;
    ConnectionPtr answering_;  // the connection whose answer is under way
    std::deque<Step> steps_;
    asio::steady_timer timer_{io_};
    unsigned answerId_ = 0;
    std::thread thread_;
};

}  // namespace etl::sim
