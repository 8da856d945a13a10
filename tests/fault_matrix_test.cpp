// Every fault the simulator can inject against every operation of a started
// instance: the result code, how long the call blocked (within its bound),
// that no wrong value ever comes back with result 0, and that the next
// request after the fault clears succeeds (after a WarmStart where the
// connection was lost).
//
// The driver runs on the in-memory sockets and their fake clock against a
// FakeStation, which plays etlan-sim's station with the same faults: a
// cell takes no real time, and the time a call blocked is read off the
// fake clock. Each cell has its own station and driver instance, one cell
// after the other (the fake network and clock are one for the process).
// tests/real_sockets_test.cpp runs a time-out, an answer in parts and a
// reconnect against the real simulator on real sockets. With
// ETL_FAULT_MATRIX_OUT set, the table is written there as Markdown
// (docs/fault-matrix.md is that output; scripts/fault-matrix.sh
// regenerates it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/driver_instance.h"
#include "tests/support/fake_station.h"
#include "tests/support/memory_platform/memory_platform.h"
#include "tests/support/test_support.h"

namespace {

using etl::sim::Faults;
using etl::test::DriverInstance;
using Station = etl::test::FakeStation;

constexpr int kOwnStation = 10;
constexpr int kStation = 1;
constexpr int kPort = 9094;

// An exchange makes at most three attempts, each waiting at most 1 s for
// the socket to take the request and 1 s for the answer: 6 s in all, its
// connection included, plus the fake clock's millisecond per tick read. A
// WarmStart waits at most 1 s for the connection.
constexpr double kExchangeBoundMs = 6050;
constexpr double kConnectBoundMs = 1050;
// A station that stops answering rests this long (the default).
constexpr std::uint32_t kRestMs = 5000;

enum Op { kRead, kBlock, kWrite, kWarm, kOps };
const char* const kOpNames[kOps] = {"ReadValue", "ReadBlock", "WriteValue", "WarmStart"};

// The words each operation touches: D100; D200-D207; D300 with D299 and
// D301 as neighbours that must never change.
constexpr int kReadAddress = 100;
constexpr int kBlockAddress = 200;
constexpr int kBlockWords = 8;
constexpr int kWriteAddress = 300;
const char* const kReadText = "01D00100";
const char* const kBlockText = "01D00200";
const char* const kWriteText = "01D00300";
constexpr std::uint8_t kGuard = 0xEE;  // fills the value buffer beyond the values

struct Row {
    const char* fault;
    const char* how;
    std::function<void(Station&)> inject;
    int settleMs;          // from the call's start: no late answer can arrive after this
    int expect[kOps];      // the result code each operation must return
};

Faults With(const std::function<void(Faults&)>& set) {
    Faults f;
    set(f);
    return f;
}

std::function<void(Station&)> Set(const Faults& f) {
    return [f](Station& station) { station.SetFaults(f); };
}

using PartFault = Faults::PartFault;

// Answers in parts of at most 12 characters, with a fault in one part; the
// station keeps sending parts after the fault clears.
std::function<void(Station&)> Split(PartFault fault, int at) {
    return [fault, at](Station& station) {
        station.SetSplit(12);
        Faults f;
        f.partFault = fault;
        f.partFaultAt = at;
        station.SetFaults(f);
    };
}

std::vector<Row> Rows() {
    // Each answer has 25 bytes for a word read (45 for the block).
    return {
        {"none (control)", "-", [](Station&) {}, 0, {0, 0, 0, 0}},
        {"no listener", "`refuseConnections`: listener closed, open connection dropped",
         Set(With([](Faults& f) { f.refuseConnections = true; })), 0, {2, 2, 2, 2}},
        {"listener never accepts", "`neverAccept`: accept queue full; the open connection stays",
         Set(With([](Faults& f) { f.neverAccept = true; })), 0, {0, 0, 0, 2}},
        {"answer delayed below the time-out", "`delayMs` 600",
         Set(With([](Faults& f) { f.delayMs = 600; })), 0, {0, 0, 0, 0}},
        // Every attempt sends the same frame: a late answer to an earlier
        // attempt is the answer to this request.
        {"answer 1.2 s late", "`delayMs` 1200",
         Set(With([](Faults& f) { f.delayMs = 1200; })), 3 * 1200, {0, 0, 0, 0}},
        {"answer 2.5 s late", "`delayMs` 2500",
         Set(With([](Faults& f) { f.delayMs = 2500; })), 3 * 2500, {0, 0, 0, 0}},
        {"every answer twice, 1.2 s late", "`delayMs` 1200, `duplicateAfterMs` 50",
         Set(With([](Faults& f) {
             f.delayMs = 1200;
             f.duplicateAfterMs = 50;
         })),
         3 * 1300, {0, 0, 0, 0}},
        {"answer delayed past every attempt", "`delayMs` 4500",
         Set(With([](Faults& f) { f.delayMs = 4500; })), 3 * 4500, {2, 2, 2, 0}},
        {"answer in pieces", "`pieceBytes` 3, `piecePauseMs` 20",
         Set(With([](Faults& f) {
             f.pieceBytes = 3;
             f.piecePauseMs = 20;
         })),
         0, {0, 0, 0, 0}},
        // The rest comes after every attempt has given up (an answer of 53
        // bytes comes in three pieces, two pauses).
        {"answer in pieces, the rest too late", "`pieceBytes` 20, `piecePauseMs` 3500",
         Set(With([](Faults& f) {
             f.pieceBytes = 20;
             f.piecePauseMs = 3500;
         })),
         3 * 2 * 3500, {2, 2, 2, 0}},
        {"one answer dropped", "`dropAnswers` 1",
         Set(With([](Faults& f) { f.dropAnswers = 1; })), 0, {0, 0, 0, 0}},
        {"every answer dropped", "`dropAnswers` -1",
         Set(With([](Faults& f) { f.dropAnswers = -1; })), 0, {2, 2, 2, 0}},
        {"negative answer twice", "`negativeAnswers` 2 (error 42)",
         Set(With([](Faults& f) { f.negativeAnswers = 2; })), 0, {0, 0, 0, 0}},
        {"negative answer three times", "`negativeAnswers` 3 (error 61)",
         Set(With([](Faults& f) {
             f.negativeAnswers = 3;
             f.negativeCode = 61;
         })),
         0, {1, 1, 1, 0}},
        {"connection closed after the request", "`closeAfterRequest`",
         Set(With([](Faults& f) { f.closeAfterRequest = true; })), 0, {2, 2, 2, 0}},
        {"answers end in CR LF", "`crlf`", Set(With([](Faults& f) { f.crlf = true; })), 0,
         {0, 0, 0, 0}},
        {"garbage", "`garbage`: bytes that are no ET-LAN frame",
         Set(With([](Faults& f) { f.garbage = true; })), 0, {1, 1, 1, 0}},
        {"oversized answer", "`oversizedAnswer`: a positive answer of 3000 bytes",
         Set(With([](Faults& f) { f.oversizedAnswer = true; })), 0, {1, 1, 1, 0}},
        {"stray bytes", "`strayBytes` \"xyz\" before each answer",
         Set(With([](Faults& f) { f.strayBytes = "xyz"; })), 0, {1, 1, 1, 0}},
        {"wrong station echo", "`wrongStation` 2",
         Set(With([](Faults& f) { f.wrongStation = 2; })), 0, {1, 1, 1, 0}},
        {"PLC restarted", "`RestartStation`: connections dropped, memory kept",
         [](Station& station) { station.RestartStation(); }, 0, {2, 2, 2, 0}},
        {"new connection refused", "`dropAnswers` -1 and `refuseNewConnections`: the unit "
         "keeps the old connection's slot and refuses a new one",
         Set(With([](Faults& f) {
             f.dropAnswers = -1;
             f.refuseNewConnections = true;
         })),
         0, {2, 2, 2, 2}},
        // Answers in parts of at most 12 characters: a word read comes in
        // two parts, the block in seven; a write's answer stays whole.
        {"answer in parts", "`SetSplit` 12", Split(PartFault::kNone, 2), 0, {0, 0, 0, 0}},
        {"wrong BCC in a part", "`SetSplit` 12, `kBadBcc` in part 2",
         Split(PartFault::kBadBcc, 2), 0, {1, 1, 0, 0}},
        {"too many parts", "`SetSplit` 12, `kExtraPart`", Split(PartFault::kExtraPart, 2), 0,
         {1, 1, 0, 0}},
        {"too few parts", "`SetSplit` 12, `kMissingPart` at part 1: it ends the answer",
         Split(PartFault::kMissingPart, 1), 0, {1, 1, 0, 0}},
        {"truncated part", "`SetSplit` 12, `kTruncatedPart` in part 2: four characters short",
         Split(PartFault::kTruncatedPart, 2), 0, {1, 1, 0, 0}},
        {"part never comes", "`SetSplit` 12, `kPartNeverComes` for part 2",
         Split(PartFault::kPartNeverComes, 2), 0, {2, 2, 0, 0}},
    };
}

struct Cell {
    int row = 0;
    Op op = kRead;
    int result = -1;
    double ms = 0;
    bool warmStartNeeded = false;
    bool rested = false;
    bool recovered = false;
    std::vector<std::string> failures;
};

// printf into a string: messages are not joined from temporaries (GCC 12
// misreads such joins as overlapping copies in optimised builds).
__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::uint16_t Get16(const std::uint8_t* b, int offset) {
    std::uint16_t v;
    std::memcpy(&v, b + offset, 2);
    return v;
}

// Milliseconds of the fake clock since `from`.
double FakeMsSince(std::uint32_t from) { return static_cast<double>(etl::memplat::Now() - from); }

using etl::memplat::ResetNetwork;

// One cell: its own station and instance, a good request first, then the
// fault, the timed call, the checks, and the request after the fault.
class CellRun {
public:
    CellRun(const etl::test::TempDir& dir, const Row& row, Cell* cell)
        : row_(row), cell_(cell), sim_(kStation, kPort), driver_(cell->row * kOps + cell->op) {
        const int driverNumber = cell->row * kOps + cell->op;
        dir.Write(etl::test::StationFileName(driverNumber),
                  etl::test::StationFile(kOwnStation, {{kStation, kPort}}));
        ok_ = driver_.Start("MATRIX") == 0;
        if (!ok_) Fail("ColdStart failed");
    }

