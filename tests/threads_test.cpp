// Several instances driven from several threads at once, as a host may do:
// each thread starts its instance, checks addresses, writes and reads back
// its own words, reads words all threads share, reconnects stations and
// ends the instance, round after round. Every value is checked, so one
// instance's request scratch leaking into another's shows as a wrong value
// or a wrong command. The tsan stage (label threads) runs this under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/driver_instance.h"
#include "tests/support/test_support.h"
#include "tools/sim/simulator.h"

namespace {

using etl::test::DriverInstance;

constexpr int kOwnStation = 10;
constexpr int kStations = 4;
constexpr int kSharedWords = 64;     // D0-D63: set once, read by every thread
constexpr int kOwnBase = 1000;       // thread t owns D(1000 + 100 t) to D(1099 + 100 t)
constexpr int kOwnWords = 100;
constexpr int kSharedContacts = 8;   // R0-R7: set once, read bit by bit

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    const int n = v != nullptr ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

std::uint16_t SharedValue(int address) { return static_cast<std::uint16_t>(0x5000 + 7 * address); }
std::uint16_t ContactValue(int address) { return static_cast<std::uint16_t>(0x8421u >> address | 0x0100u << address); }

class Worker {
public:
    Worker(int index, const std::vector<std::pair<int, int>>& stations, const etl::test::TempDir& dir)
        : index_(index), rng_(static_cast<std::uint64_t>(index) * 7919u + 1), driver_(70 + index) {
        dir.Write(etl::test::StationFileName(70 + index), etl::test::StationFile(kOwnStation, stations));
        for (auto& w : own_) w = 0;
    }

    // Returns the problems found; empty when every call and value was right.
    std::vector<std::string> Run(int rounds, int opsPerRound) {
        for (int r = 0; r < rounds && problems_.size() < 20; ++r) {
            Expect(driver_.Start("THREADS") == 0, "ColdStart");
            for (int i = 0; i < opsPerRound && problems_.size() < 20; ++i) Step();
            Expect(driver_.End() == 0, "EndVpi");
        }
        return problems_;
    }

private:
    int Station() { return 1 + static_cast<int>(rng_() % kStations); }
    int Between(int lo, int hi) { return lo + static_cast<int>(rng_() % static_cast<std::uint64_t>(hi - lo + 1)); }

    void Expect(bool ok, const std::string& what) {
        if (!ok) {
            char head[32];
            std::snprintf(head, sizeof head, "thread %d: ", index_);
            problems_.push_back(std::string(head).append(what));
        }
    }

    // "text n": no temporary strings joined at the front (GCC 12 misreads
    // that as an overlapping copy in optimised builds).
    static std::string Numbered(const std::string& text, int n) {
        char number[16];
        std::snprintf(number, sizeof number, " %d", n);
        return std::string(text).append(number);
    }

    std::uint16_t Get16(int offset) const {
        std::uint16_t v;
        std::memcpy(&v, buffer_ + offset, 2);
        return v;
    }

    static std::string Text(int station, int address) {
        char t[32];
        std::snprintf(t, sizeof t, "%02dD%05d", station, address);
        return t;
    }

