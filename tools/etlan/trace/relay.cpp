#include "tools/etlan/trace/relay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <thread>
#include <vector>

#include "host/digits.h"
#include "host/vocabulary.h"
#include "stations/station_line.h"
#include "tools/common/frame_text.h"
#include "tools/etlan/text.h"
#include "tools/etlan/trace/relay_net.h"

namespace etl::etlan {
namespace {

namespace net = relaynet;
using Clock = std::chrono::steady_clock;
using tools::FrameReader;

constexpr std::size_t kHeaderNumberOffset = 8;  // the PC's number in the header line
constexpr std::size_t kHostTextMax = 15;        // a longer host text makes the driver skip the line
constexpr std::size_t kLinePiece = 255;         // the driver reads a longer line in pieces

// The station line the driver takes for a station: where its host and port
// texts are in the file's text.
struct StationText {
    int station = 0;
    std::size_t hostBegin = 0, hostEnd = 0, portBegin = 0, portEnd = 0;
    std::string host, port;
};

// The station lines of the file's text by the driver's rules, the last
// line of a station winning; stations whose lines the driver reads in
// pieces are left out (their lines stay as they are).
std::vector<StationText> StationTexts(const std::string& content) {
    std::map<int, StationText> found;
    std::vector<int> pieces;
    std::int32_t own = 0;
    std::size_t at = 0;
    bool header = true;
    while (at < content.size()) {
        const auto nl = content.find('\n', at);
        const std::size_t end = nl == std::string::npos ? content.size() : nl + 1;
        const std::string line = content.substr(at, end - at);
        const char* text = line.c_str();
        if (header) {
            header = false;
            if (line.size() > kHeaderNumberOffset) ReadDecimal(text + kHeaderNumberOffset, &own);
        } else if (!IsStationComment(text) && line.size() >= 2) {
            const int s = StationNumberOf(text);
            const char *host, *hostEnd, *port, *portEnd;
            if (s != own && s >= 1 && s <= kMaxStation && QuotedText(text, &host, &hostEnd) &&
                static_cast<std::size_t>(hostEnd - host) <= kHostTextMax && QuotedText(hostEnd + 1, &port, &portEnd)) {
                // The line as rewritten ("127.0.0.1", a port of up to five
                // digits) must still be read in one piece.
                const std::size_t texts = static_cast<std::size_t>(hostEnd - host) + static_cast<std::size_t>(portEnd - port);
                if (line.size() > kLinePiece || line.size() - texts + 9 + 5 > kLinePiece) pieces.push_back(s);
                StationText st;
                st.station = s;
                st.hostBegin = at + static_cast<std::size_t>(host - text);
                st.hostEnd = at + static_cast<std::size_t>(hostEnd - text);
                st.portBegin = at + static_cast<std::size_t>(port - text);
                st.portEnd = at + static_cast<std::size_t>(portEnd - text);
                st.host.assign(host, hostEnd);
                st.port.assign(port, portEnd);
                found[s] = st;
            }
        }
        at = end;
    }
    for (int s : pieces) found.erase(s);
    std::vector<StationText> out;
    for (auto& [s, st] : found) out.push_back(std::move(st));
    return out;
}

// Local wall-clock time with milliseconds: "13:52:07.412".
std::string Now() {
    const ClockReading now = WallClock(false);
    return tools::TraceStamp(now.time, now.ms);
}

}  // namespace

struct TraceRelay::Impl {
    // A station the driver reaches through the relay.
    struct Route {
        int station = 0;
        net::Endpoint upstream;
        std::string where;                // "host:port" as the file gives them
        net::Handle listener = net::kNone;
        net::Handle ready = net::kNone;   // the connection made at the start, for the driver's first
    };
    // One connection of the driver joined to one of the station.
    struct Link {
        Route* route = nullptr;
        net::Handle driver = net::kNone;
        net::Handle plc = net::kNone;
        bool connecting = false;          // the station's connection is under way
        Clock::time_point deadline;
        bool draining = false;            // one side closed: the other gets what is pending, then closes
        std::string toPlc, toDriver;      // received, not yet sent on
        FrameReader fromDriver, fromPlc;
        bool dead = false;
    };

