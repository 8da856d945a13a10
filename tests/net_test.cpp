// The socket layer against peers that the test opens itself on 127.0.0.1:
// connects (at once, refused, silent, to addresses that must never be
// tried), the transaction's drain, answer wait and read, time-out 0, and
// handles that hold no socket.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/test_support.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using namespace std::chrono;
using etl::SockAddrIn;
using etl::SocketHandle;
using etl::test::kNoPeer;
using etl::test::LoopbackPeer;
using etl::test::NetOrder16;
using etl::test::NetOrder32;
using etl::test::PeerKind;
using etl::test::PeerReceive;
using etl::test::PeerSeesEnd;
using etl::test::PeerSend;
using etl::test::PeerSocket;

SockAddrIn Target(std::uint16_t port, std::uint32_t hostOrderAddress = 0x7F000001u) {
    SockAddrIn a{};
    a.family = etl::plat::kAfInet;
    a.port = NetOrder16(port);
    a.address = NetOrder32(hostOrderAddress);
    return a;
}

SockAddrIn AnyLocal() {
    SockAddrIn a{};
    a.family = etl::plat::kAfInet;
    return a;
}

long long MsSince(steady_clock::time_point t) {
    return duration_cast<milliseconds>(steady_clock::now() - t).count();
}

// GetTickCount advances in steps of about 16 ms on Windows.
constexpr long long kSlackMs = 40;

// The socket library is started for the whole test program.
class SocketsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(etl::plat::SocketsStart(0x0101), 0); }
    void TearDown() override { etl::plat::SocketsCleanup(); }
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new SocketsEnvironment);

// A driver-side connection to a peer, and the peer's end of it.
struct Connection {
    explicit Connection(LoopbackPeer& peer) {
        SockAddrIn local = AnyLocal();
        const SockAddrIn remote = Target(peer.Port());
        rc = etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 1000, &remote);
        plc = peer.Accept();
    }
    ~Connection() { etl::ReleaseSocket(&holder); }
    SocketHandle holder = etl::kNoSocket;
    int rc = -99;
    PeerSocket plc = kNoPeer;
};

// ---- connecting ------------------------------------------------------------

TEST(Connect, ImmediateConnectFillsTheBoundLocalAddress) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    SocketHandle holder = 0;  // as a cleared station entry holds it
    SockAddrIn local = AnyLocal();
    const SockAddrIn remote = Target(peer.Port());
    const auto t = steady_clock::now();
    ASSERT_EQ(etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 1000, &remote), 0);
    EXPECT_LT(MsSince(t), 500);
    EXPECT_GT(holder, 0);
    EXPECT_EQ(local.family, 2);
    EXPECT_EQ(NetOrder32(local.address), 0x7F000001u);
    EXPECT_NE(local.port, 0);

    // The peer sees a connection from exactly that address and port.
    PeerSocket plc = peer.Accept();
    ASSERT_NE(plc, kNoPeer);
    EXPECT_EQ(etl::test::PeerRemotePort(plc), NetOrder16(local.port));

    // Connecting again replaces the connection: the old one is closed.
    local = AnyLocal();
    ASSERT_EQ(etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 1000, &remote), 0);
    EXPECT_TRUE(PeerSeesEnd(plc));
    etl::ReleaseSocket(&holder);
    EXPECT_EQ(holder, etl::kNoSocket);
}

TEST(Connect, RefusedAndSilentPeersGive257WithinTheTimeOut) {
    {
        LoopbackPeer closed(PeerKind::kRefuser);  // bound, not listening: refused
        SocketHandle holder = etl::kNoSocket;
        SockAddrIn local = AnyLocal();
        const SockAddrIn remote = Target(closed.Port());
        const auto t = steady_clock::now();
        EXPECT_EQ(etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 1000, &remote), 257);
        EXPECT_LE(MsSince(t), 1000 + kSlackMs);  // may end early
        EXPECT_EQ(holder, etl::kNoSocket);
    }
    {
        LoopbackPeer silent(PeerKind::kListener, 0);
        ASSERT_TRUE(silent.FillQueue());
        SocketHandle holder = etl::kNoSocket;
        SockAddrIn local = AnyLocal();
        const SockAddrIn remote = Target(silent.Port());
        const auto t = steady_clock::now();
        EXPECT_EQ(etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 400, &remote), 257);
        const long long took = MsSince(t);
        EXPECT_GE(took, 400 - kSlackMs);
        EXPECT_LE(took, 400 + 300);
        EXPECT_EQ(holder, etl::kNoSocket);
    }
}

