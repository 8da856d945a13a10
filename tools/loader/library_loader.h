// Loading the driver library and finding its entry point, as a host does.
#pragma once

#include <string>

#include "host/vpi.h"

namespace etl::plat {

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library at path and resolves VpiMain; false with a reason
    // in Error() when either fails.
    bool Load(const std::string& path);
    VpiMainFn Entry() const { return entry_; }
    const std::string& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    VpiMainFn entry_ = nullptr;
    std::string error_;
};

// File name of the driver library on this platform ("ETLANdr.dll" or
// "libETLANdr.so").
const char* DriverFileName();

// Directory of the running executable, with a trailing separator.
std::string ExecutableDirectory();

}  // namespace etl::plat
