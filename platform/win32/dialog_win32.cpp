// The dialog calls of platform/dialog_ui.h on user32. The template comes
// from the module's dialog resource; the layout passed along is not used.
#include <windows.h>

#include "platform/dialog_ui.h"

namespace etl::plat {

static_assert(sizeof(WPARAM) == sizeof(std::uintptr_t));
static_assert(sizeof(LPARAM) == sizeof(std::intptr_t));
static_assert(sizeof(INT_PTR) == sizeof(std::intptr_t));

static_assert(kWmSetText == WM_SETTEXT && kWmGetText == WM_GETTEXT &&
              kWmGetTextLength == WM_GETTEXTLENGTH && kWmChar == WM_CHAR &&
              kWmInitDialog == WM_INITDIALOG && kWmCommand == WM_COMMAND &&
              kWmVScroll == WM_VSCROLL);
static_assert(kEmSetSel == EM_SETSEL && kEmLimitText == EM_LIMITTEXT &&
              kEmGetLimitText == EM_GETLIMITTEXT);
static_assert(kLbAddString == LB_ADDSTRING && kLbResetContent == LB_RESETCONTENT &&
              kLbSetCurSel == LB_SETCURSEL && kLbGetCurSel == LB_GETCURSEL &&
              kLbGetText == LB_GETTEXT && kLbGetTextLen == LB_GETTEXTLEN &&
              kLbGetCount == LB_GETCOUNT && kLbGetTopIndex == LB_GETTOPINDEX &&
              kLbSetTopIndex == LB_SETTOPINDEX);
static_assert(kCbAddString == CB_ADDSTRING && kCbGetCount == CB_GETCOUNT &&
              kCbGetCurSel == CB_GETCURSEL && kCbGetLbText == CB_GETLBTEXT &&
              kCbGetLbTextLen == CB_GETLBTEXTLEN && kCbResetContent == CB_RESETCONTENT &&
              kCbSetCurSel == CB_SETCURSEL);
static_assert(kBnClicked == BN_CLICKED && kCbnSelChange == CBN_SELCHANGE &&
              kSbLineUp == SB_LINEUP && kSbLineDown == SB_LINEDOWN);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kLbErr == LB_ERR && kMbOk == MB_OK);
static_assert(kWsPopup == WS_POPUP && kWsChild == WS_CHILD && kWsVisible == WS_VISIBLE &&
              kWsDisabled == WS_DISABLED && kWsCaption == WS_CAPTION &&
              kWsBorder == WS_BORDER && kWsVScroll == WS_VSCROLL && kWsGroup == WS_GROUP &&
              kWsTabStop == WS_TABSTOP);
static_assert(kWsExStaticEdge == WS_EX_STATICEDGE && kWsExClientEdge == WS_EX_CLIENTEDGE &&
              kDsSetFont == DS_SETFONT && kDsModalFrame == DS_MODALFRAME);
static_assert(kEsUppercase == ES_UPPERCASE && kEsNumber == ES_NUMBER &&
              kLbsNotify == LBS_NOTIFY && kLbsNoIntegralHeight == LBS_NOINTEGRALHEIGHT &&
              kLbsWantKeyboardInput == LBS_WANTKEYBOARDINPUT);
static_assert(kBsPushButton == BS_PUSHBUTTON && kBsDefPushButton == BS_DEFPUSHBUTTON &&
              kSbsVert == SBS_VERT && kSbsLeftAlign == SBS_LEFTALIGN && kSsLeft == SS_LEFT &&
              kCbsDropDownList == CBS_DROPDOWNLIST);

namespace {
HWND Hwnd(DlgWindow w) { return static_cast<HWND>(w); }
}  // namespace

DlgModule FindModule(const char* fileName) { return GetModuleHandleA(fileName); }

std::uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

std::intptr_t RunModalDialog(DlgModule module, int templateId, const DialogLayout&,
                             DlgWindow owner, DlgProc proc, std::intptr_t initParam) {
    // DlgProc has DLGPROC's calling convention and argument widths (checked
    // above); only the declared handle and integer types differ.
    const auto dialogProc = reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(proc));
    return DialogBoxParamA(static_cast<HINSTANCE>(module), MAKEINTRESOURCEA(templateId),
                           Hwnd(owner), dialogProc, initParam);
}

bool EndModalDialog(DlgWindow dialog, std::intptr_t result) {
    return EndDialog(Hwnd(dialog), result) != FALSE;
}

void SetDialogData(DlgWindow dialog, void* data) {
    SetWindowLongPtrA(Hwnd(dialog), DWLP_USER, reinterpret_cast<LONG_PTR>(data));
}

void* GetDialogData(DlgWindow dialog) {
    return reinterpret_cast<void*>(GetWindowLongPtrA(Hwnd(dialog), DWLP_USER));
}

DlgWindow DialogItem(DlgWindow dialog, int id) { return GetDlgItem(Hwnd(dialog), id); }

std::intptr_t SendItemMessage(DlgWindow dialog, int id, std::uint32_t message,
                              std::uintptr_t wParam, std::intptr_t lParam) {
    return SendDlgItemMessageA(Hwnd(dialog), id, message, wParam, lParam);
}

std::intptr_t SendWindowMessage(DlgWindow window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    return SendMessageA(Hwnd(window), message, wParam, lParam);
}

int GetItemText(DlgWindow dialog, int id, char* text, int capacity) {
    if (text == nullptr || capacity <= 0) return 0;
    text[0] = '\0';
    return static_cast<int>(GetDlgItemTextA(Hwnd(dialog), id, text, capacity));
}

int ReadWindowText(DlgWindow window, char* text, int capacity) {
    if (text == nullptr || capacity <= 0) return 0;
    text[0] = '\0';
    return GetWindowTextA(Hwnd(window), text, capacity);
}

bool WriteWindowText(DlgWindow window, const char* text) {
    return SetWindowTextA(Hwnd(window), text) != FALSE;
}

bool EnableControl(DlgWindow window, bool enable) {
    return EnableWindow(Hwnd(window), enable ? TRUE : FALSE) != FALSE;
}

int ShowMessageBox(DlgWindow owner, const char* text, const char* caption, std::uint32_t type) {
    return MessageBoxA(Hwnd(owner), text, caption, type);
}

}  // namespace etl::plat