    std::FILE* out;
    std::vector<std::unique_ptr<Route>> routes;
    std::list<Link> links;
    net::Wake wake;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit Impl(std::FILE* to) : out(to) {}

    void Line(int station, const char* mark, const std::string& text) {
        const std::string line = tools::TraceLine(Now(), mark, station, text);
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }
    void Event(const Link& l, const std::string& text) { Line(l.route->station, "==", text); }

    void CloseLink(Link& l) {
        for (const auto& s : l.fromDriver.Flush()) Line(l.route->station, "->", s);
        for (const auto& s : l.fromPlc.Flush()) Line(l.route->station, "<-", s);
        net::Close(l.driver);
        net::Close(l.plc);
        l.driver = l.plc = net::kNone;
        l.dead = true;
    }

    // Sends what is pending for one side; false (traced, link closed) on an
    // error.
    bool Flush(Link& l, net::Handle to, std::string& pending, const char* whom) {
        while (!pending.empty()) {
            int error = 0;
            const long n = net::Send(to, pending.data(), pending.size(), &error);
            if (n == net::kWouldBlock) return true;
            if (n == net::kFailed) {
                Event(l, std::string("closed: sending to the ") + whom + " failed: " + net::ErrorText(error));
                CloseLink(l);
                return false;
            }
            pending.erase(0, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Takes what one side sent: traced frame by frame first, then sent on.
    void Pump(Link& l, bool fromDriver) {
        const net::Handle from = fromDriver ? l.driver : l.plc;
        const net::Handle to = fromDriver ? l.plc : l.driver;
        std::string& pending = fromDriver ? l.toPlc : l.toDriver;
        FrameReader& reader = fromDriver ? l.fromDriver : l.fromPlc;
        const char* mark = fromDriver ? "->" : "<-";
        char buffer[4096];
        int error = 0;
        const long n = net::Receive(from, buffer, sizeof buffer, &error);
        if (n == net::kWouldBlock) return;
        if (n > 0) {
            for (const auto& s : reader.Feed(buffer, static_cast<std::size_t>(n))) Line(l.route->station, mark, s);
            pending.append(buffer, static_cast<std::size_t>(n));
            Flush(l, to, pending, fromDriver ? "station" : "driver");
            return;
        }
        for (const auto& s : reader.Flush()) Line(l.route->station, mark, s);
        Event(l, n == 0 ? (fromDriver ? "closed by the driver" : "closed by the station")
                        : std::string("closed: receiving from the ") + (fromDriver ? "driver" : "station") +
                              " failed: " + net::ErrorText(error));
        if (n == 0 && !pending.empty()) {
            // What the closing side sent before it closed still goes on.
            l.draining = true;
            if (fromDriver) {
                net::Close(l.driver);
                l.driver = net::kNone;
            } else {
                net::Close(l.plc);
                l.plc = net::kNone;
            }
            return;
        }
        CloseLink(l);
    }

    void Accept(Route& r) {
        for (;;) {
            const net::Handle d = net::Accept(r.listener);
            if (d == net::kNone) return;
            Link& l = links.emplace_back();
            l.route = &r;
            l.driver = d;
            if (r.ready != net::kNone) {
                l.plc = r.ready;
                r.ready = net::kNone;
                Event(l, "the driver connected: joined to the connection to " + r.where + " made at the start");
                continue;
            }
            std::string why;
            l.plc = net::Connect(r.upstream, &why);
            if (l.plc == net::kNone) {
                Event(l, "the driver connected again; no connection to " + r.where + " (" + why +
                             "): the driver's connection closed");
                CloseLink(l);
                continue;
            }
            l.connecting = true;
            l.deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
            Event(l, "the driver connected again: connecting to " + r.where);
        }
    }

    void Connected(Link& l, const net::Watch& w) {
        int error = net::ConnectError(l.plc);
        const bool failed = error != 0 || (w.failed && !w.writable);
        if (!failed && !w.writable) return;
        l.connecting = false;
        if (!failed) {
            Event(l, "connected to " + l.route->where);
            if (!l.toPlc.empty()) Flush(l, l.plc, l.toPlc, "station");
            return;
        }
        Event(l, "no connection to " + l.route->where + " (" +
                     (error != 0 ? net::ErrorText(error) : std::string("failed")) + "): the driver's connection closed");
        CloseLink(l);
    }

    void Run() {
        std::vector<net::Watch> watches;
        std::vector<Link*> linkOf;  // per watch: its link, nullptr for the wake and the listeners
        std::vector<Route*> routeOf;
        for (;;) {
            // Once asked to stop, one more look without waiting: what the
            // driver closed before the stop is traced as its own doing.
            const bool stopping = stop;
            watches.clear();
            linkOf.clear();
            routeOf.clear();
            auto add = [&](net::Handle s, bool read, bool write, Link* l, Route* r) {
                net::Watch w;
                w.socket = s;
                w.read = read;
                w.write = write;
                watches.push_back(w);
                linkOf.push_back(l);
                routeOf.push_back(r);
            };
            add(wake.ReadHandle(), true, false, nullptr, nullptr);
            for (auto& r : routes) add(r->listener, true, false, nullptr, r.get());
            int timeout = -1;
            const auto now = Clock::now();
            for (Link& l : links) {
                if (l.connecting) {
                    add(l.plc, false, true, &l, nullptr);
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(l.deadline - now).count();
                    const int ms = static_cast<int>(std::max<long long>(0, left) + 1);
                    timeout = timeout < 0 ? ms : std::min(timeout, ms);
                } else if (l.draining) {
                    if (l.driver != net::kNone) add(l.driver, false, true, &l, nullptr);
                    if (l.plc != net::kNone) add(l.plc, false, true, &l, nullptr);
                } else {
                    // A side is read only once the other has taken what it sent.
                    add(l.driver, l.toPlc.empty(), !l.toDriver.empty(), &l, nullptr);
                    add(l.plc, l.toDriver.empty(), !l.toPlc.empty(), &l, nullptr);
                }
            }
            if (net::Wait(watches, stopping ? 0 : timeout) < 0) {
                if (stopping) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            for (std::size_t i = 1; i < watches.size(); ++i) {
                const net::Watch& w = watches[i];
                if (Route* r = routeOf[i]; r != nullptr) {
                    if (w.readable) Accept(*r);
                    continue;
                }
                Link& l = *linkOf[i];
                if (l.dead) continue;
                if (l.connecting) {
                    if (w.writable || w.failed) {
                        Connected(l, w);
                    } else if (Clock::now() >= l.deadline) {
                        Event(l, "no connection to " + l.route->where + " within " + std::to_string(kConnectMs) +
                                     " ms: the driver's connection closed");
                        CloseLink(l);
                    }
                    continue;
                }
                const bool isDriver = w.socket == l.driver;
                if (l.draining) {
                    if (w.writable || w.failed) {
                        std::string& pending = isDriver ? l.toDriver : l.toPlc;
                        if (Flush(l, w.socket, pending, isDriver ? "driver" : "station") && pending.empty()) CloseLink(l);
                    }
                    continue;
                }
                if (w.writable && !Flush(l, w.socket, isDriver ? l.toDriver : l.toPlc, isDriver ? "driver" : "station")) {
                    continue;
                }
                if (w.readable || w.failed) Pump(l, isDriver);
            }
            // A link waiting for its connection whose time ran out while
            // others kept the wait busy.
            for (Link& l : links) {
                if (!l.dead && l.connecting && Clock::now() >= l.deadline) {
                    Event(l, "no connection to " + l.route->where + " within " + std::to_string(kConnectMs) +
                                 " ms: the driver's connection closed");
                    CloseLink(l);
                }
            }
            links.remove_if([](const Link& l) { return l.dead; });
            if (watches[0].readable) wake.Drain();
            if (stopping) break;
        }
        for (Link& l : links) {
            Event(l, "closed at the end of the command");
            CloseLink(l);
        }
        links.clear();
    }
};

TraceRelay::TraceRelay(std::FILE* out) : impl_(std::make_unique<Impl>(out)) {}

TraceRelay::~TraceRelay() { Stop(); }

std::string TraceRelay::Redirect(const std::string& content) {
    Impl& m = *impl_;
    const std::vector<StationText> texts = StationTexts(content);
    if (!m.wake.Ok()) {
        m.Line(0, "==", "no trace: the relay cannot wait for its sockets");
        return content;
    }
    // Every station's connection at once, each given kConnectMs.
    struct Attempt {
        const StationText* text;
        net::Endpoint to;
        net::Handle s = net::kNone;
        std::string why;
        bool settled = false;
    };
    std::vector<Attempt> attempts;
    for (const StationText& t : texts) {
        Attempt a{&t, {}, net::kNone, {}, false};
        if (!net::Resolve(t.host, t.port, &a.to, &a.why) || (a.s = net::Connect(a.to, &a.why)) == net::kNone) {
            a.settled = true;
        }
        attempts.push_back(std::move(a));
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
    for (;;) {
        std::vector<net::Watch> watches;
        std::vector<Attempt*> of;
        for (Attempt& a : attempts) {
            if (a.settled) continue;
            net::Watch w;
            w.socket = a.s;
            w.write = true;
            watches.push_back(w);
            of.push_back(&a);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (watches.empty() || left <= 0) break;
        if (net::Wait(watches, static_cast<int>(left)) < 0) break;
        for (std::size_t i = 0; i < watches.size(); ++i) {
            const net::Watch& w = watches[i];
            if (!w.writable && !w.failed) continue;
            Attempt& a = *of[i];
            const int error = net::ConnectError(a.s);
            a.settled = true;
            if (error != 0 || !w.writable) {
                a.why = error != 0 ? net::ErrorText(error) : "failed";
                net::Close(a.s);
                a.s = net::kNone;
            }
        }
    }
    // The lines are rewritten from the end of the text, so that the
    // positions before stay valid.
    struct Replacement {
        const StationText* text;
        std::uint16_t port;
    };
    std::vector<Replacement> replacements;
    for (Attempt& a : attempts) {
        const StationText& t = *a.text;
        const std::string where = t.host + ":" + t.port;
        if (a.s != net::kNone && !a.settled) {
            net::Close(a.s);
            a.s = net::kNone;
            a.why = "no answer within " + std::to_string(kConnectMs) + " ms";
        }
        std::uint16_t port = 0;
        net::Handle listener = net::kNone;
        if (a.s != net::kNone && (listener = net::Listen(&port, &a.why)) == net::kNone) {
            net::Close(a.s);
            a.s = net::kNone;
        }
        if (a.s == net::kNone) {
            m.Line(t.station, "==", where + ": no connection (" + a.why + "): not relayed, the driver connects there itself");
            continue;
        }
        auto r = std::make_unique<Impl::Route>();
        r->station = t.station;
        r->upstream = a.to;
        r->where = where;
        r->listener = listener;
        r->ready = a.s;
        m.routes.push_back(std::move(r));
        replacements.push_back({&t, port});
        const std::string resolved = net::EndpointText(a.to);
        m.Line(t.station, "==", where + (resolved != where ? " (" + resolved + ")" : std::string()) +
                                    " connected: relayed, the driver's line names 127.0.0.1:" + std::to_string(port));
    }
    std::string result = content;
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it) {
        const StationText& t = *it->text;
        result.replace(t.portBegin, t.portEnd - t.portBegin, std::to_string(it->port));
        result.replace(t.hostBegin, t.hostEnd - t.hostBegin, "127.0.0.1");
    }
    if (!m.routes.empty()) m.thread = net::StartThread([&m] { m.Run(); });
    return result;
}

void TraceRelay::Stop() {
    Impl& m = *impl_;
    if (m.thread.joinable()) {
        m.stop = true;
        m.wake.Signal();
        m.thread.join();
    }
    for (auto& r : m.routes) {
        net::Close(r->listener);
        net::Close(r->ready);
    }
    m.routes.clear();
}

}  // namespace etl::etlan
