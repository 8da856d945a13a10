// The simulator's stations (station.cpp) behind its thread-safe calls, and
// what they share: memory, log and trace.
#include "tools/sim/simulator.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>

#include "tools/sim/station.h"

namespace etl::sim {
namespace {

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

}  // namespace

void Shared::Log(int station, const char* dir, const std::string& bytes) const {
    if (!verbose) return;
    std::string line = "etlan-sim: station " + std::to_string(station) + " " + dir + " " + Printable(bytes) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void Shared::Trace(int station, const char* mark, const std::string& text) const {
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
    const std::string line = tools::TraceLine(tools::TraceStamp(local, ms), mark, station, text);
    std::FILE* out = traceOut;
    std::fputs(line.c_str(), out);
    std::fflush(out);
}

void Shared::TraceBytes(int station, tools::FrameReader& reader, bool fromDriver, std::string_view bytes) const {
    if (!trace) return;
    for (const auto& line : reader.Feed(bytes.data(), bytes.size())) Trace(station, fromDriver ? "->" : "<-", line);
}

struct Simulator::Impl : Shared {
    using Shared::Shared;
    std::map<int, std::unique_ptr<Station>> stations;

    Station* Get(int station) const {
        auto it = stations.find(station);
        return it == stations.end() ? nullptr : it->second.get();
    }

    // f(station) under the lock; fallback when there is no such station.
    template <typename F, typename R>
    R With(int station, F f, R fallback) {
        std::lock_guard<std::mutex> lock(mutex);
        Station* st = Get(station);
        return st == nullptr ? fallback : f(*st);
    }
};

Simulator::Simulator(Model model) : impl_(std::make_unique<Impl>(model)) {}

Simulator::~Simulator() {
    Stop();
    for (auto& [n, st] : impl_->stations) st->CloseListener();
}

int Simulator::AddStation(int station, std::uint16_t port) {
    if (station < 1 || station > 255) return -1;
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->stations.count(station) != 0) return -1;
    for (const auto& [n, other] : impl_->stations) {
        if (port != 0 && other->Port() == port) return -1;
    }
    auto st = std::make_unique<Station>(*impl_, station);
    if (st->Bind(port) == 0) return -1;
    Station& added = *(impl_->stations[station] = std::move(st));
    if (impl_->running) {
        added.Start();
        added.WaitSettled(lock);
    }
    return added.Port();
}

std::uint16_t Simulator::Port(int station) const {
    return impl_->With(station, [](Station& st) { return st.Port(); }, std::uint16_t{0});
}

bool Simulator::Start() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (impl_->running) return true;
    impl_->running = true;
    for (auto& [n, st] : impl_->stations) st->Start();
    bool ok = true;
    for (auto& [n, st] : impl_->stations) {
        st->WaitSettled(lock);
        if (st->applied != st->generation || st->bindFailed) ok = false;
    }
    return ok;
}

void Simulator::Stop() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->running) return;
    }
    for (auto& [n, st] : impl_->stations) st->Stop();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->running = false;
}

void Simulator::SetFaults(int station, const Faults& faults) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st == nullptr) return;
    st->state.faults = faults;
    st->Wake();
    st->WaitSettled(lock);
}

Faults Simulator::GetFaults(int station) const {
    return impl_->With(station, [](Station& st) { return st.state.faults; }, Faults{});
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
    if (Station* st = impl_->Get(station)) st->state.split = std::max(chars, 0);
}

void Simulator::SetStationField(int station, StationField field, bool strict) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Station* st = impl_->Get(station)) {
        st->state.field = field;
        st->state.strict = strict;
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
    return impl_->With(station, [](Station& st) { return st.requests; }, 0);
}

std::string Simulator::LastRequest(int station) const {
    return impl_->With(station, [](Station& st) { return st.lastRequest; }, std::string());
}

int Simulator::Accepted(int station) const {
    return impl_->With(station, [](Station& st) { return st.accepted; }, 0);
}

int Simulator::Open(int station) const {
    return impl_->With(station, [](Station& st) { return st.open; }, 0);
}

void Simulator::RestartStation(int station) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    Station* st = impl_->Get(station);
    if (st == nullptr) return;
    st->restart = true;
    st->Wake();
    st->WaitSettled(lock);
}

void Simulator::SetVerbose(bool on) { impl_->verbose = on; }

void Simulator::SetTrace(bool on, std::FILE* out) {
    impl_->traceOut = out != nullptr ? out : stderr;
    impl_->trace = on;
}

void Simulator::SetRecorder(Recorder* recorder) { impl_->recorder = recorder; }

}  // namespace etl::sim
