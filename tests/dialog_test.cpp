// The "Tag Format" dialog (function code 16). The address helpers run on
// every build. The dialog itself is driven here through the in-memory
// dialog manager, as a user would drive it; on Windows the real dialog is
// driven by dialog_gui_test (tests/dialog_gui_test.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "address/dialog.h"
#include "host/blocks.h"
#include "host/vpi.h"

namespace {

using etl::PadAddress;

std::string Pad(const char* text, bool five) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", text);
    PadAddress(buffer, sizeof buffer, five);
    return buffer;
}

TEST(PadAddress, WidthFollowsTheMode) {
    EXPECT_EQ(Pad("7", false), "0007");
    EXPECT_EQ(Pad("7", true), "00007");
    EXPECT_EQ(Pad("1234", false), "1234");
    EXPECT_EQ(Pad("1234", true), "01234");
    EXPECT_EQ(Pad("0", false), "0000");
    EXPECT_EQ(Pad("", true), "00000");       // no number counts as 0
    EXPECT_EQ(Pad("12ab", false), "0012");   // the leading number counts
}

TEST(PadAddress, FiveDigitValuesKeepFiveDigitsAndOthersBecomeZero) {
    for (bool five : {false, true}) {
        EXPECT_EQ(Pad("10000", five), "10000");
        EXPECT_EQ(Pad("99999", five), "99999");
        EXPECT_EQ(Pad("-5", five), "0");
        EXPECT_EQ(Pad("100000", five), "0");
        EXPECT_EQ(Pad("99999999999999999999", five), "0");
    }
    char small[4] = "7";  // never writes past the buffer
    PadAddress(small, sizeof small, true);
    EXPECT_STREQ(small, "000");
}

TEST(MemoryCodeMap, OneLetterNamesAndTwoLetterNames) {
    EXPECT_EQ(etl::MemoryCodeMap("Y - External output relay "), 'Y');
    EXPECT_EQ(etl::MemoryCodeMap("T "), 'T');
    EXPECT_EQ(etl::MemoryCodeMap("LD"), 'G');
    EXPECT_EQ(etl::MemoryCodeMap("IF"), 'U');  // not R
    EXPECT_EQ(etl::MemoryCodeMap("IX"), 'H');
    EXPECT_EQ(etl::MemoryCodeMap("IY"), 'I');
    EXPECT_EQ(etl::MemoryCodeMap("IA"), 'M');
    EXPECT_EQ(etl::MemoryCodeMap("I9"), '9');
    EXPECT_EQ(etl::MemoryCodeMap("ZZ"), '\0');
    EXPECT_EQ(etl::MemoryCodeMap(""), '\0');
}

// Runs function code 16 through VpiMain with a 16-byte buffer full of '#'.
struct BrowseRun {
    std::int32_t result;
    char buffer[16];
    std::string Text() const { return std::string(buffer); }
    // True when nothing after the text's NUL was written.
    bool RestUntouched() const {
        for (std::size_t i = std::strlen(buffer) + 1; i < sizeof buffer - 1; ++i) {
            if (buffer[i] != '#') return false;
        }
        return true;
    }
};

BrowseRun Browse(etl::HostWindow parent = nullptr) {
    BrowseRun run{};
    std::memset(run.buffer, '#', sizeof run.buffer - 1);
    run.buffer[sizeof run.buffer - 1] = '\0';
    etl::DialogBlock block{run.buffer, parent};
    etl::VpiRequest request{nullptr, 16, 0, 0, &block};
    run.result = VpiMain(&request);
    return run;
}

TEST(BrowseAddress, DialogThatCannotBeShownGives53AndLeavesTheBuffer) {
    // No user interface here (Linux), or no template module (a Windows test
    // program without ETLANdr.dll).
    const BrowseRun run = Browse();
    EXPECT_EQ(run.result, etl::kNotConfirmed);
    EXPECT_EQ(run.Text(), std::string(15, '#'));
}

TEST(BrowseAddress, MissingBufferGives53) {
    etl::DialogBlock block{nullptr, nullptr};
    etl::VpiRequest request{nullptr, 16, 0, 0, &block};
    EXPECT_EQ(VpiMain(&request), etl::kNotConfirmed);
    etl::VpiRequest noBlock{nullptr, 16, 0, 0, nullptr};
    EXPECT_EQ(VpiMain(&noBlock), etl::kNotConfirmed);
}

}  // namespace

