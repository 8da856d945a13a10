// The station file reader, the address and port rules, and the connection
// of a table's stations, with station files in a temporary directory and
// peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "net/socket_layer.h"
#include "platform/socket_platform.h"
#include "stations/station_options.h"
#include "stations/station_table.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/test_support.h"

namespace {

using etl::StationEntry;
using etl::test::LoopbackPeer;
using etl::test::NetOrder16;
using etl::test::PeerKind;
using Lines = std::vector<std::string>;

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
#if !defined(_WIN32)
        // Names that must not resolve fail fast even where a name server is
        // configured but does not answer.
        setenv("RES_OPTIONS", "timeout:1 attempts:1", 1);
#endif
        ASSERT_EQ(etl::plat::SocketsStart(0x0101), 0);
    }
    void TearDown() override { etl::plat::SocketsCleanup(); }
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

std::uint32_t Ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

// A context whose memory starts out as garbage, as the host hands it over,
// and a request for it.
class StationFile : public ::testing::Test {
protected:
    StationFile() : memory_(sizeof(etl::DriverContext), 0xCD) {
        ctx_ = reinterpret_cast<etl::DriverContext*>(memory_.data());
        ctx_->instanceNumber = 3;
        request_.context = ctx_;
        request_.functionCode = 1;
        request_.driverNumber = 7;
        etl::SetPcStationNumber(0);
    }
    ~StationFile() override { etl::ReleaseStations(ctx_); }

    int Read(const std::string& content, int driver = 7) {
        char name[32];
        std::snprintf(name, sizeof name, "zavUR%02d.int", driver);
        dir_.Write(name, content);
        request_.driverNumber = driver;
        return etl::InitFile(&request_);
    }

    StationEntry& At(int s) { return ctx_->stations[s]; }

    static std::string Station(int s, const std::string& host, const std::string& port) {
        char head[64];
        std::snprintf(head, sizeof head, "Station num: %2d   IPAddr: ", s);
        return "VpiMatsushita03: " + std::string(head) + host + "   Port: " + port;
    }

    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
    std::vector<unsigned char> memory_;
    etl::DriverContext* ctx_;
    etl::VpiRequest request_{};
};

// ---- the station file -------------------------------------------------------

TEST_F(StationFile, EveryRefusedLineHasItsMessageAndLineNumber) {
    const auto started = std::chrono::steady_clock::now();
    const int result = Read(
        "ETLAN-PC10\n"                                 // own station 10
        "; a comment\n"                                // 1: skipped
        " 05 \"127.0.0.5\" \"1\"\n"                    // 2: skipped
        "\n"                                           // 3: empty: too big
        "10 \"127.0.0.10\" \"1\"\n"                    // 4: the PC's number
        "65 \"127.0.0.65\" \"1\"\n"                    // 5: too big
        "5 \"127.0.0.5\" \"1\"\n"                      // 6: '5', ' ' is 290
        "07 no quotes at all\n"                        // 7
        "08 \"127.0.0.8 and no second\n"               // 8
        "09 \"127.0.0.9\" and no third\n"              // 9: host kept
        "11 \"127.0.0.11\" \"9094 and no fourth\n"     // 10: host kept
        "12 \"etlan-nohost-zz\" \"9094\"\n"            // 11: does not resolve
        "13 \"nohost.invalid\" \"9094\"\n"             // 12: no address, kept
        "14 \"a.host.name.too.long\" \"1\"\n"          // 13: 20 characters
        "64 \"127.100.100.164\" \"502\" ; ignored\n"  // 14: 15 characters
        "1A \"127.0.0.20\" \"503\"\n");                // 15: station 20
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    EXPECT_EQ(result, 1);
    EXPECT_EQ(etl::PcStationNumber(), 10);
    const Lines expected = {
        "ZavUR: InitFile station num. too big in line: 3",
        "ZavUR: InitFile station num. use by PC in line: 4",
        "ZavUR: InitFile station num. too big in line: 5",
        "ZavUR: InitFile station num. too big in line: 6",
        "ZavUR: InitFile Fail cmd. in line: 7",
        "ZavUR: InitFile Fail cmd. in line: 8",
        "ZavUR: InitFile Fail cmd. in line: 9",
        "ZavUR: InitFile Fail cmd. in line: 10",
        "ZavUR: InitFile Fail SetSockectAddr() in line: 11 rc = 65535",
        Station(13, "nohost.invalid", "9094"),
        "ZavUR: InitFile host name too long in line: 13",
        Station(64, "127.100.100.164", "502"),
        Station(20, "127.0.0.20", "503"),
        "VpiMatsushita03: zavUR07.int defines 3 stations",
    };
    EXPECT_EQ(log_.Lines(), expected);
    EXPECT_EQ(ctx_->stationCount, 3);

    // Refused before the host text: the entries stay cleared.
    for (int s : {5, 7, 8, 10, 14}) {
        const StationEntry cleared{};
        EXPECT_EQ(std::memcmp(&At(s), &cleared, sizeof cleared), 0) << s;
    }
    // Refused after it: the host text is in, nothing else.
    EXPECT_STREQ(At(9).host, "127.0.0.9");
    EXPECT_STREQ(At(11).host, "127.0.0.11");
    EXPECT_EQ(At(11).port, 0);
    EXPECT_EQ(At(11).address.family, 0);
    // A name that does not resolve: host and port in, family set, no address.
    EXPECT_STREQ(At(12).host, "etlan-nohost-zz");
    EXPECT_EQ(At(12).port, 9094);
    EXPECT_EQ(At(12).address.family, 2);
    EXPECT_EQ(At(12).address.address, 0u);
    EXPECT_EQ(At(12).address.port, 0);
    EXPECT_EQ(At(13).address.address, 0u);  // never 255.255.255.255

    EXPECT_EQ(At(64).address.family, 2);
    EXPECT_EQ(At(64).address.address, Ip(127, 100, 100, 164));
    EXPECT_EQ(At(64).address.port, NetOrder16(502));
    EXPECT_EQ(At(20).address.address, Ip(127, 0, 0, 20));
    EXPECT_EQ(At(20).socket, 0);  // cleared, not yet connected
}

