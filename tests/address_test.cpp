// The tag address check through VpiMain (codes 3 and 4), grouped by rule.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "address/parser.h"
#include "host/blocks.h"
#include "host/vpi.h"
#include "tests/support/test_support.h"

namespace {

using etl::TagAddressBlock;

constexpr std::uint32_t kCheck = 3;
constexpr std::uint32_t kCheckD = 4;
constexpr std::int32_t kUntouched = 0x5A5A5A5A;
const char kLogLine[] = "MA: invalid chars in address";

// A logged line, compared without the carriage return that a text-mode log
// file on Windows leaves at its end.
bool Logged(const etl::test::LogCapture& log, const std::string& text) {
    for (std::string line : log.Lines()) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == text) return true;
    }
    return false;
}

struct Outcome {
    std::int32_t result;
    TagAddressBlock block;
    std::string text;  // the host's text after the call
};

// One check with a null context, as the host may send it before ColdStart.
Outcome Check(std::uint32_t code, const std::string& text, std::int32_t dataType = 0,
              std::int32_t count = 1) {
    std::vector<char> host(text.begin(), text.end());
    host.push_back('\0');
    TagAddressBlock block;
    std::memset(&block, 0x5A, sizeof block);
    block.addressText = host.data();
    block.dataType = dataType;
    block.elementCount = count;
    etl::VpiRequest request{};
    request.functionCode = code;
    request.params = &block;
    const std::int32_t result = VpiMain(&request);
    return {result, block, std::string(host.data())};
}

struct Valid {
    const char* text;
    std::int32_t dataType;
    std::int32_t plc;
    char letter;
    std::uint32_t address;
    std::uint32_t bit;
    std::int32_t bitSize;
};

TEST(AddressCheck, ValidFormsFillEveryField) {
    const Valid cases[] = {
        {"01D00100", 0, 1, 'D', 100, 255, 16},   {"01F00100", 4, 1, 'F', 100, 255, 32},
        {"01G00010", 3, 1, 'G', 10, 255, 32},    {"02Y0010", 0, 2, 'Y', 10, 255, 16},
        {"02Y0010", 5, 2, 'Y', 10, 255, 32},     {"02X0001", 0, 2, 'X', 1, 255, 16},
        {"02X0001A", 6, 2, 'X', 1, 10, 1},       {"03R0105F", 6, 3, 'R', 105, 15, 1},
        {"0150000", 0, 1, '5', 0, 255, 16},      {"64D00100", 0, 64, 'D', 100, 255, 16},
        {"00D00100", 0, 0, 'D', 100, 255, 16},   {"01d00100", 0, 1, 'D', 100, 255, 16},
        // Accumulator quirks: letters count as code - 55, five digits wrap at 16 bits.
        {"01D99999", 0, 1, 'D', 34463, 255, 16}, {"01D0000A", 0, 1, 'D', 10, 255, 16},
        {"01R0010G", 6, 1, 'R', 10, 16, 1},      {"01R0010Z", 6, 1, 'R', 10, 35, 1},
    };
    etl::test::LogCapture log;
    for (const Valid& c : cases) {
        const Outcome o = Check(kCheck, c.text, c.dataType);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.block.plcNumber, c.plc);
        EXPECT_EQ(o.block.memoryLetter, c.letter);
        EXPECT_EQ(o.block.addressNumber, c.address);
        EXPECT_EQ(o.block.bitNumber, c.bit);
        EXPECT_EQ(o.block.bitSize, c.bitSize);
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST(AddressCheck, LengthsPerMemoryCodeAndBitSize) {
    struct Case {
        const char* text;
        std::int32_t dataType;
    };
    const Case invalid[] = {
        {"01D0010", 0},     // D needs five digits
        {"01F001000", 0},   // no form has nine characters
        {"01D00100", 6},    // D is never a bit tag
        {"02Y00100", 0},    // a word tag of a four-digit code has seven characters
        {"02X0001", 6},     // a bit tag needs its bit digit
        {"02X0001AB", 6},   // nine characters
        {"", 0},            // empty: every character passes, the length does not
        {"01", 0},
    };
    etl::test::LogCapture log;
    for (const Case& c : invalid) {
        EXPECT_EQ(Check(kCheck, c.text, c.dataType).result, 1) << c.text;
    }
    EXPECT_TRUE(log.Lines().empty()) << "only the character check logs";
}

TEST(AddressCheck, PlcNumberRangeAndG) {
    EXPECT_EQ(Check(kCheck, "65D00100").result, 1);
    EXPECT_EQ(Check(kCheck, "65D00100").block.plcNumber, 65);
    EXPECT_EQ(Check(kCheck, "99D00100").result, 1);

    // G: 32 bits only, even addresses only (after the 16-bit wrap).
    EXPECT_EQ(Check(kCheck, "01G00010", 0).result, 1);
    EXPECT_EQ(Check(kCheck, "01G00010", 6).result, 1);
    EXPECT_EQ(Check(kCheck, "01G00011", 3).result, 1);
    EXPECT_EQ(Check(kCheck, "01G99999", 3).result, 1);  // 34463 is odd
    EXPECT_EQ(Check(kCheck, "01G99998", 3).result, 0);
}

TEST(AddressCheck, InvalidCharactersLogAndStillFillFields) {
    etl::test::LogCapture log;
    const Outcome o = Check(kCheck, "01#00100");
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.block.plcNumber, 1);
    EXPECT_EQ(o.block.memoryLetter, '#');
    EXPECT_EQ(o.block.addressNumber, 10u);  // not D, F or G: four digits
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(Logged(log, kLogLine));

    // A byte above 127 at a digit position, and the suffix seen by code 3.
    for (const char* text : {"01D\xC4" "0100", "0AD00100", "01D00100_D"}) {
        log.Clear();
        EXPECT_EQ(Check(kCheck, text).result, 1) << text;
        EXPECT_TRUE(Logged(log, kLogLine)) << text;
    }
}

