// etlan --trace: a relay on 127.0.0.1 between the driver and each of its
// stations, which writes every frame that passes, both ways, on a stream
// (standard error) before forwarding it unchanged. etlan calls only
// VpiMain, so this is where the frames are seen as they travel.
//
// Redirect connects to every station of the station file's text at once
// (each bounded by kConnectMs); the line of each station that connected
// then names a listener of the relay instead of the station's host and
// port, and the first connection the driver makes there is joined to
// that connection. A later one (WarmStart, the driver's own reconnect)
// gets a new connection to the station. Stations that did not connect keep
// their line, so the driver fails on them as it would without the relay.
// One thread serves every socket; Stop (or the destructor) ends it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace etl::etlan {

class TraceRelay {
public:
    static constexpr int kConnectMs = 1000;

    explicit TraceRelay(std::FILE* out);
    ~TraceRelay();
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // The station file's text with the lines of the stations that connected
    // pointed at the relay (only their host text and port change, each
    // line stays where it is), and the relay's thread started.
    std::string Redirect(const std::string& content);
    // Ends the thread and closes every socket; what is still open is traced
    // as closed at the end.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace etl::etlan