TEST_F(StationFile, OwnStationNumberAndStationZero) {
    // No number at the ninth character: the own number stays 0, and a line
    // for station 0 is the PC's.
    EXPECT_EQ(Read("ETLAN-PC\n00 \"127.0.0.1\" \"1\"\n"), 0);
    EXPECT_EQ(etl::PcStationNumber(), 0);
    EXPECT_TRUE(log_.Has("ZavUR: InitFile station num. use by PC in line: 1"));

    // The first eight characters are any text; the number may be signed and
    // preceded by blanks; a later file changes it for everyone.
    EXPECT_EQ(Read("whatever  -7 trailing\n"), 0);
    EXPECT_EQ(etl::PcStationNumber(), -7);
    EXPECT_EQ(Read("12345678x9\n"), 0);
    EXPECT_EQ(etl::PcStationNumber(), -7);

    LoopbackPeer listener;
    log_.Clear();
    EXPECT_EQ(Read("ETLAN-PC 5\n"
                   "00 \"127.0.0.1\" \"" + listener.PortText() + "\"\n"
                   "05 \"127.0.0.1\" \"" + listener.PortText() + "\"\n"),
              0);
    EXPECT_EQ(etl::PcStationNumber(), 5);
    EXPECT_EQ(log_.Lines(),
              (Lines{Station(0, "127.0.0.1", listener.PortText()),
                     "ZavUR: InitFile station num. use by PC in line: 2",
                     "VpiMatsushita03: zavUR07.int defines 1 stations"}));

    // Station 0 is kept in the table but never connected.
    log_.Clear();
    EXPECT_EQ(etl::InitConnections(&request_), 0);
    EXPECT_TRUE(log_.Lines().empty());
    EXPECT_EQ(At(0).socket, 0);
    EXPECT_EQ(listener.AcceptAll(200), 0);
}

TEST_F(StationFile, RepeatedStationLaterLineWinsBothCounted) {
    EXPECT_EQ(Read("ETLAN-PC99\n"
                   "05 \"127.0.0.5\" \"100\"\n"
                   "05 \"127.0.0.6\" \"200\"\n"),
              0);
    EXPECT_EQ(ctx_->stationCount, 2);
    EXPECT_TRUE(log_.Has("VpiMatsushita03: zavUR07.int defines 2 stations"));
    EXPECT_STREQ(At(5).host, "127.0.0.6");
    EXPECT_EQ(At(5).port, 200);
    EXPECT_EQ(At(5).address.address, Ip(127, 0, 0, 6));
    EXPECT_EQ(At(5).address.port, NetOrder16(200));
}

