// Reads and writes end to end: VpiMain -> command -> ET-LAN frame -> the
// simulated PLC -> answer -> value buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/blocks.h"
#include "host/vpi.h"
#include "mewtocol/operations.h"
#include "tests/support/driver_instance.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/test_support.h"
#include "tools/sim/simulator.h"

namespace {

using namespace std::chrono;
using etl::TagIoBlock;
using etl::VpiRequest;

constexpr int kDriver = 7;
constexpr int kOwnStation = 20;

// A started driver instance whose stations 1 and 2 are simulated PLCs and
// whose station 3 points at a port where nothing listens.
class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(sim_.AddStation(1), 0);
        ASSERT_GT(sim_.AddStation(2), 0);
        ASSERT_GT(sim_.AddStation(10), 0);
        ASSERT_TRUE(sim_.Start());
        std::string file = "ETLAN-PC" + std::to_string(kOwnStation) + "\n";
        file += "01 \"127.0.0.1\" \"" + std::to_string(sim_.Port(1)) + "\"\n";
        file += "02 \"127.0.0.1\" \"" + std::to_string(sim_.Port(2)) + "\"\n";
        file += "03 \"127.0.0.1\" \"1\"\n";
        file += "10 \"127.0.0.1\" \"" + std::to_string(sim_.Port(10)) + "\"\n";
        dir_.Write("zavUR07.int", file);

        context_.assign(sizeof(etl::DriverContext) + 16, 0);
        etl::StartBlock start{};
        std::strcpy(start.name, "EXCHANGE");
        start.enable = 1;
        ASSERT_EQ(Call(1, &start), 0);
    }

    void TearDown() override { Call(11, nullptr); }

    std::int32_t Call(std::uint32_t code, void* params) {
        VpiRequest r{};
        r.context = context_.data();
        r.functionCode = code;
        r.driverNumber = kDriver;
        r.params = params;
        return VpiMain(&r);
    }

    // A tag as the address check leaves it, ready for codes 5, 6 and 7.
    TagIoBlock Tag(const char* text, int dataType = 0, int count = 1, std::uint32_t checkCode = 3) {
        etl::TagAddressBlock check{};
        check.addressText = const_cast<char*>(text);
        check.dataType = dataType;
        check.elementCount = count;
        EXPECT_EQ(Call(checkCode, &check), 0) << text;
        TagIoBlock tag{};
        tag.addressText = text;
        tag.plcNumber = check.plcNumber;
        tag.memoryLetter = check.memoryLetter;
        tag.addressNumber = check.addressNumber;
        tag.bitNumber = check.bitNumber;
        tag.bitSize = check.bitSize;
        tag.dataType = dataType;
        tag.elementCount = count;
        tag.valueBuffer = buffer_;
        return tag;
    }

    std::uint16_t U16(int offset) const {
        std::uint16_t v;
        std::memcpy(&v, buffer_ + offset, 2);
        return v;
    }
    std::uint32_t U32(int offset) const {
        std::uint32_t v;
        std::memcpy(&v, buffer_ + offset, 4);
        return v;
    }
    void Put16(int offset, std::uint16_t v) { std::memcpy(buffer_ + offset, &v, 2); }
    void Put32(int offset, std::uint32_t v) { std::memcpy(buffer_ + offset, &v, 4); }

    // The command text of the last frame the station received.
    std::string LastText(int station) const { return sim_.LastRequest(station).substr(12); }

    etl::sim::Simulator sim_;
    etl::test::TempDir dir_;
    etl::test::LogCapture log_;
    std::vector<std::uint8_t> context_;
    std::uint8_t buffer_[256] = {};
};

