// A simulated station on the in-memory sockets. See fake_station.h; what
// each fault does follows tools/sim/simulator.cpp (Simulator::Impl::Answer).
#include "tests/support/fake_station.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/socket_platform.h"

namespace etl::test {
namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kMaxFrameText = 4096;  // a longer announced text closes the connection
constexpr std::size_t kOversizedFrame = 3000;

std::string WithBcc(std::string body) {
    char tail[4];
    std::snprintf(tail, sizeof tail, "%02X\r", sim::Bcc(body));
    return body + tail;
}

// Wrong station number and oversized answers: a positive answer rewritten
// with a fresh block check code.
std::string Reshape(const std::string& text, const sim::Faults& f, int echo,
                    sim::StationField field) {
    if (f.wrongStation < 0 && !f.oversizedAnswer) return text;
    std::string body = text.substr(0, text.size() - 3);  // without BCC and CR
    body.replace(1, 2, sim::StationText(echo, field));
    if (f.oversizedAnswer && body.size() > 3 && body[3] == '$') {
        while (body.size() + 4 <= kOversizedFrame - kHeaderSize - 3) body += "0000";
    }
    return WithBcc(std::move(body));
}

}  // namespace

FakeStation::FakeStation(int station, std::uint16_t port)
    : station_(station), address_(memplat::Loopback()), port_(memplat::Port(port)) {
    memplat::Serve(address_, port_, this);
}

FakeStation::~FakeStation() { memplat::Serve(address_, port_, nullptr); }

void FakeStation::SetFaults(const sim::Faults& faults) {
    faults_ = faults;
    if (faults_.refuseConnections) DropAll();
}

void FakeStation::RestartStation() { DropAll(); }

void FakeStation::DropAll() {
    // A reset: an answer still scheduled on the connection is lost with it.
    for (auto& [socket, conn] : connections_) memplat::Link(socket).Reset();
    connections_.clear();
}

int FakeStation::Open() const {
    int open = 0;
    for (const auto& [socket, conn] : connections_) {
        SockAddrIn local{};
        if (plat::LocalAddress(socket, &local) == 0) ++open;  // the driver has not closed it
    }
    return open;
}

memplat::Accept FakeStation::OnConnect(memplat::Link& link) {
    if (faults_.refuseConnections || faults_.refuseNewConnections) return memplat::Accept::kRefuse;
    if (faults_.neverAccept) return memplat::Accept::kNever;
    connections_[link.Socket()] = Connection{};
    return memplat::Accept::kAccept;
}

void FakeStation::OnData(memplat::Link& link, std::string_view data) {
    auto it = connections_.find(link.Socket());
    if (it == connections_.end()) return;
    Connection& conn = it->second;
    conn.buffer.append(data);
    // Every complete frame in the buffer, in order.
    while (conn.buffer.size() >= kHeaderSize) {
        const auto* b = reinterpret_cast<const unsigned char*>(conn.buffer.data());
        const std::size_t length = b[2] | (b[3] << 8);
        bool keep = b[0] == 0x10 && length <= kMaxFrameText;
        if (keep) {
            if (conn.buffer.size() < kHeaderSize + length) return;
            const std::string frame = conn.buffer.substr(0, kHeaderSize + length);
            conn.buffer.erase(0, frame.size());
            keep = Answer(link, conn, frame);
        }
        if (!keep) {
            link.Close();
            connections_.erase(it);
            return;
        }
    }
}

bool FakeStation::Answer(memplat::Link& link, Connection& conn, std::string_view frame) {
    ++requests_;
    const sim::Faults f = faults_;
    if (f.closeAfterRequest) return false;
    if (faults_.dropAnswers != 0) {
        if (faults_.dropAnswers > 0) --faults_.dropAnswers;
        return true;
    }
    const bool negative = faults_.negativeAnswers != 0;
    if (negative && faults_.negativeAnswers > 0) --faults_.negativeAnswers;

    const std::string_view payload = frame.substr(kHeaderSize);
    const sim::StationField field = field_;
    const int echo = f.wrongStation >= 0 ? f.wrongStation : station_;
    std::string text;
    if (negative) {
        conn.pending.clear();
        char code[8];
        std::snprintf(code, sizeof code, "!%02d", (f.negativeCode % 100 + 100) % 100);
        std::string body = "%";  // appended: mingw's GCC 12 misreads "%" + string (-Wrestrict)
        body += sim::StationText(echo, field);
        body += code;
        text = WithBcc(body);
    } else if (!conn.pending.empty() && sim::IsNextPartRequest(station_, payload, field, strict_)) {
        text = std::move(conn.pending.front());
        conn.pending.pop_front();
        if (text.empty()) {  // the request for this part goes unanswered
            conn.pending.clear();
            return true;
        }
    } else {
        conn.pending.clear();
        text = sim::Execute(memory_, station_, payload, field, strict_);
        if (text.empty()) return true;  // another station's text, or not in the station's form
        text = Reshape(text, f, echo, field);
        if (split_ > 0) {
            std::vector<std::string> parts = sim::SplitAnswer(text, split_, f.partFault, f.partFaultAt);
            text = std::move(parts.front());
            conn.pending.assign(std::make_move_iterator(parts.begin() + 1),
                                std::make_move_iterator(parts.end()));
            if (text.empty()) return true;  // the first part never comes
        }
    }

    std::string out = f.strayBytes;
    if (f.garbage) {
        out += std::string(12, '\xFF') + "?? not a PLC answer ??\r";
    } else {
        const std::size_t len = text.size();
        const char header[kHeaderSize] = {0x10, 0x00, static_cast<char>(len & 0xFF),
                                          static_cast<char>((len >> 8) & 0xFF), 0, 0, 0, 0, 0, 0,
                                          frame[11], frame[10]};
        out.append(header, kHeaderSize);
        out += text;
        if (f.crlf) out += '\n';  // not counted by the header
    }
    // One copy, whole or in pieces, starting `start` ms from now; returns
    // when its last byte goes.
    const std::size_t piece = f.pieceBytes > 0 ? static_cast<std::size_t>(f.pieceBytes) : out.size();
    const std::uint32_t pause = f.pieceBytes > 0 && f.piecePauseMs > 0 ? static_cast<std::uint32_t>(f.piecePauseMs) : 0;
    const auto send = [&](std::uint32_t start) {
        std::uint32_t at = start;
        for (std::size_t from = 0, i = 0; from < out.size(); from += piece, ++i) {
            at = start + static_cast<std::uint32_t>(i) * pause;
            link.Deliver(std::string_view(out).substr(from, piece), at);
        }
        return at;
    };
    const std::uint32_t last = send(f.delayMs > 0 ? static_cast<std::uint32_t>(f.delayMs) : 0);
    if (f.duplicateAfterMs >= 0) send(last + static_cast<std::uint32_t>(f.duplicateAfterMs));
    return true;
}

}  // namespace etl::test