TEST_F(StationFile, PortTexts) {
    // A port number 1-65535, blanks around it allowed, or the name of a
    // service. Any other text leaves its station undefined (never a port
    // modulo 65536 or the digits in front), with the line and the text.
    EXPECT_EQ(Read("ETLAN-PC99\n"
                   "01 \"127.0.0.1\" \"70000\"\n"
                   "02 \"127.0.0.1\" \" +502xyz\"\n"
                   "03 \"127.0.0.1\" \"-1\"\n"
                   "04 \"\" \"9094\"\n"
                   "05 \"127.0.0.1\" \"99999999999\"\n"
                   "06 \"127.0.0.1\" \"9O94\"\n"
                   "07 \"127.0.0.1\" \"\"\n"
                   "08 \"127.0.0.1\" \"0\"\n"
                   "09 \"127.0.0.1\" \" 65535\t\"\n"
                   "10 \"127.0.0.1\" \"1\"\n"
                   "11 \"127.0.0.1\" \"65536\"\n"),
              0);
    auto refused = [](const std::string& text, int line) {
        return "ZavUR: InitFile port \"" + text + "\" is no port number 1-65535 in line: " +
               std::to_string(line);
    };
    const Lines expected = {
        refused("70000", 1),
        refused(" +502xyz", 2),
        refused("-1", 3),
        Station(4, "", "9094"),  // an empty host text is counted, address zero
        refused("99999999999", 5),
        refused("9O94", 6),
        refused("", 7),
        refused("0", 8),
        Station(9, "127.0.0.1", "65535"),
        Station(10, "127.0.0.1", "1"),
        refused("65536", 11),
        "VpiMatsushita03: zavUR07.int defines 3 stations",
    };
    EXPECT_EQ(log_.Lines(), expected);
    EXPECT_EQ(ctx_->stationCount, 3);
    for (int s : {1, 2, 3, 5, 6, 7, 8, 11}) {
        const StationEntry cleared{};
        EXPECT_EQ(std::memcmp(&At(s), &cleared, sizeof cleared), 0) << s;
    }
    EXPECT_EQ(At(4).address.address, 0u);
    EXPECT_EQ(At(9).address.port, NetOrder16(65535));
    EXPECT_EQ(At(10).address.port, NetOrder16(1));

    std::uint16_t http = 0;
    if (!etl::plat::ServicePort("http", "tcp", &http)) {
        GTEST_SKIP() << "the system knows no tcp service named http";
    }
    log_.Clear();
    EXPECT_EQ(Read("ETLAN-PC99\n06 \"127.0.0.1\" \"http\"\n"), 0);
    EXPECT_EQ(At(6).port, 0);
    EXPECT_EQ(At(6).address.port, http);
    EXPECT_EQ(http, NetOrder16(80));
    EXPECT_TRUE(log_.Has(Station(6, "127.0.0.1", "0")));
}