TEST_F(Exchange, ReadsDecodeIntoTheHostsValueBuffer) {
    sim_.SetWord('D', 100, 0x5678);
    sim_.SetWord('D', 101, 0x1234);
    sim_.SetWord('R', 10, 0x0020);

    TagIoBlock word = Tag("01D00100");
    std::memset(buffer_, 0xEE, sizeof buffer_);
    ASSERT_EQ(Call(5, &word), 0);
    EXPECT_EQ(LastText(1), "%01#RDD0010000100**\r");
    EXPECT_EQ(U16(0), 0);
    EXPECT_EQ(U16(2), 0x5678);
    EXPECT_EQ(buffer_[4], 0xEE);  // nothing beyond the four bytes

    TagIoBlock dword = Tag("01D00100", 3);
    ASSERT_EQ(Call(5, &dword), 0);
    EXPECT_EQ(LastText(1), "%01#RDD0010000101**\r");
    EXPECT_EQ(U32(0), 0x12345678u);  // low word first

    // The "_D" suffix makes a 32-bit value of a tag of any data type.
    char suffixed[] = "01D00100_D";
    TagIoBlock wide = Tag(suffixed, 1, 1, 4);
    ASSERT_EQ(wide.bitSize, 32);
    ASSERT_EQ(Call(5, &wide), 0);
    EXPECT_EQ(LastText(1), "%01#RDD0010000101**\r");
    EXPECT_EQ(U32(0), 0x12345678u);

    TagIoBlock bit = Tag("01R00105", 6);
    ASSERT_EQ(Call(5, &bit), 0);
    EXPECT_EQ(LastText(1), "%01#RCCR00100010**\r");
    EXPECT_EQ(U16(2), 1);
    TagIoBlock bit4 = Tag("01R00104", 6);
    ASSERT_EQ(Call(5, &bit4), 0);
    EXPECT_EQ(U16(2), 0);
    // The check accepts the bit digit in either case, and so does the read.
    sim_.SetWord('R', 10, 0x0400);
    TagIoBlock bitA = Tag("01r0010a", 6);
    ASSERT_EQ(Call(5, &bitA), 0);
    EXPECT_EQ(U16(2), 1);
}

TEST_F(Exchange, BlocksFillTwoOrFourBytesPerElement) {
    for (int i = 0; i < 10; ++i) sim_.SetWord('D', 100 + i, static_cast<std::uint16_t>(0x1100 + i));
    TagIoBlock block = Tag("02D00100", 0, 10);
    ASSERT_EQ(Call(6, &block), 0);
    EXPECT_EQ(LastText(2), "%02#RDD0010000109**\r");
    for (int i = 0; i < 10; ++i) EXPECT_EQ(U16(2 * i), 0x1100 + i) << i;

    TagIoBlock dwords = Tag("02D00100", 3, 3);
    ASSERT_EQ(Call(6, &dwords), 0);
    EXPECT_EQ(LastText(2), "%02#RDD0010000105**\r");
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t want = (0x1100u + 2 * i) | ((0x1100u + 2 * i + 1) << 16);
        EXPECT_EQ(U32(4 * i), want) << i;
    }
}

TEST_F(Exchange, WritesCarryTheValueFromTheBuffer) {
    TagIoBlock word = Tag("01D00100");
    Put16(2, 0x1234);
    ASSERT_EQ(Call(7, &word), 0);
    EXPECT_EQ(LastText(1), "%01#WDD00100001003412**\r");
    EXPECT_EQ(sim_.Word('D', 100), 0x1234);

    TagIoBlock dword = Tag("01D00100", 3);
    Put32(0, 0x12345678);
    ASSERT_EQ(Call(7, &dword), 0);
    EXPECT_EQ(LastText(1), "%01#WDD001000010178563412**\r");
    EXPECT_EQ(sim_.Word('D', 100), 0x5678);
    EXPECT_EQ(sim_.Word('D', 101), 0x1234);

    char suffixed[] = "01D00200_D";
    TagIoBlock wide = Tag(suffixed, 1, 1, 4);
    Put32(0, 0x0A0B0C0D);
    ASSERT_EQ(Call(7, &wide), 0);
    EXPECT_EQ(LastText(1), "%01#WDD00200002010D0C0B0A**\r");
    EXPECT_EQ(sim_.Word('D', 201), 0x0A0B);

    TagIoBlock contact = Tag("01R00105", 6);
    sim_.SetWord('R', 10, 0);
    Put16(2, 1);
    ASSERT_EQ(Call(7, &contact), 0);
    EXPECT_EQ(LastText(1), "%01#WCSR0105127\r");
    EXPECT_EQ(sim_.Word('R', 10), 0x0020);
    // Read back through the driver.
    ASSERT_EQ(Call(5, &contact), 0);
    EXPECT_EQ(U16(2), 1);
}

