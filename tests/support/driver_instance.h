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

namespace etl::test {

enum Code : std::uint32_t {
    kColdStart = 1,
    kWarmStart = 2,
    kCheckAddress = 3,
    kCheckAddressSuffix = 4,
    kReadValue = 5,
    kReadBlock = 6,
    kWriteValue = 7,
    kEndVpi = 11,
    kGetDriverInfo = 14,
};

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

inline std::string StationFileName(int driverNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "zavUR%02d.int", driverNumber);
    return name;
}

class DriverInstance {
public:
    explicit DriverInstance(int driverNumber)
        : driverNumber_(driverNumber), context_(sizeof(DriverContext) + 16, 0) {}
    ~DriverInstance() {
        if (started_) End();
    }
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    std::int32_t Call(std::uint32_t code, void* params) {
        VpiRequest r{};
        r.context = context_.data();
        r.functionCode = code;
        r.driverNumber = driverNumber_;
        r.params = params;
        return VpiMain(&r);
    }

    std::int32_t Start(const char* name = "TEST") {
        StartBlock start{};
        std::snprintf(start.name, sizeof start.name, "%s", name);
        start.enable = 1;
        const std::int32_t rc = Call(kColdStart, &start);
        started_ = true;
        return rc;
    }

    std::int32_t End() {
        started_ = false;
        return Call(kEndVpi, nullptr);
    }

    std::int32_t WarmStart(int station) {
        WarmStartBlock block{station};
        return Call(kWarmStart, &block);
    }

    // Checks the address text (code 3, or 4 for the suffix form) and fills
    // tag as the host keeps it for reads and writes; the check's result.
    std::int32_t Check(const char* text, int dataType, int count, void* buffer, TagIoBlock* tag,
                       std::uint32_t checkCode = kCheckAddress) {
        TagAddressBlock check{};
        check.addressText = const_cast<char*>(text);
        check.dataType = dataType;
        check.elementCount = count;
        const std::int32_t rc = Call(checkCode, &check);
        *tag = TagIoBlock{};
        tag->addressText = text;
        tag->plcNumber = check.plcNumber;
        tag->memoryLetter = check.memoryLetter;
        tag->addressNumber = check.addressNumber;
        tag->bitNumber = check.bitNumber;
        tag->bitSize = check.bitSize;
        tag->dataType = dataType;
        tag->elementCount = count;
        tag->valueBuffer = buffer;
        return rc;
    }

    const DriverContext* Context() const {
        return reinterpret_cast<const DriverContext*>(context_.data());
    }

private:
    int driverNumber_;
    std::vector<std::uint8_t> context_;
    bool started_ = false;
};

// Milliseconds a callable took, on the monotonic clock.
template <typename F>
double TimedMs(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace etl::test
