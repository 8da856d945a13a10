// The host runtime library (QANPRO) as the driver imports it. The driver
// links against the host's library, or against the stand-in in qanpro/.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#if defined(QANPRO_BUILD)
#define QANPRO_API __declspec(dllexport)
#else
#define QANPRO_API __declspec(dllimport)
#endif
#define QANPRO_CALL __cdecl
#else
#define QANPRO_API __attribute__((visibility("default")))
#define QANPRO_CALL
#endif

extern "C" {
// One log line; the format is filled as printf fills it.
QANPRO_API int QANPRO_CALL err(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Registers a client; 0 means success and a valid handle.
QANPRO_API std::uint16_t QANPRO_CALL QanMkClient(const char* name, int kind, int flags,
                                                 std::uint8_t* handle);
// Reports the runtime's version number (and a text the driver ignores).
QANPRO_API std::uint16_t QANPRO_CALL QanGetQanproVer(std::uint8_t handle, std::uint16_t* version,
                                                     char* text);
QANPRO_API std::uint16_t QANPRO_CALL QanRmClient(std::uint8_t handle);
}

namespace etl {
// Every diagnostic of the driver goes to the host log at this level.
constexpr int kLogLevel = 32;
}  // namespace etl