TEST_F(Exchange, FrameHeaderCarriesLengthAndBothStations) {
    TagIoBlock word = Tag("01D00100");
    ASSERT_EQ(Call(5, &word), 0);
    const std::string frame = sim_.LastRequest(1);
    ASSERT_EQ(frame.size(), 32u);
    const std::uint8_t want[12] = {0x10, 0, 20, 0, 0, 0, 0, 0, 0, 0, 1, kOwnStation};
    EXPECT_EQ(std::memcmp(frame.data(), want, 12), 0);
}

TEST_F(Exchange, RetriesAfterATimeoutAndGivesUpOnNegativeAnswers) {
    sim_.SetWord('D', 5, 77);
    TagIoBlock word = Tag("01D00005");

    etl::sim::Faults drop;
    drop.dropAnswers = 1;
    sim_.SetFaults(1, drop);
    int before = sim_.Requests(1);
    ASSERT_EQ(Call(5, &word), 0);
    EXPECT_EQ(sim_.Requests(1) - before, 2);
    EXPECT_EQ(U16(2), 77);

    etl::sim::Faults negative;
    negative.negativeAnswers = 3;
    sim_.SetFaults(1, negative);
    before = sim_.Requests(1);
    EXPECT_EQ(Call(5, &word), 1);
    EXPECT_EQ(sim_.Requests(1) - before, 3);
    EXPECT_EQ(U16(2), 0);  // a failed read leaves zeros
    ASSERT_EQ(Call(5, &word), 0);  // and the station answers again afterwards
}

TEST_F(Exchange, UnconnectedStationFailsAndRefusedCommandsSendNothing) {
    TagIoBlock none = Tag("03D00100");
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Call(5, &none), 2);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(7000));

    TagIoBlock unknown = Tag("01E0010");  // E is no memory area
    const int before = sim_.Requests(1);
    EXPECT_EQ(Call(5, &unknown), 1);
    EXPECT_TRUE(log_.Has("ZOVUZ: SetMewtocolCmd() Cmd not found E"));
    TagIoBlock input = Tag("01X0001");
    EXPECT_EQ(Call(7, &input), 1);
    EXPECT_EQ(sim_.Requests(1), before);
}

// An answer must be complete, for this station and this request before its
// data are believed; nothing of an earlier answer may stand in for it.
TEST_F(Exchange, IncompleteOrForeignAnswersNeverPassAsSuccess) {
    sim_.SetWord('D', 100, 0x1111);
    TagIoBlock word = Tag("01D00100");
    ASSERT_EQ(Call(5, &word), 0);  // leaves a good answer in the receive area
    sim_.SetWord('D', 100, 0x2222);

    etl::sim::Faults slow;  // the first five bytes, then the rest far too late
    slow.pieceBytes = 5;
    slow.piecePauseMs = 1500;
    sim_.SetFaults(1, slow);
    EXPECT_EQ(Call(5, &word), 2);
    EXPECT_EQ(U16(2), 0);

    sim_.SetFaults(1, {});
    sim_.RestartStation(1);
    etl::WarmStartBlock warm{1};
    ASSERT_EQ(Call(2, &warm), 0);

    etl::sim::Faults pieces;  // pieces that arrive in time are put together
    pieces.pieceBytes = 3;
    pieces.piecePauseMs = 20;
    sim_.SetFaults(1, pieces);
    ASSERT_EQ(Call(5, &word), 0);
    EXPECT_EQ(U16(2), 0x2222);

    etl::sim::Faults foreign;
    foreign.wrongStation = 2;
    sim_.SetFaults(1, foreign);
    EXPECT_EQ(Call(5, &word), 1);

    etl::sim::Faults big;
    big.oversizedAnswer = true;
    sim_.SetFaults(1, big);
    EXPECT_EQ(Call(5, &word), 1);

    etl::sim::Faults junk;
    junk.garbage = true;
    sim_.SetFaults(1, junk);
    EXPECT_NE(Call(5, &word), 0);
    EXPECT_EQ(U16(2), 0);
}

