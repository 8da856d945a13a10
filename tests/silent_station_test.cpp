// A PLC that goes silent among others, on the in-memory sockets and their
// fake clock: its rest and probes, the bounds of every wait, the host log
// it leaves, and the answers that must not be misread (a connection to
// itself, bytes behind an answer).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
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
constexpr int kPort = 9094;
constexpr int kOtherPort = 9095;

using etl::memplat::ResetNetwork;

std::uint32_t Now() { return etl::memplat::Now(); }
void Advance(std::uint32_t ms) { etl::memplat::SetNow(Now() + ms); }

Faults Silent() {
    Faults f;
    f.dropAnswers = -1;
    return f;
}

// A started instance whose station 1 is a simulated PLC (and station 2 a
// second one when asked for), with tags ready for reading.
class SilentStation : public ::testing::Test {
protected:
    void Start(std::vector<std::pair<int, int>> stations = {{1, kPort}}) {
        dir_.Write(etl::test::StationFileName(7), etl::test::StationFile(kOwnStation, stations));
        ASSERT_EQ(driver_.Start(), 0);
        ASSERT_EQ(driver_.Check("01D00100", 0, 1, values_, &tag_), 0);
        log_.Clear();
    }

    // One read of D100: its result, and the fake time it took.
    int Read(double* ms = nullptr) {
        const std::uint32_t t0 = Now();
        const int rc = driver_.Call(etl::test::kReadValue, &tag_);
        if (ms != nullptr) *ms = static_cast<double>(Now() - t0);
        return rc;
    }

    etl::DriverContext* Context() { return const_cast<etl::DriverContext*>(driver_.Context()); }

    // The station's options as its station line would give them.
    void SetRest(int station, unsigned seconds) {
        etl::StationOptions& o = Context()->options[station];
        o.flags |= etl::kOptionRestSet;
        etl::StoreU16(o.restSeconds, seconds);
    }

    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
    ResetNetwork network_;
    Station plc_{1, kPort};
    DriverInstance driver_{7};
    std::uint8_t values_[8] = {};
    etl::TagIoBlock tag_{};
};

// A station that stops answering costs one exchange, then rests: its
// requests fail at once with nothing sent, each probe is one attempt
// within one time-out, the rest doubles up to a minute, WarmStart ends it,
// and the first answer ends it with one line. A negative answer never
// rests a station.
TEST_F(SilentStation, RestsProbesAndComesBack) {
    Start();
    plc_.SetWord('D', 100, 77);
    plc_.SetFaults(Silent());
    double ms = 0;
    EXPECT_EQ(Read(&ms), 2);
    EXPECT_NEAR(ms, 3000, 50);
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "ZavUR: station 1 fails: no answer within 1000 ms to "
                                "%01#RDD0010000100**; resting 5 s"}));

    // Resting: at once, nothing on the wire, nothing in the log; then the
    // probes, one attempt each, the rest doubling up to 60 s.
    const int requests = plc_.Requests();
    std::vector<unsigned> rests;
    std::uint32_t restStart = Now();
    while (rests.size() < 6 && Now() - restStart < 120000) {
        const int sent = plc_.Requests();
        const std::uint32_t t = Now();
        EXPECT_EQ(Read(&ms), 2);
        if (plc_.Requests() == sent) {
            EXPECT_LE(ms, 5);
        } else {
            EXPECT_EQ(plc_.Requests(), sent + 1);
            EXPECT_LE(ms, 1010);
            rests.push_back((t - restStart + 500) / 1000);
            restStart = Now();
        }
        Advance(100);
    }
    EXPECT_EQ(rests, (std::vector<unsigned>{5, 10, 20, 40, 60, 60}));
    EXPECT_EQ(plc_.Requests(), requests + 6);
    EXPECT_EQ(log_.Lines().size(), 1u);

    // The host's WarmStart ends the rest: the next request is a probe.
    EXPECT_EQ(driver_.WarmStart(1), 0);
    EXPECT_EQ(Read(&ms), 2);
    EXPECT_NEAR(ms, 1000, 10);
    EXPECT_EQ(plc_.Requests(), requests + 7);

    // It answers again: the probe after the rest ends it, with one line.
    plc_.SetFaults({});
    Advance(120000);
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(values_[2], 77);
    const std::vector<std::string> lines = log_.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "ZavUR: WarmStart() Pass station 1 ConnectSocket() rc = 0");
    EXPECT_EQ(lines[2].rfind("ZavUR: station 1 answers again after 8 failed exchanges, ", 0), 0u)
        << lines[2];
    EXPECT_EQ(Read(), 0);

    // A PLC that refuses the command answers: no rest.
    Faults negative;
    negative.negativeAnswers = -1;
    plc_.SetFaults(negative);
    EXPECT_EQ(Read(), 1);
    const int before = plc_.Requests();
    EXPECT_EQ(Read(), 1);
    EXPECT_EQ(plc_.Requests(), before + 3);
}

