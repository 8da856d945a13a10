// A driver instance as the host keeps one: its context, its driver number
// (which names the station file zavUR<NN>.int in the current directory) and
// the calls of VpiMain, reached through the pointer given: the tests hand
// it the VpiMain they link, etlan the one of the library it loaded.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "host/vocabulary.h"
#include "host/vpi.h"

namespace etl {

// "zavUR%02d.int", the station file of a driver number.
inline std::string StationFileName(int driverNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "zavUR%02d.int", driverNumber);
    return name;
}

class VpiHarness {
public:
    // contextBytes 0: no context until GetInfo reports its size.
    explicit VpiHarness(VpiMainFn entry = nullptr, int driverNumber = 0, std::size_t contextBytes = 0)
        : entry_(entry), driverNumber_(driverNumber), context_((contextBytes + 7) / 8, 0) {}
    ~VpiHarness() {
        if (started_) End();
    }
    VpiHarness(const VpiHarness&) = delete;
    VpiHarness& operator=(const VpiHarness&) = delete;

    void SetEntry(VpiMainFn entry) { entry_ = entry; }
    void SetDriverNumber(int driverNumber) { driverNumber_ = driverNumber; }

    // One call of VpiMain with the instance's context (none while it holds
    // none); the time it took is in LastMs().
    std::int32_t Call(std::uint32_t code, void* params) {
        VpiRequest request{};
        request.context = context_.empty() ? nullptr : context_.data();
        request.functionCode = code;
        request.driverNumber = driverNumber_;
        request.params = params;
        const auto begin = std::chrono::steady_clock::now();
        const std::int32_t rc = entry_(&request);
        lastMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        return rc;
    }

    // GetDriverInfo as the host asks for it, without a context; then holds
    // a context of the size reported (up to 16 MiB).
    std::int32_t GetInfo(DriverInfoBlock* info) {
        VpiRequest request{};
        request.functionCode = kGetDriverInfo;
        request.params = info;
        const auto begin = std::chrono::steady_clock::now();
        const std::int32_t rc = entry_(&request);
        lastMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        if (rc == kOk && info->contextSize > 0 && info->contextSize <= (1 << 24)) {
            context_.assign((static_cast<std::size_t>(info->contextSize) + 7) / 8, 0);
        }
        return rc;
    }

    // ColdStart; the instance holds what it started even when the start
    // failed part way, so it counts as started (EndVpi ends it).
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

    bool Started() const { return started_; }
    // Forgets a start, for a process that ends while a call still runs in
    // the driver: the instance is left as it is.
    void Abandon() { started_ = false; }
    bool HasContext() const { return !context_.empty(); }
    double LastMs() const { return lastMs_; }
    const DriverContext* Context() const {
        return reinterpret_cast<const DriverContext*>(context_.data());
    }

private:
    VpiMainFn entry_;
    int driverNumber_;
    std::vector<std::uint64_t> context_;  // 8-byte aligned
    bool started_ = false;
    double lastMs_ = 0;
};

}  // namespace etl