TEST_F(Exchange, RequestsThatCannotBeServedAreRefusedBeforeSending) {
    const int before = sim_.Requests(1) + sim_.Requests(2);
    TagIoBlock word = Tag("01D00100");
    word.plcNumber = 65;
    EXPECT_EQ(Call(5, &word), 1);
    word.plcNumber = -1;
    EXPECT_EQ(Call(7, &word), 1);

    TagIoBlock block = Tag("01D00100", 0, 10);
    block.elementCount = 0;
    EXPECT_EQ(Call(6, &block), 1);
    block.elementCount = -5;
    EXPECT_EQ(Call(6, &block), 1);
    TagIoBlock huge = Tag("01D00100", 3, 27);
    huge.elementCount = 300;  // 600 words: more than the receive area holds
    EXPECT_EQ(Call(6, &huge), 1);

    TagIoBlock bits = Tag("01R00105", 6, 4);
    EXPECT_EQ(Call(6, &bits), 1);  // a block of bits is not decoded
    EXPECT_EQ(sim_.Requests(1) + sim_.Requests(2), before);
}

TEST_F(Exchange, SingleValueOperationsCoverOneValueWhateverTheCount) {
    TagIoBlock word = Tag("01D00100", 0, 5);
    ASSERT_EQ(Call(5, &word), 0);
    EXPECT_EQ(LastText(1), "%01#RDD0010000100**\r");
    Put16(2, 0xBEEF);
    ASSERT_EQ(Call(7, &word), 0);
    EXPECT_EQ(LastText(1), "%01#WDD0010000100EFBE**\r");
    EXPECT_EQ(word.elementCount, 5);  // the host's block is left as it was
}

// A unit may forward a long answer in parts of at most 118 characters: every
// block the receive area can hold is joined from them, every value in place,
// nothing written beyond the values asked for.
TEST_F(Exchange, AnswersInPartsJoinForEveryBlockSize) {
    sim_.SetSplit(1, 118);
    constexpr int kBase = 1000;
    for (int i = 0; i < 1024; ++i) {
        sim_.SetWord('D', kBase + i, static_cast<std::uint16_t>(0x9E37u + 40503u * static_cast<unsigned>(i)));
    }
    std::vector<std::uint8_t> values(4 * 509 + 8);
    auto word = [&](int i) {
        std::uint16_t v;
        std::memcpy(&v, values.data() + 2 * i, 2);
        return v;
    };
    TagIoBlock words = Tag("01D01000");
    words.valueBuffer = values.data();
    TagIoBlock dwords = Tag("01D01000", 3);
    dwords.valueBuffer = values.data();
    for (int pass = 0; pass < 2; ++pass) {
        TagIoBlock& block = pass == 0 ? words : dwords;
        const int perElement = pass == 0 ? 1 : 2;
        const int maxCount = pass == 0 ? 509 : 254;
        for (int count = 1; count <= maxCount; ++count) {
            block.elementCount = count;
            std::fill(values.begin(), values.end(), 0xEE);
            const int before = sim_.Requests(1);
            ASSERT_EQ(Call(6, &block), 0) << count << " elements of " << block.bitSize << " bits";
            const int n = count * perElement;
            // "%01$RD" + data + BCC + CR: more than 118 characters come in parts.
            ASSERT_EQ(sim_.Requests(1) - before > 1, 6 + 4 * n + 3 > 118) << n;
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(word(i), sim_.Word('D', kBase + i)) << n << " words, word " << i;
            }
            ASSERT_EQ(values[2 * static_cast<std::size_t>(n)], 0xEE) << n;
        }
    }
}