#if !defined(_WIN32)
#include "tests/support/dialog_memory.h"

namespace {

namespace mem = etl::plat::memory;
using etl::plat::DlgWindow;

constexpr std::uint32_t kUp = etl::plat::kSbLineUp;
constexpr std::uint32_t kDown = etl::plat::kSbLineDown;
constexpr int kOk = static_cast<int>(etl::plat::kIdOk);
constexpr int kCancel = static_cast<int>(etl::plat::kIdCancel);

// The memory codes each gate kind's list produces, entry by entry.
constexpr char kAnalogCodes[] = "YXRSVGDFLHI0123456789MNOPQU";
constexpr char kDigitalCodes[] = "YXRTCL";
constexpr char kAnalog32Codes[] = "XYRLGDVSF";

class DialogTest : public ::testing::Test {
protected:
    void TearDown() override {
        mem::SetDialogUser(nullptr);
        unsetenv("QANPRO_VERSION");
        unsetenv("QANPRO_CLIENT_FAIL");
    }

    // Opens the dialog with `user` at the screen; counts the user's turns.
    BrowseRun Run(std::function<void(DlgWindow)> user, etl::HostWindow parent = nullptr) {
        turns = 0;
        mem::SetDialogUser([this, user](DlgWindow dialog) {
            ++turns;
            user(dialog);
        });
        return Browse(parent);
    }

    static void Ok(DlgWindow d) { ASSERT_TRUE(mem::Click(d, kOk)); }

    // Presses OK expecting one error box and the dialog still open.
    static void OkRefused(DlgWindow d, const std::string& text) {
        ASSERT_TRUE(mem::Click(d, kOk));
        const auto boxes = mem::TakeMessageBoxes(d);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].type, etl::plat::kMbOk);
        EXPECT_EQ(boxes[0].owner, d);
        EXPECT_FALSE(mem::Ended(d));
    }

    int turns = 0;
};

TEST_F(DialogTest, OpensWithItsDefaultsAndOkGives01Y0000) {
    const BrowseRun run = Run([](DlgWindow d) {
        EXPECT_EQ(mem::Caption(d), "Tag Format");
        EXPECT_EQ(mem::ItemCount(d, IDC_GATE_KIND), 3);
        EXPECT_EQ(mem::ItemText(d, IDC_GATE_KIND, 2), "Analog 32 bits gate");
        EXPECT_EQ(mem::Text(d, IDC_GATE_KIND), "Analog gate");
        EXPECT_TRUE(mem::IsEnabled(d, IDC_MEMORY_TYPE));
        EXPECT_EQ(mem::ItemCount(d, IDC_MEMORY_TYPE), 27);
        EXPECT_EQ(mem::Text(d, IDC_MEMORY_TYPE), "Y - External output relay ");
        EXPECT_EQ(mem::ItemText(d, IDC_MEMORY_TYPE, 26), "IF - Index Register ");
        EXPECT_EQ(mem::Text(d, IDC_PLC_NUMBER), "01");
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "0000");
        EXPECT_EQ(mem::TextLimit(d, IDC_ADDRESS), 4);
        EXPECT_FALSE(mem::IsEnabled(d, IDC_BIT_LIST));
        EXPECT_EQ(mem::ItemCount(d, IDC_BIT_LIST), 16);
        EXPECT_EQ(mem::ItemText(d, IDC_BIT_LIST, 0), "F");
        EXPECT_EQ(mem::Selection(d, IDC_BIT_LIST), 15);
        EXPECT_EQ(mem::TopIndex(d, IDC_BIT_LIST), 15);
        EXPECT_FALSE(mem::ScrollList(d, IDC_BIT_LIST, kUp));  // disabled for analog tags
        Ok(d);
    });
    EXPECT_EQ(turns, 1);
    EXPECT_EQ(run.result, etl::kOk);
    EXPECT_EQ(run.Text(), "01Y0000");
    EXPECT_TRUE(run.RestUntouched());
}

