// Driver instances through VpiMain: ColdStart, WarmStart, UpdateConfig and
// EndVpi, their log lines, the process-wide instance count, and which
// connections each of them may close. The instance count belongs to the
// whole process, so every number here is read relative to the first
// instance a test starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/blocks.h"
#include "host/vpi.h"
#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/test_support.h"

namespace {

using etl::test::kNoPeer;
using etl::test::LoopbackPeer;
using etl::test::NetOrder16;
using etl::test::PeerKind;
using etl::test::PeerSocket;
using Lines = std::vector<std::string>;

// ---- peers on 127.0.0.1 -----------------------------------------------------

// How long a peer waits for a connection or for the end of one.
constexpr int kPeerWaitMs = 1500;

// True when the connection still carries bytes: the peer sends, the driver
// side (a station's socket) reads them.
bool StillConnected(PeerSocket peerSide, etl::SocketHandle driverSide) {
    etl::test::PeerSend(peerSide, "ping");
    if (etl::WaitForBytes(driverSide, 1000, 4) != 0) return false;
    char buf[8];
    int count = 4;
    return etl::ReceiveBuffer(driverSide, 0, buf, sizeof buf, &count, nullptr) == 0 &&
           count == 4 && std::memcmp(buf, "ping", 4) == 0;
}

// True when the peer sees the end of the stream (or a reset).
bool SeesEnd(PeerSocket peerSide) { return etl::test::PeerSeesEnd(peerSide, kPeerWaitMs); }

class Environment : public ::testing::Environment {
public:
    // The test's own peer sockets need the library on Windows; the driver's
    // instances take and give back their own starts on top of this one.
    void SetUp() override { ASSERT_EQ(etl::plat::SocketsStart(0x0101), 0); }
    void TearDown() override { etl::plat::SocketsCleanup(); }
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

std::string N2(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", n);
    return b;
}

// One driver instance: a context as the host allocates it (garbage until
// ColdStart, with guard bytes behind it) and the host's calls.
class Instance {
public:
    explicit Instance(int driver = 7, unsigned char fill = 0xCD)
        : driver_(driver), memory_(sizeof(etl::DriverContext) + kGuard, fill) {}

    etl::DriverContext* Ctx() { return reinterpret_cast<etl::DriverContext*>(memory_.data()); }
    std::vector<unsigned char>& Memory() { return memory_; }
    int Number() { return Ctx()->instanceNumber; }
    etl::SocketHandle Socket(int station) { return Ctx()->stations[station].socket; }

    std::int32_t Call(std::uint32_t code, void* params) {
        etl::VpiRequest r{};
        r.context = memory_.data();
        r.functionCode = code;
        r.driverNumber = driver_;
        r.params = params;
        return VpiMain(&r);
    }
    std::int32_t ColdStart(std::int32_t enable, etl::StartBlock* block = nullptr) {
        etl::StartBlock own{};
        std::strcpy(own.name, "INSTANCE");
        own.enable = enable;
        own.hostValue = 0x11223344u;
        own.replyWord1 = 0xBEEF;
        own.replyWord2 = 0xBEEF;
        if (block == nullptr) block = &own;
        block->enable = enable;
        return Call(1, block);
    }
    std::int32_t WarmStart(std::int32_t station) {
        etl::WarmStartBlock w{station};
        return Call(2, &w);
    }
    std::int32_t UpdateConfig(etl::StartBlock* block) { return Call(15, block); }
    std::int32_t EndVpi() { return Call(11, nullptr); }