// The station field of an answer may be hexadecimal, as the request writes
// it, or decimal, as the protocol's manuals write it: station 10 is 0A or 10.
TEST_F(Exchange, StationTenMayAnswerInEitherForm) {
    sim_.SetWord('D', 7, 0x4242);
    TagIoBlock word = Tag("10D00007");
    for (auto field : {etl::sim::StationField::kHex, etl::sim::StationField::kDecimal}) {
        sim_.SetStationField(10, field);
        std::memset(buffer_, 0, sizeof buffer_);
        ASSERT_EQ(Call(5, &word), 0);
        EXPECT_EQ(LastText(10), "%0A#RDD0000700007**\r");
        EXPECT_EQ(U16(2), 0x4242);
    }
}

// A unit that takes requests only with the station field in decimal gets
// it so from a station line that says station-field=decimal: commands,
// next-part requests and a contact write with its check code.
TEST_F(Exchange, StationFieldDecimalForAUnitThatTakesNothingElse) {
    dir_.Write("zavUR08.int", "ETLAN-PC" + std::to_string(kOwnStation) + "\n10 \"127.0.0.1\" \"" +
                                  std::to_string(sim_.Port(10)) + "\" station-field=decimal\n");
    etl::test::DriverInstance strict(8);
    ASSERT_EQ(strict.Start(), 0);
    sim_.SetStationField(10, etl::sim::StationField::kDecimal, true);
    sim_.SetSplit(10, 20);
    for (int i = 0; i < 4; ++i) sim_.SetWord('D', 7 + i, static_cast<std::uint16_t>(0x4240 + i));
    TagIoBlock block{};
    ASSERT_EQ(strict.Check("10D00007", 0, 4, buffer_, &block), 0);
    ASSERT_EQ(strict.Call(6, &block), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(U16(2 * i), 0x4240 + i) << i;
    EXPECT_EQ(LastText(10), "%10**&\r");
    TagIoBlock contact{};
    ASSERT_EQ(strict.Check("10R00105", 6, 1, buffer_, &contact), 0);
    Put16(2, 1);
    ASSERT_EQ(strict.Call(7, &contact), 0);
    EXPECT_EQ(LastText(10), "%10#WCSR0105127\r");
    EXPECT_EQ(sim_.Word('R', 10) & 0x20, 0x20);
}

// A station that stops answering rests: its requests fail at once, with
// nothing on the wire, and the connection that may still bring the late
// answers is closed. The host's WarmStart ends the rest; the next request
// tries the station again, and its recovery is logged once.
TEST_F(Exchange, ASilentStationRestsUntilWarmStart) {
    sim_.SetWord('D', 5, 77);
    TagIoBlock word = Tag("01D00005");
    ASSERT_EQ(Call(5, &word), 0);
    log_.Clear();

    etl::sim::Faults stuck;
    stuck.dropAnswers = -1;
    sim_.SetFaults(1, stuck);
    EXPECT_EQ(Call(5, &word), 2);  // three attempts on one connection, then closed
    const int requests = sim_.Requests(1);
    EXPECT_EQ(requests, 4);
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Call(5, &word), 2);  // resting: at once
    EXPECT_LT(steady_clock::now() - t0, milliseconds(100));
    EXPECT_EQ(sim_.Requests(1), requests);

    sim_.SetFaults(1, {});
    etl::WarmStartBlock warm{1};
    ASSERT_EQ(Call(2, &warm), 0);
    ASSERT_EQ(Call(5, &word), 0);
    EXPECT_EQ(U16(2), 77);
    const std::vector<std::string> want = {
        "ZavUR: station 1 fails: no answer within 1000 ms to %01#RDD0000500005**; resting 5 s",
        "ZavUR: WarmStart() Pass station 1 ConnectSocket() rc = 0",
        "ZavUR: station 1 answers again after 1 failed exchanges, 1 request(s) refused at once "
        "while it rested"};
    EXPECT_EQ(log_.Lines(), want);
}

