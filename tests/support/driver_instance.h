// A driver instance as a host runs it, for the end-to-end tests that drive
// the driver against the simulator: its own context, its own station file
// ("zavUR<NN>.int" in the current directory), and the calls of VpiMain.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/blocks.h"
#include "host/vpi.h"
#include "tools/etlan/vpi_harness.h"

namespace etl::test {

// The host interface's function codes, as the tests have always named them.
using etl::kCheckAddress;
using etl::kCheckAddressSuffix;
using etl::kColdStart;
using etl::kEndVpi;
using etl::kGetDriverInfo;
using etl::kReadBlock;
using etl::kReadValue;
using etl::kWarmStart;
using etl::kWriteValue;
using etl::StationFileName;

// The text of a station file: own station number, then one line per
// (station, port) on 127.0.0.1.
inline std::string StationFile(int ownStation, const std::vector<std::pair<int, int>>& stations) {
    std::string text = "ETLAN-PC" + std::to_string(ownStation) + "\n";
    for (const auto& [station, port] : stations) {
        char line[64];
        std::snprintf(line, sizeof line, "%02d \"127.0.0.1\" \"%d\"\n", station, port);
        text += line;
    }
    return text;
}

// An instance of the driver linked into the test, with a context of the
// driver's own size from the start.
class DriverInstance : public VpiHarness {
public:
    explicit DriverInstance(int driverNumber)
        : VpiHarness(&VpiMain, driverNumber, sizeof(DriverContext) + 16) {}
};

// Milliseconds a callable took, on the monotonic clock.
template <typename F>
double TimedMs(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace etl::test