    void Run() {
        if (!ok_) return;
        // Values no other cell uses, so a value from elsewhere would show.
        const std::uint16_t base = static_cast<std::uint16_t>(0x1000 * (cell_->op + 1) + cell_->row * 16);
        sim_.SetWord('D', kReadAddress, base);
        for (int i = 0; i < kBlockWords; ++i) {
            sim_.SetWord('D', kBlockAddress + i, static_cast<std::uint16_t>(base + 0x100 + i));
        }
        sim_.SetWord('D', kWriteAddress - 1, 0xA5A5);
        sim_.SetWord('D', kWriteAddress, 0);
        sim_.SetWord('D', kWriteAddress + 1, 0x5A5A);
        nextWrite_ = static_cast<std::uint16_t>(base + 0x200);

        const Op before = cell_->op == kWarm ? kRead : cell_->op;
        if (Do(before, "the request before the fault") != 0) {
            Fail("the request before the fault failed");
            return;
        }

        row_.inject(sim_);
        const std::uint32_t t0 = etl::memplat::Now();
        cell_->result = Do(cell_->op, "the faulted request");
        cell_->ms = FakeMsSince(t0);
        const double bound = cell_->op == kWarm ? kConnectBoundMs : kExchangeBoundMs;
        if (cell_->ms > bound) Fail(Format("blocked %.0f ms (bound %.0f ms)", cell_->ms, bound));
        if (cell_->result != row_.expect[cell_->op]) {
            Fail(Format("result %d, expected %d", cell_->result, row_.expect[cell_->op]));
        }

        // The fault clears; late answers of the faulted request are let in
        // before the next request, which must then succeed by itself: at
        // once, or, when the station rests, at once after its rest (its
        // requests in between fail at once with nothing on the wire).
        sim_.SetFaults(Faults{});
        const std::uint32_t settled = t0 + static_cast<std::uint32_t>(row_.settleMs + 200);
        etl::memplat::SetNow(std::max(settled, etl::memplat::Now() + 200));
        const Op after = cell_->op == kWarm ? kRead : cell_->op;
        const int requests = sim_.Requests();
        std::uint32_t t1 = etl::memplat::Now();
        int rc = Do(after, "the request after the fault");
        if (rc != 0) {
            cell_->rested = true;
            if (rc != 2 || FakeMsSince(t1) > 10 || sim_.Requests() != requests) {
                Fail("a resting station's request went out or did not fail at once");
            }
            etl::memplat::SetNow(etl::memplat::Now() + kRestMs);
            t1 = etl::memplat::Now();
            rc = Do(after, "the probe after the rest");
            if (FakeMsSince(t1) > kConnectBoundMs) Fail("the probe took longer than one time-out");
        }
        if (rc != 0) {
            cell_->warmStartNeeded = true;
            const int warm = driver_.WarmStart(kStation);
            if (warm != 0) Fail(Format("WarmStart after the fault returned %d", warm));
            rc = Do(after, "the request after the fault");
        }
        cell_->recovered = rc == 0;
        if (rc != 0) Fail(Format("the request after the fault returned %d", rc));
    }

private:
    // One operation with every check of its outcome; its result code.
    int Do(Op op, const char* what) {
        std::uint8_t buffer[64];
        std::memset(buffer, kGuard, sizeof buffer);
        etl::TagIoBlock tag{};
        int rc = 0;
        switch (op) {
        case kRead: {
            driver_.Check(kReadText, 0, 1, buffer, &tag);
            rc = driver_.Call(etl::test::kReadValue, &tag);
            if (rc == 0) {
                Expect(Get16(buffer, 0) == 0 && Get16(buffer, 2) == sim_.Word('D', kReadAddress),
                       what, "reported a wrong value with result 0");
            } else {
                Expect(Get16(buffer, 0) == 0 && Get16(buffer, 2) == 0, what,
                       "failed without clearing the value");
            }
            ExpectGuard(buffer, 4, what);
            break;
        }
        case kBlock: {
            driver_.Check(kBlockText, 0, kBlockWords, buffer, &tag);
            rc = driver_.Call(etl::test::kReadBlock, &tag);
            if (rc == 0) {
                for (int i = 0; i < kBlockWords; ++i) {
                    Expect(Get16(buffer, 2 * i) == sim_.Word('D', kBlockAddress + i), what,
                           "reported a wrong value with result 0");
                }
            } else {
                Expect(Get16(buffer, 0) == 0 && Get16(buffer, 2) == 0, what,
                       "failed without clearing the first value");
            }
            ExpectGuard(buffer, 2 * kBlockWords, what);
            break;
        }
        case kWrite: {
            const std::uint16_t old = sim_.Word('D', kWriteAddress);
            const std::uint16_t value = nextWrite_++;
            driver_.Check(kWriteText, 0, 1, buffer, &tag);
            std::memset(buffer, 0, 4);
            std::memcpy(buffer + 2, &value, 2);
            rc = driver_.Call(etl::test::kWriteValue, &tag);
            const std::uint16_t now = sim_.Word('D', kWriteAddress);
            if (rc == 0) {
                Expect(now == value, what, "reported success but the value is not in the PLC");
            } else {
                Expect(now == value || now == old, what, "left a value nobody wrote");
            }
            Expect(sim_.Word('D', kWriteAddress - 1) == 0xA5A5 &&
                       sim_.Word('D', kWriteAddress + 1) == 0x5A5A,
                   what, "changed a neighbouring word");
            break;
        }
        case kWarm:
        case kOps:
            rc = driver_.WarmStart(kStation);
            break;
        }
        return rc;
    }