// One tag that the PLC refuses among good ones is reported once, with the
// PLC's error code and the command, and not again on every round.
TEST_F(Exchange, ARefusedCommandIsLoggedOnce) {
    TagIoBlock good = Tag("01D00005");
    TagIoBlock bad = Tag("01D40000");  // past the end of the PLC's data registers
    log_.Clear();
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Call(5, &bad), 1);
        EXPECT_EQ(Call(5, &good), 0);
    }
    const std::vector<std::string> want = {
        "ZavUR: station 1 fails: PLC error 61 (data error: address or value out of range) to "
        "%01#RDD4000040000**"};
    EXPECT_EQ(log_.Lines(), want);
}

// A block whose elements are neither 16 nor 32 bits wide, and a bit digit
// past F, cannot be decoded: they are refused with a log line before
// anything is sent (never a made-up 0 as success), and nothing lands past
// the host's buffer.
TEST_F(Exchange, RequestsThatCannotBeDecodedAreRefused) {
    const int before = sim_.Requests(1);
    for (const char* text : {"01R0010G", "01R0010Z"}) {
        TagIoBlock bit = Tag(text, 6);
        EXPECT_EQ(Call(5, &bit), 1) << text;
    }
    EXPECT_TRUE(log_.Has("ZOVUZ: SetMewtocolCmd() Bit number 16 out of range"));
    EXPECT_TRUE(log_.Has("ZOVUZ: SetMewtocolCmd() Bit number 35 out of range"));
    for (int bits : {0, 1, 8, 24}) {
        TagIoBlock block = Tag("01D00100");
        block.bitSize = bits;
        block.elementCount = 4;
        const std::size_t size = 4 * static_cast<std::size_t>((bits + 7) / 8);
        std::vector<std::uint8_t> values(size + 8, 0xEE);
        block.valueBuffer = values.data();
        EXPECT_EQ(Call(6, &block), 1) << bits;
        EXPECT_TRUE(log_.Has("ZOVUZ: SetMewtocolCmd() Bit size " + std::to_string(bits) + " not allowed"));
        for (std::size_t i = 4; i < values.size(); ++i) EXPECT_EQ(values[i], 0xEE) << bits << " " << i;
    }
    EXPECT_EQ(sim_.Requests(1), before);
}