// Every wait in its bound: an exchange whose connection is made first
// (990 ms) and then never answered ends within 6 s in all; a probe within
// one time-out, its connection included. With rest=0 a station never rests.
TEST_F(SilentStation, EveryWaitInItsBound) {
    Start();
    SetRest(1, 0);
    plc_.SetFaults(Silent());
    EXPECT_EQ(Read(), 2);  // leaves no connection behind
    etl::memplat::SetConnectDelay(990);
    double ms = 0;
    EXPECT_EQ(Read(&ms), 2);  // not resting: the whole exchange again
    EXPECT_GE(ms, 3900);
    EXPECT_LE(ms, 6020);

    SetRest(1, 5);
    EXPECT_EQ(Read(&ms), 2);  // starts the rest
    Advance(6000);
    EXPECT_EQ(Read(&ms), 2);  // the probe
    EXPECT_LE(ms, 1010);
    EXPECT_GE(ms, 990);
}

// The log says what happened: a connection the PLC closed is no time-out;
// a station flapping between failing and answering ten thousand times, and
// a tag whose answers are always malformed among good ones, leave a handful
// of lines that still count what they did not log; success logs nothing.
TEST_F(SilentStation, TheLogSaysWhatHappenedWithoutFlooding) {
    Start();
    EXPECT_EQ(Read(), 0);
    plc_.RestartStation();
    EXPECT_EQ(Read(), 2);
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "ZavUR: station 1 fails: connection reset by the PLC at "
                                "%01#RDD0010000100**; resting 5 s, then a request connects again"}));
    Advance(5000);
    EXPECT_EQ(Read(), 0);  // the probe connects again by itself

    SetRest(1, 0);
    Advance(600000);
    log_.Clear();
    const std::uint32_t t0 = Now();
    Faults closing;
    closing.closeAfterRequest = true;
    for (int i = 0; i < 10000; ++i) {
        plc_.SetFaults(closing);
        EXPECT_EQ(Read(), 2);
        plc_.SetFaults({});
        EXPECT_EQ(Read(), 0);
        Advance(10);
    }
    const unsigned minutes = (Now() - t0) / 60000;
    std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ZavUR: station 1 fails: connection closed by the PLC at %01#RDD0010000100**; "
                        "the next request connects again");
    EXPECT_LE(lines.size(), 5u + minutes + 1) << minutes << " minutes";
    EXPECT_NE(lines.back().find("earlier line(s)"), std::string::npos) << lines.back();
    log_.Clear();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Read(), 0);
    Advance(60000);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Read(), 0);
    EXPECT_LE(log_.Lines().size(), 1u);  // at most the count of what was held back

    // D200's answers are always garbled (another station's number), D100's
    // good: one line in all.
    etl::TagIoBlock bad{};
    std::uint8_t other[8] = {};
    ASSERT_EQ(driver_.Check("01D00200", 0, 1, other, &bad), 0);
    Faults garbled;
    garbled.wrongStation = 2;
    Advance(600000);
    log_.Clear();
    for (int round = 0; round < 50; ++round) {
        plc_.SetFaults(garbled);
        EXPECT_EQ(driver_.Call(etl::test::kReadValue, &bad), 1);
        plc_.SetFaults({});
        EXPECT_EQ(Read(), 0);
    }
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "ZavUR: station 1 fails: another station's number in the answer "
                                "to %01#RDD0020000200**"}));
}