    static constexpr std::size_t kGuard = 16;

private:
    int driver_;
    std::vector<unsigned char> memory_;
};

class Lifecycle : public ::testing::Test {
protected:
    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
};

// ---- counting and log lines --------------------------------------------------

TEST_F(Lifecycle, InstancesAreCountedAndLogTheirSteps) {
    LoopbackPeer plc;
    dir_.Write("zavUR300.int", "ETLAN-PC99\n01 \"127.0.0.1\" \"" + plc.PortText() + "\"\n");
    dir_.Write("zavUR07.int", "ETLAN-PC99\n");

    Instance a(300);
    etl::StartBlock block{};
    std::strcpy(block.name, "FIRST");
    block.hostValue = 0xCAFE;
    ASSERT_EQ(a.ColdStart(1, &block), 0);
    const int n = a.Number();
    etl::SockAddrIn local{};
    ASSERT_EQ(etl::GetLocalAddr(a.Socket(1), &local), 0);
    EXPECT_EQ(log_.Lines(),
              (Lines{"VpiMatsushita" + N2(n) + ": ColdStart() entered",
                     "VpiMatsushita" + N2(n) + ": Station num:  1   IPAddr: 127.0.0.1   Port: " +
                         plc.PortText(),
                     "VpiMatsushita" + N2(n) + ": zavUR300.int defines 1 stations",
                     "ZavUR: InitConnections(): client: addr 127.0.0.1   port " +
                         std::to_string(NetOrder16(local.port)),
                     "VPIMatsushita" + N2(n) + " : ColdStart() end OK"}));
    EXPECT_EQ(block.replyWord1, 1);
    EXPECT_EQ(block.replyWord2, 0);
    EXPECT_STREQ(a.Ctx()->name, "FIRST");
    EXPECT_EQ(a.Ctx()->hostValue, 0xCAFEu);
    EXPECT_EQ(a.Ctx()->enable, 1);
    EXPECT_EQ(a.Ctx()->driverNumberByte, 300 & 0xFF);
    ASSERT_NE(plc.Accept(kPeerWaitMs), kNoPeer);

    Instance b;
    ASSERT_EQ(b.ColdStart(1), 0);
    EXPECT_EQ(b.Number(), n + 1);

    log_.Clear();
    EXPECT_EQ(a.EndVpi(), 0);
    EXPECT_EQ(log_.Lines(), (Lines{"VPIMatsushita " + N2(n) + " : EndVpi()",
                                   "VPIMatsushita " + N2(n) + " : No. of Instances left: " +
                                       std::to_string(n)}));
    EXPECT_EQ(a.Number(), -1);

    // Numbers are counts, not identities: the third instance gets b's.
    Instance c;
    ASSERT_EQ(c.ColdStart(1), 0);
    EXPECT_EQ(c.Number(), n + 1);

    log_.Clear();
    EXPECT_EQ(b.EndVpi(), 0);
    EXPECT_EQ(c.EndVpi(), 0);
    EXPECT_EQ(log_.Lines(), (Lines{"VPIMatsushita " + N2(n + 1) + " : EndVpi()",
                                   "VPIMatsushita " + N2(n + 1) + " : No. of Instances left: " +
                                       std::to_string(n),
                                   "VPIMatsushita " + N2(n + 1) + " : EndVpi()",
                                   "VPIMatsushita " + N2(n + 1) + " : No. of Instances left: " +
                                       std::to_string(n - 1)}));
}

TEST_F(Lifecycle, EnableZeroIsCountedAndDoesNothingElse) {
    LoopbackPeer plc;
    dir_.Write("zavUR07.int", "ETLAN-PC99\n01 \"127.0.0.1\" \"" + plc.PortText() + "\"\n");
    Instance a;
    const std::vector<unsigned char> before = a.Memory();
    etl::StartBlock block{};
    std::strcpy(block.name, "IDLE");
    block.replyWord1 = 0xBEEF;
    block.replyWord2 = 0xBEEF;
    ASSERT_EQ(a.ColdStart(0, &block), 0);
    const int n = a.Number();
    EXPECT_EQ(log_.Lines(), (Lines{"VpiMatsushita" + N2(n) + ": ColdStart() entered"}));
    EXPECT_EQ(block.replyWord1, 0xBEEF);
    EXPECT_EQ(block.replyWord2, 0xBEEF);
    EXPECT_EQ(a.Ctx()->enable, 0);
    // Nothing but instanceNumber and enable was written.
    std::vector<unsigned char> after = a.Memory();
    std::memcpy(after.data() + offsetof(etl::DriverContext, instanceNumber),
                before.data() + offsetof(etl::DriverContext, instanceNumber), 4);
    std::memcpy(after.data() + offsetof(etl::DriverContext, enable),
                before.data() + offsetof(etl::DriverContext, enable), 4);
    EXPECT_EQ(after, before);
    EXPECT_EQ(plc.Accept(200), kNoPeer);

    log_.Clear();
    EXPECT_EQ(a.EndVpi(), 0);
    EXPECT_EQ(log_.Lines(), (Lines{"VPIMatsushita " + N2(n) + " : EndVpi()",
                                   "VPIMatsushita " + N2(n) + " : No. of Instances left: " +
                                       std::to_string(n - 1)}));
    EXPECT_EQ(a.Number(), -1);
}

TEST_F(Lifecycle, InstancesOnSeveralThreadsKeepTheCountExact) {
    Instance probe;
    ASSERT_EQ(probe.ColdStart(0), 0);
    const int base = probe.Number();
    probe.EndVpi();

    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 100; ++i) {
                Instance a(40 + t);  // no station file: started without stations
                Instance b(40 + t);
                if (a.ColdStart(1) != 0 || b.ColdStart(i % 2) != 0) ++failures[t];
                a.EndVpi();
                b.EndVpi();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));