TEST(AddressCheck, SuffixOfCodeFour) {
    etl::test::LogCapture log;
    Outcome o = Check(kCheckD, "01d00100_d");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.block.bitSize, 32);
    EXPECT_EQ(o.block.addressNumber, 100u);
    EXPECT_EQ(o.text, "01D00100_D") << "code 4 upper-cases the host's text";

    o = Check(kCheckD, "01G00010_D", 0);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.block.bitSize, 32);

    // With the suffix the data type is not looked at: no early end on 7.
    o = Check(kCheckD, "01D00100_D", 7);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.block.plcNumber, 1);
    EXPECT_EQ(Check(kCheckD, "01D00100_DANY.THING", 0).result, 0);
    EXPECT_TRUE(log.Lines().empty());

    // Without the suffix code 4 works like code 3, but still upper-cases.
    o = Check(kCheckD, "02x0001a", 6);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.block.bitSize, 1);
    EXPECT_EQ(o.block.bitNumber, 10u);
    EXPECT_EQ(o.text, "02X0001A");
    o = Check(kCheck, "02x0001a", 6);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.text, "02x0001a") << "code 3 leaves the host's text alone";

    EXPECT_EQ(Check(kCheckD, "02X0001A_D", 6).result, 1);  // 32 bits: no bit digit allowed
    EXPECT_EQ(Check(kCheckD, "01D001000_D").result, 1);     // nine characters before it
    EXPECT_EQ(Check(kCheckD, "01D00100_").result, 1);       // no "D" after the underscore
}

