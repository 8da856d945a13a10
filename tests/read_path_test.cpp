// The cost of the read and write path itself: waiting for a slow PLC's
// answer sleeps instead of burning the processor, also while an answer
// arrives in pieces, and reads and writes allocate no memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "host/blocks.h"
#include "tests/support/driver_instance.h"
#include "tests/support/test_support.h"
#include "tools/sim/simulator.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ETL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ETL_SANITIZED 1
#endif
#endif

// ---- allocation counting ------------------------------------------------------
//
// Every operator new of the program, and on glibc every malloc, calloc and
// realloc (the host runtime's included), is counted while the calling
// thread has counting on. The simulator's own threads are never counted.

namespace {
thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};

void Count() {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

void* Allocate(std::size_t n) {
    Count();
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(n == 0 ? 1 : n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if defined(__GLIBC__) && !defined(ETL_SANITIZED)
#define ETL_COUNTS_MALLOC 1
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    Count();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    Count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    Count();
    return __libc_realloc(p, n);
}
}
#endif

namespace {

using etl::TagIoBlock;
using etl::test::DriverInstance;

// Processor time of the calling thread, in seconds.
double ThreadCpuSeconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
#endif
}

class ReadPath : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(sim_.AddStation(1), 0);
        ASSERT_TRUE(sim_.Start());
        dir_.Write(etl::test::StationFileName(kDriver),
                   etl::test::StationFile(10, {{1, sim_.Port(1)}}));
        ASSERT_EQ(driver_.Start(), 0);
        for (int i = 0; i < 27; ++i) sim_.SetWord('D', 100 + i, static_cast<std::uint16_t>(0x1111 * (i % 15)));
    }

    static constexpr int kDriver = 12;
    etl::sim::Simulator sim_;
    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
    DriverInstance driver_{kDriver};
    std::uint8_t buffer_[256] = {};
};

TEST_F(ReadPath, WaitingForASlowOrPiecewiseAnswerSleeps) {
    TagIoBlock word;
    ASSERT_EQ(driver_.Check("01D00100", 0, 1, buffer_, &word), 0);

    // A PLC that answers after 20 ms: a spinning wait would use about the
    // whole 20 ms of processor per read, a sleeping one a few microseconds.
    etl::sim::Faults slow;
    slow.delayMs = 20;
    sim_.SetFaults(1, slow);
    constexpr int kReads = 25;
    double cpu = ThreadCpuSeconds();
    for (int i = 0; i < kReads; ++i) ASSERT_EQ(driver_.Call(etl::test::kReadValue, &word), 0);
    cpu = ThreadCpuSeconds() - cpu;
    RecordProperty("cpu_ms_per_read_20ms_plc", std::to_string(cpu * 1000 / kReads));
    EXPECT_LT(cpu, kReads * 0.002) << "seconds of processor for " << kReads << " reads";

    // The same answer in pieces of 3 bytes, 15 ms apart: the wait also
    // sleeps while part of the answer is there and the rest is not.
    etl::sim::Faults pieces;
    pieces.pieceBytes = 3;
    pieces.piecePauseMs = 15;
    sim_.SetFaults(1, pieces);
    constexpr int kPieceReads = 4;
    cpu = ThreadCpuSeconds();
    const double ms = etl::test::TimedMs([&] {
        for (int i = 0; i < kPieceReads; ++i) {
            ASSERT_EQ(driver_.Call(etl::test::kReadValue, &word), 0);
            std::uint16_t v;
            std::memcpy(&v, buffer_, 2);
            ASSERT_EQ(v, 0);
        }
    });
    cpu = ThreadCpuSeconds() - cpu;
    EXPECT_GT(ms, kPieceReads * 100.0) << "the answers did not come in pieces";
    // Spinning would use the processor for the whole time waited; sleeping
    // (on Windows a millisecond at a time while part of the answer is
    // there) uses a small part of it.
    EXPECT_LT(cpu * 1000, ms / 4) << "seconds of processor for " << kPieceReads << " reads in "
                                  << ms << " ms";
}

