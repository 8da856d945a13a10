// The dialog calls of platform/dialog_ui.h where there is no user
// interface: no dialog can be shown, so RunModalDialog answers -1 at once
// and the address dialog reports "not confirmed" (53) to the host. There is
// never a window, so every call about one finds none.
#include <unistd.h>

#include "platform/dialog_ui.h"

namespace etl::plat {

DlgModule FindModule(const char*) { return nullptr; }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

std::intptr_t RunModalDialog(DlgModule, int, const DialogLayout&, DlgWindow, DlgProc,
                             std::intptr_t) {
    return -1;
}

bool EndModalDialog(DlgWindow, std::intptr_t) { return false; }

void SetDialogData(DlgWindow, void*) {}

void* GetDialogData(DlgWindow) { return nullptr; }

DlgWindow DialogItem(DlgWindow, int) { return nullptr; }

std::intptr_t SendItemMessage(DlgWindow, int, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

std::intptr_t SendWindowMessage(DlgWindow, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return 0;
}

int GetItemText(DlgWindow, int, char* text, int capacity) {
    if (text != nullptr && capacity > 0) text[0] = '\0';
    return 0;
}

int ReadWindowText(DlgWindow, char* text, int capacity) {
    if (text != nullptr && capacity > 0) text[0] = '\0';
    return 0;
}

bool WriteWindowText(DlgWindow, const char*) { return false; }

bool EnableControl(DlgWindow, bool) { return false; }

// Nothing can be shown: 0, as MessageBox answers when it fails.
int ShowMessageBox(DlgWindow, const char*, const char*, std::uint32_t) { return 0; }

}  // namespace etl::plat
