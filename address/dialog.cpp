#include "host/operations.h"

namespace etl {
std::int32_t BrowseAddress(VpiRequest*) { return kNotConfirmed; }
}  // namespace etl
