#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "tools/loader/library_loader.h"

namespace etl::plat {

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool DriverLibrary::Load(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : "cannot load " + path;
        return false;
    }
    entry_ = reinterpret_cast<VpiMainFn>(dlsym(handle_, "VpiMain"));
    if (entry_ == nullptr) {
        error_ = path + " has no VpiMain";
        return false;
    }
    return true;
}

const char* DriverFileName() { return "libETLANdr.so"; }

std::string ExecutableDirectory() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(0, path.find_last_of('/') + 1);
}

}  // namespace etl::plat