    ASSERT_EQ(probe.ColdStart(0), 0);
    EXPECT_EQ(probe.Number(), base);
    probe.EndVpi();
}

// ---- which connections an instance may close ----------------------------------

TEST_F(Lifecycle, EndVpiOfAnotherInstanceNeverEndsAStartedOnesConnections) {
    LoopbackPeer plc;
    dir_.Write("zavUR07.int", "ETLAN-PC99\n01 \"127.0.0.1\" \"" + plc.PortText() + "\"\n");
    dir_.Write("zavUR08.int", "ETLAN-PC99\n01 \"etlan-nohost-zz\" \"1\"\n");

    Instance a;
    ASSERT_EQ(a.ColdStart(1), 0);
    const PeerSocket conn = plc.Accept(kPeerWaitMs);
    ASSERT_NE(conn, kNoPeer);

    // Never started the library: enable 0, twice ended.
    Instance idle;
    ASSERT_EQ(idle.ColdStart(0), 0);
    idle.EndVpi();
    idle.EndVpi();

    // Started it but failed on its station file, twice ended.
    Instance failed(8);
    etl::StartBlock block{};
    std::strcpy(block.name, "FAILED");
    block.hostValue = 0x77;
    block.replyWord1 = 0xBEEF;
    log_.Clear();
    EXPECT_EQ(failed.ColdStart(1, &block), 2);
    const int f = failed.Number();
    EXPECT_EQ(log_.Lines(),
              (Lines{"VpiMatsushita" + N2(f) + ": ColdStart() entered",
                     "ZavUR: InitFile Fail SetSockectAddr() in line: 1 rc = 65535",
                     "VpiMatsushita" + N2(f) + ": zavUR08.int defines 0 stations"}));
    EXPECT_EQ(block.replyWord1, 0xBEEF);
    EXPECT_NE(std::memcmp(failed.Ctx()->name, "FAILED", 6), 0);
    EXPECT_NE(failed.Ctx()->hostValue, 0x77u);
    failed.EndVpi();
    failed.EndVpi();

    EXPECT_TRUE(StillConnected(conn, a.Socket(1)));
    EXPECT_EQ(a.WarmStart(1), 0);  // the library still works for a
    const PeerSocket again = plc.Accept(kPeerWaitMs);
    ASSERT_NE(again, kNoPeer);
    EXPECT_TRUE(SeesEnd(conn));

    // a's own EndVpi closes a's connections.
    a.EndVpi();
    EXPECT_TRUE(SeesEnd(again));
}

