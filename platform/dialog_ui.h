// The dialog manager as the address dialog uses it: the few user32 calls it
// needs, under names of our own. Windows maps them onto user32; the other
// builds have no user interface (platform/posix/dialog_headless.cpp), and
// the tests run the dialog on a manager in memory (tests/support/).
//
// Message, notification and style numbers carry the values of the Windows
// headers, so the dialog procedure reads the same on every build.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ETL_DIALOG_CALL __stdcall
#else
#define ETL_DIALOG_CALL
#endif

namespace etl::plat {

using DlgWindow = void*;  // a dialog or one of its controls
using DlgModule = void*;  // the module that holds the dialog template

// A dialog procedure: nonzero when it handled the message.
using DlgProc = std::intptr_t(ETL_DIALOG_CALL*)(DlgWindow dialog, std::uint32_t message,
                                                std::uintptr_t wParam, std::intptr_t lParam);

// Messages.
constexpr std::uint32_t kWmSetText = 0x000C;
constexpr std::uint32_t kWmGetText = 0x000D;
constexpr std::uint32_t kWmGetTextLength = 0x000E;
constexpr std::uint32_t kWmChar = 0x0102;
constexpr std::uint32_t kWmInitDialog = 0x0110;
constexpr std::uint32_t kWmCommand = 0x0111;
constexpr std::uint32_t kWmVScroll = 0x0115;
constexpr std::uint32_t kEmSetSel = 0x00B1;
constexpr std::uint32_t kEmLimitText = 0x00C5;
constexpr std::uint32_t kEmGetLimitText = 0x00D5;
constexpr std::uint32_t kLbAddString = 0x0180;
constexpr std::uint32_t kLbResetContent = 0x0184;
constexpr std::uint32_t kLbSetCurSel = 0x0186;
constexpr std::uint32_t kLbGetCurSel = 0x0188;
constexpr std::uint32_t kLbGetText = 0x0189;
constexpr std::uint32_t kLbGetTextLen = 0x018A;
constexpr std::uint32_t kLbGetCount = 0x018B;
constexpr std::uint32_t kLbGetTopIndex = 0x018E;
constexpr std::uint32_t kLbSetTopIndex = 0x0197;
constexpr std::uint32_t kCbAddString = 0x0143;
constexpr std::uint32_t kCbGetCount = 0x0146;
constexpr std::uint32_t kCbGetCurSel = 0x0147;
constexpr std::uint32_t kCbGetLbText = 0x0148;
constexpr std::uint32_t kCbGetLbTextLen = 0x0149;
constexpr std::uint32_t kCbResetContent = 0x014B;
constexpr std::uint32_t kCbSetCurSel = 0x014E;

// Notification and scroll codes (high and low word of wParam).
constexpr std::uint32_t kBnClicked = 0;
constexpr std::uint32_t kCbnSelChange = 1;
constexpr std::uint32_t kSbLineUp = 0;
constexpr std::uint32_t kSbLineDown = 1;

// Results.
constexpr std::intptr_t kIdOk = 1;
constexpr std::intptr_t kIdCancel = 2;
constexpr std::intptr_t kLbErr = -1;
constexpr std::uint32_t kMbOk = 0;

// Window styles.
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsChild = 0x40000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kWsDisabled = 0x08000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsBorder = 0x00800000u;
constexpr std::uint32_t kWsVScroll = 0x00200000u;
constexpr std::uint32_t kWsGroup = 0x00020000u;
constexpr std::uint32_t kWsTabStop = 0x00010000u;
constexpr std::uint32_t kWsExStaticEdge = 0x00020000u;
constexpr std::uint32_t kWsExClientEdge = 0x00000200u;
constexpr std::uint32_t kDsSetFont = 0x40u;
constexpr std::uint32_t kDsModalFrame = 0x80u;
constexpr std::uint32_t kEsUppercase = 0x0008u;
constexpr std::uint32_t kEsNumber = 0x2000u;
constexpr std::uint32_t kLbsNotify = 0x0001u;
constexpr std::uint32_t kLbsNoIntegralHeight = 0x0100u;
constexpr std::uint32_t kLbsWantKeyboardInput = 0x0400u;
constexpr std::uint32_t kBsPushButton = 0x0u;
constexpr std::uint32_t kBsDefPushButton = 0x1u;
constexpr std::uint32_t kSbsVert = 0x1u;
constexpr std::uint32_t kSbsLeftAlign = 0x2u;
constexpr std::uint32_t kSsLeft = 0x0u;
constexpr std::uint32_t kCbsDropDownList = 0x3u;

// Packs two 16-bit halves into wParam, as MAKEWPARAM does.
constexpr std::uintptr_t MakeWParam(std::uint32_t low, std::uint32_t high) {
    return static_cast<std::uintptr_t>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

// One control of a dialog template; x, y, width, height in dialog units.
struct ControlLayout {
    int id;
    const char* className;  // "EDIT", "LISTBOX", "BUTTON", "SCROLLBAR", "STATIC", "COMBOBOX"
    const char* text;
    int x, y, width, height;
    std::uint32_t style;  // including WS_CHILD and WS_VISIBLE
    std::uint32_t exStyle;
};

// A dialog template as data. Windows loads the template from the module's
// resource of the same number and ignores this; the tests' in-memory
// dialog manager builds its controls from it.
struct DialogLayout {
    const char* caption;
    std::uint32_t style;
    const char* fontName;
    int fontPoints;
    int width, height;
    const ControlLayout* controls;
    std::size_t controlCount;
};

// The module loaded under that file name, or null.
DlgModule FindModule(const char* fileName);
std::uint32_t CurrentThreadId();

// Runs a modal dialog (DialogBoxParamA): returns the value passed to
// EndModalDialog, or -1 when the dialog cannot be shown.
std::intptr_t RunModalDialog(DlgModule module, int templateId, const DialogLayout& layout,
                             DlgWindow owner, DlgProc proc, std::intptr_t initParam);
bool EndModalDialog(DlgWindow dialog, std::intptr_t result);

// The dialog's slot for its procedure's own data (DWLP_USER).
void SetDialogData(DlgWindow dialog, void* data);
void* GetDialogData(DlgWindow dialog);

DlgWindow DialogItem(DlgWindow dialog, int id);
std::intptr_t SendItemMessage(DlgWindow dialog, int id, std::uint32_t message,
                              std::uintptr_t wParam, std::intptr_t lParam);
std::intptr_t SendWindowMessage(DlgWindow window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);
// Text reads copy at most capacity - 1 characters and a NUL; they return
// the number of characters copied.
int GetItemText(DlgWindow dialog, int id, char* text, int capacity);
int ReadWindowText(DlgWindow window, char* text, int capacity);
bool WriteWindowText(DlgWindow window, const char* text);
// Enables or disables a window; true when it was disabled before.
bool EnableControl(DlgWindow window, bool enable);
int ShowMessageBox(DlgWindow owner, const char* text, const char* caption, std::uint32_t type);

}  // namespace etl::plat