    void ExpectGuard(const std::uint8_t* buffer, int from, const char* what) {
        for (int i = from; i < 64; ++i) {
            if (buffer[i] != kGuard) {
                Fail(Format("%s wrote past its values (byte %d)", what, i));
                return;
            }
        }
    }

    void Expect(bool ok, const char* what, const char* problem) {
        if (!ok) Fail(std::string(what) + " " + problem);
    }

    void Fail(const std::string& text) { cell_->failures.push_back(text); }

    const Row& row_;
    Cell* cell_;
    ResetNetwork network_;
    Station sim_;
    DriverInstance driver_;
    bool ok_ = false;
    std::uint16_t nextWrite_ = 0;
};

std::string Seconds(double ms) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f s", ms / 1000.0);
    return b;
}

std::string Markdown(const std::vector<Row>& rows, const std::vector<Cell>& cells, double wallMs) {
    std::ostringstream md;
    md << "# Fault matrix\n\n"
          "Generated by `fault_matrix_test` (`scripts/fault-matrix.sh`); do not edit by hand.\n\n"
          "Each fault the simulator (`etlan-sim`) can inject, against each operation of a "
          "started instance whose station 1 is a simulated PLC. The driver runs on the "
          "in-memory sockets of the tests with their fake clock, against a station that "
          "plays `etlan-sim` with the same faults (`tests/support/fake_station.h`): times are "
          "those of the fake clock, which a wait advances by exactly the time it waited, so "
          "they are the same on every machine. A cell gives the result code the operation "
          "returned, the time the call blocked, and how the next request after the fault was "
          "cleared went: \"next ok\", or \"rests, then ok\" where the station rested (the "
          "request right after the fault failed at once with nothing sent, and the first one "
          "after the 5 s rest succeeded, making a new connection where needed). No cell needs "
          "the host's `WarmStart`. For `WarmStart` the next request is a `ReadValue`. A time-out, "
          "a late answer, an answer in parts and a reconnect run on real sockets against the "
          "real simulator in `real_sockets_test`.\n\n"
          "Result codes: 0 success; 1 negative or unusable answer; 2 no answer in time, no "
          "connection, or a failed connect.\n\n"
          "Checked in every cell (the test fails otherwise):\n\n"
          "- the result code is the one shown;\n"
          "- `ReadValue`, `ReadBlock` and `WriteValue` return within 6 s, a connection made "
          "first included: at most three attempts, each waiting at most 1 s to send and 1 s "
          "for the answer; `WarmStart` returns within 1 s (its connect time-out); a probe of a "
          "resting station within 1 s;\n"
          "- a read with result 0 holds exactly the simulator's words; a failed read leaves "
          "its first value zero; no read writes past the values it asked for;\n"
          "- a write with result 0 is in the simulator's memory; a failed write leaves the old "
          "or the new value; neighbouring words never change;\n"
          "- the next request after the fault clears succeeds by itself: at once, or after the "
          "station's rest.\n\n"
          "Every attempt of an exchange sends the same frame on the same connection, so an "
          "answer that arrives during a later attempt is the answer to this request and is "
          "taken (rows \"answer 1.2 s late\" and \"2.5 s late\"). The protocol carries no "
          "sequence number, so after an exchange that saw a time-out the connection is closed "
          "and the next request makes a new one: no late answer, nor a second copy of one, is "
          "ever read as the answer to a later request. A station that did not answer, or "
          "could not be reached, rests: its requests fail at once until its rest has passed, "
          "then one request (a probe: one attempt) tries it again.\n\n"
          "Answers in parts: a station of the simulator set to split answers longer than 12 "
          "characters sends a word read's answer in two parts and the block's in seven; the "
          "driver asks for each next part with `%01**&` and joins the data. The answer is "
          "positive only when every part's BCC is right and the parts join to exactly the "
          "words asked for. A write's answer stays whole, so the part faults leave it alone.\n\n";
    md << "| Fault | Injected as | ReadValue | ReadBlock | WriteValue | WarmStart |\n"
          "|---|---|---|---|---|---|\n";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        md << "| " << rows[r].fault << " | " << rows[r].how << " |";
        for (int op = 0; op < kOps; ++op) {
            const Cell& c = cells[r * kOps + static_cast<std::size_t>(op)];
            md << " **" << c.result << "** " << Seconds(c.ms) << "; ";
            if (!c.failures.empty()) {
                md << "FAILED";
            } else {
                md << (c.warmStartNeeded ? "WarmStart, next ok" : c.rested ? "rests, then ok" : "next ok");
            }
            md << " |";
        }
        md << "\n";
    }
