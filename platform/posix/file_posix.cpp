// Opening a regular file on POSIX: looked at before it is opened, opened
// without waiting, and looked at again through the descriptor, so that
// nothing but a regular file is ever read and a FIFO never blocks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_platform.h"

namespace etl::plat {

FileOpen OpenRegularFile(const char* name, std::FILE** out) {
    struct stat st;
    if (::stat(name, &st) != 0) return FileOpen::kNotOpened;
    if (!S_ISREG(st.st_mode)) return FileOpen::kNotRegular;
    // The name may have been replaced since: O_NONBLOCK keeps the open of a
    // FIFO from waiting for a writer, and the descriptor is checked again.
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return FileOpen::kNotOpened;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return FileOpen::kNotOpened;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileOpen::kNotRegular;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "r");
    if (file == nullptr) {
        ::close(fd);
        return FileOpen::kNotOpened;
    }
    *out = file;
    return FileOpen::kOpened;
}

}  // namespace etl::plat