// A connection that reaches its own socket (nothing listens on the port,
// and the system gave the connecting socket that very port) reads its own
// request as the answer: it counts as refused, and no socket stays open.
TEST_F(SilentStation, AConnectionToItselfIsRefused) {
    const auto arm = [] { etl::memplat::ArmSelfConnect(etl::memplat::Loopback(), etl::memplat::Port(kOtherPort)); };
    arm();
    dir_.Write(etl::test::StationFileName(7), etl::test::StationFile(kOwnStation, {{2, kOtherPort}}));
    ASSERT_EQ(driver_.Start(), 0);
    EXPECT_EQ(etl::memplat::OpenSockets(), 0);
    etl::TagIoBlock tag{};
    std::uint8_t values[8] = {};
    ASSERT_EQ(driver_.Check("02D00100", 0, 1, values, &tag), 0);
    arm();
    EXPECT_EQ(driver_.Call(etl::test::kReadValue, &tag), 2);
    EXPECT_EQ(etl::memplat::OpenSockets(), 0);
    EXPECT_TRUE(log_.Has("ZavUR: InitConnections(): ConnectSocket() Fail on station 2 rc = 257 "
                         "(connected to itself: nothing listens on the port)"));
    EXPECT_TRUE(log_.Has("ZavUR: station 2 fails: reconnect failed rc = 257 (connected to itself: "
                         "nothing listens on the port); resting 5 s"));
}

// Bytes behind a complete answer: a lone LF is passed over; a second copy
// of the answer leaves the answer taken, is logged once, and the next
// request goes on a new connection, so the copy never answers it.
class TailPeer : public etl::memplat::Peer {
public:
    TailPeer() { etl::memplat::Serve(etl::memplat::Loopback(), etl::memplat::Port(kOtherPort), this); }
    ~TailPeer() override { etl::memplat::Serve(etl::memplat::Loopback(), etl::memplat::Port(kOtherPort), nullptr); }
    std::string tail;   // behind each answer; "copy": the whole frame again
    etl::sim::Memory memory;

    void OnData(etl::memplat::Link& link, std::string_view data) override {
        const std::string text = etl::sim::Execute(memory, 2, data.substr(12));
        std::string frame = {0x10, 0, static_cast<char>(text.size()), 0, 0, 0, 0, 0, 0, 0,
                             data[11], data[10]};
        frame += text;
        link.Deliver(frame + (tail == "copy" ? frame : tail));
    }
};

TEST_F(SilentStation, BytesBehindACompleteAnswer) {
    TailPeer plc;
    plc.memory.Set('D', 100, 0x1234);
    plc.memory.Set('D', 101, 0x5678);
    Start({{2, kOtherPort}});
    etl::TagIoBlock first{};
    etl::TagIoBlock second{};
    std::uint8_t values[8] = {};
    ASSERT_EQ(driver_.Check("02D00100", 0, 1, values, &first), 0);
    ASSERT_EQ(driver_.Check("02D00101", 0, 1, values, &second), 0);
    const int connects = etl::memplat::ConnectAttempts();

    plc.tail = "\n";
    for (int i = 0; i < 3; ++i) ASSERT_EQ(driver_.Call(etl::test::kReadValue, &first), 0);
    EXPECT_EQ(etl::memplat::ConnectAttempts(), connects);
    EXPECT_TRUE(log_.Lines().empty());

    plc.tail = "copy";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(driver_.Call(etl::test::kReadValue, &first), 0);
        EXPECT_EQ(values[2] | (values[3] << 8), 0x1234);
        ASSERT_EQ(driver_.Call(etl::test::kReadValue, &second), 0);
        EXPECT_EQ(values[2] | (values[3] << 8), 0x5678);
    }
    EXPECT_EQ(etl::memplat::ConnectAttempts(), connects + 5);
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].rfind("ZavUR: station 2 sent 25 byte(s) behind its answer to %02#RDD0010000100**", 0), 0u);
}

}  // namespace