TEST(Connect, AddressesThatNameNoStationAreNeverTried) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    struct Case {
        const char* what;
        SockAddrIn remote;
    };
    SockAddrIn unset{};  // a station whose line was never completed
    unset.port = NetOrder16(peer.Port());
    const Case cases[] = {
        {"family never set", unset},
        {"0.0.0.0", Target(peer.Port(), 0)},
        {"255.255.255.255", Target(peer.Port(), 0xFFFFFFFFu)},
    };
    for (const Case& c : cases) {
        SocketHandle holder = etl::kNoSocket;
        SockAddrIn local = AnyLocal();
        const int rc = etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 300, &c.remote);
        EXPECT_NE(rc, 0) << c.what;
        EXPECT_NE(rc, 257) << c.what;  // refused at once, not waited for
        EXPECT_EQ(holder, etl::kNoSocket) << c.what;
    }
    EXPECT_EQ(peer.Accept(200), kNoPeer);  // nothing reached the local listener
}

TEST(Connect, HandlesWithoutASocketFailAndAreNeverClosed) {
    const int notSocket = etl::plat::ErrorNotSocket();
    for (SocketHandle s : {0, -1}) {
        char buf[16] = {};
        int n = 5;
        SockAddrIn a{};
        const SockAddrIn remote = Target(1);
        EXPECT_EQ(etl::GetLocalAddr(s, &a), notSocket) << s;
        EXPECT_EQ(etl::ConnectTimed(s, 100, &remote), notSocket) << s;
        EXPECT_EQ(etl::WaitWritable(s, 100), notSocket) << s;
        EXPECT_EQ(etl::SendBuffer(s, 100, "x", 1, &n, nullptr), notSocket) << s;
        EXPECT_EQ(etl::SendBuffer(s, 0, "x", 1, &n, nullptr), notSocket) << s;
        EXPECT_EQ(etl::WaitForBytes(s, 100, 5), notSocket) << s;
        EXPECT_EQ(etl::ReceiveBuffer(s, 100, buf, sizeof buf, &n, nullptr), notSocket) << s;
        EXPECT_EQ(etl::DrainSocket(s), notSocket) << s;
        EXPECT_EQ(etl::SendReceive(s, 100, "x", 1, buf, sizeof buf, nullptr, nullptr),
                  notSocket)
            << s;
        SocketHandle holder = s;
        EXPECT_EQ(etl::ReleaseSocket(&holder), 0);
        EXPECT_EQ(holder, etl::kNoSocket);
    }
#if !defined(_WIN32)
    // Descriptor 0 (standard input) is still open, whatever it is.
    EXPECT_NE(fcntl(0, F_GETFD), -1);
#endif
}

#if !defined(_WIN32)
// Waits work on descriptors beyond select()'s fixed set size.
TEST(Connect, DescriptorsAbove1024) {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1200) GTEST_SKIP() << "descriptor limit " << lim.rlim_cur;
    std::vector<int> filler;
    while (filler.empty() || filler.back() < 1100) {
        const int fd = dup(2);
        if (fd < 0) break;
        filler.push_back(fd);
    }
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    EXPECT_EQ(c.rc, 0);
    EXPECT_GT(c.holder, 1024);
    std::thread answering([&] {
        if (PeerReceive(c.plc, 2) == "ab") PeerSend(c.plc, "%01$RD0000**\r");
    });
    char buf[32];
    int received = 0;
    EXPECT_EQ(etl::SendReceive(c.holder, 1000, "ab", 2, buf, 13, nullptr, nullptr, &received), 0);
    answering.join();
    EXPECT_EQ(received, 13);
    for (int fd : filler) close(fd);
}
#endif

