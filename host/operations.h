// The operations that VpiMain dispatches to. Each takes the host's request
// and returns the result code that goes back to the host.
#pragma once

#include <cstdint>

#include "host/blocks.h"
#include "host/identity.h"

namespace etl {

using Operation = std::int32_t (*)(VpiRequest*);

// Lifecycle (host/lifecycle.cpp, host/driver_info.cpp)
std::int32_t GetDriverInfo(VpiRequest* request);
std::int32_t ColdStart(VpiRequest* request);
std::int32_t WarmStart(VpiRequest* request);
std::int32_t UpdateConfig(VpiRequest* request);
std::int32_t EndVpi(VpiRequest* request);
// True when ColdStart of this driver filled the context's station table (the
// host's context is uninitialised memory until then).
bool HoldsStart(const DriverContext* ctx);
// The scan table that ColdStart made for the context, or nullptr: the
// context's own pointer is believed only for a context that holds a start
// and only when the start recorded that table.
ScanTable* StartedScanTable(const DriverContext* ctx);
void RecordScanTable(const DriverContext* ctx, ScanTable* table);

// Tag address check (address/parser.cpp)
std::int32_t CheckAddress(VpiRequest* request);
std::int32_t CheckAddressD(VpiRequest* request);

// Reads and writes (mewtocol/operations.cpp)
std::int32_t ReadValue(VpiRequest* request);
std::int32_t ReadBlock(VpiRequest* request);
std::int32_t WriteValue(VpiRequest* request);

// Address dialog (address/dialog.cpp)
std::int32_t BrowseAddress(VpiRequest* request);

// The identity banner, 188 bytes in code page 437 and a NUL.
extern const char kBannerText[];
constexpr std::size_t kBannerLength = 188;

}  // namespace etl
