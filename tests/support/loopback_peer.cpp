#include "tests/support/loopback_peer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace etl::test {

namespace sn = etl::testnet;

LoopbackPeer::LoopbackPeer(PeerKind kind, int backlog) {
    listener_ = sn::Bind(0, &port_);
    if (kind == PeerKind::kListener && listener_ != kNoPeer) sn::Listen(listener_, backlog);
}

LoopbackPeer::~LoopbackPeer() {
    for (PeerSocket c : owned_) sn::Close(c);
    sn::Close(listener_);
}

PeerSocket LoopbackPeer::Accept(int timeoutMs) {
    if (!PeerReadable(listener_, timeoutMs)) return kNoPeer;
    const PeerSocket c = sn::Accept(listener_);
    if (c != kNoPeer) owned_.push_back(c);
    return c;
}

int LoopbackPeer::AcceptAll(int firstWaitMs) {
    int n = 0;
    for (int wait = firstWaitMs; PeerReadable(listener_, wait); wait = 100) {
        const PeerSocket c = sn::Accept(listener_);
        if (c == kNoPeer) break;
        owned_.push_back(c);
        ++n;
    }
    return n;
}

void LoopbackPeer::Close(PeerSocket connection) {
    const auto it = std::find(owned_.begin(), owned_.end(), connection);
    if (it == owned_.end()) return;
    owned_.erase(it);
    sn::Close(connection);
}

bool LoopbackPeer::FillQueue() {
    for (int i = 0; i < 16; ++i) {
        const PeerSocket c = sn::ConnectStart(port_);
        if (c == kNoPeer) return false;
        owned_.push_back(c);
        if (!sn::ConnectWait(c, 300)) return true;
    }
    return false;
}

bool PeerReadable(PeerSocket s, int timeoutMs) {
    bool readable = false;
    return sn::Poll(&s, 1, timeoutMs, &readable) > 0 && readable;
}

void PeerSend(PeerSocket s, const std::string& bytes) {
    sn::SendAll(s, bytes.data(), static_cast<int>(bytes.size()));
}

std::string PeerReceive(PeerSocket s, std::size_t count, int timeoutMs) {
    using namespace std::chrono;
    std::string got;
    const auto until = steady_clock::now() + milliseconds(timeoutMs);
    while (got.size() < count && steady_clock::now() < until) {
        if (!PeerReadable(s, 50)) continue;
        char buf[4096];
        const int n = sn::Recv(s, buf, static_cast<int>(std::min(sizeof buf, count - got.size())));
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool PeerSeesEnd(PeerSocket s, int timeoutMs) {
    if (!PeerReadable(s, timeoutMs)) return false;
    char c;
    return sn::Recv(s, &c, 1) <= 0;
}

std::uint16_t PeerRemotePort(PeerSocket s) { return sn::PeerPort(s); }

std::uint16_t NetOrder16(std::uint16_t v) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v)};
    std::uint16_t out;
    std::memcpy(&out, bytes, sizeof out);
    return out;
}

std::uint32_t NetOrder32(std::uint32_t v) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    std::uint32_t out;
    std::memcpy(&out, bytes, sizeof out);
    return out;
}

}  // namespace etl::test
