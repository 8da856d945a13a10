// The fuzz targets' code, built natively, on every seed and every kept
// regression case: each target checks its own invariants and aborts on a
// violation. Runs without libFuzzer, so that the ordinary build keeps the
// targets compiling and every finding fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int FuzzAddress(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzStationFile(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzExchange(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzSimCommand(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

// Runs every file of the target's corpus and regression directories;
// returns how many there were.
int Replay(const std::string& name, Target target) {
    int count = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(ETL_FUZZ_DIR) / kind / name;
        if (!fs::is_directory(dir)) continue;
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.is_regular_file()) files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& f : files) {
            SCOPED_TRACE(f.string());
            std::ifstream in(f, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            EXPECT_EQ(target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
            ++count;
        }
    }
    return count;
}

TEST(FuzzReplay, AddressCheck) { EXPECT_GT(Replay("fuzz_address", FuzzAddress), 0); }
TEST(FuzzReplay, StationFile) { EXPECT_GT(Replay("fuzz_station_file", FuzzStationFile), 0); }
TEST(FuzzReplay, Exchange) { EXPECT_GT(Replay("fuzz_exchange", FuzzExchange), 0); }
TEST(FuzzReplay, SimulatorCommands) { EXPECT_GT(Replay("fuzz_sim_command", FuzzSimCommand), 0); }

}  // namespace
