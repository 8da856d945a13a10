// VpiMain: the function code selects a slot of a constant table.
#include <array>

#include "host/operations.h"
#include "host/vocabulary.h"
#include "host/vpi.h"

namespace etl {
namespace {

std::int32_t AlwaysOne(VpiRequest*) { return kInvalid; }
std::int32_t AlwaysZero(VpiRequest*) { return kOk; }

// Indexed by function code; a null slot answers 2. Codes 10, 12 and 13
// have no operation of their own: 10 answers 1, 12 and 13 answer 0.
constexpr std::array<Operation, kMaxFunctionCode + 1> MakeOperations() {
    std::array<Operation, kMaxFunctionCode + 1> table{};
    table[kColdStart] = ColdStart;
    table[kWarmStart] = WarmStart;
    table[kCheckAddress] = CheckAddress;
    table[kCheckAddressSuffix] = CheckAddressD;
    table[kReadValue] = ReadValue;
    table[kReadBlock] = ReadBlock;
    table[kWriteValue] = WriteValue;
    table[10] = AlwaysOne;
    table[kEndVpi] = EndVpi;
    table[12] = AlwaysZero;
    table[13] = AlwaysZero;
    table[kGetDriverInfo] = GetDriverInfo;
    table[kUpdateConfig] = UpdateConfig;
    table[kBrowseAddress] = BrowseAddress;
    return table;
}

constexpr std::array<Operation, kMaxFunctionCode + 1> kOperations = MakeOperations();

}  // namespace
}  // namespace etl

extern "C" std::int32_t VPI_CALL VpiMain(etl::VpiRequest* request) {
    const std::uint32_t code = request->functionCode;
    if (code > etl::kMaxFunctionCode) return etl::kFailed;
    const etl::Operation op = etl::kOperations[code];
    if (op == nullptr) return etl::kFailed;
    return op(request);
}