// A PLC of the tests' own that answers each request with the next text of
// a script (each behind its 12-byte header), as a unit might answer that
// the simulator does not imitate.
class ScriptedPlc {
public:
    explicit ScriptedPlc(std::vector<std::string> answers) : answers_(std::move(answers)) {}
    ~ScriptedPlc() {
        if (thread_.joinable()) thread_.join();
    }
    std::uint16_t Port() const { return peer_.Port(); }
    void Run() {
        thread_ = std::thread([this] {
            const etl::test::PeerSocket s = peer_.Accept(5000);
            if (s == etl::test::kNoPeer) return;
            for (const std::string& text : answers_) {
                const std::string header = etl::test::PeerReceive(s, 12, 5000);
                if (header.size() != 12) return;
                const std::size_t length = static_cast<std::uint8_t>(header[2]) |
                                           (static_cast<std::size_t>(static_cast<std::uint8_t>(header[3])) << 8);
                requests_.push_back(etl::test::PeerReceive(s, length, 5000));
                std::string frame = {0x10, 0, static_cast<char>(text.size()), 0, 0, 0, 0, 0, 0, 0,
                                     header[11], header[10]};
                etl::test::PeerSend(s, frame + text);
            }
        });
    }
    // The command texts received; read after the driver's call returned.
    const std::vector<std::string>& Requests() {
        if (thread_.joinable()) thread_.join();
        return requests_;
    }

private:
    struct SocketsStarted {  // the peer's sockets need the library started (Winsock)
        SocketsStarted() { etl::testnet::NetStart(); }
        ~SocketsStarted() { etl::testnet::NetStop(); }
    } sockets_;
    etl::test::LoopbackPeer peer_;
    std::vector<std::string> answers_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

std::string WithBcc(const std::string& text, const char* end = "\r") {
    std::uint8_t bcc = 0;
    for (char c : text) bcc ^= static_cast<std::uint8_t>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", bcc);
    return text + hex + end;
}

// Answers that are well formed but not the answer to this request, or whose
// parts do not add up, are judged negative on every attempt; the parts of a
// good answer are asked for with "%01**&".
TEST(ExchangeAnswers, OnlyTheAnswerToThisRequestCounts) {
    etl::test::TempDir dir;
    etl::test::LogCapture log;
    struct Case {
        std::vector<std::string> answers;
        int result;
        const char* why;
    } cases[] = {
        {{WithBcc("%01$WD"), WithBcc("%01$RC3412"), WithBcc("%01$RS3412")}, 1, "the code of another command"},
        {{WithBcc("%01$RD3412", "&\r"), WithBcc("%01", "\r")}, 0, nullptr},  // a last part without data
        {{WithBcc("%01$RD34", "&\r"), WithBcc("%0112", "\r")}, 0, nullptr},  // split inside a word
        // Too many parts; an error answer to the next-part request; a
        // continued part without data.
        {{WithBcc("%01$RD34", "&\r"), WithBcc("%0112", "&\r"), WithBcc("%0100"),
          WithBcc("%01$RD34", "&\r"), WithBcc("%01!43"), WithBcc("%01$RD", "&\r")},
         1, "more data than asked for"},
    };
    for (const Case& c : cases) {
        ScriptedPlc plc(c.answers);
        dir.Write("zavUR07.int", etl::test::StationFile(10, {{1, plc.Port()}}));
        etl::test::DriverInstance driver(7);
        plc.Run();
        ASSERT_EQ(driver.Start(), 0);
        std::uint8_t values[8] = {};
        TagIoBlock tag{};
        ASSERT_EQ(driver.Check("01D00100", 0, 1, values, &tag), 0);
        log.Clear();
        EXPECT_EQ(driver.Call(etl::test::kReadValue, &tag), c.result) << c.answers[0];
        if (c.result == 0) {
            std::uint16_t v;
            std::memcpy(&v, values + 2, 2);
            EXPECT_EQ(v, 0x1234);
            EXPECT_EQ(plc.Requests().at(1), "%01**&\r");
        } else {
            const std::string want = std::string("ZavUR: station 1 fails: ") + c.why +
                                     " in the answer to %01#RDD0010000100**";
            EXPECT_TRUE(log.Has(want)) << want;
        }
        driver.End();
        plc.Requests();
    }
}

TEST(Decoding, HexWordsAndBits) {
    EXPECT_EQ(etl::HexToWord("3412"), 0x1234);
    EXPECT_EQ(etl::HexToWord("CDAB"), 0xABCD);
    EXPECT_EQ(etl::HexToWord("ab12"), 0x1200);
    EXPECT_EQ(etl::HexToWord("34\0\0"), 0);
    EXPECT_EQ(etl::BitTest(0x8000, 15), 1);
    EXPECT_EQ(etl::BitTest(0xFFFF, 16), 0);
    char digits[8];
    etl::AddressDigits("0150000", digits, sizeof digits);
    EXPECT_STREQ(digits, "0000");
    etl::AddressDigits("01", digits, sizeof digits);  // never past the text's end
    EXPECT_STREQ(digits, "");
    etl::AddressDigits("01D0010000100", digits, sizeof digits);
    EXPECT_STREQ(digits, "0010000");
}

}  // namespace
