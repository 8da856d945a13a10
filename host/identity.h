// The vendor text: handed to the host by GetDriverInfo and inserted into the
// log lines of the lifecycle and of the station file.
#pragma once

namespace etl {
inline constexpr char kVendorText[] = "Matsushita";
}  // namespace etl