// ---- the transaction -------------------------------------------------------

TEST(Transaction, StaleBytesAreDrainedBeforeTheFrameIsSent) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    const std::string stale(1500, 'S');  // more than one drain chunk
    PeerSend(c.plc, stale);
    ASSERT_EQ(etl::WaitForBytes(c.holder, 2000, static_cast<int>(stale.size())), 0);

    std::thread answering([&] {
        if (PeerReceive(c.plc, 6) == "QUERY\r") PeerSend(c.plc, "ANSWER\r");
    });
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    int received = 0;
    const int rc =
        etl::SendReceive(c.holder, 1000, "QUERY\r", 6, buf, 7, nullptr, nullptr, &received);
    answering.join();
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(received, 7);
    EXPECT_EQ(std::string(buf, 7), "ANSWER\r");
    EXPECT_EQ(buf[7], '#');  // nothing written beyond the bytes read
}

TEST(Transaction, ShortAnswerWaitsOutTheTimeOutAndIsRead) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    std::thread answering([&] {
        PeerReceive(c.plc, 2);
        PeerSend(c.plc, "%01");
    });
    char buf[32];
    int received = 0;
    const auto t = steady_clock::now();
    const int rc = etl::SendReceive(c.holder, 300, "ab", 2, buf, 20, nullptr, nullptr, &received);
    const long long took = MsSince(t);
    answering.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(received, 3);
    EXPECT_EQ(std::string(buf, 3), "%01");
    EXPECT_GE(took, 300 - kSlackMs);  // fewer than 5 bytes: the poll runs to its end
    EXPECT_LE(took, 300 + 300);
}

TEST(Transaction, AnswerInPiecesIsReadOnceFiveBytesAreThere) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    std::atomic<bool> firstPieceRead{false};
    std::atomic<bool> secondPieceSent{false};
    std::thread answering([&] {
        PeerReceive(c.plc, 2);
        PeerSend(c.plc, "%01$RD");
        // The rest comes late: once the read has returned with the first piece.
        etl::test::WaitUntil([&] { return firstPieceRead.load(); }, 5000);
        PeerSend(c.plc, "0100**\r");
        secondPieceSent = true;
        // The next transaction discards the rest and gets its own answer.
        if (PeerReceive(c.plc, 2) == "cd") PeerSend(c.plc, "%01$WD**\r");
    });
    char buf[32];
    int received = 0;
    const auto t = steady_clock::now();
    const int rc = etl::SendReceive(c.holder, 1000, "ab", 2, buf, 13, nullptr, nullptr, &received);
    firstPieceRead = true;
    ASSERT_EQ(rc, 0);
    EXPECT_LT(MsSince(t), 300);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(received)), "%01$RD");

    while (!secondPieceSent) std::this_thread::sleep_for(milliseconds(5));
    ASSERT_EQ(etl::WaitForBytes(c.holder, 1000, 7), 0);
    ASSERT_EQ(etl::SendReceive(c.holder, 1000, "cd", 2, buf, 9, nullptr, nullptr, &received), 0);
    answering.join();
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(received)), "%01$WD**\r");
}

TEST(Transaction, LongAnswerLeavesTheSurplusForTheNextDrain) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    PeerSend(c.plc, "0123456789");
    ASSERT_EQ(etl::WaitForBytes(c.holder, 1000, 10), 0);
    char buf[16] = {};
    int count = 4;
    ASSERT_EQ(etl::ReceiveBuffer(c.holder, 1000, buf, 4, &count, nullptr), 0);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    ASSERT_EQ(etl::DrainSocket(c.holder), 0);
    std::uint32_t left = 99;
    ASSERT_EQ(etl::plat::Readable(c.holder, &left), 0);
    EXPECT_EQ(left, 0u);
}

TEST(Transaction, NoAnswerGives257AfterTheTimeOut) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    char buf[16];
    int received = -5;
    const auto t = steady_clock::now();
    EXPECT_EQ(etl::SendReceive(c.holder, 300, "ab", 2, buf, 10, nullptr, nullptr, &received), 257);
    const long long took = MsSince(t);
    EXPECT_GE(took, 300 - kSlackMs);
    EXPECT_LE(took, 300 + 300);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(PeerReceive(c.plc, 2), "ab");  // the frame went out
}

