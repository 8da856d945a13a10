// The PLC simulator: its command interpreter on every command form and
// every negative answer, and its stations on loopback with each fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/test_socket.h"
#include "tools/sim/options.h"
#include "tools/sim/simulator.h"

namespace {

using etl::sim::Bcc;
using etl::sim::Execute;
using etl::sim::Faults;
using etl::sim::Memory;
using etl::sim::Simulator;
using etl::testnet::kNoSocket;
using etl::testnet::Socket;
using Clock = std::chrono::steady_clock;

long Since(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The answer text as a PLC would form it: "%01" + body + BCC + CR.
std::string Expect(int station, const std::string& body) {
    char head[4];
    std::snprintf(head, sizeof head, "%%%02X", station);
    std::string t = head + body;
    char bcc[4];
    std::snprintf(bcc, sizeof bcc, "%02X", Bcc(t));
    return t + bcc + "\r";
}

std::string Neg(int code) {
    char body[8];
    std::snprintf(body, sizeof body, "!%02d", code);
    return Expect(1, body);
}

// A text with its BCC instead of "**".
std::string WithBcc(const std::string& text) {
    char bcc[3];
    std::snprintf(bcc, sizeof bcc, "%02X", Bcc(text));
    return text + bcc + "\r";
}

TEST(SimCommand, ReadsEveryAreaInItsCommandForm) {
    Memory m;
    m.Set('D', 100, 0x5678);
    m.Set('D', 101, 0x1234);
    m.Set('R', 10, 0x0020);
    m.Set('G', 7, 0xABCD);
    m.Set('F', 99999 % 32768, 1);
    m.Set('S', 5, 100);
    m.Set('V', 5, 42);
    m.Set('H', 0, 0x0102);
    m.Set('I', 0, 0x0304);
    m.Set('5', 0, 7);
    m.Set('M', 0, 0xA);
    m.Set('U', 1, 0xF);
    // The command builder's own texts, one per form.
    EXPECT_EQ(Execute(m, 1, "%01#RDD0010000100**\r"), Expect(1, "$RD7856"));
    EXPECT_EQ(Execute(m, 1, "%01#RDD0010000101**\r"), Expect(1, "$RD78563412"));
    EXPECT_EQ(Execute(m, 1, "%01#RCCR00100010**\r"), Expect(1, "$RC2000"));
    EXPECT_EQ(Execute(m, 2, "%02#RDD0010000109**\r").size(), 6 + 40 + 3u);
    EXPECT_EQ(Execute(m, 1, "%01#RDL0000700007**\r"), Expect(1, "$RDCDAB"));
    EXPECT_EQ(Execute(m, 1, "%01#RS00050005**\r"), Expect(1, "$RS6400"));
    EXPECT_EQ(Execute(m, 1, "%01#RK00050005**\r"), Expect(1, "$RK2A00"));
    // Index registers: five-digit start, four-digit end for one element,
    // five digits otherwise.
    EXPECT_EQ(Execute(m, 1, "%01#RDIX000000000**\r"), Expect(1, "$RD0201"));
    EXPECT_EQ(Execute(m, 1, "%01#RDIY000000000**\r"), Expect(1, "$RD0403"));
    EXPECT_EQ(Execute(m, 1, "%01#RDI5000000000**\r"), Expect(1, "$RD0700"));
    EXPECT_EQ(Execute(m, 1, "%01#RDIA000000000**\r"), Expect(1, "$RD0A00"));
    EXPECT_EQ(Execute(m, 1, "%01#RDIF0000000001**\r"), Expect(1, "$RD00000F00"));
    // Every contact area reads as words; a 4-digit block across 99/100.
    for (char a : std::string("XYRLTC")) {
        std::string t = std::string("%01#RCC") + a + "00910100**\r";
        EXPECT_EQ(Execute(m, 1, t).size(), 6 + 40 + 3u) << a;
    }
    // Station 10 and 64 are hexadecimal; EE reaches every station.
    EXPECT_EQ(Execute(m, 10, "%0A#RDD0010000100**\r"), Expect(10, "$RD7856"));
    EXPECT_EQ(Execute(m, 64, "%40#RDD0010000100**\r"), Expect(64, "$RD7856"));
    EXPECT_EQ(Execute(m, 3, "%EE#RDD0010000100**\r"), Expect(3, "$RD7856"));
    // Another station's text gets no answer at all.
    EXPECT_EQ(Execute(m, 1, "%02#RDD0010000100**\r"), "");
    // A correct BCC instead of "**"; the CR may be missing.
    EXPECT_EQ(Execute(m, 1, WithBcc("%01#RDD0010000100")), Expect(1, "$RD7856"));
    EXPECT_EQ(Execute(m, 1, "%01#RDD0010000100**"), Expect(1, "$RD7856"));
}

TEST(SimCommand, WritesChangeMemoryAndAnswerWithTheirCode) {
    Memory m;
    EXPECT_EQ(Execute(m, 1, "%01#WDD00100001003412**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('D', 100), 0x1234);
    EXPECT_EQ(Execute(m, 1, "%01#WDD001000010178563412**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('D', 100), 0x5678);
    EXPECT_EQ(m.Get('D', 101), 0x1234);
    // Single contact: set bit 5 of R10, then bit A, then clear bit 5.
    EXPECT_EQ(Execute(m, 1, "%01#WCSR0105127\r"), Expect(1, "$WC"));
    EXPECT_EQ(m.Get('R', 10), 0x0020);
    EXPECT_EQ(Execute(m, 1, WithBcc("%01#WCSR010A1")), Expect(1, "$WC"));
    EXPECT_EQ(Execute(m, 1, WithBcc("%01#WCSR01050")), Expect(1, "$WC"));
    EXPECT_EQ(m.Get('R', 10), 0x0400);
    EXPECT_EQ(Execute(m, 1, "%01#WCCY00020003FFFF0100**\r"), Expect(1, "$WC"));
    EXPECT_EQ(m.Get('Y', 2), 0xFFFF);
    EXPECT_EQ(m.Get('Y', 3), 0x0001);
    // Link data are written with WDL; WR is the system-register write,
    // which a PLC refuses here: "WRL" writes nothing.
    EXPECT_EQ(Execute(m, 1, "%01#WDL00010000103412**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('G', 10), 0x1234);
    EXPECT_EQ(Execute(m, 1, "%01#WRL00011000127856CDAB**\r"), Neg(42));
    EXPECT_EQ(m.Get('G', 11), 0);
    EXPECT_EQ(m.Get('G', 12), 0);
    EXPECT_EQ(Execute(m, 1, "%01#WDF00005000050100**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('F', 5), 1);
    EXPECT_EQ(Execute(m, 1, "%01#WS000500050A00**\r"), Expect(1, "$WS"));
    EXPECT_EQ(m.Get('S', 5), 10);
    EXPECT_EQ(Execute(m, 1, "%01#WK000500050B00**\r"), Expect(1, "$WK"));
    EXPECT_EQ(m.Get('V', 5), 11);
    // Index registers with either end width.
    EXPECT_EQ(Execute(m, 1, "%01#WDIX0000000003412**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('H', 0), 0x1234);
    EXPECT_EQ(Execute(m, 1, "%01#WDI900000000017856CDAB**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('9', 0), 0x5678);
    EXPECT_EQ(m.Get('9', 1), 0xABCD);
    EXPECT_EQ(Execute(m, 1, "%01#WDIE0000000000100**\r"), Expect(1, "$WD"));
    EXPECT_EQ(m.Get('Q', 0), 1);
}

TEST(SimCommand, RefusesWhatAPlcRefuses) {
    Memory m;
    m.Set('D', 0, 0x1111);
    struct Case {
        const char* text;
        int code;
    };
    const Case cases[] = {
        // 40: a wrong BCC.
        {"%01#RDD000000000000\r", 40},
        {"%01#WCSR0105128\r", 40},
        // 41: format errors.
        {"%01#RDD**\r", 41},                    // no address fields
        {"%01#RDD001000100**\r", 41},            // end field one digit short
        {"%01#RDD00100001000**\r", 41},          // one digit too many
        {"%01#RDD0010A00100**\r", 41},           // non-digit
        {"%01#RCCR0010010**\r", 41},             // 4-digit areas want 4 digits
        {"%01#WDD0010000100341**\r", 41},        // data one character short
        {"%01#WDD001000010034123412**\r", 41},   // data for two words, one asked
        {"%01#WDD00100001003g12**\r", 41},       // not hex
        {"%01#WDD00100001003a12**\r", 41},       // lower case is not accepted
        {"%01#WCSR1000512**\r", 41},             // 4-digit word in a contact write
        {"%01#WCSR01052**\r", 41},               // contact value 2
        {"%01#RDD0010000100ZZ\r", 41},           // BCC not hex
        {"%01!RDD0010000100**\r", 41},           // no '#'
        {"RDD0010000100**\r", 41},               // no '%'
        {"%0G#RDD0010000100**\r", 41},           // station not hex
        {"%01#RDIX00000000**\r", 41},            // index register end field 3 digits
        {"", 41},
        // 42: unknown commands and areas.
        {"%01#XXD0010000100**\r", 42},
        {"%01#RDE0010000100**\r", 42},
        {"%01#RDIZ000000000**\r", 42},
        {"%01#RCCD00100010**\r", 42},
        {"%01#RCSR0010**\r", 42},
        {"%01#WCSD01051**\r", 42},
        {"%01#WRD00100001003412**\r", 42},
        {"%01#**\r", 42},
        // 61: address out of range, start above end.
        {"%01#RDD0010100100**\r", 61},
        {"%01#RDD3276732768**\r", 61},
        {"%01#RCCX10001000**\r", 61},
        {"%01#RDIX000160016**\r", 61},
        {"%01#RK30723072**\r", 61},
        // 65: writes to read-only areas.
        {"%01#WCCX000000000000**\r", 65},
        {"%01#WCCT000000000000**\r", 65},
        {"%01#WCCC000000000000**\r", 65},
        {"%01#WCSX00001**\r", 65},
        {"%01#WCST00001**\r", 65},
        {"%01#WCSC00001**\r", 65},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Execute(m, 1, c.text), Neg(c.code)) << c.text;
    }
    // 27: over 118 characters before the CR. The longest word write the
    // driver builds (24 words, 115 characters) passes; 25 words do not.
    std::string write24 = "%01#WDD0000000023";
    for (int i = 0; i < 24; ++i) write24 += "0000";
    std::string write25 = "%01#WDD0000000024" + write24.substr(17) + "0000";
    ASSERT_EQ(write24.size() + 2, 115u);
    ASSERT_EQ(write25.size() + 2, 119u);
    EXPECT_EQ(Execute(m, 1, write25 + "**\r"), Neg(27));
    EXPECT_EQ(m.Get('D', 0), 0x1111);
    EXPECT_EQ(Execute(m, 1, write24 + "**\r"), Expect(1, "$WD"));
    // Nothing refused changed memory.
    EXPECT_EQ(m.Get('D', 0), 0);  // cleared by the 24-word write
    EXPECT_EQ(m.Get('R', 10), 0);
    EXPECT_EQ(m.Get('X', 0), 0);
}

// Checks one part: ends in BCC (of everything before it) then "&" CR, or
// BCC CR when last; returns the part's text without BCC and ending.
std::string PartText(const std::string& part, bool last) {
    std::size_t tail = last ? 3 : 4;
    EXPECT_GE(part.size(), 3 + tail) << part;
    if (part.size() < 3 + tail) return {};
    EXPECT_EQ(part.substr(part.size() - tail + 2), last ? "\r" : "&\r") << part;
    std::string text = part.substr(0, part.size() - tail);
    char bcc[3];
    std::snprintf(bcc, sizeof bcc, "%02X", Bcc(text));
    EXPECT_EQ(part.substr(text.size(), 2), bcc) << part;
    return text;
}

TEST(SimCommand, LongAnswersGoInPartsFilledToTheLimit) {
    Memory m;
    for (int i = 0; i < 509; ++i) m.Set('D', i, static_cast<std::uint16_t>(i * 7919));
    // The driver's longest read: 509 words, 2045 characters.
    const std::string whole = Execute(m, 1, "%01#RDD0000000508**\r");
    ASSERT_EQ(whole.size(), 2045u);
    EXPECT_EQ(Execute(m, 1, "%01#RDD0000000509**\r"), Neg(61));  // one word more
    for (int limit : {118, 12, 13, 50}) {
        auto parts = etl::sim::SplitAnswer(whole, limit);
        ASSERT_GE(parts.size(), 2u) << limit;
        std::string data;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            bool last = i + 1 == parts.size();
            // Every part but the last is filled up to the limit.
            if (!last) {
                EXPECT_EQ(parts[i].size(), static_cast<std::size_t>(limit)) << limit;
            }
            EXPECT_LE(parts[i].size(), static_cast<std::size_t>(limit)) << limit;
            std::string text = PartText(parts[i], last);
            ASSERT_EQ(text.substr(0, 3), "%01") << limit << " part " << i;
            data += text.substr(3);
        }
        EXPECT_EQ("%01" + data, whole.substr(0, whole.size() - 3)) << limit;
    }
    EXPECT_EQ(etl::sim::SplitAnswer(whole, 118)[0].substr(0, 6), "%01$RD");
    // 28 words: 121 characters with the CR. At 121 it stays whole, at 120
    // it goes in two parts; a negative answer never does.
    const std::string w28 = Execute(m, 1, "%01#RDD0000000027**\r");
    ASSERT_EQ(w28.size(), 121u);
    EXPECT_EQ(etl::sim::SplitAnswer(w28, 121), std::vector<std::string>{w28});
    EXPECT_EQ(etl::sim::SplitAnswer(w28, 120).size(), 2u);
    EXPECT_EQ(etl::sim::SplitAnswer(w28, 0), std::vector<std::string>{w28});
    EXPECT_EQ(etl::sim::SplitAnswer(Neg(61), 12), std::vector<std::string>{Neg(61)});
}

TEST(SimCommand, PartFaultsShapeTheParts) {
    using PF = Faults::PartFault;
    Memory m;
    for (int i = 0; i < 60; ++i) m.Set('D', i, static_cast<std::uint16_t>(0x1111 * (i % 15)));
    const std::string whole = Execute(m, 1, "%01#RDD0000000059**\r");  // 249 characters
    const auto normal = etl::sim::SplitAnswer(whole, 118);
    ASSERT_EQ(normal.size(), 3u);
    auto split = [&](PF fault, int at) { return etl::sim::SplitAnswer(whole, 118, fault, at); };

    for (int at : {1, 2, 3}) {
        auto bad = split(PF::kBadBcc, at);
        ASSERT_EQ(bad.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            std::size_t n = bad[static_cast<std::size_t>(i)].size();
            EXPECT_EQ(bad[static_cast<std::size_t>(i)].substr(0, n - 4),
                      normal[static_cast<std::size_t>(i)].substr(0, n - 4));
            EXPECT_EQ(bad[static_cast<std::size_t>(i)] == normal[static_cast<std::size_t>(i)],
                      i + 1 != at) << at;
        }
    }
    // One part more: the real last one ends in "&", then "0000".
    auto extra = split(PF::kExtraPart, 2);
    ASSERT_EQ(extra.size(), 4u);
    EXPECT_EQ(PartText(extra[2], false), PartText(normal[2], true));
    EXPECT_EQ(PartText(extra[3], true), "%010000");
    // Too few parts: the second one ends the answer.
    auto missing = split(PF::kMissingPart, 2);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(PartText(missing[1], true), PartText(normal[1], false));
    // The request for the second part is never answered; nothing follows.
    EXPECT_EQ(split(PF::kPartNeverComes, 2), (std::vector<std::string>{normal[0], ""}));
    EXPECT_EQ(split(PF::kPartNeverComes, 1), std::vector<std::string>{""});
    // A short but well-formed part; the ones after it as normal.
    auto truncated = split(PF::kTruncatedPart, 2);
    ASSERT_EQ(truncated.size(), 3u);
    std::string t = PartText(truncated[1], false);
    std::string n = PartText(normal[1], false);
    EXPECT_EQ(t, n.substr(0, n.size() - 4));
    EXPECT_EQ(truncated[2], normal[2]);
    EXPECT_EQ(PartText(split(PF::kTruncatedPart, 1)[0], false).size(), 118u - 4 - 4);
    // A fault at a part the answer does not have, or a whole answer: nothing.
    for (PF fault : {PF::kBadBcc, PF::kExtraPart, PF::kMissingPart, PF::kPartNeverComes,
                     PF::kTruncatedPart}) {
        EXPECT_EQ(split(fault, 4), normal);
        EXPECT_EQ(etl::sim::SplitAnswer(whole, 0, fault, 1), std::vector<std::string>{whole});
    }
}

TEST(SimCommand, StationFieldInEitherForm) {
    using etl::sim::StationField;
    Memory m;
    m.Set('D', 100, 0x5678);
    // Station 10: "0A" and "10" both reach it; station 16 takes "10" as hex.
    EXPECT_EQ(Execute(m, 10, "%0A#RDD0010000100**\r"), Expect(10, "$RD7856"));
    EXPECT_EQ(Execute(m, 10, "%10#RDD0010000100**\r"), Expect(10, "$RD7856"));
    EXPECT_EQ(Execute(m, 16, "%10#RDD0010000100**\r"), Expect(16, "$RD7856"));
    EXPECT_EQ(Execute(m, 10, "%16#RDD0010000100**\r"), "");
    EXPECT_EQ(Execute(m, 10, WithBcc("%10#RDD0010000100")), Expect(10, "$RD7856"));
    // Answers in decimal on request: "%10$RD..." for station 10; above 99
    // in hex, as there are only two characters.
    std::string dec = "%10$RD7856";
    EXPECT_EQ(Execute(m, 10, "%0A#RDD0010000100**\r", StationField::kDecimal), WithBcc(dec));
    EXPECT_EQ(Execute(m, 10, "%EE#RDE0010000100**\r", StationField::kDecimal),
              WithBcc("%10!42"));
    EXPECT_EQ(Execute(m, 100, "%64#RDD0010000100**\r", StationField::kDecimal),
              Expect(100, "$RD7856"));
    EXPECT_EQ(etl::sim::StationText(7, StationField::kDecimal), "07");
    EXPECT_EQ(etl::sim::StationText(255, StationField::kHex), "FF");
    // Strict: only the form the station writes, or EE. "10" is station 16
    // to a strict hex unit; above 99 a decimal unit writes and takes hex.
    EXPECT_EQ(Execute(m, 10, "%0A#RDD0010000100**\r", StationField::kDecimal, true), "");
    EXPECT_EQ(Execute(m, 10, "%10#RDD0010000100**\r", StationField::kHex, true), "");
    EXPECT_EQ(Execute(m, 10, "%0A#RDD0010000100**\r", StationField::kHex, true), Expect(10, "$RD7856"));
    EXPECT_EQ(Execute(m, 10, "%EE#RDD0010000100**\r", StationField::kDecimal, true), WithBcc(dec));
    EXPECT_EQ(Execute(m, 7, "%07#RDD0010000100**\r", StationField::kDecimal, true), Expect(7, "$RD7856"));
    EXPECT_EQ(Execute(m, 100, "%64#RDD0010000100**\r", StationField::kDecimal, true), Expect(100, "$RD7856"));
    EXPECT_FALSE(etl::sim::IsNextPartRequest(10, "%0A**&\r", StationField::kDecimal, true));
    EXPECT_TRUE(etl::sim::IsNextPartRequest(10, "%10**&\r", StationField::kDecimal, true));
}

TEST(SimCommand, ModelsRefuseAddressesPastTheirAreas) {
    using etl::sim::Model;
    Model parsed = Model::kGenerous;
    EXPECT_TRUE(etl::sim::ParseModel("FP3", &parsed));
    EXPECT_EQ(parsed, Model::kFp3);
    EXPECT_FALSE(etl::sim::ParseModel("fp7", &parsed));
    EXPECT_STREQ(etl::sim::ModelName(Model::kFp2), "fp2");
    EXPECT_EQ(Memory().model(), Model::kGenerous);

    Memory fp2(Model::kFp2);
    fp2.Set('D', 5999, 0x0102);
    fp2.Set('D', 6000, 0x0304);  // not there: ignored
    EXPECT_EQ(fp2.Get('D', 6000), 0);
    struct Case {
        const char* text;
        const char* answer;  // the positive answer's code, or the error
    };
    const Case fp2Cases[] = {
        {"%01#RDD0599905999**\r", "$RD0201"},
        {"%01#RDD0599906000**\r", "!61"},        // runs past the end
        {"%01#RDD9000090000**\r", "$RD0000"},    // special data registers
        {"%01#RDD9044390444**\r", "!61"},
        {"%01#RDD0600090000**\r", "!61"},        // across the gap
        {"%01#RCCX01270127**\r", "$RC0000"},
        {"%01#RCCX01280128**\r", "!61"},
        {"%01#WCSR9000**\r", "!41"},
        {"%01#WCSY12801**\r", "!61"},
        {"%01#WDL08447084470100**\r", "$WD"},
        {"%01#WDL08448084480100**\r", "!61"},
        {"%01#RDID000000000**\r", "$RD0000"},    // I0-ID
        {"%01#RDIE000000000**\r", "!42"},        // no IE on this CPU
        {"%01#RS30723072**\r", "!61"},
        {"%01#WCSX00001**\r", "!65"},            // inputs are not written
        {"%01#WRL00011000127856CDAB**\r", "!42"},
        {"%01#RD**\r", "!42"},
        {"%01**&\r", "!43"},                     // no parts pending
        {"%0132&\r", "!40"},                     // next-part request, wrong BCC
    };
    for (const Case& c : fp2Cases) {
        EXPECT_EQ(Execute(fp2, 1, c.text), Expect(1, c.answer)) << c.text;
    }
    Memory fp3(Model::kFp3);
    EXPECT_EQ(Execute(fp3, 1, "%01#RDD0204702047**\r"), Expect(1, "$RD0000"));
    EXPECT_EQ(Execute(fp3, 1, "%01#RDD0204802048**\r"), Expect(1, "!61"));
    EXPECT_EQ(Execute(fp3, 1, "%01#RDI0000000000**\r"), Expect(1, "!42"));
    EXPECT_EQ(Execute(fp3, 1, "%01#RDIY000000000**\r"), Expect(1, "$RD0000"));
    Memory fp5(Model::kFp5);
    EXPECT_EQ(Execute(fp5, 1, "%01#RDD0614306143**\r"), Expect(1, "$RD0000"));
    EXPECT_EQ(Execute(fp5, 1, "%01#RDD0614406144**\r"), Expect(1, "!61"));
    // Initial values follow the model too.
    EXPECT_TRUE(SetFromText(fp3, "LD127=1"));
    EXPECT_FALSE(SetFromText(fp3, "LD128=1"));
    EXPECT_FALSE(SetFromText(fp3, "I5=1"));
    EXPECT_FALSE(SetFromText(fp2, "D5999=0x10000"));
}

TEST(SimCommand, SurvivesArbitraryTexts) {
    Memory m;
    std::mt19937 rng(12345);
    const std::string seeds[] = {"%01#RDD0010000101**\r", "%01#WDD00100001003412**\r",
                                 "%01#WCSR0105127\r", "%01#RDIX000000000**\r",
                                 "%01#WDI500000000017856CDAB**\r"};
    const std::string alphabet = "%#$*!0123456789ABCDEFRWDCSKILXYZ\r\0\xff";
    for (int i = 0; i < 20000; ++i) {
        std::string t = seeds[static_cast<std::size_t>(i) % 5];
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t pos = rng() % (t.size() + 1);
            char c = alphabet[rng() % alphabet.size()];
            switch (rng() % 3) {
                case 0: t.insert(pos, 1, c); break;
                case 1: if (pos < t.size()) t.erase(pos, 1); break;
                default: if (pos < t.size()) t[pos] = c; break;
            }
        }
        std::string a = Execute(m, 1, t);
        if (a.empty()) continue;
        ASSERT_GE(a.size(), 9u) << t;
        ASSERT_EQ(a[0], '%');
        ASSERT_TRUE(a[3] == '$' || a[3] == '!') << t;
        ASSERT_EQ(a.back(), '\r');
    }
}

TEST(SimCommand, InitialValuesFromText) {
    Memory m;
    EXPECT_TRUE(SetFromText(m, "D100=1234"));
    EXPECT_TRUE(SetFromText(m, " r10 = 0x0020\n"));
    EXPECT_TRUE(SetFromText(m, "LD5=-1"));
    EXPECT_TRUE(SetFromText(m, "D200=0x12345678"));
    EXPECT_TRUE(SetFromText(m, "IX=7"));
    EXPECT_TRUE(SetFromText(m, "IY=8"));
    EXPECT_TRUE(SetFromText(m, "I5=9"));
    EXPECT_TRUE(SetFromText(m, "IF=10"));
    EXPECT_TRUE(SetFromText(m, "SV3=11"));
    EXPECT_TRUE(SetFromText(m, "V3=12"));
    EXPECT_EQ(m.Get('D', 100), 1234);
    EXPECT_EQ(m.Get('R', 10), 0x20);
    EXPECT_EQ(m.Get('G', 5), 0xFFFF);
    EXPECT_EQ(m.Get('D', 200), 0x5678);
    EXPECT_EQ(m.Get('D', 201), 0x1234);
    EXPECT_EQ(m.Get('H', 0), 7);
    EXPECT_EQ(m.Get('I', 0), 8);
    EXPECT_EQ(m.Get('5', 0), 9);
    EXPECT_EQ(m.Get('U', 0), 10);
    EXPECT_EQ(m.Get('S', 3), 11);
    EXPECT_EQ(m.Get('V', 3), 12);
    for (const char* bad : {"D100", "E1=1", "D100=", "D100=x", "D100=0x", "D100=-40000",
                            "D100=0x100000000", "D32768=1", "D32767=0x10000", "=5", "D1 0=1",
                            "D100=1 2", "D100=0x-1"}) {
        EXPECT_FALSE(SetFromText(m, bad)) << bad;
    }
    EXPECT_EQ(m.Get('D', 100), 1234);
}

// ---- the stations on loopback ----

std::string Request(const std::string& text, int dest = 1, int source = 0x33) {
    std::string f = {0x10, 0x00, static_cast<char>(text.size() & 0xFF),
                     static_cast<char>(text.size() >> 8), 0, 0, 0, 0, 0, 0,
                     static_cast<char>(dest), static_cast<char>(source)};
    return f + text;
}

std::string Answer(const std::string& text, int dest = 0x33, int source = 1) {
    return Request(text, dest, source);
}

// A raw client socket on 127.0.0.1.
class Client {
public:
    ~Client() { Close(); }
    bool Connect(std::uint16_t port, int ms = 2000) {
        s_ = etl::testnet::ConnectStart(port);
        if (s_ == kNoSocket) return false;
        if (etl::testnet::ConnectWait(s_, ms)) return true;
        Close();
        return false;
    }
    void Close() {
        etl::testnet::Close(s_);
        s_ = kNoSocket;
    }
    bool Send(const std::string& bytes) {
        return etl::testnet::SendAll(s_, bytes.data(), static_cast<int>(bytes.size()));
    }
    // Reads until n bytes have arrived, the peer closed, or ms passed.
    std::string Read(std::size_t n, int ms = 2000) {
        std::string got;
        auto start = Clock::now();
        closed_ = false;
        reads_ = 0;
        while (got.size() < n && Since(start) < ms) {
            bool ready = false;
            if (etl::testnet::Poll(&s_, 1, 10, &ready) <= 0 || !ready) continue;
            char buf[4096];
            int k = etl::testnet::Recv(s_, buf, static_cast<int>(std::min<std::size_t>(
                                                      sizeof buf, n - got.size())));
            if (k <= 0) {
                closed_ = true;
                break;
            }
            ++reads_;
            got.append(buf, static_cast<std::size_t>(k));
        }
        return got;
    }
    // One answer frame: the header, then as many bytes as it announces.
    std::string ReadFrame(int ms = 2000) {
        std::string h = Read(12, ms);
        if (h.size() < 12) return h;
        std::size_t len = static_cast<unsigned char>(h[2]) |
                          (static_cast<std::size_t>(static_cast<unsigned char>(h[3])) << 8);
        return h + Read(len, ms);
    }
    bool closed() const { return closed_; }
    int reads() const { return reads_; }

private:
    Socket s_ = kNoSocket;
    bool closed_ = false;
    int reads_ = 0;
};

class SimNet : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = sim_.AddStation(1);
        ASSERT_GT(port_, 0);
        sim_.SetWord('D', 100, 0x5678);
        sim_.SetWord('D', 101, 0x1234);
        ASSERT_TRUE(sim_.Start());
    }
    std::uint16_t port() const { return static_cast<std::uint16_t>(port_); }

    Simulator sim_;
    int port_ = 0;
    const std::string read_ = "%01#RDD0010000101**\r";
    const std::string good_ = Expect(1, "$RD78563412");
};

TEST_F(SimNet, AnswersBehindAHeaderWithTheStationsSwapped) {
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(c.Send(Request(read_, 1, 0x42)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_, 0x42, 1));
    EXPECT_EQ(sim_.Requests(1), 1);
    EXPECT_EQ(sim_.LastRequest(1), Request(read_, 1, 0x42));
    EXPECT_EQ(sim_.Accepted(1), 1);
    EXPECT_EQ(sim_.Open(1), 1);
    // A write through the network lands in memory.
    ASSERT_TRUE(c.Send(Request("%01#WDD00200002003412**\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "$WD")));
    EXPECT_EQ(sim_.Word('D', 200), 0x1234);
}

TEST_F(SimNet, JoinsSplitRequestsAndServesSeveralPerConnection) {
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    // One byte at a time, header included.
    std::string frame = Request(read_);
    for (char b : frame) {
        ASSERT_TRUE(c.Send(std::string(1, b)));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    // Three requests in one send, then one split in the middle of its header.
    std::string second = Request("%01#RDD0010000100**\r");
    ASSERT_TRUE(c.Send(frame + second + frame));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "$RD7856")));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    ASSERT_TRUE(c.Send(frame.substr(0, 5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(c.Send(frame.substr(5)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_EQ(sim_.Requests(1), 5);
    // A negative answer travels the same way; another station's text gets none.
    ASSERT_TRUE(c.Send(Request("%01#RDE0010000100**\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Neg(42)));
    ASSERT_TRUE(c.Send(Request("%02#RDD0010000100**\r", 2)));
    EXPECT_EQ(c.Read(1, 200), "");
}

TEST_F(SimNet, ClosesOnAFrameThatIsNotEtLan) {
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(c.Send("%01#RDD0010000100**\r"));
    EXPECT_EQ(c.Read(1, 1000), "");
    EXPECT_TRUE(c.closed());
    EXPECT_EQ(sim_.Requests(1), 0);
    // The station still takes new connections.
    Client d;
    ASSERT_TRUE(d.Connect(port()));
    ASSERT_TRUE(d.Send(Request(read_)));
    EXPECT_EQ(d.ReadFrame(), Answer(good_));
}

TEST_F(SimNet, DelaysAndSendsInPieces) {
    Faults f;
    f.delayMs = 300;
    sim_.SetFaults(1, f);
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    auto t = Clock::now();
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_GE(Since(t), 290);
    EXPECT_LT(Since(t), 1000);

    f = Faults{};
    f.pieceBytes = 7;
    f.piecePauseMs = 60;
    sim_.SetFaults(1, f);
    t = Clock::now();
    ASSERT_TRUE(c.Send(Request(read_)));
    std::string whole = Answer(good_);
    std::string got = c.Read(whole.size(), 3000);
    EXPECT_EQ(got, whole);
    // 29 bytes in pieces of 7: five pieces, four pauses.
    EXPECT_GE(Since(t), 4 * 60 - 10);
    EXPECT_GE(c.reads(), 3);
}

TEST_F(SimNet, FaultChangesDoNotWaitForADelayedAnswer) {
    Faults f;
    f.delayMs = 1500;
    sim_.SetFaults(1, f);
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    auto t = Clock::now();
    ASSERT_TRUE(c.Send(Request(read_)));
    ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Requests(1) == 1; }));  // its answer is pending
    const auto change = Clock::now();
    sim_.SetFaults(1, Faults{});
    EXPECT_LT(Since(change), 500);
    // The pending answer keeps its delay; the next one has none.
    EXPECT_EQ(c.ReadFrame(3000), Answer(good_));
    EXPECT_GE(Since(t), 1450);
    t = Clock::now();
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_LT(Since(t), 500);
    // A restart abandons a pending answer at once.
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read_)));
    ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Requests(1) == 3; }));
    t = Clock::now();
    sim_.RestartStation(1);
    EXPECT_EQ(c.Read(1, 3000), "");
    EXPECT_TRUE(c.closed());
    EXPECT_LT(Since(t), 600);
}

TEST_F(SimNet, DropsThenAnswersNegativelyThenRecovers) {
    Faults f;
    f.dropAnswers = 2;
    f.negativeAnswers = 2;
    f.negativeCode = 61;
    sim_.SetFaults(1, f);
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(c.Send(Request(read_)));
        EXPECT_EQ(c.Read(1, 200), "") << i;
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(c.Send(Request(read_)));
        EXPECT_EQ(c.ReadFrame(), Answer(Neg(61))) << i;
    }
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_EQ(sim_.Requests(1), 5);
    EXPECT_EQ(sim_.GetFaults(1).dropAnswers, 0);
    EXPECT_EQ(sim_.GetFaults(1).negativeAnswers, 0);
    // -1: every answer is dropped.
    f = Faults{};
    f.dropAnswers = -1;
    sim_.SetFaults(1, f);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(c.Send(Request(read_)));
        EXPECT_EQ(c.Read(1, 100), "");
    }
    EXPECT_EQ(sim_.GetFaults(1).dropAnswers, -1);
}

TEST_F(SimNet, ClosesAfterTheRequest) {
    Faults f;
    f.closeAfterRequest = true;
    sim_.SetFaults(1, f);
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.Read(1, 1000), "");
    EXPECT_TRUE(c.closed());
    EXPECT_EQ(sim_.Requests(1), 1);
    sim_.SetFaults(1, Faults{});
    Client d;
    ASSERT_TRUE(d.Connect(port()));
    ASSERT_TRUE(d.Send(Request(read_)));
    EXPECT_EQ(d.ReadFrame(), Answer(good_));
}

TEST_F(SimNet, RefusesOrNeverAcceptsConnections) {
    Client open;
    ASSERT_TRUE(open.Connect(port()));
    Faults f;
    f.refuseConnections = true;
    sim_.SetFaults(1, f);
    // Open connections are dropped and new ones refused at once.
    EXPECT_EQ(open.Read(1, 1000), "");
    EXPECT_TRUE(open.closed());
    Client c;
    auto t = Clock::now();
    EXPECT_FALSE(c.Connect(port(), 1000));
    EXPECT_LT(Since(t), 900);

    f = Faults{};
    f.neverAccept = true;
    sim_.SetFaults(1, f);
    Client h;
    t = Clock::now();
    EXPECT_FALSE(h.Connect(port(), 500));
    EXPECT_GE(Since(t), 450);

    sim_.SetFaults(1, Faults{});
    Client ok;
    ASSERT_TRUE(ok.Connect(port()));
    ASSERT_TRUE(ok.Send(Request(read_)));
    EXPECT_EQ(ok.ReadFrame(), Answer(good_));
}

TEST_F(SimNet, MalformsAnswersOnRequest) {
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    Faults f;
    f.strayBytes = "xy\r";
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read_)));
    std::string whole = "xy\r" + Answer(good_);
    EXPECT_EQ(c.Read(whole.size()), whole);

    f = Faults{};
    f.wrongStation = 2;
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(2, "$RD78563412")));
    ASSERT_TRUE(c.Send(Request("%01#RDE0010000100**\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(2, "!42")));

    f = Faults{};
    f.oversizedAnswer = true;
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read_)));
    std::string big = c.ReadFrame();
    ASSERT_GE(big.size(), 2990u);
    ASSERT_LE(big.size(), 3000u);
    EXPECT_EQ(big.substr(12, 14), "%01$RD78563412");
    EXPECT_EQ(big.back(), '\r');
    std::string text = big.substr(12, big.size() - 15);
    char bcc[3];
    std::snprintf(bcc, sizeof bcc, "%02X", Bcc(text));
    EXPECT_EQ(big.substr(big.size() - 3, 2), bcc);

    f = Faults{};
    f.garbage = true;
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read_)));
    std::string g = c.Read(16);
    ASSERT_GE(g.size(), 16u);
    EXPECT_NE(g[12], '%');
    EXPECT_NE(g[15], '$');
}

