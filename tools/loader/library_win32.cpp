#include <windows.h>

#include "tools/loader/library_loader.h"

namespace etl::plat {

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool DriverLibrary::Load(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    handle_ = module;
    entry_ = reinterpret_cast<VpiMainFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "VpiMain")));
    if (entry_ == nullptr) {
        error_ = path + " has no VpiMain";
        return false;
    }
    return true;
}

const char* DriverFileName() { return "ETLANdr.dll"; }

std::string ExecutableDirectory() {
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return ".\\";
    std::string path(buf, n);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

}  // namespace etl::plat