TEST_F(Lifecycle, RepeatedColdStartClosesOnlyWhatItOpenedForThatContext) {
    LoopbackPeer plc;
    dir_.Write("zavUR07.int", "ETLAN-PC99\n01 \"127.0.0.1\" \"" + plc.PortText() + "\"\n");
    Instance a;
    ASSERT_EQ(a.ColdStart(1), 0);
    const PeerSocket first = plc.Accept(kPeerWaitMs);
    ASSERT_NE(first, kNoPeer);

    // A copy of a's context at another address holds a's handles and mark;
    // it was never started there, so its start must leave them alone.
    Instance copy;
    copy.Memory() = a.Memory();
    ASSERT_EQ(copy.ColdStart(1), 0);
    ASSERT_NE(plc.Accept(kPeerWaitMs), kNoPeer);
    EXPECT_TRUE(StillConnected(first, a.Socket(1)));

    // Fresh memory whose socket fields happen to hold a live handle of the
    // process (the test's own listener): untouched by a first start.
    Instance fresh;
    {
        etl::DriverContext* ctx = fresh.Ctx();
        for (auto& entry : ctx->stations) {
            entry.socket = static_cast<etl::SocketHandle>(plc.Handle());
        }
    }
    ASSERT_EQ(fresh.ColdStart(1), 0);
    const PeerSocket third = plc.Accept(kPeerWaitMs);  // the listener still accepts
    ASSERT_NE(third, kNoPeer);

    // a started again: its earlier connection is closed, a new one made.
    const int n = a.Number();
    ASSERT_EQ(a.ColdStart(1), 0);
    EXPECT_GT(a.Number(), n);
    EXPECT_TRUE(SeesEnd(first));
    const PeerSocket second = plc.Accept(kPeerWaitMs);
    ASSERT_NE(second, kNoPeer);
    EXPECT_TRUE(StillConnected(second, a.Socket(1)));
    EXPECT_TRUE(StillConnected(third, fresh.Socket(1)));

    a.EndVpi();
    copy.EndVpi();
    fresh.EndVpi();
    EXPECT_TRUE(SeesEnd(third));
}

// ---- WarmStart ---------------------------------------------------------------

TEST_F(Lifecycle, WarmStartReplacesOneStationsConnection) {
    LoopbackPeer plc;
    LoopbackPeer refused(PeerKind::kRefuser);
    dir_.Write("zavUR07.int", "ETLAN-PC99\n"
                              "01 \"127.0.0.1\" \"" + plc.PortText() + "\"\n"
                              "02 \"127.0.0.1\" \"" + refused.PortText() + "\"\n"
                              "03 \"127.0.0.300\" \"" + plc.PortText() + "\"\n");
    Instance a;
    ASSERT_EQ(a.ColdStart(1), 0);
    const PeerSocket first = plc.Accept(kPeerWaitMs);
    ASSERT_NE(first, kNoPeer);

    log_.Clear();
    EXPECT_EQ(a.WarmStart(1), 0);
    EXPECT_TRUE(SeesEnd(first));
    const PeerSocket second = plc.Accept(kPeerWaitMs);
    ASSERT_NE(second, kNoPeer);
    EXPECT_TRUE(StillConnected(second, a.Socket(1)));

    EXPECT_EQ(a.WarmStart(2), 2);
    EXPECT_EQ(a.Socket(2), etl::kNoSocket);
    EXPECT_EQ(a.WarmStart(5), 2);  // not in the file: no socket address
    EXPECT_EQ(a.WarmStart(3), 2);  // a typo: never connected, named
    EXPECT_EQ(a.Socket(3), etl::kNoSocket);
    const Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "ZavUR: WarmStart() Pass station 1 ConnectSocket() rc = 0");
    EXPECT_EQ(lines[1], "ZavUR: WarmStart() Fail station 2 ConnectSocket() rc = 257 (connection refused)");
    const std::string fail5 = "ZavUR: WarmStart() Fail station 5 ConnectSocket() rc = ";
    EXPECT_EQ(lines[2].substr(0, fail5.size()), fail5);
    EXPECT_NE(lines[2], fail5 + "0");
    EXPECT_EQ(lines[3], "ZavUR: station 3 host text \"127.0.0.300\" is no usable IPv4 address");
    EXPECT_EQ(lines[4], "ZavUR: WarmStart() Fail station 3 ConnectSocket() rc = " +
                            std::to_string(etl::plat::ErrorInvalid()));
    EXPECT_EQ(plc.Accept(200), kNoPeer);

    // Numbers outside the table touch nothing, inside or behind the context.
    const std::string invalid = std::to_string(etl::plat::ErrorInvalid());
    for (int station : {65, -1, 1000000}) {
        const std::vector<unsigned char> before = a.Memory();
        log_.Clear();
        EXPECT_EQ(a.WarmStart(station), 2);
        EXPECT_EQ(a.Memory(), before) << station;
        EXPECT_EQ(log_.Lines(), (Lines{"ZavUR: WarmStart() Fail station " +
                                       std::to_string(station) + " ConnectSocket() rc = " +
                                       invalid}));
    }
    a.EndVpi();
}