TEST_F(DialogTest, EveryMemoryEntryGivesItsCodeAndAddressWidth) {
    struct Kind {
        int index;
        const char* codes;
    };
    for (const Kind kind : {Kind{0, kAnalogCodes}, Kind{1, kDigitalCodes}, Kind{2, kAnalog32Codes}}) {
        const int count = static_cast<int>(std::strlen(kind.codes));
        for (int entry = 0; entry < count; ++entry) {
            SCOPED_TRACE("gate kind " + std::to_string(kind.index) + ", entry " +
                         std::to_string(entry));
            const BrowseRun run = Run([&](DlgWindow d) {
                ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, kind.index));
                ASSERT_EQ(mem::ItemCount(d, IDC_MEMORY_TYPE), count);
                ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, entry));
                const std::string text = mem::ItemText(d, IDC_MEMORY_TYPE, entry);
                EXPECT_EQ(text.back(), ' ');  // entries end with a blank
                ASSERT_TRUE(mem::TypeText(d, IDC_ADDRESS, "42"));
                Ok(d);
            });
            ASSERT_EQ(run.result, etl::kOk);
            const char code = kind.codes[entry];
            const bool five = code == 'D' || code == 'G' || code == 'F';
            std::string expected = std::string("01") + code + (five ? "00042" : "0042");
            if (kind.index == 1) expected += "0";  // digital: the bit in the top row
            EXPECT_EQ(run.Text(), expected);
        }
    }
}

TEST_F(DialogTest, ChangingTheMemoryTypeSetsTheWidthAndResetsTheAddress) {
    const BrowseRun run = Run([](DlgWindow d) {
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 6));  // D - Data register
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "00000");
        EXPECT_EQ(mem::TextLimit(d, IDC_ADDRESS), 5);
        mem::TypeText(d, IDC_ADDRESS, "123456");  // the sixth digit is refused
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "12345");
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 2));  // R
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "0000");
        EXPECT_EQ(mem::TextLimit(d, IDC_ADDRESS), 4);
        mem::TypeText(d, IDC_ADDRESS, "12x3");  // digits only
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "123");
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 7));  // F
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "00000");
        mem::TypeText(d, IDC_ADDRESS, "7");
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01F00007");
}

TEST_F(DialogTest, GateKindChangeRefillsTheListAndKeepsTheBitPosition) {
    const BrowseRun run = Run([](DlgWindow d) {
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 6));  // D, five digits
        mem::TypeText(d, IDC_ADDRESS, "4711");
        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 1));  // Digital gate
        EXPECT_EQ(mem::ItemCount(d, IDC_MEMORY_TYPE), 6);
        EXPECT_EQ(mem::Selection(d, IDC_MEMORY_TYPE), 0);
        EXPECT_EQ(mem::Text(d, IDC_MEMORY_TYPE), "Y - External output relay ");
        EXPECT_EQ(mem::Text(d, IDC_ADDRESS), "0000");
        EXPECT_EQ(mem::TextLimit(d, IDC_ADDRESS), 4);
        EXPECT_TRUE(mem::IsEnabled(d, IDC_BIT_LIST));
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(mem::ScrollList(d, IDC_BIT_LIST, kUp));
        EXPECT_EQ(mem::TopIndex(d, IDC_BIT_LIST), 12);  // "3"

        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 2));  // Analog 32 bits gate
        EXPECT_EQ(mem::ItemCount(d, IDC_MEMORY_TYPE), 9);
        EXPECT_EQ(mem::Text(d, IDC_MEMORY_TYPE), "X - External Input 32 bits ");
        EXPECT_FALSE(mem::IsEnabled(d, IDC_BIT_LIST));
        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 1));
        EXPECT_EQ(mem::TopIndex(d, IDC_BIT_LIST), 12);  // the bit list kept its row
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01Y00003");
}

TEST_F(DialogTest, ComposesDigitalAndTwoLetterAddresses) {
    // Digital gate, T - Timer, address 12, bit list stepped up to "A".
    BrowseRun run = Run([](DlgWindow d) {
        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 1));
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 3));
        mem::TypeText(d, IDC_ADDRESS, "12");
        for (int i = 0; i < 10; ++i) mem::ScrollList(d, IDC_BIT_LIST, kUp);
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01T0012A");

    run = Run([](DlgWindow d) {  // LD - Data Link relay, address 10
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 5));
        mem::TypeText(d, IDC_ADDRESS, "10");
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01G00010");

    run = Run([](DlgWindow d) {  // IF - Index Register, address 3
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 26));
        mem::TypeText(d, IDC_ADDRESS, "3");
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01U0003");
}

