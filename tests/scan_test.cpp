// Stations whose line says scan=MS, on the in-memory sockets and their fake
// clock: learning, requests refreshed in parallel, runs merged and split,
// bit tags from their word, writes, a silent station among scanning ones,
// a station without the option, and the table's bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mewtocol/scan.h"
#include "tests/support/driver_instance.h"
#include "tests/support/fake_station.h"
#include "tests/support/memory_platform/memory_platform.h"
#include "tests/support/test_support.h"

namespace {

using etl::sim::Faults;
using etl::test::DriverInstance;
using Station = etl::test::FakeStation;

constexpr int kOwnStation = 65;
constexpr int kFirstPort = 9100;

using etl::memplat::ResetNetwork;

std::uint32_t Now() { return etl::memplat::Now(); }
void Advance(std::uint32_t ms) { etl::memplat::SetNow(Now() + ms); }

std::uint16_t Word(const std::uint8_t* b, int offset) {
    std::uint16_t v;
    std::memcpy(&v, b + offset, 2);
    return v;
}

// Stations 1..n, each a simulated PLC answering after delayMs, with the
// given options on every station line.
class Scan : public ::testing::Test {
protected:
    void Start(int n, const std::string& options, int delayMs = 20) {
        std::string file = "PC-stn: 65\n";
        for (int s = 1; s <= n; ++s) {
            plcs_.push_back(std::make_unique<Station>(s, kFirstPort + s));
            Faults f;
            f.delayMs = delayMs;
            plcs_.back()->SetFaults(f);
            char line[96];
            std::snprintf(line, sizeof line, "%02d \"127.0.0.1\" \"%d\" %s\n", s, kFirstPort + s,
                          options.c_str());
            file += line;
        }
        dir_.Write(etl::test::StationFileName(7), file);
        ASSERT_EQ(driver_.Start(), 0);
        log_.Clear();
    }

    Station& Plc(int s) { return *plcs_[static_cast<std::size_t>(s - 1)]; }

    // One read of a tag: its result, the value's two words in *value.
    int Read(const std::string& text, std::uint32_t* value = nullptr, int dataType = 0, int count = 1) {
        std::uint8_t buffer[128] = {};
        etl::TagIoBlock tag{};
        EXPECT_EQ(driver_.Check(text.c_str(), dataType, count, buffer, &tag), 0) << text;
        const int rc = driver_.Call(count > 1 ? etl::test::kReadBlock : etl::test::kReadValue, &tag);
        if (value != nullptr) *value = Word(buffer, 2) | (static_cast<std::uint32_t>(Word(buffer, 0)) << 16);
        if (count > 1) std::memcpy(block_, buffer, sizeof block_);
        return rc;
    }

    int Write(const std::string& text, std::uint16_t value, int dataType = 0) {
        std::uint8_t buffer[8] = {};
        etl::TagIoBlock tag{};
        EXPECT_EQ(driver_.Check(text.c_str(), dataType, 1, buffer, &tag), 0) << text;
        std::memcpy(buffer + 2, &value, 2);
        return driver_.Call(etl::test::kWriteValue, &tag);
    }

    // Requests the stations have received so far, in all.
    int Requests() const {
        int n = 0;
        for (const auto& p : plcs_) n += p->Requests();
        return n;
    }

    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
    ResetNetwork network_;
    std::vector<std::unique_ptr<Station>> plcs_;
    DriverInstance driver_{7};
    std::uint8_t block_[128] = {};
};

std::string Tag(int station, int address) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dD%05d", station, address);
    return text;
}