TEST_F(Lifecycle, WarmStartOfAContextThatWasNeverStartedTouchesNothing) {
    LoopbackPeer plc;
    Instance a;
    ASSERT_EQ(a.ColdStart(0), 0);  // counted, table still garbage
    // Garbage that would even name the listener.
    a.Ctx()->stations[1].address.family = 2;
    a.Ctx()->stations[1].address.port = NetOrder16(plc.Port());
    a.Ctx()->stations[1].address.address = etl::test::NetOrder32(0x7F000001u);
    const std::vector<unsigned char> before = a.Memory();
    log_.Clear();
    EXPECT_EQ(a.WarmStart(1), 2);
    EXPECT_EQ(a.Memory(), before);
    EXPECT_EQ(log_.Lines(), (Lines{"ZavUR: WarmStart() Fail station 1 ConnectSocket() rc = " +
                                   std::to_string(etl::plat::ErrorNotStarted())}));
    EXPECT_EQ(plc.Accept(200), kNoPeer);
    a.EndVpi();
}

// ---- UpdateConfig --------------------------------------------------------------

TEST_F(Lifecycle, UpdateConfigRenamesAndStoresTheHostValue) {
    Instance a;  // no station file: starts with no stations
    etl::StartBlock block{};
    std::strcpy(block.name, "PLANT");
    block.hostValue = 0x10;
    ASSERT_EQ(a.ColdStart(1, &block), 0);
    a.Ctx()->renameValue = 0;
    log_.Clear();

    std::vector<unsigned char> before = a.Memory();
    block.enable = 0;
    block.hostValue = 0x20;
    EXPECT_EQ(a.UpdateConfig(&block), 0);  // same name, enable 0: nothing
    EXPECT_EQ(a.Memory(), before);

    std::strcpy(block.name, "PLANT2");
    EXPECT_EQ(a.UpdateConfig(&block), 0);
    EXPECT_STREQ(a.Ctx()->name, "PLANT2");
    EXPECT_EQ(a.Ctx()->renameValue, 0x20u);
    EXPECT_EQ(a.Ctx()->hostValue, 0x10u);

    block.enable = 9;
    block.hostValue = 0x30;
    EXPECT_EQ(a.UpdateConfig(&block), 0);  // same name: only the host value
    EXPECT_EQ(a.Ctx()->hostValue, 9u);
    EXPECT_EQ(a.Ctx()->renameValue, 0x20u);

    std::strcpy(block.name, "plant2");  // case counts
    EXPECT_EQ(a.UpdateConfig(&block), 0);
    EXPECT_STREQ(a.Ctx()->name, "plant2");
    EXPECT_EQ(a.Ctx()->renameValue, 0x30u);
    EXPECT_TRUE(log_.Lines().empty());
    a.EndVpi();
}

}  // namespace