#if defined(_WIN32)
    const char* const platform = "the Windows build";
#else
    const char* const platform = "the native Linux build";
#endif
    char tail[200];
    std::snprintf(tail, sizeof tail,
                  "\nRun on %s: %zu cells one after the other in %.1f s of real time (each cell "
                  "on its own station and driver instance).\n",
                  platform, cells.size(), wallMs / 1000.0);
    md << tail;
    return md.str();
}

TEST(FaultMatrix, EveryFaultAgainstEveryOperation) {
    etl::test::TempDir dir;
    etl::test::LogCapture log;
    const std::vector<Row> rows = Rows();
    std::vector<Cell> cells;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int op = 0; op < kOps; ++op) {
            Cell c;
            c.row = static_cast<int>(r);
            c.op = static_cast<Op>(op);
            cells.push_back(c);
        }
    }
    ASSERT_LE(cells.size(), 1000u);  // one station file name per cell

    const double wallMs = etl::test::TimedMs([&] {
        for (Cell& c : cells) {
            CellRun run(dir, rows[static_cast<std::size_t>(c.row)], &c);
            run.Run();
        }
    });

    for (const Cell& c : cells) {
        for (const std::string& f : c.failures) {
            ADD_FAILURE() << rows[static_cast<std::size_t>(c.row)].fault << " / "
                          << kOpNames[c.op] << ": " << f;
        }
    }

    const std::string table = Markdown(rows, cells, wallMs);
    std::printf("%s", table.c_str());
    if (const char* out = std::getenv("ETL_FAULT_MATRIX_OUT"); out != nullptr && out[0] != '\0') {
        std::ofstream file(out, std::ios::binary);
        file << table;
        EXPECT_TRUE(file.good()) << "cannot write " << out;
    }
}

