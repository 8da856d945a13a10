// What "etlan bench" needs from the operating system besides the driver:
// the CPU time this process has used, a precise clock, and a plain
// blocking TCP connection for the raw client that the driver is compared
// with. One file per platform (bench_posix.cpp, bench_win32.cpp), chosen
// by the build.
#pragma once

#include <cstdint>
#include <string>

namespace etl::etlan {

// CPU seconds (user + system) of every thread of this process so far.
double ProcessCpuSeconds();

// A blocking TCP connection: one send, receives until the caller has what
// it wants. Nothing else happens on it, so each exchange costs one send
// and (usually) one receive system call.
class RawConnection {
public:
    RawConnection() = default;
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Connects to host (dotted address or name) and port (number or
    // service) within connectMs; a receive then gives up after receiveMs.
    // False with a reason in *why.
    bool Open(const std::string& host, const std::string& port, int connectMs, int receiveMs,
              std::string* why);
    // Sends every byte; false on an error.
    bool Send(const void* data, int length);
    // Bytes received (> 0); 0 when the peer closed; -1 on an error or when
    // the receive time ran out.
    int Receive(void* buffer, int size);
    void Close();
    bool IsOpen() const { return handle_ != kNone; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

}  // namespace etl::etlan
