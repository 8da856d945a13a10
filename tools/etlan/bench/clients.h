// The bench's two clients on one station: the driver through VpiMain and
// the raw client on a blocking socket of its own, sending the same frames;
// each operation checked against the values the station holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "tools/etlan/bench/raw_client.h"
#include "tools/etlan/driver.h"

namespace etl::etlan {

constexpr int kBlockWords = 27;          // the largest block of 16-bit words a read takes
constexpr int kConnectMs = 3000;         // the raw client's connect ...
constexpr int kReceiveMs = 5000;         // ... and answer time limits
constexpr int kAnswerSize = 512;         // the largest answer here is 12 + 6 + 108 + 3 bytes
constexpr std::size_t kMaxReported = 5;  // failures shown in words

enum Kind { kRead, kBlock, kWrite, kKinds };
enum Client { kDriver, kRaw, kClients };

inline constexpr const char* kClientName[kClients] = {"driver", "raw"};

// A tag the driver has checked (code 3) and the block for codes 5, 6, 7.
struct DriverTag {
    std::string text;
    TagIoBlock io{};
    std::vector<std::uint8_t> buffer;
};

// Operations that failed or read a wrong value, the first few in words.
struct Failures {
    long count = 0;
    std::vector<std::string> shown;

    void Add(const std::string& what) {
        ++count;
        if (shown.size() < kMaxReported) shown.push_back(what);
    }
};

// One station as both clients see it: the driver's tags, the raw client's
// connection and frames, and the values every read must give.
struct Target {
    int plc = 0;
    StationAddress address;
    DriverTag read, block, write;
    RawConnection raw;
    std::string readFrame, blockFrame, writeFrame;  // writeFrame empty: reads only
    std::uint16_t expected[kBlockWords] = {};
    std::uint16_t writeValue = 0;  // what D W held at the start, written back
    char answer[kAnswerSize] = {};
};

// The station's tags checked by the driver, the raw client connected, its
// frames built and the values the station holds read once; false with a
// reason. rawOverride ("HOST:PORT") names where the raw client connects;
// writeAddress (-1: none) the data register that the writes go to.
bool PrepareTarget(DriverHost* host, const StationList& list, int plc, const std::string& rawOverride, int address,
                   int writeAddress, Target* t, std::string* why);

// One operation of each client; false (and the failure noted) when it
// failed or gave a wrong value.
bool DriverOp(DriverHost* host, Target& t, Kind kind, Failures* failures);
bool RawOp(Target& t, Kind kind, Failures* failures);

}  // namespace etl::etlan