// A block of one 16-bit element owns two bytes of the host's buffer: neither
// a failed nor a successful read may touch the bytes after them.
TEST(FaultMatrixBuffers, ABlockTouchesOnlyItsOwnElements) {
    etl::test::TempDir dir;
    etl::test::LogCapture log;
    ResetNetwork network;
    Station sim(kStation, kPort);
    dir.Write(etl::test::StationFileName(99), etl::test::StationFile(kOwnStation, {{kStation, kPort}}));
    DriverInstance driver(99);
    ASSERT_EQ(driver.Start(), 0);
    sim.SetWord('D', kBlockAddress, 0x1234);

    std::uint8_t buffer[8];
    for (const bool fail : {true, false}) {
        std::memset(buffer, kGuard, sizeof buffer);
        etl::TagIoBlock tag{};
        ASSERT_EQ(driver.Check(kBlockText, 0, 1, buffer, &tag), 0);
        Faults f;
        f.negativeAnswers = fail ? 3 : 0;
        sim.SetFaults(f);
        EXPECT_EQ(driver.Call(etl::test::kReadBlock, &tag), fail ? 1 : 0);
        EXPECT_EQ(Get16(buffer, 0), fail ? 0 : 0x1234);
        for (std::size_t i = 2; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], kGuard) << i;
    }
}