TEST_F(ReadPath, ReadsAndWritesAllocateNothing) {
    sim_.SetSplit(1, 40);  // the blocks' answers come in parts
    TagIoBlock word, dword, bit, block, dblock, wword, wdword, wbit;
    std::uint8_t out[16] = {};
    std::uint8_t contact[4] = {};
    ASSERT_EQ(driver_.Check("01D00100", 0, 1, buffer_, &word), 0);
    ASSERT_EQ(driver_.Check("01D00102", 3, 1, buffer_, &dword), 0);
    ASSERT_EQ(driver_.Check("01R00103", 6, 1, buffer_, &bit), 0);
    ASSERT_EQ(driver_.Check("01D00100", 0, 27, buffer_, &block), 0);
    ASSERT_EQ(driver_.Check("01D00100", 3, 13, buffer_, &dblock), 0);
    ASSERT_EQ(driver_.Check("01D00200", 0, 1, out, &wword), 0);
    ASSERT_EQ(driver_.Check("01D00202", 3, 1, out, &wdword), 0);
    ASSERT_EQ(driver_.Check("01R00203", 6, 1, contact, &wbit), 0);
    // A station that does not answer: the failure path (retries, the
    // connection replaced after a time-out) allocates nothing either.
    TagIoBlock silent;
    ASSERT_EQ(driver_.Check("01D00300", 0, 1, buffer_, &silent), 0);

    auto run = [&](int rounds) {
        for (int i = 0; i < rounds; ++i) {
            ASSERT_EQ(driver_.Call(etl::test::kReadValue, &word), 0);
            ASSERT_EQ(driver_.Call(etl::test::kReadValue, &dword), 0);
            ASSERT_EQ(driver_.Call(etl::test::kReadValue, &bit), 0);
            ASSERT_EQ(driver_.Call(etl::test::kReadBlock, &block), 0);
            ASSERT_EQ(driver_.Call(etl::test::kReadBlock, &dblock), 0);
            const std::uint32_t v = 0x10000u * static_cast<std::uint32_t>(i) + 7;
            std::memcpy(out, &v, 4);
            contact[0] = static_cast<std::uint8_t>(i & 1);
            ASSERT_EQ(driver_.Call(etl::test::kWriteValue, &wword), 0);
            ASSERT_EQ(driver_.Call(etl::test::kWriteValue, &wdword), 0);
            ASSERT_EQ(driver_.Call(etl::test::kWriteValue, &wbit), 0);
        }
    };
    run(3);  // whatever happens once (first use of a facility) happens here

    g_allocations = 0;
    t_counting = true;
    run(200);
    t_counting = false;
    const long ordinary = g_allocations.load();
    etl::sim::Faults dropping;
    dropping.dropAnswers = 1;
    sim_.SetFaults(1, dropping);
    t_counting = true;
    const std::int32_t late = driver_.Call(etl::test::kReadValue, &silent);
    t_counting = false;
    EXPECT_EQ(late, 0) << "the second attempt is answered";
    EXPECT_EQ(ordinary, 0) << "allocations during 1600 reads and writes";
    EXPECT_EQ(g_allocations.load() - ordinary, 0) << "allocations during a retried read";
#if !defined(ETL_COUNTS_MALLOC)
    RecordProperty("counted", "operator new only (malloc is not counted in this build)");
#endif

    // The same on a station that scans: reads served from its values, or
    // refreshing them, allocate nothing either (its table is made at the
    // start).
    sim_.SetFaults(1, {});
    driver_.End();
    dir_.Write(etl::test::StationFileName(kDriver),
               "PC-stn: 10\n01 \"127.0.0.1\" \"" + std::to_string(sim_.Port(1)) + "\" scan=2\n");
    ASSERT_EQ(driver_.Start(), 0);
    ASSERT_NE(driver_.Context()->scan, nullptr);
    run(3);
    g_allocations = 0;
    t_counting = true;
    run(200);
    t_counting = false;
    EXPECT_EQ(g_allocations.load(), 0) << "allocations during 1600 reads and writes of a scanning station";

    // The counter does count: one allocation on this thread is seen.
    t_counting = true;
    std::string* probe = new std::string(64, 'x');
    t_counting = false;
    delete probe;
    EXPECT_GE(g_allocations.load(), 1);
}

}  // namespace