TEST_F(DialogTest, BitListStopsAtBothEnds) {
    const BrowseRun run = Run([](DlgWindow d) {
        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 1));
        mem::ScrollList(d, IDC_BIT_LIST, kDown);
        EXPECT_EQ(mem::TopIndex(d, IDC_BIT_LIST), 15);  // "0" is the bottom
        for (int i = 0; i < 20; ++i) mem::ScrollList(d, IDC_BIT_LIST, kUp);
        EXPECT_EQ(mem::TopIndex(d, IDC_BIT_LIST), 0);
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01Y0000F");
}

TEST_F(DialogTest, PlcNumberAsTyped) {
    struct Case {
        const char* typed;
        const char* output;
    };
    for (const Case c : {Case{"7", "07Y0000"}, Case{"00", "00Y0000"}, Case{"64", "64Y0000"},
                         Case{"123", "12Y0000"}}) {
        SCOPED_TRACE(c.typed);
        const BrowseRun run = Run([&](DlgWindow d) {
            mem::TypeText(d, IDC_PLC_NUMBER, c.typed);
            Ok(d);
            EXPECT_TRUE(mem::TakeMessageBoxes(d).empty());
        });
        EXPECT_EQ(run.result, etl::kOk);
        EXPECT_EQ(run.Text(), c.output);
    }
}

TEST_F(DialogTest, OutOfRangeAndMissingValuesKeepTheDialogOpen) {
    const BrowseRun run = Run([](DlgWindow d) {
        mem::TypeText(d, IDC_PLC_NUMBER, "65");
        OkRefused(d, "PLC number should be between 0 - 64 ");
        mem::TypeText(d, IDC_PLC_NUMBER, "");
        OkRefused(d, "missing value!");
        mem::TypeText(d, IDC_PLC_NUMBER, "3");
        mem::TypeText(d, IDC_ADDRESS, "");
        OkRefused(d, "missing value!");
        mem::TypeText(d, IDC_ADDRESS, "9");
        Ok(d);
        EXPECT_TRUE(mem::TakeMessageBoxes(d).empty());
    });
    EXPECT_EQ(run.result, etl::kOk);
    EXPECT_EQ(run.Text(), "03Y0009");
}

TEST_F(DialogTest, PastedSignsAndLettersAreRefusedNotComposed) {
    // A paste bypasses the edits' digits-only style; such texts must not
    // turn into a short or non-numeric address.
    const BrowseRun run = Run([](DlgWindow d) {
        const auto paste = [d](int id, const char* text) {
            etl::plat::WriteWindowText(etl::plat::DialogItem(d, id), text);
        };
        paste(IDC_PLC_NUMBER, "-1");
        OkRefused(d, "PLC number should be between 0 - 64 ");
        paste(IDC_PLC_NUMBER, "a5");
        OkRefused(d, "PLC number should be between 0 - 64 ");
        paste(IDC_PLC_NUMBER, "05");
        paste(IDC_ADDRESS, "-12");
        OkRefused(d, "Address should be between 0 - 9999 ");
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 6));
        paste(IDC_ADDRESS, "-1234");
        OkRefused(d, "Address should be between 0 - 99999 ");
        paste(IDC_ADDRESS, "12ab");  // the leading number counts
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "05D00012");
}

TEST_F(DialogTest, PlcArrowsStayBetween1And64) {
    Run([](DlgWindow d) {
        const auto plcAfter = [d](const char* typed, std::uint32_t code) {
            mem::TypeText(d, IDC_PLC_NUMBER, typed);
            EXPECT_TRUE(mem::ClickArrow(d, IDC_PLC_ARROWS, code));
            return mem::Text(d, IDC_PLC_NUMBER);
        };
        EXPECT_EQ(plcAfter("64", kUp), "64");
        EXPECT_EQ(plcAfter("63", kUp), "64");
        EXPECT_EQ(plcAfter("01", kDown), "01");
        EXPECT_EQ(plcAfter("00", kDown), "01");
        EXPECT_EQ(plcAfter("7", kUp), "08");
        EXPECT_EQ(plcAfter("", kUp), "02");  // no number counts as 1
        EXPECT_EQ(plcAfter("12", kDown), "11");
        mem::PressEscape(d);
    });
}

