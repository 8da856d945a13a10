// VpiMain: the function code selects a slot of a constant table.
#include "host/operations.h"
#include "host/vpi.h"

namespace etl {
namespace {

std::int32_t AlwaysOne(VpiRequest*) { return kInvalid; }
std::int32_t AlwaysZero(VpiRequest*) { return kOk; }

// Indexed by function code; a null slot answers 2.
constexpr Operation kOperations[kMaxFunctionCode + 1] = {
    nullptr,        // 0
    ColdStart,      // 1
    WarmStart,      // 2
    CheckAddress,   // 3
    CheckAddressD,  // 4
    ReadValue,      // 5
    ReadBlock,      // 6
    WriteValue,     // 7
    nullptr,        // 8
    nullptr,        // 9
    AlwaysOne,      // 10
    EndVpi,         // 11
    AlwaysZero,     // 12
    AlwaysZero,     // 13
    GetDriverInfo,  // 14
    UpdateConfig,   // 15
    BrowseAddress,  // 16
    nullptr,        // 17
};

}  // namespace
}  // namespace etl

extern "C" std::int32_t VPI_CALL VpiMain(etl::VpiRequest* request) {
    const std::uint32_t code = request->functionCode;
    if (code > etl::kMaxFunctionCode) return etl::kFailed;
    const etl::Operation op = etl::kOperations[code];
    if (op == nullptr) return etl::kFailed;
    return op(request);
}
