// The driver instance of the targets that exchange frames with a station
// on the in-memory socket platform: stations 1 to 64 at 127.0.0.1:9094
// (station file zavUR02.int, own station 99), started once per process.
#pragma once

#include <cstdint>

#include "host/blocks.h"
#include "tests/support/memory_platform/memory_platform.h"

namespace etl::fuzz {

// The one station that reads from a scan (scan=50 on its line).
constexpr int kScanStation = 2;

// The longest one call may block on the fake clock.
constexpr std::uint32_t kMaxBlockMs = 3 * 2 * 1000 + 50;

// Starts the instance (ColdStart) with station answering at
// 127.0.0.1:9094, unless it runs already. Station kScanStation scans.
void StartInstance(memplat::Peer* station);

// VpiMain with the instance's context and driver number 2.
std::int32_t CallDriver(std::uint32_t code, void* params);

DriverContext& Instance();

}  // namespace etl::fuzz