TEST(Transaction, TimeOutZeroNeitherWaitsToSendNorToRead) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    char buf[16];
    int received = 0;
    const auto t = steady_clock::now();
    const int rc = etl::SendReceive(c.holder, 0, "ab", 2, buf, 10, nullptr, nullptr, &received);
    EXPECT_LT(MsSince(t), 100);
    // Nothing readable: the platform's would-block error, not a time-out.
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, 257);
    EXPECT_NE(rc, etl::kPeerClosed);
#if defined(_WIN32)
    EXPECT_EQ(rc, 10035);
#endif
    EXPECT_EQ(PeerReceive(c.plc, 2), "ab");

    // Bytes already there are read at once; a closed peer reads as -1.
    PeerSend(c.plc, "%01$");
    ASSERT_EQ(etl::WaitForBytes(c.holder, 1000, 4), 0);
    int count = 0;
    EXPECT_EQ(etl::ReceiveBuffer(c.holder, 0, buf, sizeof buf, &count, nullptr), 0);
    EXPECT_EQ(count, 4);
    peer.Close(c.plc);
    c.plc = kNoPeer;
    int error = 0;
    ASSERT_EQ(etl::plat::WaitReadable(c.holder, 2000, &error), 1);  // the end has arrived
    EXPECT_EQ(etl::ReceiveBuffer(c.holder, 0, buf, sizeof buf, &count, nullptr),
              etl::kPeerClosed);
}

TEST(Transaction, ClosedPeerNeverRaisesASignal) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    SocketHandle holder = etl::kNoSocket;
    SockAddrIn local = AnyLocal();
    const SockAddrIn remote = Target(peer.Port());
    ASSERT_EQ(etl::ConnectSocket(&holder, 2, 1, 0, 1, &local, 1000, &remote), 0);
    PeerSocket plc = peer.Accept();
    ASSERT_NE(plc, kNoPeer);
    peer.Close(plc);
    // The first send may still be taken; the peer answers it with a reset,
    // and a later one fails. Without care that failure is SIGPIPE.
    int rc = 0;
    for (int i = 0; i < 20 && rc == 0; ++i) {
        int sent = 0;
        rc = etl::SendBuffer(holder, 200, "0123456789", 10, &sent, nullptr);
        std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, 257);
    etl::ReleaseSocket(&holder);
}

// ---- the socket library's start and clean-up -------------------------------

TEST(SocketLibrary, LastCleanUpClosesEverySocketAndOpeningNeedsAStart) {
    LoopbackPeer peer(PeerKind::kListener, 8);
    ASSERT_EQ(etl::plat::SocketsStart(0x0101), 0);  // a second user
    Connection c(peer);
    ASSERT_EQ(c.rc, 0);
    ASSERT_NE(c.plc, kNoPeer);

    ASSERT_EQ(etl::plat::SocketsCleanup(), 0);  // not the last: nothing closes
    int sent = 0;
    EXPECT_EQ(etl::SendBuffer(c.holder, 100, "ok", 2, &sent, nullptr), 0);
    EXPECT_EQ(PeerReceive(c.plc, 2), "ok");

    ASSERT_EQ(etl::plat::SocketsCleanup(), 0);  // the last one: all closed
#if !defined(_WIN32)
    EXPECT_TRUE(PeerSeesEnd(c.plc));
#endif
    SocketHandle fresh = etl::kNoSocket;
    EXPECT_EQ(etl::OpenSocket(&fresh, 2, 1, 0, 1, nullptr), etl::plat::ErrorNotStarted());
    EXPECT_EQ(fresh, etl::kNoSocket);

    ASSERT_EQ(etl::plat::SocketsStart(0x0101), 0);  // the program's own start again
    std::uint32_t count = 0;
    EXPECT_EQ(etl::plat::Readable(c.holder, &count), etl::plat::ErrorNotSocket());
    c.holder = etl::kNoSocket;  // closed with the library
}

}  // namespace
