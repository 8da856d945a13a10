// The "Tag Format" address dialog: BrowseAddress asks the host runtime for
// its version, runs the dialog modally and, on OK, writes the composed
// address text (PP M AAAA[A] [B]) into the host's buffer.
#include "address/dialog.h"

#include <cstdio>
#include <cstring>

#include "host/operations.h"
#include "host/qanpro.h"

namespace etl {

using plat::DlgWindow;

namespace {

constexpr char kAnalogGate[] = "Analog gate";
constexpr char kDigitalGate[] = "Digital gate";
constexpr char kAnalog32Gate[] = "Analog 32 bits gate";

constexpr const char* kGateKinds[] = {kAnalogGate, kDigitalGate, kAnalog32Gate};

constexpr const char* kAnalogTypes[] = {
    "Y - External output relay ", "X - External input relay ", "R - Internal relay ",
    "S - Set Value ",             "V - Elapsed value ",        "LD - Data Link relay ",
    "D - Data register ",         "F - File register ",        "L - Link relay ",
    "IX - Index Register ",       "IY - Index Register ",      "I0 - Index Register ",
    "I1 - Index Register ",       "I2 - Index Register ",      "I3 - Index Register ",
    "I4 - Index Register ",       "I5 - Index Register ",      "I6 - Index Register ",
    "I7 - Index Register ",       "I8 - Index Register ",      "I9 - Index Register ",
    "IA - Index Register ",       "IB - Index Register ",      "IC - Index Register ",
    "ID - Index Register ",       "IE - Index Register ",      "IF - Index Register ",
};

constexpr const char* kDigitalTypes[] = {
    "Y - External output relay ", "X - External input relay ", "R - Internal relay ",
    "T - Timer ",                 "C - Counter ",              "L - Link relay ",
};

constexpr const char* kAnalog32Types[] = {
    "X - External Input 32 bits ",  "Y - External Output 32 bits ", "R - Internal Relay 32 bits ",
    "L - Link relay 32 bits ",      "LD - Data Link relay 32 bits ", "D - Data area 32 bits ",
    "V - Elapsed value 32 bits ",   "S - Set Value 32 bits ",        "F - File Register 32 bits ",
};

// Index 15 ("0") is selected at opening; stepping the list up shows higher bits.
constexpr const char* kBitEntries[] = {"F", "E", "D", "C", "B", "A", "9", "8",
                                       "7", "6", "5", "4", "3", "2", "1", "0"};
constexpr int kInitialBitIndex = 15;

struct TwoLetterCode {
    char name[3];
    char code;
};

constexpr TwoLetterCode kTwoLetterCodes[] = {
    {"LD", 'G'}, {"IX", 'H'}, {"IY", 'I'}, {"I0", '0'}, {"I1", '1'}, {"I2", '2'}, {"I3", '3'},
    {"I4", '4'}, {"I5", '5'}, {"I6", '6'}, {"I7", '7'}, {"I8", '8'}, {"I9", '9'}, {"IA", 'M'},
    {"IB", 'N'}, {"IC", 'O'}, {"ID", 'P'}, {"IE", 'Q'}, {"IF", 'U'},
};

constexpr std::uint32_t kChildVisible = plat::kWsChild | plat::kWsVisible;

constexpr plat::ControlLayout kTagFormatControls[] = {
    {IDC_PLC_NUMBER, "EDIT", "", 56, 20, 14, 12,
     kChildVisible | plat::kWsTabStop | plat::kEsNumber | plat::kEsUppercase,
     plat::kWsExClientEdge | plat::kWsExStaticEdge},
    {IDC_BIT_LIST, "LISTBOX", "", 56, 112, 35, 11,
     kChildVisible | plat::kWsDisabled | plat::kWsBorder | plat::kWsVScroll | plat::kWsTabStop |
         plat::kLbsNotify | plat::kLbsNoIntegralHeight | plat::kLbsWantKeyboardInput,
     plat::kWsExStaticEdge},
    {static_cast<int>(plat::kIdOk), "BUTTON", "OK", 166, 89, 40, 14,
     kChildVisible | plat::kWsTabStop | plat::kBsDefPushButton, 0},
    {static_cast<int>(plat::kIdCancel), "BUTTON", "Cancel", 166, 109, 40, 14,
     kChildVisible | plat::kWsTabStop | plat::kBsPushButton, 0},
    {IDC_PLC_ARROWS, "SCROLLBAR", "", 69, 20, 11, 12,
     kChildVisible | plat::kSbsVert | plat::kSbsLeftAlign, 0},
    {IDC_PLC_LABEL, "STATIC", "PLC number:", 7, 22, 41, 8,
     kChildVisible | plat::kWsGroup | plat::kSsLeft, 0},
    {IDC_MEMORY_LABEL, "STATIC", "Memory type:", 7, 68, 43, 10,
     kChildVisible | plat::kWsGroup | plat::kSsLeft, 0},
    {IDC_ADDRESS_LABEL, "STATIC", "Address:", 8, 91, 32, 8,
     kChildVisible | plat::kWsGroup | plat::kSsLeft, 0},
    {IDC_BIT_LABEL, "STATIC", "Bit number:", 7, 112, 37, 10,
     kChildVisible | plat::kWsGroup | plat::kSsLeft, 0},
    {IDC_TAG_TYPE_LABEL, "STATIC", "Tag Type ", 7, 46, 35, 11,
     kChildVisible | plat::kWsGroup | plat::kSsLeft, 0},
    {IDC_GATE_KIND, "COMBOBOX", "", 56, 44, 84, 57,
     kChildVisible | plat::kWsVScroll | plat::kWsTabStop | plat::kCbsDropDownList, 0},
    {IDC_MEMORY_TYPE, "COMBOBOX", "", 56, 66, 84, 76,
     kChildVisible | plat::kWsDisabled | plat::kWsVScroll | plat::kWsTabStop |
         plat::kCbsDropDownList,
     plat::kWsExStaticEdge},
    {IDC_ADDRESS, "EDIT", "", 55, 89, 30, 12,
     kChildVisible | plat::kWsTabStop | plat::kEsNumber | plat::kEsUppercase,
     plat::kWsExClientEdge | plat::kWsExStaticEdge},
    {IDC_ADDRESS_ARROWS, "SCROLLBAR", "", 84, 89, 11, 12,
     kChildVisible | plat::kSbsVert | plat::kSbsLeftAlign, 0},
};

constexpr char kMissingValue[] = "missing value!";
constexpr char kPlcOutOfRange[] = "PLC number should be between 0 - 64 ";
constexpr char kAddressOutOfRange4[] = "Address should be between 0 - 9999 ";
constexpr char kAddressOutOfRange5[] = "Address should be between 0 - 99999 ";
constexpr char kErrorCaption[] = "Error";

constexpr int kMinimumOutputSize = 10;
constexpr std::uint16_t kOwnedDialogVersion = 820;

AddressDialogState* StateOf(DlgWindow dialog) {
    return static_cast<AddressDialogState*>(plat::GetDialogData(dialog));
}

std::intptr_t TextParam(const char* text) { return reinterpret_cast<std::intptr_t>(text); }

template <std::size_t N>
void AddStrings(DlgWindow dialog, int id, std::uint32_t message, const char* const (&entries)[N]) {
    for (const char* entry : entries) plat::SendItemMessage(dialog, id, message, 0, TextParam(entry));
}

void SetItemText(DlgWindow dialog, int id, const char* text) {
    plat::WriteWindowText(plat::DialogItem(dialog, id), text);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text's leading decimal number with an optional sign; 0 when there is
// none. Large values stop growing past anything the dialog accepts.
long LeadingNumber(const char* text) {
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    long value = 0;
    for (; IsDigit(*p); ++p) {
        if (value < 1000000) value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

// Reads the selected memory entry and, when it names a memory type, sets
// the address width and resets the address for it.
void MemorySelectionUpdate(DlgWindow dialog, AddressDialogState& state) {
    char entry[3] = {};
    plat::GetItemText(dialog, IDC_MEMORY_TYPE, entry, sizeof entry);
    state.memoryCode[0] = MemoryCodeMap(entry);
    state.memoryCode[1] = '\0';
    if (state.memoryCode[0] == '\0') return;
    state.fiveDigitMode = TakesFiveDigits(state.memoryCode[0]);
    plat::SendItemMessage(dialog, IDC_ADDRESS, plat::kEmLimitText, state.fiveDigitMode ? 5 : 4, 0);
    SetItemText(dialog, IDC_ADDRESS, state.fiveDigitMode ? "00000" : "0000");
}

void SelectFirstMemoryType(DlgWindow dialog, AddressDialogState& state) {
    plat::SendItemMessage(dialog, IDC_MEMORY_TYPE, plat::kCbSetCurSel, 0, 0);
    MemorySelectionUpdate(dialog, state);
}

void InitDialog(DlgWindow dialog, AddressDialogState& state) {
    plat::SendItemMessage(dialog, IDC_BIT_LIST, plat::kLbResetContent, 0, 0);
    AddStrings(dialog, IDC_BIT_LIST, plat::kLbAddString, kBitEntries);
    plat::SendItemMessage(dialog, IDC_BIT_LIST, plat::kLbSetCurSel, kInitialBitIndex, 0);

    plat::SendItemMessage(dialog, IDC_ADDRESS, plat::kEmLimitText, 5, 0);
    SetItemText(dialog, IDC_ADDRESS, "0000");

    AddStrings(dialog, IDC_GATE_KIND, plat::kCbAddString, kGateKinds);
    plat::SendItemMessage(dialog, IDC_GATE_KIND, plat::kCbSetCurSel, 0, 0);

    FillMemoryList(dialog, kAnalogGate);
    SelectFirstMemoryType(dialog, state);

    SetItemText(dialog, IDC_PLC_NUMBER, "01");
}

void GateKindChange(DlgWindow dialog, AddressDialogState& state) {
    plat::GetItemText(dialog, IDC_GATE_KIND, state.gateKind, sizeof state.gateKind);
    if (state.gateKind[0] != '\0') FillMemoryList(dialog, state.gateKind);
    SelectFirstMemoryType(dialog, state);
}

// The bit list's top row, the bit it shows. Bit entries are one character;
// anything longer is not read.
int ReadTopBit(DlgWindow dialog, char (&bit)[2]) {
    bit[0] = '\0';
    const std::intptr_t top = plat::SendItemMessage(dialog, IDC_BIT_LIST, plat::kLbGetTopIndex, 0, 0);
    if (top < 0) return 0;
    const auto index = static_cast<std::uintptr_t>(top);
    const std::intptr_t length =
        plat::SendItemMessage(dialog, IDC_BIT_LIST, plat::kLbGetTextLen, index, 0);
    if (length != 1) return 0;
    char entry[2] = {};
    const std::intptr_t read =
        plat::SendItemMessage(dialog, IDC_BIT_LIST, plat::kLbGetText, index, TextParam(entry));
    if (read != 1) return 0;
    bit[0] = entry[0];
    bit[1] = '\0';
    return 1;
}

void ShowError(DlgWindow dialog, const char* text) {
    plat::ShowMessageBox(dialog, text, kErrorCaption, plat::kMbOk);
}

// OK: checks the values; ends the dialog with 1 when they make an address.
bool OnOk(DlgWindow dialog, AddressDialogState& state) {
    char plc[3] = {};
    int plcLength = plat::GetItemText(dialog, IDC_PLC_NUMBER, plc, sizeof plc);
    const int gateLength =
        plat::GetItemText(dialog, IDC_GATE_KIND, state.gateKind, sizeof state.gateKind);
    char entry[3] = {};
    const int entryLength = plat::GetItemText(dialog, IDC_MEMORY_TYPE, entry, sizeof entry);
    state.memoryCode[0] = MemoryCodeMap(entry);
    state.memoryCode[1] = '\0';
    const int width = state.fiveDigitMode ? 5 : 4;
    const int addressLength = plat::GetItemText(dialog, IDC_ADDRESS, state.addressText, width + 1);
    const int bitLength = ReadTopBit(dialog, state.bitText);

    if (plcLength == 1) {
        plc[1] = plc[0];
        plc[0] = '0';
        plc[2] = '\0';
        plcLength = 2;
    }

    const bool digital = std::strcmp(state.gateKind, kDigitalGate) == 0;
    if (plcLength == 0 || gateLength == 0 || entryLength == 0 || addressLength == 0 ||
        (digital && bitLength == 0)) {
        ShowError(dialog, kMissingValue);
        return false;
    }

    // Two decimal digits, 00 to 64; anything else (a pasted sign or letter)
    // is out of range rather than read as 0.
    const bool plcDigits = IsDigit(plc[0]) && IsDigit(plc[1]);
    if (!plcDigits || (plc[0] - '0') * 10 + (plc[1] - '0') > 64) {
        ShowError(dialog, kPlcOutOfRange);
        return false;
    }

    // A memory entry that names no memory type cannot make an address.
    if (state.memoryCode[0] == '\0') {
        ShowError(dialog, kMissingValue);
        return false;
    }

    PadAddress(state.addressText, sizeof state.addressText, state.fiveDigitMode);
    // Only a negative number (a pasted sign) pads to something shorter than
    // the width; the composed text would be cut short.
    if (std::strlen(state.addressText) != static_cast<std::size_t>(width)) {
        ShowError(dialog, state.fiveDigitMode ? kAddressOutOfRange5 : kAddressOutOfRange4);
        return false;
    }

    std::memcpy(state.plcNumber, plc, sizeof state.plcNumber);
    plat::EndModalDialog(dialog, plat::kIdOk);
    return true;
}

void PlcArrows(DlgWindow dialog, std::uint32_t code) {
    char text[3] = {};
    const int length = plat::GetItemText(dialog, IDC_PLC_NUMBER, text, sizeof text);
    int n = 1;
    if (length == 1 && IsDigit(text[0])) {
        n = text[0] - '0';
    } else if (length == 2 && IsDigit(text[0]) && IsDigit(text[1])) {
        n = (text[0] - '0') * 10 + (text[1] - '0');
    }
    if (code == plat::kSbLineUp) {
        n = n < 64 ? n + 1 : 64;
    } else {
        n = n > 1 ? n - 1 : 1;
    }
    char out[8];
    std::snprintf(out, sizeof out, "%02d", n);
    SetItemText(dialog, IDC_PLC_NUMBER, out);
}

void AddressArrows(DlgWindow dialog, const AddressDialogState& state, std::uint32_t code) {
    char text[6] = {};
    plat::GetItemText(dialog, IDC_ADDRESS, text, sizeof text);
    long n = LeadingNumber(text);
    if (code == plat::kSbLineUp) {
        if (state.fiveDigitMode) {
            if (n < 99999) ++n;
        } else {
            n = n < 9999 ? n + 1 : 9999;
        }
    } else if (n != 0) {
        --n;
    }
    char out[16];
    std::snprintf(out, sizeof out, "%ld", n);
    PadAddress(out, sizeof out, state.fiveDigitMode);
    SetItemText(dialog, IDC_ADDRESS, out);
}

void OnScroll(DlgWindow dialog, AddressDialogState& state, std::uintptr_t wParam,
              std::intptr_t lParam) {
    const auto code = static_cast<std::uint32_t>(wParam & 0xFFFFu);
    if (code != plat::kSbLineUp && code != plat::kSbLineDown) return;
    const auto control = reinterpret_cast<DlgWindow>(lParam);
    if (control == nullptr) return;
    if (control == plat::DialogItem(dialog, IDC_PLC_ARROWS)) {
        PlcArrows(dialog, code);
    } else if (control == plat::DialogItem(dialog, IDC_ADDRESS_ARROWS)) {
        AddressArrows(dialog, state, code);
    }
}

// Writes PP M AAAA[A] [B] and a NUL: at most 10 bytes.
void ComposeAddress(const AddressDialogState& state, char* out) {
    const std::size_t width = state.fiveDigitMode ? 5 : 4;
    std::size_t n = 0;
    out[n++] = state.plcNumber[0];
    out[n++] = state.plcNumber[1];
    out[n++] = state.memoryCode[0];
    std::memcpy(out + n, state.addressText, width);
    n += width;
    if (state.bitMode) out[n++] = state.bitText[0];
    out[n] = '\0';
}

}  // namespace

const plat::DialogLayout kTagFormatLayout = {
    "Tag Format",
    plat::kWsPopup | plat::kWsCaption | plat::kDsModalFrame | plat::kDsSetFont,
    "MS Sans Serif",
    8,
    232,
    138,
    kTagFormatControls,
    sizeof kTagFormatControls / sizeof kTagFormatControls[0],
};

char MemoryCodeMap(const char* entryText) {
    if (entryText == nullptr || entryText[0] == '\0') return '\0';
    if (entryText[1] == ' ' || entryText[1] == '\0') return entryText[0];
    for (const TwoLetterCode& c : kTwoLetterCodes) {
        if (entryText[0] == c.name[0] && entryText[1] == c.name[1]) return c.code;
    }
    return '\0';
}

bool TakesFiveDigits(char memoryCode) {
    return memoryCode == 'D' || memoryCode == 'G' || memoryCode == 'F';
}

void PadAddress(char* text, std::size_t capacity, bool fiveDigitMode) {
    if (text == nullptr || capacity == 0) return;
    const long n = LeadingNumber(text);
    if (n >= 0 && n <= 9999) {
        std::snprintf(text, capacity, "%0*ld", fiveDigitMode ? 5 : 4, n);
    } else if (n >= 10000 && n <= 99999) {
        std::snprintf(text, capacity, "%05ld", n);
    } else {
        std::snprintf(text, capacity, "0");
    }
}

void FillMemoryList(DlgWindow dialog, const char* gateKind) {
    AddressDialogState* state = StateOf(dialog);
    plat::SendItemMessage(dialog, IDC_MEMORY_TYPE, plat::kCbResetContent, 0, 0);
    plat::EnableControl(plat::DialogItem(dialog, IDC_MEMORY_TYPE), true);
    bool bitMode = false;
    if (std::strcmp(gateKind, kAnalogGate) == 0) {
        AddStrings(dialog, IDC_MEMORY_TYPE, plat::kCbAddString, kAnalogTypes);
    } else if (std::strcmp(gateKind, kDigitalGate) == 0) {
        bitMode = true;
        AddStrings(dialog, IDC_MEMORY_TYPE, plat::kCbAddString, kDigitalTypes);
    } else {
        AddStrings(dialog, IDC_MEMORY_TYPE, plat::kCbAddString, kAnalog32Types);
    }
    plat::EnableControl(plat::DialogItem(dialog, IDC_BIT_LIST), bitMode);
    if (state != nullptr) state->bitMode = bitMode;
}

std::intptr_t ETL_DIALOG_CALL AddressDialogProc(DlgWindow dialog, std::uint32_t message,
                                                std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == plat::kWmInitDialog) {
        auto* state = reinterpret_cast<AddressDialogState*>(lParam);
        plat::SetDialogData(dialog, state);
        if (state == nullptr) {
            plat::EndModalDialog(dialog, plat::kIdCancel);
            return 1;
        }
        InitDialog(dialog, *state);
        return 1;
    }

    // Messages that come before WM_INITDIALOG find no state yet.
    AddressDialogState* state = StateOf(dialog);
    if (state == nullptr) return 0;

    if (message == plat::kWmCommand) {
        const auto id = static_cast<int>(wParam & 0xFFFFu);
        const auto notification = static_cast<std::uint32_t>((wParam >> 16) & 0xFFFFu);
        if (id == plat::kIdOk) return OnOk(dialog, *state) ? 1 : 0;
        if (id == plat::kIdCancel) {
            plat::EndModalDialog(dialog, plat::kIdCancel);
            return 1;
        }
        if (notification == plat::kCbnSelChange) {
            if (id == IDC_MEMORY_TYPE) MemorySelectionUpdate(dialog, *state);
            if (id == IDC_GATE_KIND) GateKindChange(dialog, *state);
        }
        return 0;
    }
    if (message == plat::kWmVScroll) OnScroll(dialog, *state, wParam, lParam);
    return 0;
}

std::int32_t BrowseAddress(VpiRequest* request) {
    DialogBlock* block = ParamsOf<DialogBlock>(request);
    // Without a buffer there is nowhere to put the result.
    if (block == nullptr || block->outputText == nullptr) return kNotConfirmed;

    plat::DlgModule module = plat::FindModule("ETLANdr.DLL");

    // The host's version decides whether its window owns the dialog.
    char clientName[256];
    std::snprintf(clientName, sizeof clientName, "ZavurBr%02d",
                  static_cast<int>(plat::CurrentThreadId()));
    std::uint8_t client = 255;
    std::uint16_t version = 0;
    char versionText[100] = {};
    if (QanMkClient(clientName, 1, 0, &client) == 0) {
        QanGetQanproVer(client, &version, versionText);
        QanRmClient(client);
    }
    DlgWindow owner = version >= kOwnedDialogVersion ? block->parentWindow : nullptr;

    AddressDialogState state{};
    const std::intptr_t result =
        plat::RunModalDialog(module, IDD_TAG_FORMAT, kTagFormatLayout, owner, AddressDialogProc,
                             reinterpret_cast<std::intptr_t>(&state));
    if (result != plat::kIdOk) return kNotConfirmed;

    static_assert(2 + 1 + 5 + 1 + 1 <= kMinimumOutputSize);
    ComposeAddress(state, block->outputText);
    return kOk;
}

}  // namespace etl
