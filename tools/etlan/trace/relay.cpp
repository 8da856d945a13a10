#include "tools/etlan/trace/relay.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "host/digits.h"
#include "host/vocabulary.h"
#include "stations/station_line.h"
#include "tools/common/frame_text.h"
#include "tools/etlan/console.h"
#include "tools/etlan/station_endpoint.h"
#include "tools/etlan/text.h"

namespace etl::etlan {
namespace {

using asio::ip::tcp;
using std::chrono::milliseconds;
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

std::string EndpointText(const tcp::endpoint& e) { return e.address().to_string() + ":" + std::to_string(e.port()); }

}  // namespace

struct TraceRelay::Impl {
    // A station the driver reaches through the relay.
    struct Route {
        explicit Route(asio::io_context& io) : listener(io) {}
        int station = 0;
        tcp::endpoint upstream;
        std::string where;  // "host:port" as the file gives them
        tcp::acceptor listener;
        std::optional<tcp::socket> ready;  // the connection made at the start, for the driver's first
    };
    // One connection of the driver joined to one of the station. Each side
    // is read once the other has taken what it sent before.
    struct Link {
        Link(asio::io_context& io, Route& r) : route(&r), driver(io), plc(io), timer(io) {}
        Route* route;
        tcp::socket driver, plc;
        asio::steady_timer timer;  // bounds the connection to the station ...
        bool connecting = false;   // ... while it is under way
        std::array<char, 4096> toPlc{}, toDriver{};
        FrameReader fromDriver, fromPlc;
        bool dead = false;
    };
    using LinkPtr = std::shared_ptr<Link>;

    std::FILE* out;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    asio::steady_timer end{io};
    bool ended = false;
    std::vector<std::unique_ptr<Route>> routes;
    std::vector<LinkPtr> links;
    std::thread thread;

    explicit Impl(std::FILE* to) : out(to) {}

    void Line(int station, const char* mark, const std::string& text) {
        const std::string line = tools::TraceLine(Now(), mark, station, text);
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }
    void Event(const Link& l, const std::string& text) { Line(l.route->station, "==", text); }

    void CloseLink(const LinkPtr& l) {
        for (const auto& s : l->fromDriver.Flush()) Line(l->route->station, "->", s);
        for (const auto& s : l->fromPlc.Flush()) Line(l->route->station, "<-", s);
        std::error_code ignored;
        l->driver.close(ignored);
        l->plc.close(ignored);
        l->timer.cancel();
        l->dead = true;
        std::erase(links, l);
    }

    // Takes what one side sends: traced frame by frame first, then sent on.
    void Pump(const LinkPtr& l, bool fromDriver) {
        tcp::socket& from = fromDriver ? l->driver : l->plc;
        std::array<char, 4096>& buffer = fromDriver ? l->toPlc : l->toDriver;
        from.async_read_some(asio::buffer(buffer), [this, l, fromDriver](std::error_code ec, std::size_t n) {
            if (l->dead) return;
            FrameReader& reader = fromDriver ? l->fromDriver : l->fromPlc;
            const char* mark = fromDriver ? "->" : "<-";
            if (!ec) {
                const char* data = (fromDriver ? l->toPlc : l->toDriver).data();
                for (const auto& s : reader.Feed(data, n)) Line(l->route->station, mark, s);
                asio::async_write(fromDriver ? l->plc : l->driver, asio::buffer(data, n),
                                  [this, l, fromDriver](std::error_code e, std::size_t) {
                                      if (l->dead) return;
                                      if (!e) return Pump(l, fromDriver);
                                      Event(*l, std::string("closed: sending to the ") +
                                                    (fromDriver ? "station" : "driver") + " failed: " + e.message());
                                      CloseLink(l);
                                  });
                return;
            }
            for (const auto& s : reader.Flush()) Line(l->route->station, mark, s);
            Event(*l, ec == asio::error::eof ? (fromDriver ? "closed by the driver" : "closed by the station")
                                             : std::string("closed: receiving from the ") +
                                                   (fromDriver ? "driver" : "station") + " failed: " + ec.message());
            CloseLink(l);
        });
    }

    void Accept(Route& r) {
        auto l = std::make_shared<Link>(io, r);
        r.listener.async_accept(l->driver, [this, &r, l](std::error_code ec) {
            if (ended || ec == asio::error::operation_aborted) return;
            if (!ec) Joined(l);
            Accept(r);
        });
    }

    // A connection of the driver: joined to the one made at the start, or to
    // a new one.
    void Joined(const LinkPtr& l) {
        Route& r = *l->route;
        links.push_back(l);
        if (r.ready) {
            l->plc = std::move(*r.ready);
            r.ready.reset();
            Event(*l, "the driver connected: joined to the connection to " + r.where + " made at the start");
            Pump(l, true);
            Pump(l, false);
            return;
        }
        Event(*l, "the driver connected again: connecting to " + r.where);
        l->connecting = true;
        l->timer.expires_after(milliseconds(kConnectMs));
        l->timer.async_wait([this, l](std::error_code ec) {
            if (ec || l->dead || !l->connecting) return;
            Event(*l, "no connection to " + l->route->where + " within " + std::to_string(kConnectMs) +
                          " ms: the driver's connection closed");
            CloseLink(l);
        });
        l->plc.async_connect(r.upstream, [this, l](std::error_code ec) {
            if (l->dead) return;
            l->connecting = false;
            l->timer.cancel();
            if (ec) {
                Event(*l, "no connection to " + l->route->where + " (" + ec.message() +
                              "): the driver's connection closed");
                CloseLink(l);
                return;
            }
            Event(*l, "connected to " + l->route->where);
            Pump(l, true);
            Pump(l, false);
        });
    }