// The first round learns the tags with an exchange each; after that, the
// stations are asked together and a round takes one exchange's time.
TEST_F(Scan, LearnsThenServesAllStationsInOneExchangesTime) {
    Start(4, "scan=100");
    for (int s = 1; s <= 4; ++s) {
        for (int a = 0; a < 5; ++a) Plc(s).SetWord('D', 100 + a, static_cast<std::uint16_t>(100 * s + a));
    }
    const auto round = [&] {
        const std::uint32_t t0 = Now();
        for (int s = 1; s <= 4; ++s) {
            for (int a = 0; a < 5; ++a) {
                std::uint32_t v = 0;
                EXPECT_EQ(Read(Tag(s, 100 + a), &v), 0) << s << " " << a;
                EXPECT_EQ(v & 0xFFFF, static_cast<std::uint32_t>(100 * s + a)) << s << " " << a;
            }
        }
        return Now() - t0;
    };
    const std::uint32_t learning = round();
    EXPECT_GE(learning, 20u * 20);  // an exchange per tag
    Advance(200);
    int before = Requests();
    const std::uint32_t scanned = round();
    EXPECT_LE(scanned, 3u * 21) << "three exchanges' time at most";
    EXPECT_EQ(Requests() - before, 4) << "one request per station";
    before = Requests();
    EXPECT_LE(round(), 2u * 20);  // all fresh: no request, no wait (the fake clock's tick per reading)
    EXPECT_EQ(Requests(), before);
    EXPECT_TRUE(log_.Lines().empty());
}

// Neighbouring addresses share a request up to the longest the address
// check allows (54 words; 26 for LD), answers in parts included; a bit tag
// is served from the word that holds it.
TEST_F(Scan, RunsMergedAndSplitAtTheRequestLimit) {
    Start(1, "scan=1000", 0);
    Plc(1).SetSplit(40);  // answers of more than 40 characters come in parts
    for (int a = 100; a < 400; ++a) Plc(1).SetWord('D', a, static_cast<std::uint16_t>(a));
    Plc(1).SetWord('R', 10, 0x0420);
    const std::vector<int> addresses = {100, 102, 110, 118, 200, 300, 353, 354};
    for (int a : addresses) ASSERT_EQ(Read(Tag(1, a)), 0) << a;
    std::uint32_t bit = 9;
    ASSERT_EQ(Read("01R00105", &bit, 6), 0);
    ASSERT_EQ(Read("01R0010A", &bit, 6), 0);
    Advance(2000);

    const int before = Plc(1).Requests();
    for (int a : addresses) {
        std::uint32_t v = 0;
        ASSERT_EQ(Read(Tag(1, a), &v), 0) << a;
        EXPECT_EQ(v & 0xFFFF, static_cast<std::uint32_t>(a)) << a;
    }
    EXPECT_EQ(Read("01R00105", &bit, 6), 0);
    EXPECT_EQ(bit & 0xFFFF, 1u);
    EXPECT_EQ(Read("01R0010A", &bit, 6), 0);
    EXPECT_EQ(bit & 0xFFFF, 1u);
    EXPECT_EQ(Read("01R00100", &bit, 6), 0);  // another bit of a learned word: from it
    EXPECT_EQ(bit & 0xFFFF, 0u);
    // D100-D118 (gaps up to 8 words), D200, D300-D353 (54 words) and D354,
    // R10: five requests; the long ones come in parts, each asked for.
    const int requests = Plc(1).Requests() - before;
    EXPECT_GE(requests, 6);  // 5 commands, plus the next-part requests ...
    EXPECT_LE(requests, 5 + 10 + 1);
}

// A write goes to the PLC at once, and no read of an address it touched
// returns a value from before it; a value older than the scan age is never
// served, and a refresh that fails gives the read the failure, not the old
// value.
TEST_F(Scan, WritesStayExactAndNoOldValueIsServed) {
    Start(1, "scan=500", 0);
    Plc(1).SetWord('D', 100, 1);
    Plc(1).SetWord('D', 101, 2);
    std::uint32_t v = 0;
    ASSERT_EQ(Read(Tag(1, 100), &v), 0);
    ASSERT_EQ(Read("01D00100", &v, 3), 0);  // a double word over D100 and D101
    ASSERT_EQ(Read(Tag(1, 101), &v), 0);
    ASSERT_EQ(Write(Tag(1, 101), 77), 0);
    EXPECT_EQ(Plc(1).Word('D', 101), 77);
    ASSERT_EQ(Read(Tag(1, 101), &v), 0);
    EXPECT_EQ(v & 0xFFFF, 77u);
    std::uint8_t buffer[8] = {};
    etl::TagIoBlock dword{};
    ASSERT_EQ(driver_.Check("01D00100", 3, 1, buffer, &dword), 0);
    ASSERT_EQ(driver_.Call(etl::test::kReadValue, &dword), 0);
    EXPECT_EQ(Word(buffer, 0), 1);
    EXPECT_EQ(Word(buffer, 2), 77);

    // Changed behind the driver's back: served as it was within 500 ms,
    // never later.
    Plc(1).SetWord('D', 100, 5);
    Advance(100);
    ASSERT_EQ(Read(Tag(1, 100), &v), 0);
    EXPECT_EQ(v & 0xFFFF, 1u);
    Advance(500);
    ASSERT_EQ(Read(Tag(1, 100), &v), 0);
    EXPECT_EQ(v & 0xFFFF, 5u);

    // The PLC goes silent: once the values are too old, the read fails.
    Faults silent;
    silent.dropAnswers = -1;
    Plc(1).SetFaults(silent);
    Advance(600);
    EXPECT_EQ(Read(Tag(1, 100), &v), 2);
    EXPECT_EQ(v, 0u);
}

