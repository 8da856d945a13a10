// The tests' own end of a connection: a listener on an ephemeral 127.0.0.1
// port that plays the PLC, the connections it accepts, and byte order for
// the driver's socket addresses. Built on the tests' plain sockets
// (test_socket.h), so it works the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_socket.h"

namespace etl::test {

using PeerSocket = etl::testnet::Socket;
constexpr PeerSocket kNoPeer = etl::testnet::kNoSocket;

// Whether a peer listens, or only holds its port so that every connection
// to it is refused.
enum class PeerKind { kListener, kRefuser };

// A TCP socket bound to an ephemeral 127.0.0.1 port. Closes itself and every
// socket it accepted or opened.
class LoopbackPeer {
public:
    explicit LoopbackPeer(PeerKind kind = PeerKind::kListener, int backlog = 16);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    PeerSocket Handle() const { return listener_; }

    // The next connection made to the listener, or kNoPeer when none comes
    // within timeoutMs.
    PeerSocket Accept(int timeoutMs = 2000);
    // Accepts what is waiting (the first within firstWaitMs, each further
    // one within 100 ms); the number of connections taken.
    int AcceptAll(int firstWaitMs = 1000);
    // Closes one of the accepted connections.
    void Close(PeerSocket connection);
    // Connects clients of its own until one is left hanging: the accept
    // queue is full, and a further connection attempt is not answered.
    bool FillQueue();

private:
    PeerSocket listener_ = kNoPeer;
    std::uint16_t port_ = 0;
    std::vector<PeerSocket> owned_;
};

// True when bytes (or the end of the stream) can be read within timeoutMs.
bool PeerReadable(PeerSocket s, int timeoutMs);
// Sends all of bytes (a failure shows in what the other side receives).
void PeerSend(PeerSocket s, const std::string& bytes);
// Reads until count bytes have come, the stream ends or the time is up.
std::string PeerReceive(PeerSocket s, std::size_t count, int timeoutMs = 2000);
// True when the peer sees the end of the stream (or a reset) within timeoutMs.
bool PeerSeesEnd(PeerSocket s, int timeoutMs = 2000);
// The port (host order) of the connection's other end; 0 when unknown.
std::uint16_t PeerRemotePort(PeerSocket s);

// Between host and network byte order, as socket addresses hold ports and
// addresses (the same swap in both directions).
std::uint16_t NetOrder16(std::uint16_t v);
std::uint32_t NetOrder32(std::uint32_t v);

}  // namespace etl::test