TEST_F(StationFile, OptionsAfterThePort) {
    const std::string allowed =
        " (station-field=hex|decimal, timeout=50-10000, rest=0-3600, scan=0-60000); the station keeps the "
        "defaults";
    EXPECT_EQ(Read("ETLAN-PC99\n"
                   "01 \"127.0.0.1\" \"501\" station-field=decimal timeout=500 rest=10\n"
                   "02 \"127.0.0.1\" \"502\"\ttimeout=50  rest=0 ; a slow unit\r\n"
                   "03 \"127.0.0.1\" \"503\" ;station-field=decimal\n"
                   "04 \"127.0.0.1\" \"504\" timeout=5s\n"
                   "05 \"127.0.0.1\" \"505\" rest=10 colour=red\n"
                   "06 \"127.0.0.1\" \"506\" timeout=10001\n"
                   "07 \"127.0.0.1\" \"507\" rest=3601\n"
                   "08 \"127.0.0.1\" \"508\" rest=1 timeout=99 rest=1\n"
                   "09 \"127.0.0.1\" \"509\" station-field=Decimal\n"
                   "10 \"127.0.0.1\" \"510\" timeout=+500\n"
                   "11 \"127.0.0.1\" \"511\" timeout=4294967796\n"
                   "12 \"127.0.0.1\" \"512\" timeout\n"
                   "13 \"127.0.0.1\" \"513\"station-field=hex timeout=10000 rest=3600\n"
                   "14 \"127.0.0.1\" \"514\" timeout=700\n"
                   "14 \"127.0.0.1\" \"514\"\n"),
              0);
    const Lines expected = {
        Station(1, "127.0.0.1", "501"),
        "ZavUR: station 1 options: station-field=decimal timeout=500 ms rest=10 s",
        Station(2, "127.0.0.1", "502"),
        "ZavUR: station 2 options: timeout=50 ms rest=0 s (never rests)",
        Station(3, "127.0.0.1", "503"),
        Station(4, "127.0.0.1", "504"),
        "ZavUR: InitFile option \"timeout=5s\" not understood in line: 4" + allowed,
        Station(5, "127.0.0.1", "505"),
        "ZavUR: InitFile option \"colour=red\" not understood in line: 5" + allowed,
        Station(6, "127.0.0.1", "506"),
        "ZavUR: InitFile option \"timeout=10001\" not understood in line: 6" + allowed,
        Station(7, "127.0.0.1", "507"),
        "ZavUR: InitFile option \"rest=3601\" not understood in line: 7" + allowed,
        Station(8, "127.0.0.1", "508"),
        "ZavUR: InitFile option \"rest=1\" not understood in line: 8" + allowed,
        Station(9, "127.0.0.1", "509"),
        "ZavUR: InitFile option \"station-field=Decimal\" not understood in line: 9" + allowed,
        Station(10, "127.0.0.1", "510"),
        "ZavUR: InitFile option \"timeout=+500\" not understood in line: 10" + allowed,
        Station(11, "127.0.0.1", "511"),
        "ZavUR: InitFile option \"timeout=4294967796\" not understood in line: 11" + allowed,
        Station(12, "127.0.0.1", "512"),
        "ZavUR: InitFile option \"timeout\" not understood in line: 12" + allowed,
        Station(13, "127.0.0.1", "513"),
        "ZavUR: station 13 options: station-field=hex timeout=10000 ms rest=3600 s",
        Station(14, "127.0.0.1", "514"),
        "ZavUR: station 14 options: timeout=700 ms",
        Station(14, "127.0.0.1", "514"),
        "VpiMatsushita03: zavUR07.int defines 15 stations",
    };
    EXPECT_EQ(log_.Lines(), expected);

    EXPECT_TRUE(etl::StationFieldDecimal(ctx_, 1));
    EXPECT_EQ(etl::StationTimeoutMs(ctx_, 1), 500u);
    EXPECT_EQ(etl::StationFirstRestSeconds(ctx_, 1), 10u);
    EXPECT_FALSE(etl::StationFieldDecimal(ctx_, 2));
    EXPECT_EQ(etl::StationTimeoutMs(ctx_, 2), 50u);
    EXPECT_EQ(etl::StationFirstRestSeconds(ctx_, 2), 0u);  // never rests
    EXPECT_EQ(etl::StationTimeoutMs(ctx_, 13), 10000u);
    EXPECT_EQ(etl::StationFirstRestSeconds(ctx_, 13), 3600u);
    // A comment, a refused option (even after a good one) and a later line
    // without options: every default, the record zero.
    const etl::StationOptions defaults{};
    for (int s : {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 64}) {
        EXPECT_EQ(std::memcmp(&ctx_->options[s], &defaults, sizeof defaults), 0) << s;
        EXPECT_FALSE(etl::StationFieldDecimal(ctx_, s)) << s;
        EXPECT_EQ(etl::StationTimeoutMs(ctx_, s), etl::kDefaultTimeoutMs) << s;
        EXPECT_EQ(etl::StationFirstRestSeconds(ctx_, s), etl::kDefaultRestSeconds) << s;
    }
    EXPECT_EQ(At(4).address.port, NetOrder16(504));  // a station as ever

    // The next file without options: its table and options are cleared,
    // nothing is logged but the stations.
    log_.Clear();
    EXPECT_EQ(Read("ETLAN-PC99\n01 \"127.0.0.1\" \"501\"\n"), 0);
    EXPECT_EQ(log_.Lines(), (Lines{Station(1, "127.0.0.1", "501"),
                                   "VpiMatsushita03: zavUR07.int defines 1 stations"}));
    const std::vector<unsigned char> zero(sizeof ctx_->options, 0);
    EXPECT_EQ(std::memcmp(ctx_->options, zero.data(), zero.size()), 0);
}

TEST_F(StationFile, LongLinesAreReadInPieces) {
    std::string first = "05 \"127.0.0.5\" \"100\" ;";
    first.append(255 - first.size(), 'x');  // exactly one buffer
    const std::string second = "06 \"127.0.0.6\" \"200\"\n";
    EXPECT_EQ(Read("ETLAN-PC99\n" + first + second + "07 \"127.0.0.7\" \"300\"\n" +
                   std::string(300, 'y') + "\n"),
              0);
    const Lines expected = {
        Station(5, "127.0.0.5", "100"),
        Station(6, "127.0.0.6", "200"),  // the rest of line 1, read as line 2
        Station(7, "127.0.0.7", "300"),
        // 300 y's: two pieces of 255 and 46 (the line end with them)
        "ZavUR: InitFile station num. too big in line: 4",
        "ZavUR: InitFile station num. too big in line: 5",
        "VpiMatsushita03: zavUR07.int defines 3 stations",
    };
    EXPECT_EQ(log_.Lines(), expected);
}