    // The end of the command. What is ready is taken first (the timer's
    // wait comes after the sockets' events of the same look), so that what
    // the driver closed before the stop is traced as its own doing; what is
    // still open then is closed.
    void End() {
        end.expires_after(milliseconds(0));
        end.async_wait([this](std::error_code) {
            ended = true;
            while (!links.empty()) {
                const LinkPtr l = links.front();
                Event(*l, "closed at the end of the command");
                CloseLink(l);
            }
            Close();
            work.reset();
        });
    }

    void Close() {
        std::error_code ignored;
        for (auto& r : routes) {
            r->listener.close(ignored);
            if (r->ready) r->ready->close(ignored);
        }
    }
};

TraceRelay::TraceRelay(std::FILE* out) : impl_(std::make_unique<Impl>(out)) {}

TraceRelay::~TraceRelay() { Stop(); }

std::string TraceRelay::Redirect(const std::string& content) {
    Impl& m = *impl_;
    const std::vector<StationText> texts = StationTexts(content);
    // Every station's connection at once, each given kConnectMs.
    struct Attempt {
        explicit Attempt(asio::io_context& io) : socket(io) {}
        tcp::socket socket;
        tcp::endpoint to;
        std::string why;
        std::shared_ptr<std::optional<std::error_code>> result = std::make_shared<std::optional<std::error_code>>();
    };
    std::vector<std::unique_ptr<Attempt>> attempts;
    for (const StationText& t : texts) {
        Attempt& a = *attempts.emplace_back(std::make_unique<Attempt>(m.io));
        if (StationEndpoint(t.host, t.port, &a.to, &a.why)) {
            a.socket.async_connect(a.to, [result = a.result](std::error_code ec) { *result = ec; });
        }
    }
    m.io.run_for(milliseconds(kConnectMs));
    for (auto& a : attempts) {
        if (a->why.empty() && !*a->result) a->why = "no answer within " + std::to_string(kConnectMs) + " ms";
        if (a->why.empty() && **a->result) a->why = (*a->result)->message();
        if (!a->why.empty()) {
            std::error_code ignored;
            a->socket.close(ignored);
        }
    }
    m.io.restart();
    m.io.run();  // the connects given up end
    m.io.restart();
    // The lines are rewritten from the end of the text, so that the
    // positions before stay valid.
    struct Replacement {
        const StationText* text;
        std::uint16_t port;
    };
    std::vector<Replacement> replacements;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const StationText& t = texts[i];
        Attempt& a = *attempts[i];
        const std::string where = t.host + ":" + t.port;
        auto r = std::make_unique<Impl::Route>(m.io);
        std::uint16_t port = 0;
        if (a.why.empty()) {
            std::error_code ec;
            r->listener.open(tcp::v4(), ec);
            if (!ec) r->listener.bind({asio::ip::address_v4::loopback(), 0}, ec);
            if (!ec) r->listener.listen(8, ec);
            if (!ec) port = r->listener.local_endpoint(ec).port();
            if (ec) a.why = "listener on 127.0.0.1: " + ec.message();
        }
        if (!a.why.empty()) {
            m.Line(t.station, "==", where + ": no connection (" + a.why + "): not relayed, the driver connects there itself");
            continue;
        }
        r->station = t.station;
        r->upstream = a.to;
        r->where = where;
        r->ready.emplace(std::move(a.socket));
        m.routes.push_back(std::move(r));
        replacements.push_back({&t, port});
        const std::string resolved = EndpointText(a.to);
        m.Line(t.station, "==", where + (resolved != where ? " (" + resolved + ")" : std::string()) +
                                    " connected: relayed, the driver's line names 127.0.0.1:" + std::to_string(port));
    }
    std::string result = content;
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it) {
        const StationText& t = *it->text;
        result.replace(t.portBegin, t.portEnd - t.portBegin, std::to_string(it->port));
        result.replace(t.hostBegin, t.hostEnd - t.hostBegin, "127.0.0.1");
    }
    if (!m.routes.empty()) {
        for (auto& r : m.routes) m.Accept(*r);
        m.work.emplace(m.io.get_executor());
        m.thread = StartQuietThread([&m] { m.io.run(); });
    }
    return result;
}

void TraceRelay::Stop() {
    Impl& m = *impl_;
    if (m.thread.joinable()) {
        asio::post(m.io, [&m] { m.End(); });
        m.thread.join();
    }
    m.Close();
    m.routes.clear();
}

}  // namespace etl::etlan