// The PLCs the driver must survive: a unit set to decimal that does not
// answer a station field in hex, one that answers twice and late, one
// whose answers end in CR LF.
TEST_F(SimNet, PlaysStrictStationsDoubleAnswersAndCrLf) {
    const int p10 = sim_.AddStation(10);
    ASSERT_GT(p10, 0);
    sim_.SetStationField(10, etl::sim::StationField::kDecimal, true);
    Client c;
    ASSERT_TRUE(c.Connect(static_cast<std::uint16_t>(p10)));
    // "%0A" (D101) is read but not answered: the first answer is the one
    // to "%10" (D100).
    ASSERT_TRUE(c.Send(Request("%0A#RDD0010100101**\r", 10)));
    ASSERT_TRUE(c.Send(Request("%10#RDD0010000100**\r", 10)));
    EXPECT_EQ(c.ReadFrame(), Answer(WithBcc("%10$RD7856"), 0x33, 10));
    EXPECT_EQ(sim_.Requests(10), 2);
    ASSERT_TRUE(c.Send(Request("%EE#RDD0010000100**\r", 10)));
    EXPECT_EQ(c.ReadFrame(), Answer(WithBcc("%10$RD7856"), 0x33, 10));
    // Without strict the same station takes both forms again.
    sim_.SetStationField(10, etl::sim::StationField::kDecimal);
    ASSERT_TRUE(c.Send(Request("%0A#RDD0010000100**\r", 10)));
    EXPECT_EQ(c.ReadFrame(), Answer(WithBcc("%10$RD7856"), 0x33, 10));

    // Late, twice, in CR LF: the LF after the CR, outside the header's
    // length; the second copy the same bytes, its time after the first.
    Faults f;
    f.delayMs = 300;
    f.duplicateAfterMs = 400;
    f.crlf = true;
    sim_.SetFaults(1, f);
    Client d;
    ASSERT_TRUE(d.Connect(port()));
    const std::string once = Answer(good_) + "\n";
    auto t = Clock::now();
    ASSERT_TRUE(d.Send(Request(read_)));
    EXPECT_EQ(d.Read(once.size(), 3000), once);
    const long first = Since(t);
    EXPECT_GE(first, 290);
    EXPECT_EQ(d.Read(once.size(), 3000), once);
    EXPECT_GE(Since(t) - first, 390);
    EXPECT_EQ(d.Read(1, 300), "");
    EXPECT_EQ(sim_.Requests(1), 1);
    // Each part of an answer in parts ends in CR LF too; a negative answer as well.
    sim_.SetSplit(1, 20);
    f = Faults{};
    f.crlf = true;
    sim_.SetFaults(1, f);
    ASSERT_TRUE(d.Send(Request("%01#RDD0010000103**\r")));
    std::string part = d.ReadFrame();
    EXPECT_EQ(part.substr(part.size() - 2), "&\r") << part;
    EXPECT_EQ(d.Read(1), "\n");
    ASSERT_TRUE(d.Send(Request("%01**&\r")));
    part = d.ReadFrame();
    EXPECT_EQ(part.substr(12, 3), "%01") << part;
    EXPECT_NE(part[part.size() - 2], '&') << part;
    EXPECT_EQ(d.Read(1), "\n");
    ASSERT_TRUE(d.Send(Request("%01#RDE0010000100**\r")));
    EXPECT_EQ(d.Read(Answer(Neg(42)).size() + 1), Answer(Neg(42)) + "\n");
}

