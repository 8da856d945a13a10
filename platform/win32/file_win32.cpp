// Opening a regular file on Windows: a directory is refused by its
// attributes, and an opened handle must be a disk file (not a pipe, a
// console or another device).
#include <windows.h>

#include <io.h>

#include "platform/file_platform.h"

namespace etl::plat {

FileOpen OpenRegularFile(const char* name, std::FILE** out) {
    const DWORD attributes = ::GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileOpen::kNotOpened;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return FileOpen::kNotRegular;
    }
    std::FILE* file = std::fopen(name, "r");
    if (file == nullptr) return FileOpen::kNotOpened;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
        std::fclose(file);
        return FileOpen::kNotRegular;
    }
    *out = file;
    return FileOpen::kOpened;
}

}  // namespace etl::plat