// An answer that comes after its time-out must never pass for the answer of
// a later request: neither a value of another address for a read, nor a
// positive answer for a write that the PLC refuses.
TEST(FaultMatrixLateAnswers, NeverAnswerALaterRequest) {
    etl::test::TempDir dir;
    etl::test::LogCapture log;
    ResetNetwork network;
    Station sim(kStation, kPort);
    dir.Write(etl::test::StationFileName(98), etl::test::StationFile(kOwnStation, {{kStation, kPort}}));
    DriverInstance driver(98);
    ASSERT_EQ(driver.Start(), 0);
    sim.SetWord('D', 100, 0x1111);
    sim.SetWord('D', 200, 0x2222);

    Faults late;
    late.delayMs = 1500;
    std::uint8_t buffer[8] = {};
    etl::TagIoBlock first{};
    etl::TagIoBlock second{};
    ASSERT_EQ(driver.Check("01D00100", 0, 1, buffer, &first), 0);
    ASSERT_EQ(driver.Check("01D00200", 0, 1, buffer, &second), 0);
    // Late, and late twice: the answer to the second attempt's frame, and
    // the copies, are still on their way when the next read goes out.
    Faults twice = late;
    twice.duplicateAfterMs = 100;
    for (const Faults& f : {late, twice}) {
        sim.SetFaults(f);
        const int rc = driver.Call(etl::test::kReadValue, &first);
        EXPECT_TRUE(rc == 0 && Get16(buffer, 2) == 0x1111) << rc;
        sim.SetFaults(Faults{});
        const int next = driver.Call(etl::test::kReadValue, &second);
        EXPECT_TRUE(next == 0 && Get16(buffer, 2) == 0x2222)
            << "result " << next << ", value " << std::hex << Get16(buffer, 2);
    }

    // D40000 is beyond the simulated PLC's memory: it refuses that write.
    etl::TagIoBlock refused{};
    ASSERT_EQ(driver.Check("01D00300", 0, 1, buffer, &first), 0);
    ASSERT_EQ(driver.Check("01D40000", 0, 1, buffer, &refused), 0);
    sim.SetFaults(late);
    driver.Call(etl::test::kWriteValue, &first);
    sim.SetFaults(Faults{});
    EXPECT_NE(driver.Call(etl::test::kWriteValue, &refused), 0)
        << "a refused write reported as done";
}

}  // namespace
