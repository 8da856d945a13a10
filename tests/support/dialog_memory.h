// The tests' dialog manager: the dialog calls of platform/dialog_ui.h in
// memory, so that the address dialog runs without a window system. Dialogs
// and their edit, list box, combo box, button, static and scroll bar
// controls keep their texts, items, selections, limits and enabled states,
// and the dialog procedure gets the same messages it gets on Windows.
//
// Linked into the test executable itself (tests/CMakeLists.txt), so that
// the headless dialog of the shipped library is never taken in its place.
//
// A modal dialog needs a user: a callback that runs once the dialog is open
// (after WM_INITDIALOG) and acts on it through the functions below, as a
// person at the screen would, until it presses OK or Cancel. Without a user
// a modal dialog cannot be shown and RunModalDialog returns -1 at once; a
// user that returns without ending the dialog ends it with -1 as well.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dialog_ui.h"

namespace etl::plat::memory {

using DialogUser = std::function<void(DlgWindow dialog)>;

// Installs the user for the dialogs that follow; an empty one removes it.
void SetDialogUser(DialogUser user);

// ---- What a user does. Each returns false when the control does not take
// the action (no such control, disabled, wrong kind).

// Replaces an edit's text by typing: select all, then one character at a
// time. The edit drops what it would refuse from a keyboard (non-digits
// with ES_NUMBER, characters beyond its limit) and upper-cases with
// ES_UPPERCASE. An empty text clears the edit.
bool TypeText(DlgWindow dialog, int id, const std::string& text);
// Picks an entry of a combo box's list: CBN_SELCHANGE to the dialog.
bool ChooseItem(DlgWindow dialog, int id, int index);
// Clicks a push button: BN_CLICKED to the dialog.
bool Click(DlgWindow dialog, int id);
// The Escape key: IDCANCEL to the dialog.
void PressEscape(DlgWindow dialog);
// Clicks the up (kSbLineUp) or down (kSbLineDown) arrow of a scroll bar
// control: WM_VSCROLL with the code, then SB_ENDSCROLL, to the dialog.
bool ClickArrow(DlgWindow dialog, int id, std::uint32_t code);
// Clicks an arrow of a list box's own scroll bar: moves its top row.
bool ScrollList(DlgWindow dialog, int id, std::uint32_t code);

// ---- What a user sees.
std::string Text(DlgWindow dialog, int id);
bool IsEnabled(DlgWindow dialog, int id);
int ItemCount(DlgWindow dialog, int id);
std::string ItemText(DlgWindow dialog, int id, int index);
int Selection(DlgWindow dialog, int id);  // -1 when none
int TopIndex(DlgWindow dialog, int id);
int TextLimit(DlgWindow dialog, int id);
DlgWindow Owner(DlgWindow dialog);
std::string Caption(DlgWindow dialog);
bool Ended(DlgWindow dialog);

struct MessageBoxShown {
    DlgWindow owner;
    std::string text;
    std::string caption;
    std::uint32_t type;
};
// The message boxes shown since the last call; each was answered with OK.
std::vector<MessageBoxShown> TakeMessageBoxes(DlgWindow dialog);

}  // namespace etl::plat::memory
