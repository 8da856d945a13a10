// What the trace relay needs from the operating system: non-blocking TCP
// sockets on IPv4, a listener on 127.0.0.1, a wait on many sockets at once,
// a wake-up for that wait, and the thread that runs it. One file per
// platform (relay_posix.cpp, relay_win32.cpp), chosen by the build; the
// relay's logic (relay.cpp) sees only these calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace etl::etlan::relaynet {

using Handle = std::intptr_t;
constexpr Handle kNone = -1;

struct Endpoint {
    std::uint32_t address = 0;  // network order
    std::uint16_t port = 0;     // network order
};

// The station's host and port as the driver reads them: a host text with a
// full stop is a dotted address (the platform's own conversion), never a
// name; any other is looked up. A port is a service name or a number
// (modulo 65536). False with a reason.
bool Resolve(const std::string& host, const std::string& port, Endpoint* out, std::string* why);

// A non-blocking listener on 127.0.0.1 and a port of the system's choice.
Handle Listen(std::uint16_t* port, std::string* why);
// A connection waiting on the listener, non-blocking; kNone when none.
Handle Accept(Handle listener);
// Starts a non-blocking connection; kNone with a reason when it failed at
// once. Its outcome, once the wait reports it writable or failed, is
// ConnectError: 0 when connected.
Handle Connect(const Endpoint& to, std::string* why);
int ConnectError(Handle s);

// Bytes received (> 0), 0 when the peer closed, kWouldBlock, or kFailed
// with the error in *error.
constexpr long kWouldBlock = -1;
constexpr long kFailed = -2;
long Receive(Handle s, char* buffer, std::size_t size, int* error);
// Bytes sent (>= 0), kWouldBlock, or kFailed with the error in *error.
long Send(Handle s, const char* data, std::size_t size, int* error);
void Close(Handle s);
std::string ErrorText(int error);
std::string EndpointText(const Endpoint& e);

// Sockets to wait for; after Wait, what each of them is ready for.
struct Watch {
    Handle socket = kNone;
    bool read = false;
    bool write = false;
    // out
    bool readable = false;
    bool writable = false;
    bool failed = false;  // an error or hang-up: a receive or ConnectError tells
};
// Waits at most timeoutMs (-1: no limit) until one of them is ready; the
// number ready, 0 at the time-out, -1 on a failure (an interrupted wait
// counts as 0).
int Wait(std::vector<Watch>& watches, int timeoutMs);

// Wakes a Wait that watches Handle() for reading, from another thread.
class Wake {
public:
    Wake();
    ~Wake();
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    bool Ok() const { return read_ != kNone; }
    Handle ReadHandle() const { return read_; }
    void Signal();
    void Drain();

private:
    Handle read_ = kNone;
    Handle write_ = kNone;
};

// A thread that takes none of the stop signals (Ctrl-C and SIGTERM stay
// with the command's own thread).
std::thread StartThread(std::function<void()> body);

}  // namespace etl::etlan::relaynet
