// An in-memory implementation of platform/socket_platform.h for tests and
// fuzz targets: no real socket, no name service, no real waiting.
//
//  - Peers are objects registered at an IPv4 address and port. A connection
//    to an address where nothing is registered is refused; a registered
//    peer accepts, refuses or never accepts (the connect wait runs out).
//  - Every chunk the driver sends is handed to the peer, which answers by
//    scheduling bytes on the connection: each piece becomes readable at a
//    time of the fake clock, so answers arrive in arbitrary pieces.
//  - The clock is fake: TickCount advances it by one millisecond, and a
//    wait that nothing ends advances it by its whole time-out and returns
//    at once. A wait that a scheduled piece ends advances it to that
//    piece's time.
//  - Dotted texts are read by the C library's inet_aton, as on POSIX.
//  - Name look-up knows "localhost" (127.0.0.1) and nothing else; services
//    come from a small fixed table (echo 7, discard 9, ftp 21, telnet 23,
//    http 80).
//
// Every call is serialised by one lock; peers are called with it held and
// may call back into Link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/blocks.h"

namespace etl::memplat {

// Error numbers, Winsock's, so that none collides with 257 or -1.
constexpr int kWouldBlock = 10035;
constexpr int kInProgressError = 10036;
constexpr int kNotSocket = 10038;
constexpr int kInvalidArgument = 10022;
constexpr int kAfNotSupported = 10047;
constexpr int kAddrNotAvailable = 10049;
constexpr int kConnReset = 10054;
constexpr int kNotConnected = 10057;
constexpr int kConnRefused = 10061;
constexpr int kTooManyUsers = 10067;
constexpr int kNotStarted = 10093;

enum class Accept { kAccept, kRefuse, kNever };

// The peer's side of one connection.
class Link {
public:
    explicit Link(SocketHandle socket) : socket_(socket) {}
    // Makes bytes readable afterMs from now, after everything scheduled
    // earlier on this connection.
    void Deliver(std::string_view bytes, std::uint32_t afterMs = 0);
    // Ends the stream afterMs from now (after what is scheduled): the
    // driver reads what came before, then the end of the stream.
    void Close(std::uint32_t afterMs = 0);
    // Resets the connection at once: unread bytes are lost, sends fail.
    void Reset();
    SocketHandle Socket() const { return socket_; }

private:
    SocketHandle socket_;
};

class Peer {
public:
    virtual ~Peer() = default;
    // How a connection attempt to this peer ends.
    virtual Accept OnConnect(Link& link) {
        (void)link;
        return Accept::kAccept;
    }
    // Called with every chunk that the driver sends on the connection.
    virtual void OnData(Link& link, std::string_view data) = 0;
};

// Forgets every socket, peer, user and counter; the clock starts at start.
void Reset(std::uint32_t start = 1000);

// A fresh fake network (its clock at 1000 ms) for each run on it: a member
// that comes before a test's stations and driver instances, so that they
// are made on the fresh network and gone before the next reset.
struct ResetNetwork {
    ResetNetwork() { Reset(); }
};

// Registers (or with nullptr removes) the peer at an address and port, both
// in network order. The peer is not owned.
void Serve(std::uint32_t address, std::uint16_t port, Peer* peer);
// 127.0.0.1 in network order, and a port in network order.
std::uint32_t Loopback();
std::uint16_t Port(std::uint16_t hostOrder);

// The fake clock.
std::uint32_t Now();
void SetNow(std::uint32_t now);

// The next connection attempt to this address and port (network order),
// where no peer is registered, connects the socket to itself, as a system
// may do when it picks the destination port as the local port: the local
// address is the remote one, and what is sent on it is read back.
void ArmSelfConnect(std::uint32_t address, std::uint16_t port);

// Connections that a peer accepts are established this long after their
// attempt (0, the default: at once); a wait shorter than that runs out.
void SetConnectDelay(std::uint32_t ms);

// Failure of the nth call (counted from 1) of one kind; 0 disarms.
enum class Call { kReadable, kReceive, kSend, kWaitReadable, kWaitWritable, kOpen };
void FailCall(Call call, int nth, int error);

// What happened, for checks.
int OpenSockets();          // sockets open now
int Users();                // socket library starts not yet cleaned up
int ConnectAttempts();      // Connect calls that got as far as an address
// The first 4096 of their addresses, in order, and of the names given to
// ResolveHost.
std::vector<SockAddrIn> ConnectTargets();
std::vector<std::string> LookedUpNames();
// Of one open socket: chunks sent, the last chunk sent, and the bytes that
// Receive has handed out since that send (empty when unknown).
int Sends(SocketHandle s);
std::string LastSent(SocketHandle s);
std::string ReceivedSinceSend(SocketHandle s);

}  // namespace etl::memplat
