// The memory-area table and the MEWTOCOL-COM command texts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "host/blocks.h"
#include "mewtocol/command_builder.h"
#include "tests/support/test_support.h"

namespace {

using etl::kCommandRead;
using etl::kCommandWrite;

// A logged line, compared without the carriage return that a text-mode log
// file on Windows leaves at its end.
bool Logged(const etl::test::LogCapture& log, const std::string& text) {
    for (std::string line : log.Lines()) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == text) return true;
    }
    return false;
}

// A tag, its value buffer and a context, as the operations set them up.
class Builder : public ::testing::Test {
protected:
    Builder() : context_(std::make_unique<etl::DriverContext>()) {
        tag.plcNumber = 1;
        tag.memoryLetter = 'D';
        tag.bitSize = 16;
        tag.elementCount = 1;
        tag.bitNumber = 255;
        tag.valueBuffer = value;
        context_->valueBase = value;
        context_->valueWord = value + 1;
        request_.context = context_.get();
        request_.params = &tag;
    }

    void Tag(char letter, std::int32_t bitSize, std::int32_t dataType = 0) {
        tag.memoryLetter = letter;
        tag.bitSize = bitSize;
        tag.dataType = dataType;
    }

    // The result and the text; a refused request gives "" after the result.
    std::string Build(int kind, int words, const char* digits, int* result = nullptr) {
        char text[etl::kCommandBufferSize];
        std::memset(text, '?', sizeof text);
        const int rc = etl::SetMewtocolCmd(&request_, kind, words, digits, text);
        if (result != nullptr) *result = rc;
        return (rc == 0 ? "" : "refused:") + std::string(text);
    }
    std::string Read(int words, const char* digits) { return Build(kCommandRead, words, digits); }
    std::string Write(int words, const char* digits) { return Build(kCommandWrite, words, digits); }

    etl::TagIoBlock tag{};
    std::uint16_t value[2] = {};
    etl::test::LogCapture log;

private:
    std::unique_ptr<etl::DriverContext> context_;
    etl::VpiRequest request_{};
};