TEST_F(DialogTest, AddressArrowsStopAtTheLimitsOfTheWidth) {
    const BrowseRun run = Run([](DlgWindow d) {
        const auto addressAfter = [d](const char* typed, std::uint32_t code) {
            mem::TypeText(d, IDC_ADDRESS, typed);
            EXPECT_TRUE(mem::ClickArrow(d, IDC_ADDRESS_ARROWS, code));
            return mem::Text(d, IDC_ADDRESS);
        };
        EXPECT_EQ(addressAfter("9999", kUp), "9999");
        EXPECT_EQ(addressAfter("9998", kUp), "9999");
        EXPECT_EQ(addressAfter("0000", kDown), "0000");
        EXPECT_EQ(addressAfter("12", kUp), "0013");
        EXPECT_EQ(addressAfter("", kDown), "0000");
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 6));  // D, five digits
        EXPECT_EQ(addressAfter("99999", kUp), "99999");
        EXPECT_EQ(addressAfter("9999", kUp), "10000");
        EXPECT_EQ(addressAfter("00000", kDown), "00000");
        EXPECT_EQ(addressAfter("10000", kDown), "09999");
        Ok(d);
    });
    EXPECT_EQ(run.Text(), "01D09999");
}

TEST_F(DialogTest, CancelEscapeAndAUserWhoWalksAwayGive53) {
    for (const auto& user : std::initializer_list<std::function<void(DlgWindow)>>{
             [](DlgWindow d) {
                 mem::TypeText(d, IDC_PLC_NUMBER, "5");
                 ASSERT_TRUE(mem::Click(d, kCancel));
             },
             [](DlgWindow d) { mem::PressEscape(d); },
             [](DlgWindow) {},
         }) {
        const BrowseRun run = Run(user);
        EXPECT_EQ(turns, 1);
        EXPECT_EQ(run.result, etl::kNotConfirmed);
        EXPECT_EQ(run.Text(), std::string(15, '#'));
    }
}

TEST_F(DialogTest, HostWindowOwnsTheDialogFromVersion820On) {
    int hostWindow = 0;
    DlgWindow owner = &hostWindow;
    const auto ownerSeen = [&]() {
        owner = &hostWindow;
        Run([&](DlgWindow d) {
            owner = mem::Owner(d);
            mem::PressEscape(d);
        }, &hostWindow);
        return owner;
    };
    setenv("QANPRO_VERSION", "819", 1);
    EXPECT_EQ(ownerSeen(), nullptr);
    setenv("QANPRO_VERSION", "820", 1);
    EXPECT_EQ(ownerSeen(), &hostWindow);
    setenv("QANPRO_VERSION", "65535", 1);
    EXPECT_EQ(ownerSeen(), &hostWindow);
    setenv("QANPRO_CLIENT_FAIL", "1", 1);  // the version stays 0
    EXPECT_EQ(ownerSeen(), nullptr);
    // Without an owner the dialog still works.
    const BrowseRun run = Run([](DlgWindow d) { Ok(d); }, &hostWindow);
    EXPECT_EQ(run.Text(), "01Y0000");
}

TEST_F(DialogTest, EachOpeningStartsAfresh) {
    Run([](DlgWindow d) {
        ASSERT_TRUE(mem::ChooseItem(d, IDC_GATE_KIND, 1));
        ASSERT_TRUE(mem::ChooseItem(d, IDC_MEMORY_TYPE, 4));
        mem::TypeText(d, IDC_PLC_NUMBER, "33");
        mem::ScrollList(d, IDC_BIT_LIST, kUp);
        Ok(d);
    });
    const BrowseRun run = Run([](DlgWindow d) { Ok(d); });
    EXPECT_EQ(run.Text(), "01Y0000");
}

}  // namespace
#endif