TEST_F(StationFile, MissingFileClearsTheTableAndDefinesNothing) {
    EXPECT_EQ(etl::InitFile(&request_), 0);
    EXPECT_EQ(log_.Lines(), (Lines{"VpiMatsushita03: zavUR07.int defines 0 stations"}));
    const std::vector<unsigned char> zero(sizeof ctx_->stations, 0);
    EXPECT_EQ(std::memcmp(ctx_->stations, zero.data(), zero.size()), 0);
    EXPECT_EQ(ctx_->stationCount, 0);

    request_.driverNumber = 123;
    log_.Clear();
    EXPECT_EQ(etl::InitFile(&request_), 0);
    EXPECT_EQ(log_.Lines(), (Lines{"VpiMatsushita03: zavUR123.int defines 0 stations"}));
}

// ---- addresses ----------------------------------------------------------------

TEST(Addresses, DottedTextsAndNames) {
    // The platform's conversion, with what both platforms share: short,
    // octal and hexadecimal forms and anything after a blank are read; a
    // leading blank, a part too big and 255.255.255.255 (which Windows
    // cannot tell from a refusal) are not.
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t address;
    };
    const Case cases[] = {
        {"127.0.0.1", true, Ip(127, 0, 0, 1)},
        {"127.1", true, Ip(127, 0, 0, 1)},
        {"127.0.258", true, Ip(127, 0, 1, 2)},
        {"0x7f.010.0.1", true, Ip(127, 8, 0, 1)},
        {"127.0.0.2 ", true, Ip(127, 0, 0, 2)},
        {"127.0.0.300", false, 0},
        {" 127.0.0.1", false, 0},
        {"127.0.0.1.5", false, 0},
        {"255.255.255.255", false, 0},
        {"255.255.65535", false, 0},
        {"plc.example", false, 0},
    };
    for (const Case& c : cases) {
        std::uint32_t a = 0;
        EXPECT_EQ(etl::plat::ParseIpv4(c.text, &a), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(a, c.address) << c.text;
        }
    }

    // A text with a full stop is never looked up: one that is no address
    // gives 0.0.0.0 and is kept. A name that does not resolve fails and
    // leaves the address as it was.
    etl::SockAddrIn sa{};
    sa.address = Ip(127, 0, 0, 9);
    EXPECT_EQ(etl::SetSockectAddr(&sa, "nosuchhost.invalid", "1", "tcp"), 0);
    EXPECT_EQ(sa.address, 0u);
    EXPECT_EQ(sa.port, NetOrder16(1));
    sa = etl::SockAddrIn{};
    sa.address = Ip(127, 0, 0, 9);
    EXPECT_EQ(etl::SetSockectAddr(&sa, "etlan-nohost-zz", "1", "tcp"), -1);
    EXPECT_EQ(sa.address, Ip(127, 0, 0, 9));
    EXPECT_EQ(sa.port, 0);
    EXPECT_EQ(sa.family, 2);

    // Names are looked up; localhost is in every hosts file.
    EXPECT_EQ(etl::SetSockectAddr(&sa, "localhost", "", "tcp"), 0);
    EXPECT_EQ(sa.address, Ip(127, 0, 0, 1));

    char text[16];
    etl::FormatDottedAddress(Ip(127, 10, 200, 3), text, sizeof text);
    EXPECT_STREQ(text, "127.10.200.3");
}

// ---- connections -------------------------------------------------------------

TEST_F(StationFile, ConnectionsAreMadeOnceForEveryConfiguredStation) {
    LoopbackPeer listener;
    LoopbackPeer refused(PeerKind::kRefuser);
    ASSERT_EQ(Read("ETLAN-PC99\n"
                   "01 \"127.0.0.1\" \"" + listener.PortText() + "\"\n"
                   "02 \"127.0.0.1\" \"" + refused.PortText() + "\"\n"
                   "03 \"127.0.0.1\" without a port\n"
                   "04 \"\" \"" + listener.PortText() + "\"\n"
                   "64 \"localhost\" \"" + listener.PortText() + "\"\n"),
              0);
    log_.Clear();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(etl::InitConnections(&request_), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));

    etl::SockAddrIn local1{};
    etl::SockAddrIn local64{};
    ASSERT_EQ(etl::GetLocalAddr(At(1).socket, &local1), 0);
    ASSERT_EQ(etl::GetLocalAddr(At(64).socket, &local64), 0);
    const Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "ZavUR: InitConnections(): client: addr 127.0.0.1   port " +
                            std::to_string(NetOrder16(local1.port)));
    EXPECT_EQ(lines[1], "ZavUR: InitConnections(): ConnectSocket() Fail on station 2 rc = 257 "
                        "(connection refused)");
    // The unfinished line left no socket address: refused at once.
    const std::string failed3 = "ZavUR: InitConnections(): ConnectSocket() Fail on station 3 rc = ";
    EXPECT_EQ(lines[2].substr(0, failed3.size()), failed3);
    EXPECT_NE(lines[2], failed3 + "257");
    EXPECT_EQ(lines[3], "ZavUR: InitConnections(): client: addr 127.0.0.1   port " +
                            std::to_string(NetOrder16(local64.port)));

    EXPECT_EQ(At(2).socket, etl::kNoSocket);
    EXPECT_EQ(At(3).socket, etl::kNoSocket);
    EXPECT_EQ(At(4).socket, 0);  // empty host text: never tried
    EXPECT_EQ(listener.AcceptAll(), 2);
}