TEST_F(Builder, ReferenceTexts) {
    EXPECT_EQ(Read(1, "00100"), "%01#RDD0010000100**\r");
    Tag('D', 32, 3);
    EXPECT_EQ(Read(2, "00100"), "%01#RDD0010000101**\r");
    Tag('R', 16);
    EXPECT_EQ(Read(1, "0010"), "%01#RCCR00100010**\r");

    tag.plcNumber = 2;
    tag.elementCount = 10;
    Tag('D', 16);
    EXPECT_EQ(Read(10, "00100"), "%02#RDD0010000109**\r");
    tag.elementCount = 3;
    Tag('D', 32, 3);
    EXPECT_EQ(Read(6, "00100"), "%02#RDD0010000105**\r");

    tag.plcNumber = 1;
    tag.elementCount = 1;
    Tag('D', 16);
    value[1] = 0x1234;
    EXPECT_EQ(Write(1, "00100"), "%01#WDD00100001003412**\r");
    Tag('D', 32, 3);
    value[0] = 0x5678;
    EXPECT_EQ(Write(2, "00100"), "%01#WDD001000010178563412**\r");

    Tag('R', 1, 6);
    tag.addressNumber = 10;
    tag.bitNumber = 5;
    value[1] = 1;
    EXPECT_EQ(Write(1, "0010"), "%01#WCSR0105127\r");
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(Builder, FieldsAndBoundaries) {
    // Block ends keep their field width across a decimal boundary.
    Tag('R', 16);
    EXPECT_EQ(Read(10, "0091"), "%01#RCCR00910100**\r");
    EXPECT_EQ(Read(10, "9990"), "%01#RCCR99909999**\r");
    Tag('D', 16);
    EXPECT_EQ(Read(6, "00995"), "%01#RDD0099501000**\r");
    EXPECT_EQ(Read(1, "99999"), "%01#RDD9999999999**\r");

    // A read ignores the bit size: a contact read reads its whole word.
    Tag('R', 1, 6);
    EXPECT_EQ(Read(1, "0010"), "%01#RCCR00100010**\r");

    // Station field in hexadecimal.
    Tag('D', 16);
    tag.plcNumber = 10;
    EXPECT_EQ(Read(1, "00100"), "%0A#RDD0010000100**\r");
    tag.plcNumber = 64;
    EXPECT_EQ(Read(1, "00100"), "%40#RDD0010000100**\r");

    // Only the low byte of the memory letter is the key.
    tag.plcNumber = 1;
    tag.memoryLetter = 0x100 + 'D';
    EXPECT_EQ(Read(1, "00100"), "%01#RDD0010000100**\r");
}

TEST_F(Builder, IndexRegistersTakeFiveDigitStartAndTheTagsDigits) {
    const std::string keys = "0123456789";
    for (char key : keys) {
        Tag(key, 16);
        value[1] = 0x00FF;
        EXPECT_EQ(Read(1, "0000"), std::string("%01#RDI") + key + "000000000**\r");
        EXPECT_EQ(Write(1, "0000"), std::string("%01#WDI") + key + "000000000FF00**\r");
    }
    Tag('H', 16);
    EXPECT_EQ(Read(1, "0000"), "%01#RDIX000000000**\r");
    Tag('U', 16);
    EXPECT_EQ(Read(1, "0000"), "%01#RDIF000000000**\r");
}

TEST_F(Builder, SingleContactWriteCarriesItsBcc) {
    Tag('R', 1, 6);
    tag.addressNumber = 999;
    tag.bitNumber = 5;
    value[1] = 1;
    EXPECT_EQ(Write(1, "0999"), "%01#WCSR99951" "2F\r");  // upper-case BCC
    Tag('Y', 1, 6);
    tag.plcNumber = 10;
    tag.bitNumber = 15;
    value[1] = 0xFF00;  // only the low byte is the contact's state
    EXPECT_EQ(Write(1, "0999"), "%0A#WCSY999F0" "26\r");
    Tag('L', 1, 6);
    tag.plcNumber = 64;
    tag.addressNumber = 0;
    tag.bitNumber = 10;
    value[1] = 1;
    EXPECT_EQ(Write(1, "0000"), "%40#WCSL000A1" "49\r");
}

TEST_F(Builder, RefusalsOfTheTable) {
    int rc = 0;
    for (int kind : {kCommandRead, kCommandWrite}) {
        log.Clear();
        Tag('E', 16);
        EXPECT_EQ(Build(kind, 1, "00100", &rc), "refused:");
        EXPECT_EQ(rc, 1);
        EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Cmd not found E"));
    }
    for (char letter : {'X', 'T', 'C'}) {
        for (std::int32_t bitSize : {1, 16}) {
            log.Clear();
            Tag(letter, bitSize);
            tag.bitNumber = 0;
            EXPECT_EQ(Write(1, "0010"), "refused:");
            EXPECT_TRUE(Logged(log, std::string("ZOVUZ: SetMewtocolCmd() Write to memory type ") +
                                letter + " not allowed"));
        }
        EXPECT_EQ(Read(1, "0010"), std::string("%01#RCC") + letter + "00100010**\r");
    }
}

TEST_F(Builder, FieldsThatDoNotFitAreRefused) {
    const std::string outOfRange = "ZOVUZ: SetMewtocolCmd() Address out of range for memory type ";
    Tag('R', 16);
    EXPECT_EQ(Read(11, "9990"), "refused:");        // end 10000
    EXPECT_EQ(Read(1, "12345"), "refused:");        // start wider than its field
    EXPECT_EQ(Read(INT_MAX, "0000"), "refused:");
    EXPECT_TRUE(Logged(log, outOfRange + "R"));
    Tag('D', 16);
    EXPECT_EQ(Read(2, "99999"), "refused:");        // end 100000
    EXPECT_EQ(Read(INT_MAX, "99999"), "refused:");
    EXPECT_EQ(Read(1, "-0001"), "refused:");
    EXPECT_EQ(Read(2, "99999999999999999999999"), "refused:");
    EXPECT_EQ(Read(1, "0100X"), "refused:");        // a word end field is digits only
    EXPECT_EQ(Read(1, ""), "refused:");
    EXPECT_EQ(Read(1, std::string(300, '0').c_str()), "refused:");
    EXPECT_TRUE(Logged(log, outOfRange + "D"));

    log.Clear();
    tag.plcNumber = 256;
    EXPECT_EQ(Read(1, "00100"), "refused:");
    tag.plcNumber = -1;
    EXPECT_EQ(Read(1, "00100"), "refused:");
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() PLC number -1 out of range"));

    tag.plcNumber = 1;
    for (std::int32_t count : {0, -1, INT_MIN}) {
        tag.elementCount = count;
        EXPECT_EQ(Read(1, "00100"), "refused:");
        EXPECT_EQ(Write(1, "00100"), "refused:");
    }
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Element count 0 not allowed"));
    tag.elementCount = 1;
    EXPECT_EQ(Read(0, "00100"), "refused:");
    EXPECT_EQ(Read(-5, "00100"), "refused:");
}

TEST_F(Builder, ContactWritesOutsideTheirFieldsAreRefused) {
    Tag('R', 1, 6);
    value[1] = 1;
    tag.bitNumber = 5;
    tag.addressNumber = 1000;
    EXPECT_EQ(Write(1, "1000"), "refused:");
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Address out of range for memory type R"));
    tag.addressNumber = 10;
    for (std::uint32_t bit : {16u, 255u, 0xFFFFFFFFu}) {
        tag.bitNumber = bit;
        EXPECT_EQ(Write(1, "0010"), "refused:") << bit;
    }
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Bit number 16 out of range"));
    tag.bitNumber = 5;
    for (std::uint16_t state : {2, 9, 10, 255}) {
        value[1] = state;
        EXPECT_EQ(Write(1, "0010"), "refused:") << state;
    }
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Contact value 2 not allowed"));
    value[1] = 0;
    EXPECT_EQ(Write(1, "0010"), "%01#WCSR01050" "26\r");
}

TEST_F(Builder, WritesCarryExactlyOneValue) {
    // Sizes without a data field, and word counts that disagree with the
    // size, are refused (a 32-bit value with one word would never finish).
    value[0] = 0x5678;
    value[1] = 0x1234;
    for (std::int32_t bitSize : {0, 8, 15, 17, 64, -1}) {
        Tag('D', bitSize);
        EXPECT_EQ(Write(1, "00100"), "refused:") << bitSize;
        EXPECT_EQ(Write(2, "00100"), "refused:") << bitSize;
    }
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Bit size 8 not allowed"));
    Tag('D', 32, 3);
    EXPECT_EQ(Write(1, "00100"), "refused:");
    Tag('D', 16);
    EXPECT_EQ(Write(2, "00100"), "refused:");
    EXPECT_TRUE(Logged(log, "ZOVUZ: SetMewtocolCmd() Word count 2 not allowed"));

    // The element count does not widen a write's range.
    tag.elementCount = 5;
    EXPECT_EQ(Write(1, "00100"), "%01#WDD00100001003412**\r");
    // A 32-bit tag of another data type (the "_D" suffix) covers both words,
    // and the suffix never reaches the command.
    Tag('D', 32, 0);
    EXPECT_EQ(Write(2, "00100_D"), "%01#WDD001000010178563412**\r");
    Tag('R', 16);
    EXPECT_EQ(Read(1, "0010_DXYZ"), "%01#RCCR00100010**\r");
}

TEST_F(Builder, DataLinkRegistersAreWrittenWithWdl) {
    Tag('G', 32, 0);
    value[0] = 0x5678;
    value[1] = 0x1234;
    EXPECT_EQ(Read(2, "00010"), "%01#RDL0001000011**\r");
    EXPECT_EQ(Write(2, "00010"), "%01#WDL000100001178563412**\r");
}

TEST(MemoryAreas, TableAndLookup) {
    // Every key in table order; the five-digit ones; the read-only ones.
    const std::string keys = "XYRLGDTCVSFHI0123456789MNOPQU";
    const std::string fiveDigits = "GDFHI0123456789MNOPQU";
    std::string found;
    for (int i = 0; etl::MemoryAreaTable[i].key != '\0'; ++i) {
        const etl::MemoryArea& a = etl::MemoryAreaTable[i];
        found += a.key;
        EXPECT_EQ(etl::FindMemoryArea(a.key), i);
        EXPECT_EQ(a.width, fiveDigits.find(a.key) != std::string::npos ? 5 : 4) << a.key;
        EXPECT_EQ(a.write[0] == '\0', a.key == 'X' || a.key == 'T' || a.key == 'C') << a.key;
    }
    EXPECT_EQ(found, keys);
    for (int letter : std::initializer_list<int>{'A', 'B', 'E', 'J', 'K', 'W', 'Z', 'd', 0, 0x144}) {
        EXPECT_EQ(etl::FindMemoryArea(letter), -1) << letter;
    }
    EXPECT_STREQ(etl::MemoryAreaTable[etl::FindMemoryArea('G')].write, "WDL");
    EXPECT_STREQ(etl::MemoryAreaTable[etl::FindMemoryArea('M')].read, "RDIA");
}

TEST(CommandHelpers, WordToHexBccAndTheGField) {
    char hex[5];
    const std::pair<std::uint16_t, const char*> words[] = {
        {0x1234, "3412"}, {100, "6400"}, {0xABCD, "CDAB"}};
    for (const auto& [v, text] : words) {
        etl::WordToHex(v, hex);
        EXPECT_STREQ(hex, text);
    }
    EXPECT_EQ(etl::ComputeBcc("%01#WCSR01051", 13), 0x27);
    EXPECT_EQ(etl::ComputeBcc("%01#WCSR01051", 0), 0);

    etl::TagIoBlock tag{};
    tag.memoryLetter = 'G';
    EXPECT_TRUE(etl::IsDoubleWord(tag));
    tag.memoryLetter = 0x100 + 'G';  // the whole field is compared
    EXPECT_FALSE(etl::IsDoubleWord(tag));
}

}  // namespace
