// Standard input, output and error open before anything else: a process
// started with one of them closed would otherwise hand that descriptor to
// the first file or socket it opens, and its printed text would go there
// (into a PLC connection, say). Each closed one is opened on the null
// device. Header-only, for etlan and etlan-sim.
#pragma once

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace etl::tools {

inline void OpenStandardStreams() {
#if defined(_WIN32)
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1) continue;
        const int null = _open("NUL", _O_RDWR | _O_BINARY);
        if (null < 0) return;
        if (null != fd) {
            _dup2(null, fd);
            _close(null);
        }
    }
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