// --trace writes what etlan --trace writes for the same bytes: local time,
// "->" what the station receives, "<-" what it sends, "==" its events.
TEST_F(SimNet, TraceWritesEtlansNotation) {
    const std::string path = ::testing::TempDir() + "sim_trace.txt";
    std::FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    sim_.SetTrace(true, out);
    ASSERT_GT(sim_.AddStation(10), 0);
    sim_.SetStationField(10, etl::sim::StationField::kDecimal, true);
    Faults f;
    f.crlf = true;
    sim_.SetFaults(1, f);
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    EXPECT_EQ(c.Read(1), "\n");
    ASSERT_TRUE(c.Send(Request("%01#RDE0010000100**\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Neg(42)));
    Client ten;
    ASSERT_TRUE(ten.Connect(sim_.Port(10)));
    ASSERT_TRUE(ten.Send(Request("%0A#RDD0010000100**\r", 10)));
    ASSERT_TRUE(ten.Send(Request("%10#RDD0010000100**\r", 10)));
    EXPECT_EQ(ten.ReadFrame(), Answer(WithBcc("%10$RD7856"), 0x33, 10));
    c.Close();
    const auto text = [&] {
        std::string all;
        std::FILE* in = std::fopen(path.c_str(), "r");
        if (in == nullptr) return all;
        for (int ch = std::fgetc(in); ch != EOF; ch = std::fgetc(in)) all += static_cast<char>(ch);
        std::fclose(in);
        return all;
    };
    const std::string closed = "== st 01  closed by the driver (port ";
    auto t = Clock::now();
    while (text().find(closed) == std::string::npos && Since(t) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sim_.Stop();  // no trace line after the file is closed
    std::fclose(out);
    const std::string trace = text();
    EXPECT_NE(trace.find(closed), std::string::npos) << trace;
    EXPECT_NE(trace.find("== st 01  accepted a connection (port "), std::string::npos) << trace;
    const auto request = trace.find("  -> st 01  10 00 14 00 00 00 00 00 00 00 01 33  %01#RDD0010000101**\\r\n");
    ASSERT_NE(request, std::string::npos) << trace;
    const auto lineStart = trace.rfind('\n', request) == std::string::npos ? 0 : trace.rfind('\n', request) + 1;
    int h = -1, m = -1, sec = -1, ms = -1;
    EXPECT_EQ(std::sscanf(trace.c_str() + lineStart, "%2d:%2d:%2d.%3d", &h, &m, &sec, &ms), 4) << trace;
    EXPECT_EQ(request - lineStart, 12u) << trace;
    const auto answer = trace.find("  <- st 01  10 00 11 00 00 00 00 00 00 00 33 01  %01$RD78563412");
    EXPECT_GT(answer, request) << trace;
    EXPECT_NE(answer, std::string::npos) << trace;
    EXPECT_NE(trace.find("<- st 01  raw, 1 byte(s), no ET-LAN header: 0A  \"\\x0A\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("\\r   PLC error 42: command not supported\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> st 10  10 00 14 00 00 00 00 00 00 00 0A 33  %0A#RDD0010000100**\\r\n"),
              std::string::npos) << trace;
    EXPECT_NE(trace.find("== st 10  no answer: station field \"0A\" is not in the station's form (decimal-only)\n"),
              std::string::npos) << trace;
    EXPECT_NE(trace.find("<- st 10  10 00 0D 00 00 00 00 00 00 00 33 0A  %10$RD7856"), std::string::npos) << trace;
}

TEST_F(SimNet, RestartDropsConnectionsAndKeepsMemory) {
    Client c;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(good_));
    sim_.RestartStation(1);
    EXPECT_EQ(sim_.Open(1), 0);
    EXPECT_EQ(c.Read(1, 1000), "");
    EXPECT_TRUE(c.closed());
    Client d;
    ASSERT_TRUE(d.Connect(port()));
    ASSERT_TRUE(d.Send(Request(read_)));
    EXPECT_EQ(d.ReadFrame(), Answer(good_));
    EXPECT_EQ(sim_.Accepted(1), 2);
}

TEST_F(SimNet, ServesAnswersInPartsPerConnection) {
    for (int i = 0; i < 509; ++i) sim_.SetWord('D', i, static_cast<std::uint16_t>(i));
    sim_.SetSplit(1, 118);
    Memory copy;
    for (int i = 0; i < 509; ++i) copy.Set('D', i, static_cast<std::uint16_t>(i));
    const std::string read509 = "%01#RDD0000000508**\r";
    const auto expected = etl::sim::SplitAnswer(Execute(copy, 1, read509), 118);
    ASSERT_EQ(expected.size(), 19u);
    Client c;
    Client other;
    ASSERT_TRUE(c.Connect(port()));
    ASSERT_TRUE(other.Connect(port()));
    ASSERT_TRUE(c.Send(Request(read509)));
    EXPECT_EQ(c.ReadFrame(), Answer(expected[0]));
    // Each next-part request, in either station form or with its BCC,
    // brings the next part; parts are kept per connection.
    ASSERT_TRUE(other.Send(Request("%01**&\r")));
    EXPECT_EQ(other.ReadFrame(), Answer(Expect(1, "!43")));
    const std::string asks[] = {"%01**&\r", "%01**&", WithBcc("%01").substr(0, 5) + "&\r"};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        ASSERT_TRUE(c.Send(Request(asks[i % 3])));
        ASSERT_EQ(c.ReadFrame(), Answer(expected[i])) << i;
    }
    ASSERT_TRUE(c.Send(Request("%01**&\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "!43")));
    // A new command while parts are pending is served and drops the rest.
    ASSERT_TRUE(c.Send(Request(read509)));
    EXPECT_EQ(c.ReadFrame(), Answer(expected[0]));
    ASSERT_TRUE(c.Send(Request(read_)));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "$RD64006500")));
    ASSERT_TRUE(c.Send(Request("%01**&\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "!43")));
    // A part that never comes: the request is read, no answer, and the rest
    // is gone.
    Faults f;
    f.partFault = Faults::PartFault::kPartNeverComes;
    f.partFaultAt = 3;
    sim_.SetFaults(1, f);
    ASSERT_TRUE(c.Send(Request(read509)));
    EXPECT_EQ(c.ReadFrame(), Answer(expected[0]));
    ASSERT_TRUE(c.Send(Request("%01**&\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(expected[1]));
    int before = sim_.Requests(1);
    ASSERT_TRUE(c.Send(Request("%01**&\r")));
    etl::test::WaitUntil([&] { return sim_.Requests(1) > before; });
    EXPECT_EQ(c.Read(1, 300), "");
    EXPECT_EQ(sim_.Requests(1), before + 1);
    ASSERT_TRUE(c.Send(Request("%01**&\r")));
    EXPECT_EQ(c.ReadFrame(), Answer(Expect(1, "!43")));
    // Whole answers again once splitting is off.
    sim_.SetFaults(1, Faults{});
    sim_.SetSplit(1, 0);
    ASSERT_TRUE(c.Send(Request(read509)));
    EXPECT_EQ(c.ReadFrame().size(), 12 + 2045u);
    // A station answering with its number in decimal, in parts.
    int p12 = sim_.AddStation(12);
    ASSERT_GT(p12, 0);
    sim_.SetStationField(12, etl::sim::StationField::kDecimal);
    sim_.SetSplit(12, 12);
    Client d;
    ASSERT_TRUE(d.Connect(static_cast<std::uint16_t>(p12)));
    ASSERT_TRUE(d.Send(Request("%0C#RDD0000500005**\r", 12)));
    EXPECT_EQ(d.ReadFrame(), Answer(WithBcc("%12$RD05").substr(0, 10) + "&\r", 0x33, 12));
    ASSERT_TRUE(d.Send(Request("%12**&\r", 12)));
    EXPECT_EQ(d.ReadFrame(), Answer(WithBcc("%1200"), 0x33, 12));
}

TEST_F(SimNet, RefusingNewConnectionsKeepsTheOpenOnes) {
    Client open;
    ASSERT_TRUE(open.Connect(port()));
    // Taken from the listener by the station, not waiting in its backlog.
    ASSERT_TRUE(etl::test::WaitUntil([&] { return sim_.Open(1) == 1; }));
    Faults f;
    f.refuseNewConnections = true;
    sim_.SetFaults(1, f);
    Client c;
    auto t = Clock::now();
    EXPECT_FALSE(c.Connect(port(), 1000));
    EXPECT_LT(Since(t), 900);
    EXPECT_EQ(sim_.Open(1), 1);
    ASSERT_TRUE(open.Send(Request(read_)));
    EXPECT_EQ(open.ReadFrame(), Answer(good_));
    sim_.SetFaults(1, Faults{});
    Client again;
    ASSERT_TRUE(again.Connect(port()));
    ASSERT_TRUE(again.Send(Request(read_)));
    EXPECT_EQ(again.ReadFrame(), Answer(good_));
    ASSERT_TRUE(open.Send(Request(read_)));
    EXPECT_EQ(open.ReadFrame(), Answer(good_));
}

TEST(SimStations, SeveralStationsShareMemoryAndRestartOnTheirPorts) {
    Simulator sim;
    int p1 = sim.AddStation(1);
    int p2 = sim.AddStation(2);
    ASSERT_GT(p1, 0);
    ASSERT_GT(p2, 0);
    EXPECT_NE(p1, p2);
    EXPECT_EQ(sim.AddStation(1), -1);
    EXPECT_EQ(sim.AddStation(0), -1);
    EXPECT_EQ(sim.AddStation(3, static_cast<std::uint16_t>(p1)), -1);  // port in use
    // Not started yet: bound but refusing.
    Client early;
    EXPECT_FALSE(early.Connect(static_cast<std::uint16_t>(p1), 500));
    ASSERT_TRUE(sim.Start());
    Client a;
    Client b;
    ASSERT_TRUE(a.Connect(static_cast<std::uint16_t>(p1)));
    ASSERT_TRUE(b.Connect(static_cast<std::uint16_t>(p2)));
    ASSERT_TRUE(a.Send(Request("%01#WDD00005000050100**\r")));
    EXPECT_EQ(a.ReadFrame(), Answer(Expect(1, "$WD")));
    ASSERT_TRUE(b.Send(Request("%02#RDD0000500005**\r", 2)));
    EXPECT_EQ(b.ReadFrame(), Answer(Expect(2, "$RD0100"), 0x33, 2));
    // A station added while running is served at once; faults stay per station.
    int p3 = sim.AddStation(3);
    ASSERT_GT(p3, 0);
    Faults f;
    f.negativeAnswers = -1;
    sim.SetFaults(3, f);
    Client c3;
    ASSERT_TRUE(c3.Connect(static_cast<std::uint16_t>(p3)));
    ASSERT_TRUE(c3.Send(Request("%03#RDD0000500005**\r", 3)));
    EXPECT_EQ(c3.ReadFrame(), Answer(Expect(3, "!42"), 0x33, 3));
    ASSERT_TRUE(b.Send(Request("%02#RDD0000500005**\r", 2)));
    EXPECT_EQ(b.ReadFrame(), Answer(Expect(2, "$RD0100"), 0x33, 2));
    // Stop closes everything; Start serves the same ports again.
    sim.Stop();
    EXPECT_EQ(a.Read(1, 1000), "");
    EXPECT_TRUE(a.closed());
    ASSERT_TRUE(sim.Start());
    Client again;
    ASSERT_TRUE(again.Connect(static_cast<std::uint16_t>(p1)));
    ASSERT_TRUE(again.Send(Request("%01#RDD0000500005**\r")));
    EXPECT_EQ(again.ReadFrame(), Answer(Expect(1, "$RD0100")));
}

// ---- etlan-sim's command line ----

// Reads a command line (the program name first) as etlan-sim does.
bool ParseLine(std::vector<std::string> words, etl::sim::SimOptions* o, std::string* why) {
    words.insert(words.begin(), "etlan-sim");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return etl::sim::ParseSimOptions(static_cast<int>(words.size()), argv.data(), o, why);
}

std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr) << path;
    if (f != nullptr) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
    return path;
}

TEST(SimOptions, ReadsBothValueFormsAndAppliesFaultsInTheOrderGiven) {
    const std::string file = WriteFile("sim_options_good.txt", "# initial values\n\n  R10=0x0020\r\nLD5=-1\n");
    etl::sim::SimOptions o;
    std::string why;
    ASSERT_TRUE(ParseLine({"--station=1", "--station", "2:0", "--station", "3", "-v", "--trace", "--model", "FP2",
                           "--set", "D100=1234", "--file=" + file, "--set=D200=0x12345678",
                           "--for", "2", "--delay-ms=250", "--drop", "-1", "--split", "40",
                           "--for=all", "--split=118", "--station-field", "decimal",
                           "--for", "1", "--negative", "3:61", "--stray", "\\r\\x41\\\\", "--part-fault=truncated:3",
                           "--for", "2", "--spli", "60", "--for", "3", "--station-field=decimal-only",
                           "--answer-twice", "1200", "--crlf", "--record", "cap.pcap", "--stdin-stop", "--"},
                          &o, &why))
        << why;
    ASSERT_EQ(o.stations.size(), 3u);
    EXPECT_EQ(o.stations[1].number, 2);
    EXPECT_EQ(o.stations[1].port, 0);
    EXPECT_TRUE(o.verbose && o.trace && o.stdinStop);
    EXPECT_FALSE(o.help || o.version);
    EXPECT_EQ(o.model, etl::sim::Model::kFp2);
    EXPECT_EQ(o.recordPath, "cap.pcap");
    ASSERT_EQ(o.sets.size(), 4u);
    EXPECT_EQ(o.sets[1].text, "R10=0x0020");
    EXPECT_NE(o.sets[2].origin.find("line 4"), std::string::npos) << o.sets[2].origin;
    EXPECT_EQ(o.sets[3].text, "D200=0x12345678");

    const auto one = o.SettingsFor(1);
    const auto two = o.SettingsFor(2);
    const auto three = o.SettingsFor(3);
    EXPECT_EQ(one.split, 118);
    EXPECT_EQ(three.split, 118);
    EXPECT_EQ(two.split, 60);  // --for 2 after --for all: the later one counts
    EXPECT_EQ(two.faults.delayMs, 250);
    EXPECT_EQ(two.faults.dropAnswers, -1);
    EXPECT_EQ(one.faults.delayMs, 0);
    EXPECT_EQ(one.faults.negativeAnswers, 3);
    EXPECT_EQ(one.faults.negativeCode, 61);
    EXPECT_EQ(one.faults.strayBytes, "\rA\\");
    EXPECT_EQ(one.faults.partFault, Faults::PartFault::kTruncatedPart);
    EXPECT_EQ(one.faults.partFaultAt, 3);
    EXPECT_EQ(two.faults.negativeAnswers, 0);
    EXPECT_EQ(three.faults.dropAnswers, 0);
    EXPECT_EQ(three.field, etl::sim::StationField::kDecimal);
    // The ready line says where nothing listens.
    EXPECT_EQ(etl::sim::ReadyLine(o, 1, 9094), "ready station 1 port 9094");
    etl::sim::SimOptions refusing;
    ASSERT_TRUE(ParseLine({"--station", "1", "--station", "2", "--station", "3", "--for", "1", "--refuse-new",
                           "--for", "2", "--never-accept"},
                          &refusing, &why))
        << why;
    EXPECT_EQ(etl::sim::ReadyLine(refusing, 1, 9094), "ready station 1 port 9094 (no listener: connections are refused)");
    EXPECT_EQ(etl::sim::ReadyLine(refusing, 2, 9095), "ready station 2 port 9095 (accept queue full: connections hang)");
    EXPECT_EQ(etl::sim::ReadyLine(refusing, 3, 9096), "ready station 3 port 9096");
    EXPECT_TRUE(three.strictField);
    EXPECT_FALSE(one.strictField);
    EXPECT_EQ(one.field, etl::sim::StationField::kDecimal);
    EXPECT_EQ(three.faults.duplicateAfterMs, 1200);
    EXPECT_TRUE(three.faults.crlf);
    EXPECT_EQ(two.faults.duplicateAfterMs, -1);
    EXPECT_FALSE(two.faults.crlf);

    // Short options cluster; --help and --version end the reading.
    etl::sim::SimOptions clustered;
    ASSERT_TRUE(ParseLine({"-vh", "--no-such-option"}, &clustered, &why)) << why;
    EXPECT_TRUE(clustered.verbose && clustered.help);
    etl::sim::SimOptions version;
    ASSERT_TRUE(ParseLine({"--version"}, &version, &why)) << why;
    EXPECT_TRUE(version.version);
}

TEST(SimOptions, RefusesBadLinesNamingTheOptionTheValueAndWhatIsAllowed) {
    const std::string bad = WriteFile("sim_options_bad.txt", "D1=1\n# fine so far\nE5=1\n");
    const std::string missing = ::testing::TempDir() + "sim_options_missing.txt";
    struct Case {
        std::vector<std::string> line;
        std::vector<std::string> words;  // each in the message
    };
    const Case cases[] = {
        {{"--station", "1", "--split", "7"}, {"option --split: \"7\" is not 0 or a number from 12 to 65535"}},
        {{"--station", "1", "--split=12x"}, {"--split", "\"12x\""}},
        {{"--station", "0"}, {"--station", "\"0\"", "1 to 255"}},
        {{"--station", "1:70000"}, {"--station", "\"1:70000\"", "0 to 65535"}},
        {{"--station", " 1"}, {"--station", "\" 1\""}},
        {{"--station", "1", "--station", "1:5000"}, {"--station", "\"1:5000\"", "station 1 is given twice"}},
        {{"--station", "1:5000", "--station", "2:5000"}, {"--station", "\"2:5000\"", "port 5000", "station 1"}},
        {{"--station", "1", "--bogus"}, {"unknown option --bogus", "--help"}},
        {{"--station", "1", "-vx"}, {"unknown option -x"}},
        {{"--station", "1", "--sta", "2"}, {"--sta", "ambiguous", "--station-field"}},
        {{"--station", "1", "--garbage=1"}, {"--garbage", "takes no value", "\"1\""}},
        {{"--station", "1", "--delay-ms"}, {"--delay-ms", "needs a value", "0 to 600000"}},
        {{"--station", "1", "extra", "--trace"}, {"\"extra\"", "options only"}},
        {{"--station", "1", "--model", "fp9"}, {"--model", "\"fp9\"", "generous, fp2, fp3 or fp5"}},
        {{"--station", "1", "--station-field", "oct"}, {"--station-field", "\"oct\"", "hex or decimal"}},
        {{"--station", "1", "--station-field", "decimal-strict"},
         {"--station-field", "\"decimal-strict\"", "hex-only or decimal-only"}},
        {{"--station", "1", "--answer-twice", "600001"}, {"--answer-twice", "\"600001\"", "0 to 600000"}},
        {{"--station", "1", "--answer-twice", "-1"}, {"--answer-twice", "\"-1\"", "0 to 600000"}},
        {{"--station", "1", "--crlf=yes"}, {"--crlf", "takes no value", "\"yes\""}},
        {{"--station", "1", "--set", "D100"}, {"--set", "\"D100\"", "AREA=VALUE"}},
        {{"--station", "1", "--set", "E1=1"}, {"--set", "\"E1=1\"", "not an area and address", "LD"}},
        {{"--station", "1", "--set", "D7000=1", "--model", "fp2"}, {"--set", "\"D7000=1\"", "fp2 model"}},
        {{"--station", "1", "--set", "D100=70000x"}, {"--set", "\"D100=70000x\"", "-32768 to 0xFFFFFFFF"}},
        {{"--station", "1", "--set", "D32767=0x10000"}, {"--set", "two words"}},
        {{"--station", "1", "--file", missing}, {"--file", "cannot open", "\"" + missing + "\""}},
        {{"--station", "1", "--file", bad}, {"--file", bad, "line 3", "\"E5=1\"", "not an area"}},
        {{"--station", "1", "--for", "7", "--drop", "1"}, {"--for", "\"7\"", "--station"}},
        {{"--station", "1", "--for", "x"}, {"--for", "\"x\"", "all or a station number from 1 to 255"}},
        {{"--station", "1", "--drop", "-2"}, {"--drop", "\"-2\"", "-1 (every answer)"}},
        {{"--station", "1", "--pieces", "65536"}, {"--pieces", "\"65536\"", "0 to 65535"}},
        {{"--station", "1", "--negative", "1:100"}, {"--negative", "\"1:100\"", "CODE", "0 to 99"}},
        {{"--station", "1", "--wrong-station", "256"}, {"--wrong-station", "\"256\"", "0 to 255"}},
        {{"--station", "1", "--stray", "a\\q"}, {"--stray", "\"\\q\"", "\\xHH"}},
        {{"--station", "1", "--stray", "\\x4"}, {"--stray", "\"\\x4\""}},
        {{"--station", "1", "--part-fault", "torn:2"}, {"--part-fault", "\"torn:2\"", "bad-bcc", "1 to 1000"}},
        {{"--station", "1", "--record="}, {"--record", "\"\"", "a file name"}},
        {{"--trace"}, {"no station", "--station N[:PORT]"}},
    };
    for (const Case& c : cases) {
        etl::sim::SimOptions o;
        std::string why;
        std::string line;
        for (const auto& w : c.line) line += " " + w;
        EXPECT_FALSE(ParseLine(c.line, &o, &why)) << line;
        for (const auto& w : c.words) EXPECT_NE(why.find(w), std::string::npos) << line << ": " << why;
    }
    // A line refused inside a cluster leaves nothing behind for the next.
    etl::sim::SimOptions after;
    std::string why;
    EXPECT_TRUE(ParseLine({"--station", "1"}, &after, &why)) << why;
    EXPECT_FALSE(after.verbose);
}

}  // namespace