std::string N2(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", n);
    return b;
}

TEST_F(StationFile, AllStationsAreConnectedTogetherWithinOneTimeOut) {
    // 64 stations whose connections are never answered cost one time-out in
    // all, not one each; every one is reported in station order.
    LoopbackPeer silent(PeerKind::kListener, 0);
    ASSERT_TRUE(silent.FillQueue());
    std::string file = "ETLAN-PC99\n";
    for (int s = 1; s <= 64; ++s) file += N2(s) + " \"127.0.0.1\" \"" + silent.PortText() + "\"\n";
    ASSERT_EQ(Read(file), 0);
    log_.Clear();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(etl::InitConnections(&request_), 0);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LE(took, std::chrono::milliseconds(1200));
    Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 64u);
    for (int s = 1; s <= 64; ++s) {
        EXPECT_EQ(lines[static_cast<std::size_t>(s - 1)],
                  "ZavUR: InitConnections(): ConnectSocket() Fail on station " + std::to_string(s) +
                      " rc = 257 (no connection within 1000 ms)");
        EXPECT_EQ(At(s).socket, etl::kNoSocket) << s;
    }

    // Refused connections end the wait without the time-out: one listener
    // among 63 refusing stations is done at once.
    LoopbackPeer listener;
    LoopbackPeer refused(PeerKind::kRefuser);
    file = "ETLAN-PC99\n";
    for (int s = 1; s <= 64; ++s) {
        file += N2(s) + " \"127.0.0.1\" \"" + (s == 40 ? listener : refused).PortText() + "\"\n";
    }
    ASSERT_EQ(Read(file), 0);
    log_.Clear();
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(etl::InitConnections(&request_), 0);
    took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::milliseconds(500));
    lines = log_.Lines();
    ASSERT_EQ(lines.size(), 64u);
    etl::SockAddrIn local{};
    ASSERT_EQ(etl::GetLocalAddr(At(40).socket, &local), 0);
    EXPECT_EQ(lines[39], "ZavUR: InitConnections(): client: addr 127.0.0.1   port " +
                             std::to_string(NetOrder16(local.port)));
    EXPECT_EQ(lines[0], "ZavUR: InitConnections(): ConnectSocket() Fail on station 1 rc = 257 "
                        "(connection refused)");
    EXPECT_EQ(lines[63], "ZavUR: InitConnections(): ConnectSocket() Fail on station 64 rc = 257 "
                         "(connection refused)");
    EXPECT_EQ(listener.AcceptAll(), 1);
}