// A station that goes silent among scanning stations costs the first round
// its exchange, then rests; the other stations' reads never wait for it.
TEST_F(Scan, ASilentStationNeverDelaysTheOthers) {
    Start(3, "scan=100");
    for (int s = 1; s <= 3; ++s) ASSERT_EQ(Read(Tag(s, 100)), 0);
    Faults silent;
    silent.dropAnswers = -1;
    Plc(2).SetFaults(silent);
    Advance(200);
    const auto round = [&](int* failed) {
        const std::uint32_t t0 = Now();
        *failed = 0;
        for (int s = 1; s <= 3; ++s) *failed += Read(Tag(s, 100)) != 0 ? 1 : 0;
        return Now() - t0;
    };
    int failed = 0;
    round(&failed);  // station 2's refresh runs out of its attempts
    EXPECT_EQ(failed, 1);
    for (int i = 0; i < 20; ++i) {
        Advance(150);
        EXPECT_LE(round(&failed), 3u * 21 + 1005) << i;  // a probe of station 2 at most
        EXPECT_EQ(failed, 1);
    }
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_NE(log_.Lines()[0].find("ZavUR: station 2 fails: no answer within 1000 ms to %02#RDD"),
              std::string::npos)
        << log_.Lines()[0];
}

// Without the option, every read is an exchange of its own, as the design
// has it, and no table is made; with it, the table's bound holds: addresses
// past it are read with exchanges of their own, and right.
TEST_F(Scan, WithoutTheOptionNothingChangesAndTheTableIsBounded) {
    Start(2, "", 0);
    EXPECT_EQ(driver_.Context()->scan, nullptr);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Read(Tag(1, 100)), 0);
    EXPECT_EQ(Plc(1).Requests(), 3);
    driver_.End();

    dir_.Write(etl::test::StationFileName(8), "PC-stn: 65\n01 \"127.0.0.1\" \"9101\" scan=60000\n");
    DriverInstance scanning(8);
    ASSERT_EQ(scanning.Start(), 0);
    ASSERT_NE(scanning.Context()->scan, nullptr);
    const int tags = etl::kScanMaxRequests + 20;  // one request each: 100 words apart
    for (int i = 0; i < tags; ++i) Plc(1).SetWord('D', 100 * i, static_cast<std::uint16_t>(i));
    const auto readAll = [&] {
        int exchanges = Plc(1).Requests();
        for (int i = 0; i < tags; ++i) {
            std::uint8_t buffer[8] = {};
            etl::TagIoBlock tag{};
            const std::string text = Tag(1, 100 * i);
            EXPECT_EQ(scanning.Check(text.c_str(), 0, 1, buffer, &tag), 0);
            EXPECT_EQ(scanning.Call(etl::test::kReadValue, &tag), 0) << i;
            EXPECT_EQ(Word(buffer, 2), i) << i;
        }
        return Plc(1).Requests() - exchanges;
    };
    EXPECT_EQ(readAll(), tags);  // learning
    EXPECT_EQ(readAll(), tags);  // each request's first refresh
    EXPECT_EQ(readAll(), 20);    // only those past the bound
}

}  // namespace
