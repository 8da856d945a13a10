// Standard input, output and error open before anything else: a process
// started with one of them closed would otherwise hand that descriptor to
// the first file or socket it opens, and its printed text would go there
// (into a PLC connection, say). Each closed one is opened on the null
// device. Header-only, for etlan and etlan-sim.
#pragma once

#if defined(_WIN32)
#include <cstdio>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace etl::tools {

inline void OpenStandardStreams() {
#if defined(_WIN32)
    // Sockets are no C runtime descriptors here, so only a stream without
    // a descriptor (a process without a console) is given the null device.
    if (_fileno(stdin) < 0) (void)std::freopen("NUL", "r", stdin);
    if (_fileno(stdout) < 0) (void)std::freopen("NUL", "w", stdout);
    if (_fileno(stderr) < 0) (void)std::freopen("NUL", "w", stderr);
#else
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int null = open("/dev/null", O_RDWR);  // the lowest free descriptor: fd
        if (null < 0) return;
        if (null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
#endif
}

}  // namespace etl::tools