TEST_F(StationFile, AHostTextThatIsNoAddressFailsOnlyItsOwnStation) {
    // A typo, a blank before the address or the broadcast address spoils
    // its own station only: defined, never connected, no socket, named in
    // the log. A trailing blank and a short form are read as the platform
    // reads them.
    LoopbackPeer listener;
    const std::string port = "\" \"" + listener.PortText() + "\"\n";
    ASSERT_EQ(Read("ETLAN-PC99\n"
                   "01 \"127.0.0.1" + port +
                   "02 \"127.0.0.300" + port +
                   "03 \" 127.0.0.1" + port +
                   "04 \"127.0.0.1 " + port +
                   "05 \"127.1" + port +
                   "06 \"255.255.255.255" + port),
              0);
    EXPECT_EQ(ctx_->stationCount, 6);
    EXPECT_TRUE(log_.Has(Station(2, "127.0.0.300", listener.PortText())));
    log_.Clear();
    EXPECT_EQ(etl::InitConnections(&request_), 0);

    const std::string fail = "ZavUR: InitConnections(): ConnectSocket() Fail on station ";
    const std::string invalid = std::to_string(etl::plat::ErrorInvalid());
    const Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "ZavUR: station 2 host text \"127.0.0.300\" is no usable IPv4 address");
    EXPECT_EQ(lines[2], fail + "2 rc = " + invalid);
    EXPECT_EQ(lines[3], "ZavUR: station 3 host text \" 127.0.0.1\" is no usable IPv4 address");
    EXPECT_EQ(lines[4], fail + "3 rc = " + invalid);
    EXPECT_EQ(lines[7],
              "ZavUR: station 6 host text \"255.255.255.255\" is no usable IPv4 address");
    EXPECT_EQ(lines[8], fail + "6 rc = " + invalid);
    for (int s : {1, 4, 5}) {
        EXPECT_GT(At(s).socket, 0) << s;
        EXPECT_EQ(At(s).address.address, Ip(127, 0, 0, 1)) << s;
    }
    for (int s : {2, 3, 6}) {
        EXPECT_EQ(At(s).socket, etl::kNoSocket) << s;
        EXPECT_EQ(At(s).address.address, 0u) << s;
    }
    EXPECT_EQ(listener.AcceptAll(), 3);

    // Connecting one station anew passes the same test.
    log_.Clear();
    EXPECT_EQ(etl::ConnectStation(2, &At(2)), etl::plat::ErrorInvalid());
    EXPECT_EQ(At(2).socket, etl::kNoSocket);
    EXPECT_EQ(etl::ConnectStation(5, &At(5)), 0);
    EXPECT_EQ(log_.Lines(),
              (Lines{"ZavUR: station 2 host text \"127.0.0.300\" is no usable IPv4 address"}));
    EXPECT_EQ(listener.AcceptAll(), 1);
}

TEST_F(StationFile, OctalOrHexHostTextsAndBadPortsFailOnlyTheirStation) {
    // A dotted text with a part that the platform reads in octal or hex
    // would reach another device: defined, never connected. A bad port
    // leaves its station undefined, also when an earlier line defined it.
    // The others start; a short form is read as ever.
    LoopbackPeer listener;
    const std::string port = "\" \"" + listener.PortText() + "\"\n";
    ASSERT_EQ(Read("ETLAN-PC99\n"
                   "01 \"127.0.0.1" + port +
                   "02 \"127.0.0.010" + port +
                   "03 \"0x7f.0.0.1" + port +
                   "04 \"127.1" + port +
                   "05 \"127.0.0.1" + port +
                   "05 \"127.0.0.1\" \"9O94\"\n"
                   "06 \"127.0.0.1\" \"70000\"\n"
                   "07 \"127.000.000.001" + port +
                   "08 \"127.0.0.1 " + port),
              0);
    const std::string p = listener.PortText();
    const Lines expected = {
        Station(1, "127.0.0.1", p),
        Station(2, "127.0.0.010", p),
        "ZavUR: InitFile host text \"127.0.0.010\" has a part with a leading 0 (octal) or 0x "
        "(hex) in line: 2",
        Station(3, "0x7f.0.0.1", p),
        "ZavUR: InitFile host text \"0x7f.0.0.1\" has a part with a leading 0 (octal) or 0x "
        "(hex) in line: 3",
        Station(4, "127.1", p),
        Station(5, "127.0.0.1", p),
        "ZavUR: InitFile port \"9O94\" is no port number 1-65535 in line: 6",
        "ZavUR: InitFile port \"70000\" is no port number 1-65535 in line: 7",
        Station(7, "127.000.000.001", p),
        "ZavUR: InitFile host text \"127.000.000.001\" has a part with a leading 0 (octal) or "
        "0x (hex) in line: 8",
        Station(8, "127.0.0.1 ", p),
        "VpiMatsushita03: zavUR07.int defines 7 stations",
    };
    EXPECT_EQ(log_.Lines(), expected);
    for (int s : {5, 6}) {
        const StationEntry cleared{};
        EXPECT_EQ(std::memcmp(&At(s), &cleared, sizeof cleared), 0) << s;
    }

    log_.Clear();
    EXPECT_EQ(etl::InitConnections(&request_), 0);
    const std::string fail = "ZavUR: InitConnections(): ConnectSocket() Fail on station ";
    const std::string invalid = std::to_string(etl::plat::ErrorInvalid());
    const Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "ZavUR: station 2 host text \"127.0.0.010\" is no usable IPv4 address");
    EXPECT_EQ(lines[2], fail + "2 rc = " + invalid);
    EXPECT_EQ(lines[3], "ZavUR: station 3 host text \"0x7f.0.0.1\" is no usable IPv4 address");
    EXPECT_EQ(lines[4], fail + "3 rc = " + invalid);
    EXPECT_EQ(lines[6],
              "ZavUR: station 7 host text \"127.000.000.001\" is no usable IPv4 address");
    EXPECT_EQ(lines[7], fail + "7 rc = " + invalid);
    for (int s : {1, 4, 8}) EXPECT_GT(At(s).socket, 0) << s;
    for (int s : {2, 3, 7}) EXPECT_EQ(At(s).socket, etl::kNoSocket) << s;
    for (int s : {5, 6}) EXPECT_EQ(At(s).socket, 0) << s;  // undefined: never tried
    EXPECT_EQ(listener.AcceptAll(), 3);
}

