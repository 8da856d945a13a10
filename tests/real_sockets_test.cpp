// The driver on the operating system's sockets and clock against the real
// simulator: an attempt that runs out of time and its retry, a late answer
// taken, an answer in parts, and a connection the PLC dropped. Every
// fault against every operation runs on the fake clock in
// fault_matrix_test; this keeps real sockets and real waiting in the
// picture on every platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "tests/support/driver_instance.h"
#include "tests/support/test_support.h"
#include "tools/sim/simulator.h"

namespace {

using etl::sim::Faults;
using etl::test::DriverInstance;

constexpr int kStation = 1;

std::uint16_t Get16(const std::uint8_t* b, int offset) {
    std::uint16_t v;
    std::memcpy(&v, b + offset, 2);
    return v;
}

TEST(RealSockets, TimeOutAnswerInPartsAndReconnect) {
    etl::test::TempDir dir;
    etl::test::LogCapture log;
    etl::sim::Simulator sim;
    const int port = sim.AddStation(kStation);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(sim.Start());
    dir.Write(etl::test::StationFileName(97), etl::test::StationFile(10, {{kStation, port}}));
    DriverInstance driver(97);
    ASSERT_EQ(driver.Start(), 0);
    sim.SetWord('D', 100, 0x1111);
    for (int i = 0; i < 8; ++i) sim.SetWord('D', 200 + i, static_cast<std::uint16_t>(0x2200 + i));

    std::uint8_t buffer[16] = {};
    etl::TagIoBlock word{};
    etl::TagIoBlock block{};
    ASSERT_EQ(driver.Check("01D00100", 0, 1, buffer, &word), 0);
    ASSERT_EQ(driver.Check("01D00200", 0, 8, buffer, &block), 0);

    // The first answer never comes: that attempt runs out of its 1 s, and
    // the retry gets the value. More of that exchange might still come on
    // its connection, so the next request makes a new one.
    Faults drop;
    drop.dropAnswers = 1;
    sim.SetFaults(kStation, drop);
    int rc = -1;
    double ms = etl::test::TimedMs([&] { rc = driver.Call(etl::test::kReadValue, &word); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get16(buffer, 2), 0x1111);
    EXPECT_GE(ms, 900.0);
    EXPECT_LT(ms, 6500.0);
    EXPECT_EQ(sim.Accepted(kStation), 1);

    // An answer in parts of at most 12 characters: seven for eight words.
    sim.SetSplit(kStation, 12);
    EXPECT_EQ(driver.Call(etl::test::kReadBlock, &block), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Get16(buffer, 2 * i), 0x2200 + i) << i;
    sim.SetSplit(kStation, 0);
    EXPECT_EQ(sim.Accepted(kStation), 2) << "the request after a time-out did not come on a new connection";

    // The PLC restarts and drops the connection: no answer, then the
    // host's WarmStart connects again and the next read succeeds.
    sim.RestartStation(kStation);
    EXPECT_EQ(driver.Call(etl::test::kReadValue, &word), 2);
    EXPECT_EQ(sim.Open(kStation), 0);
    EXPECT_EQ(driver.WarmStart(kStation), 0);
    EXPECT_EQ(driver.Call(etl::test::kReadValue, &word), 0);
    EXPECT_EQ(Get16(buffer, 2), 0x1111);

    // Every answer 1.2 s late: the first attempt runs out, and the answer
    // to its frame arrives during the second and is taken.
    Faults late;
    late.delayMs = 1200;
    sim.SetFaults(kStation, late);
    ms = etl::test::TimedMs([&] { rc = driver.Call(etl::test::kReadValue, &word); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get16(buffer, 2), 0x1111);
    EXPECT_GE(ms, 1150.0);
    EXPECT_LT(ms, 2000.0);
}

}  // namespace
