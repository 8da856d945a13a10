// The driver instance of the frame-exchanging targets (fuzz_instance.h).
#include "tests/fuzz/fuzz_instance.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "host/vpi.h"
#include "stations/station_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace etl::fuzz {
namespace {

namespace mem = etl::memplat;

DriverContext* g_context = nullptr;

}  // namespace

std::int32_t CallDriver(std::uint32_t code, void* params) {
    VpiRequest r{};
    r.context = g_context;
    r.functionCode = code;
    r.driverNumber = 2;  // zavUR02.int
    r.params = params;
    return VpiMain(&r);
}

void StartInstance(mem::Peer* station) {
    if (g_context != nullptr) return;
    EnterPrivateDir();
    std::string file = "ZAVUR02 99\n";  // own station 99: none of 1..64
    for (int s = 1; s <= kMaxStation; ++s) {
        char line[64];
        std::snprintf(line, sizeof line, "%02d \"127.0.0.1\" \"9094\"%s\n", s,
                      s == kScanStation ? " scan=50" : "");
        file += line;
    }
    FILE* f = std::fopen("zavUR02.int", "wb");
    if (f == nullptr) Fail("cannot write the station file");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    mem::Reset();
    mem::Serve(mem::Loopback(), mem::Port(9094), station);
    g_context = new DriverContext;
    StartBlock start{};
    std::memcpy(start.name, "FUZZ", 5);
    start.enable = 1;
    if (CallDriver(1, &start) != 0) Fail("the instance did not start");
}

DriverContext& Instance() { return *g_context; }

}  // namespace etl::fuzz