// ---- bounded reading ----------------------------------------------------------

TEST_F(StationFile, OnlyARegularFileIsRead) {
    const Lines refused = {"ZavUR: InitFile zavUR07.int is not a regular file",
                           "VpiMatsushita03: zavUR07.int defines 0 stations"};
    std::filesystem::create_directory(dir_.Path() + "/zavUR07.int");
    EXPECT_EQ(etl::InitFile(&request_), 0);
    EXPECT_EQ(log_.Lines(), refused);
    std::filesystem::remove(dir_.Path() + "/zavUR07.int");
#if !defined(_WIN32)
    // An endless device, and a FIFO that no one writes: refused at once.
    // Should the reader wait for a writer, one comes after three seconds.
    ASSERT_EQ(symlink("/dev/zero", "zavUR07.int"), 0);
    log_.Clear();
    EXPECT_EQ(etl::InitFile(&request_), 0);
    EXPECT_EQ(log_.Lines(), refused);
    std::filesystem::remove(dir_.Path() + "/zavUR07.int");

    ASSERT_EQ(mkfifo("zavUR07.int", 0600), 0);
    std::atomic<bool> done{false};
    std::thread writer([&done] {
        for (int i = 0; i < 300 && !done; ++i) usleep(10000);
        const int fd = open("zavUR07.int", O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    log_.Clear();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(etl::InitFile(&request_), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    done = true;
    writer.join();
    EXPECT_EQ(log_.Lines(), refused);
#endif
}

// Comment lines of exactly `size` bytes (at least 2), none longer than 252.
std::string Filler(std::size_t size) {
    std::string out;
    while (size > 0) {
        const std::size_t n = size > 252 ? 200 : size;
        out += ';' + std::string(n - 2, 'x') + '\n';
        size -= n;
    }
    return out;
}

TEST_F(StationFile, ReadingStopsAtItsBounds) {
    // A line that ends at the byte bound is read; one that crosses it is
    // not, and neither is anything after it. What came before stays.
    const std::string head = "ETLAN-PC99\n01 \"127.0.0.1\" \"501\"\n";
    const std::string last = "02 \"127.0.0.2\" \"502\"\n";
    const auto bound = static_cast<std::size_t>(etl::kMaxStationFileBytes);
    const std::string tooLong = "ZavUR: InitFile zavUR07.int is longer than " +
                                std::to_string(bound) + " bytes, the rest is not read";
    for (std::size_t over : {0u, 1u}) {
        log_.Clear();
        EXPECT_EQ(Read(head + Filler(bound + over - head.size() - last.size()) + last), 0);
        EXPECT_STREQ(At(1).host, "127.0.0.1");
        EXPECT_EQ(At(2).host[0] == '\0', over == 1) << over;
        EXPECT_EQ(log_.Has(tooLong), over == 1) << over;
    }

    // Line 10000 is read, line 10001 is not. 301 defined lines: the count
    // stops at 255 instead of starting again from 0.
    std::string file = "ETLAN-PC99\n";
    for (int i = 0; i < 300; ++i) file += "05 \"127.0.0.5\" \"505\"\n";
    for (int i = 300; i < etl::kMaxStationFileLines - 1; ++i) file += ";\n";
    file += "06 \"127.0.0.6\" \"506\"\n07 \"127.0.0.7\" \"507\"\n";
    log_.Clear();
    EXPECT_EQ(Read(file), 0);
    const Lines lines = log_.Lines();
    ASSERT_EQ(lines.size(), 303u);
    EXPECT_EQ(lines[300], Station(6, "127.0.0.6", "506"));
    EXPECT_EQ(lines[301], "ZavUR: InitFile zavUR07.int has more than " +
                              std::to_string(etl::kMaxStationFileLines) +
                              " lines, the rest is not read");
    EXPECT_EQ(lines[302], "VpiMatsushita03: zavUR07.int defines 255 stations");
    EXPECT_EQ(At(7).host[0], '\0');
}

}  // namespace
