// TCP sockets on 127.0.0.1 for the PLC simulator and the tests' own peers
// (listeners, accepted connections and plain clients). One implementation
// per platform (sim_socket_posix.cpp, sim_socket_win32.cpp), built as the
// library etl_simnet. All sockets are blocking unless said.
#pragma once

#include <cstdint>

namespace etl::simnet {

using SimSocket = std::intptr_t;
constexpr SimSocket kNoSimSocket = -1;

// Starts / releases the socket library (counted; no-op on POSIX).
bool SimNetStart();
void SimNetStop();

// A TCP socket bound to 127.0.0.1:port (port 0: ephemeral), address reuse
// on, not yet listening: connects to it are refused. *bound gets the port.
SimSocket SimBind(std::uint16_t port, std::uint16_t* bound);
bool SimListen(SimSocket s, int backlog);
// A pending connection of a listener (call when it is readable), blocking,
// without send coalescing; kNoSimSocket when none.
SimSocket SimAccept(SimSocket listener);

// A non-blocking connect to 127.0.0.1:port; SimConnectWait tells whether
// it completed within ms (the socket then turns blocking).
SimSocket SimConnectStart(std::uint16_t port);
bool SimConnectWait(SimSocket s, int ms);
// The port (host order) of a connection's other end; 0 when unknown.
std::uint16_t SimPeerPort(SimSocket s);

// >0 bytes received, 0 the peer closed, <0 failure.
int SimRecv(SimSocket s, char* buffer, int size);
// Sends everything; false on failure (never raises a signal).
bool SimSendAll(SimSocket s, const char* data, int length);
void SimClose(SimSocket s);

// Waits up to ms until one of the sockets is readable (or closed);
// readable[i] tells which. Returns how many, 0 on time-out, -1 on failure.
int SimPoll(const SimSocket* sockets, int count, int ms, bool* readable);

}  // namespace etl::simnet