    void Step() {
        etl::TagIoBlock tag{};
        std::memset(buffer_, 0xEE, sizeof buffer_);
        switch (rng_() % 9) {
        case 0:
        case 1: {  // write one of our words, read it back from another station
            const int offset = Between(0, kOwnWords - 1);
            const int address = kOwnBase + 100 * index_ + offset;
            const auto value = static_cast<std::uint16_t>(rng_());
            const std::string text = Text(Station(), address);
            Expect(driver_.Check(text.c_str(), 0, 1, buffer_, &tag) == 0, "check " + text);
            std::memset(buffer_, 0, 2);
            std::memcpy(buffer_ + 2, &value, 2);
            Expect(driver_.Call(etl::test::kWriteValue, &tag) == 0, "write " + text);
            own_[offset] = value;
            const std::string back = Text(Station(), address);
            driver_.Check(back.c_str(), 0, 1, buffer_, &tag);
            std::memset(buffer_, 0xEE, sizeof buffer_);
            Expect(driver_.Call(etl::test::kReadValue, &tag) == 0, "read " + back);
            Expect(Get16(0) == 0 && Get16(2) == value, "read back " + back);
            break;
        }
        case 2: {  // a double word of ours, written and read with the _D suffix
            const int offset = Between(0, kOwnWords - 2);
            const int address = kOwnBase + 100 * index_ + offset;
            char text[32];
            std::snprintf(text, sizeof text, "%02dd%05d_d", Station(), address);
            Expect(driver_.Check(text, 0, 1, buffer_, &tag, etl::test::kCheckAddressSuffix) == 0 &&
                       tag.bitSize == 32,
                   std::string("check ") + text);
            const auto lo = static_cast<std::uint16_t>(rng_());
            const auto hi = static_cast<std::uint16_t>(rng_());
            std::memcpy(buffer_, &lo, 2);
            std::memcpy(buffer_ + 2, &hi, 2);
            Expect(driver_.Call(etl::test::kWriteValue, &tag) == 0, std::string("write ") + text);
            own_[offset] = lo;
            own_[offset + 1] = hi;
            std::memset(buffer_, 0xEE, sizeof buffer_);
            Expect(driver_.Call(etl::test::kReadValue, &tag) == 0 && Get16(0) == lo && Get16(2) == hi,
                   std::string("read back ") + text);
            break;
        }
        case 3: {  // a block of our words
            const int n = Between(1, 30);
            const int offset = Between(0, kOwnWords - n);
            const std::string text = Text(Station(), kOwnBase + 100 * index_ + offset);
            driver_.Check(text.c_str(), 0, n, buffer_, &tag);
            const bool ok = driver_.Call(etl::test::kReadBlock, &tag) == 0;
            Expect(ok, "block " + text);
            for (int i = 0; ok && i < n; ++i) {
                if (Get16(2 * i) != own_[offset + i]) {
                    Expect(false, Numbered("block " + text + " element", i));
                    break;
                }
            }
            Expect(buffer_[2 * n] == 0xEE, "block " + text + " wrote past its values");
            break;
        }
        case 4: {  // shared words, one and a block of double words
            const int address = Between(0, kSharedWords - 2);
            const std::string text = Text(Station(), address);
            driver_.Check(text.c_str(), 0, 1, buffer_, &tag);
            Expect(driver_.Call(etl::test::kReadValue, &tag) == 0 && Get16(2) == SharedValue(address),
                   "shared " + text);
            const int n = Between(1, (kSharedWords - address) / 2);
            driver_.Check(text.c_str(), 3, n, buffer_, &tag);
            const bool ok = driver_.Call(etl::test::kReadBlock, &tag) == 0;
            Expect(ok, "shared block " + text);
            for (int i = 0; ok && i < 2 * n; ++i) {
                if (Get16(2 * i) != SharedValue(address + i)) {
                    Expect(false, Numbered("shared block " + text + " word", i));
                    break;
                }
            }
            break;
        }
        case 5: {  // a shared contact, bit by bit (the bit digit is per request)
            const int word = Between(0, kSharedContacts - 1);
            const int bit = Between(0, 15);
            char text[32];
            std::snprintf(text, sizeof text, "%02dR%04d%X", Station(), word, bit);
            Expect(driver_.Check(text, 6, 1, buffer_, &tag) == 0 && tag.bitNumber == static_cast<std::uint32_t>(bit),
                   std::string("check ") + text);
            Expect(driver_.Call(etl::test::kReadValue, &tag) == 0 &&
                       Get16(2) == ((ContactValue(word) >> bit) & 1),
                   std::string("contact ") + text);
            break;
        }
        case 6: {  // address checks alone, valid and not
            const int plc = Between(1, 64);
            const int address = Between(0, 99999);
            char text[32];
            std::snprintf(text, sizeof text, "%02dF%05d", plc, address);
            const bool ok = driver_.Check(text, 0, 1, buffer_, &tag) == 0;
            Expect(ok && tag.plcNumber == plc && tag.memoryLetter == 'F' &&
                       tag.addressNumber == static_cast<std::uint32_t>(address & 0xFFFF) &&
                       tag.bitSize == 16,
                   std::string("check ") + text);
            char bad[] = "01Q00100";
            Expect(driver_.Check(bad, 0, 1, buffer_, &tag) == 1, "check 01Q00100 passed");
            break;
        }
        case 7: {  // a station reconnected while the others keep going
            const int station = Station();
            Expect(driver_.WarmStart(station) == 0, Numbered("WarmStart", station));
            break;
        }
        default: {
            etl::DriverInfoBlock info{};
            Expect(driver_.Call(etl::test::kGetDriverInfo, &info) == 0 &&
                       info.contextSize == etl::kContextSize,
                   "GetDriverInfo");
            break;
        }
        }
    }

    int index_;
    std::mt19937_64 rng_;
    DriverInstance driver_;
    std::uint16_t own_[kOwnWords];
    std::uint8_t buffer_[256] = {};
    std::vector<std::string> problems_;
};

TEST(Threads, InstancesOnSeveralThreadsNeverMixTheirRequests) {
    const int threads = EnvInt("ETL_THREADS", 6);
    const int rounds = EnvInt("ETL_THREADS_ROUNDS", 5);
    const int ops = EnvInt("ETL_THREADS_OPS", 1000);

    etl::test::TempDir dir;
    etl::test::LogCapture log;
    etl::sim::Simulator sim;
    std::vector<std::pair<int, int>> stations;
    for (int s = 1; s <= kStations; ++s) {
        const int port = sim.AddStation(s);
        ASSERT_GT(port, 0);
        stations.push_back({s, port});
    }
    ASSERT_TRUE(sim.Start());
    for (int a = 0; a < kSharedWords; ++a) sim.SetWord('D', a, SharedValue(a));
    for (int a = 0; a < kSharedContacts; ++a) sim.SetWord('R', a, ContactValue(a));
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < kOwnWords; ++i) sim.SetWord('D', kOwnBase + 100 * t + i, 0);
    }

    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < threads; ++t) workers.push_back(std::make_unique<Worker>(t, stations, dir));
    std::vector<std::vector<std::string>> problems(static_cast<std::size_t>(threads));
    std::atomic<int> ready{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            // Start together, so the starts and first requests overlap.
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();
            problems[static_cast<std::size_t>(t)] = workers[static_cast<std::size_t>(t)]->Run(rounds, ops);
        });
    }
    for (auto& th : pool) th.join();

    for (const auto& list : problems) {
        for (const auto& p : list) ADD_FAILURE() << p;
    }
    int requests = 0;
    for (int s = 1; s <= kStations; ++s) requests += sim.Requests(s);
    std::printf("threads: %d threads x %d rounds x %d operations, %d requests served\n", threads,
                rounds, ops, requests);
    EXPECT_GT(requests, threads * rounds * ops / 2);
    // Every start was ended and counted exactly: the next instance is the
    // first again.
    DriverInstance after(69);
    dir.Write(etl::test::StationFileName(69), etl::test::StationFile(kOwnStation, stations));
    ASSERT_EQ(after.Start(), 0);
    EXPECT_EQ(after.Context()->instanceNumber, 1);
}

}  // namespace
