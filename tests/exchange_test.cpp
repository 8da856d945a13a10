// Reads and writes end to end: VpiMain -> command -> ET-LAN frame -> the
// simulated PLC -> answer -> value buffer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/blocks.h"
#include "host/vpi.h"
#include "mewtocol/operations.h"
#include "tests/support/test_support.h"
#include "tools/sim/simulator.h"

namespace {

using namespace std::chrono;
using etl::TagIoBlock;
using etl::VpiRequest;

constexpr int kDriver = 7;
constexpr int kOwnStation = 10;

// A started driver instance whose stations 1 and 2 are simulated PLCs and
// whose station 3 points at a port where nothing listens.
class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(sim_.AddStation(1), 0);
        ASSERT_GT(sim_.AddStation(2), 0);
        ASSERT_TRUE(sim_.Start());
        std::string file = "ETLAN-PC" + std::to_string(kOwnStation) + "\n";
        file += "01 \"127.0.0.1\" \"" + std::to_string(sim_.Port(1)) + "\"\n";
        file += "02 \"127.0.0.1\" \"" + std::to_string(sim_.Port(2)) + "\"\n";
        file += "03 \"127.0.0.1\" \"1\"\n";
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