TEST(AddressCheck, DataTypeSevenEndsEarly) {
    const Outcome o = Check(kCheck, "01D00100", 7);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.block.plcNumber, kUntouched);
    EXPECT_EQ(o.block.memoryLetter, kUntouched);
    EXPECT_EQ(o.block.addressNumber, static_cast<std::uint32_t>(kUntouched));
    EXPECT_EQ(o.block.bitNumber, 255u);
    EXPECT_EQ(o.block.bitSize, kUntouched);

    const Outcome d = Check(kCheckD, "01D00100", 7);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.block.plcNumber, kUntouched);
    EXPECT_EQ(d.block.bitSize, 16);
}

TEST(AddressCheck, ElementCountLimitsAreSigned) {
    EXPECT_EQ(Check(kCheck, "01D00100", 0, 27).result, 0);
    EXPECT_EQ(Check(kCheck, "01D00100", 0, 28).result, 1);
    EXPECT_EQ(Check(kCheck, "01D00100", 0, 14).result, 0);
    EXPECT_EQ(Check(kCheck, "01G00010", 3, 13).result, 0);
    EXPECT_EQ(Check(kCheck, "01G00010", 3, 14).result, 1);
    EXPECT_EQ(Check(kCheck, "01E0010", 0, 13).result, 0);
    EXPECT_EQ(Check(kCheck, "01E0010", 0, 14).result, 1);
    EXPECT_EQ(Check(kCheck, "01Y0010", 0, INT_MAX).result, 1);
    EXPECT_EQ(Check(kCheck, "01D00100", 0, -1).result, 0);
    EXPECT_EQ(Check(kCheck, "01G00010", 3, INT_MIN).result, 0);
}

TEST(AddressCheck, NeverReadsPastTheHostText) {
    // Check hands the driver an exactly sized heap copy: under AddressSanitizer
    // any read beyond the NUL fails the test. Everywhere, the texts that end
    // early are refused and only the whole suffix form passes.
    etl::test::LogCapture log;
    for (const char* text : {"", "0", "01D", "01D0010", "01d00100_", "01D00100_D"}) {
        for (std::uint32_t code : {kCheck, kCheckD}) {
            const bool valid = code == kCheckD && std::strcmp(text, "01D00100_D") == 0;
            EXPECT_EQ(Check(code, text).result, valid ? 0 : 1) << '"' << text << "\" code " << code;
        }
    }
}

TEST(AddressCheck, InstancesOnSeveralThreadsDoNotMix) {
    // Each thread checks its own text over and over; shared scratch state
    // would hand one thread the other's fields or suffix mode.
    auto worker = [](const char* text, std::uint32_t code, std::int32_t bitSize,
                     std::uint32_t address, bool* ok) {
        for (int i = 0; i < 2000 && *ok; ++i) {
            const Outcome o = Check(code, text);
            *ok = o.result == 0 && o.block.bitSize == bitSize && o.block.addressNumber == address;
        }
    };
    bool ok1 = true, ok2 = true;
    std::thread a(worker, "01d00100_d", kCheckD, 32, 100u, &ok1);
    std::thread b(worker, "02D00202", kCheck, 16, 202u, &ok2);
    a.join();
    b.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

TEST(DigitAccumulators, CountPastDigitsAndWrap) {
    EXPECT_EQ(etl::ParseDecimal("99999", 5), 34463);
    EXPECT_EQ(etl::ParseDecimal("0000A", 5), 10);
    EXPECT_EQ(etl::ParseDecimal("\xC4", 1), 0xC4 - 48);  // high bytes count as below '9'
    EXPECT_EQ(etl::ParseDecimal("", 1), 208);            // NUL is (0 - 48) mod 256
    EXPECT_EQ(etl::ParseHex("F", 1), 15);
    EXPECT_EQ(etl::ParseHex("Z", 1), 35);
    EXPECT_EQ(etl::ParseHex("FFFFF", 5), 0xFFFF);
    EXPECT_STREQ(etl::AddressCharClasses[0], "0123456789");
    EXPECT_STREQ(etl::AddressCharClasses[8], "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
}

}  // namespace
