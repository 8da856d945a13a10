// The driver's one exported entry point.
//
// VpiMain uses the C calling convention (__cdecl on 32-bit Windows): the
// caller removes the argument from the stack, and the exported name carries
// no decoration. To change the convention, change VPI_CALL here and nothing
// else; ETLANdr.def already names the export without decoration.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define VPI_CALL __cdecl
#define VPI_EXPORT
#else
#define VPI_CALL
#define VPI_EXPORT __attribute__((visibility("default")))
#endif

namespace etl {
struct VpiRequest;
}

extern "C" VPI_EXPORT std::int32_t VPI_CALL VpiMain(etl::VpiRequest* request);

// Signature of VpiMain as a host resolves it from the loaded library.
using VpiMainFn = std::int32_t(VPI_CALL*)(etl::VpiRequest*);
