// Opening the files that the driver reads (the station file), on the
// platform's own terms. One implementation per platform (platform/posix,
// platform/win32).
#pragma once

#include <cstdio>

namespace etl::plat {

enum class FileOpen {
    kOpened,      // *out holds the open file; the caller closes it with fclose
    kNotOpened,   // no such file, or it cannot be read
    kNotRegular,  // it exists but is a directory, a FIFO, a device or a socket
};

// Opens a file for reading as text, but only a regular file. Never waits:
// a FIFO without a writer, or a device, is refused without blocking.
FileOpen OpenRegularFile(const char* name, std::FILE** out);

}  // namespace etl::plat
