// Plain TCP sockets on 127.0.0.1 for the tests' own clients and peers
// (listeners, accepted connections, clients), on the operating system's
// socket calls with no library in between: they take no start of the
// socket library of their own (NetStart does, counted), so the driver's
// tests see their own starts and clean-ups alone. Blocking unless said.
#pragma once

#include <cstdint>

namespace etl::testnet {

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

// Starts / releases the socket library (Winsock; nothing elsewhere).
bool NetStart();
void NetStop();

// A TCP socket bound to 127.0.0.1:port (port 0: ephemeral), address reuse
// on, not yet listening: connects to it are refused. *bound gets the port.
Socket Bind(std::uint16_t port, std::uint16_t* bound);
bool Listen(Socket s, int backlog);
// A pending connection of a listener (call when it is readable), blocking,
// without send coalescing; kNoSocket when none.
Socket Accept(Socket listener);

// A non-blocking connect to 127.0.0.1:port; ConnectWait tells whether it
// completed within ms (the socket then turns blocking).
Socket ConnectStart(std::uint16_t port);
bool ConnectWait(Socket s, int ms);
// The port (host order) of a connection's other end; 0 when unknown.
std::uint16_t PeerPort(Socket s);

// >0 bytes received, 0 the peer closed, <0 failure.
int Recv(Socket s, char* buffer, int size);
// Sends everything; false on failure (never raises a signal).
bool SendAll(Socket s, const char* data, int length);
void Close(Socket s);

// Waits up to ms until one of the sockets is readable (or closed);
// readable[i] tells which. Returns how many, 0 on time-out, -1 on failure.
int Poll(const Socket* sockets, int count, int ms, bool* readable);

}  // namespace etl::testnet
