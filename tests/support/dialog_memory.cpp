// In-memory dialog manager: the dialog calls of platform/dialog_ui.h
// without a window system, plus the user-side actions of
// tests/support/dialog_memory.h.
#include "tests/support/dialog_memory.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

namespace etl::plat {
namespace {

constexpr std::uint32_t kSbEndScroll = 8;
constexpr std::size_t kDefaultEditLimit = 30000;
constexpr std::size_t kNoEditLimit = 0x7FFFFFFE;
constexpr int kListRowHeight = 8;  // dialog units of one list row

enum class Kind { Edit, ListBox, ComboBox, Button, Static, ScrollBar, Other };

struct MemDialog;

struct MemWindow {
    MemDialog* dialog = nullptr;  // the dialog this window is or belongs to
    bool isDialog = false;
    int id = 0;
    Kind kind = Kind::Other;
    std::string text;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    bool enabled = true;
    // Edit
    std::size_t limit = kDefaultEditLimit;
    bool allSelected = false;
    // List box and combo box
    std::vector<std::string> items;
    int selection = -1;
    int top = 0;
    int rows = 1;
};

struct MemDialog {
    MemWindow self;
    std::vector<std::unique_ptr<MemWindow>> controls;
    DlgWindow owner = nullptr;
    DlgProc proc = nullptr;
    void* data = nullptr;
    bool ended = false;
    std::intptr_t result = -1;
    std::vector<memory::MessageBoxShown> boxes;
};

// Dialogs run on their caller's thread, and so does their user.
thread_local std::vector<MemDialog*> t_open;

std::mutex g_userLock;
memory::DialogUser g_user;

const unsigned char kModuleToken = 0;

Kind KindOf(const char* className) {
    struct Name {
        const char* name;
        Kind kind;
    };
    static constexpr Name kNames[] = {
        {"EDIT", Kind::Edit},     {"LISTBOX", Kind::ListBox},     {"COMBOBOX", Kind::ComboBox},
        {"BUTTON", Kind::Button}, {"STATIC", Kind::Static},       {"SCROLLBAR", Kind::ScrollBar},
    };
    for (const Name& n : kNames) {
        if (className != nullptr && strcasecmp(className, n.name) == 0) return n.kind;
    }
    return Kind::Other;
}

// The window behind a handle, when it belongs to an open dialog.
MemWindow* Find(DlgWindow handle) {
    if (handle == nullptr) return nullptr;
    for (MemDialog* d : t_open) {
        if (handle == &d->self) return &d->self;
        for (auto& c : d->controls) {
            if (handle == c.get()) return c.get();
        }
    }
    return nullptr;
}

MemDialog* FindDialog(DlgWindow handle) {
    MemWindow* w = Find(handle);
    return (w != nullptr && w->isDialog) ? w->dialog : nullptr;
}

MemWindow* FindControl(DlgWindow dialog, int id) {
    MemDialog* d = FindDialog(dialog);
    if (d == nullptr) return nullptr;
    for (auto& c : d->controls) {
        if (c->id == id) return c.get();
    }
    return nullptr;
}

std::intptr_t CopyText(const std::string& text, std::uintptr_t capacity, std::intptr_t buffer) {
    auto* out = reinterpret_cast<char*>(buffer);
    if (out == nullptr || capacity == 0) return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<std::intptr_t>(n);
}

std::string TextOf(std::intptr_t lParam) {
    const auto* s = reinterpret_cast<const char*>(lParam);
    return s != nullptr ? std::string(s) : std::string();
}

std::string DisplayedText(const MemWindow& w) {
    if (w.kind == Kind::ComboBox) {
        const bool valid = w.selection >= 0 && w.selection < static_cast<int>(w.items.size());
        return valid ? w.items[static_cast<std::size_t>(w.selection)] : std::string();
    }
    return w.text;
}

int ItemIndex(const MemWindow& w, std::uintptr_t wParam) {
    const auto index = static_cast<std::intptr_t>(wParam);
    if (index < 0 || index >= static_cast<std::intptr_t>(w.items.size())) return -1;
    return static_cast<int>(index);
}

int MaxTop(const MemWindow& w) { return std::max(0, static_cast<int>(w.items.size()) - w.rows); }

std::intptr_t EditMessage(MemWindow& w, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    switch (message) {
    case kEmLimitText:
        w.limit = wParam == 0 ? kNoEditLimit : wParam;
        return 0;
    case kEmGetLimitText:
        return static_cast<std::intptr_t>(w.limit);
    case kEmSetSel:
        w.allSelected = wParam == 0 && lParam == -1;
        return 0;
    case kWmChar: {
        const auto c = static_cast<char>(wParam & 0xFFu);
        if (c == '\b') {
            if (w.allSelected) {
                w.text.clear();
            } else if (!w.text.empty()) {
                w.text.pop_back();
            }
            w.allSelected = false;
            return 0;
        }
        if (static_cast<unsigned char>(c) < 32) return 0;
        if ((w.style & kEsNumber) != 0 && (c < '0' || c > '9')) return 0;
        if (w.allSelected) {
            w.text.clear();
            w.allSelected = false;
        }
        if (w.text.size() >= w.limit) return 0;
        w.text += (w.style & kEsUppercase) != 0
                      ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                      : c;
        return 0;
    }
    default:
        return 0;
    }
}

std::intptr_t ListMessage(MemWindow& w, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    switch (message) {
    case kLbAddString:
        w.items.push_back(TextOf(lParam));
        return static_cast<std::intptr_t>(w.items.size() - 1);
    case kLbResetContent:
        w.items.clear();
        w.selection = -1;
        w.top = 0;
        return 0;
    case kLbSetCurSel: {
        const int index = ItemIndex(w, wParam);
        w.selection = index;
        if (index < 0) return kLbErr;
        // The selected row is scrolled into view.
        if (index < w.top) w.top = index;
        if (index >= w.top + w.rows) w.top = index - w.rows + 1;
        return index;
    }
    case kLbGetCurSel:
        return w.selection;
    case kLbGetTopIndex:
        return w.top;
    case kLbSetTopIndex: {
        const int index = ItemIndex(w, wParam);
        if (index < 0) return kLbErr;
        w.top = std::min(index, MaxTop(w));
        return 0;
    }
    case kLbGetCount:
        return static_cast<std::intptr_t>(w.items.size());
    case kLbGetTextLen: {
        const int index = ItemIndex(w, wParam);
        return index < 0 ? kLbErr
                         : static_cast<std::intptr_t>(w.items[static_cast<std::size_t>(index)].size());
    }
    case kLbGetText: {
        // As on Windows the buffer must hold the whole entry.
        const int index = ItemIndex(w, wParam);
        auto* out = reinterpret_cast<char*>(lParam);
        if (index < 0 || out == nullptr) return kLbErr;
        const std::string& item = w.items[static_cast<std::size_t>(index)];
        std::memcpy(out, item.c_str(), item.size() + 1);
        return static_cast<std::intptr_t>(item.size());
    }
    case kWmVScroll: {
        const auto code = static_cast<std::uint32_t>(wParam & 0xFFFFu);
        if (code == kSbLineUp) w.top = std::max(0, w.top - 1);
        if (code == kSbLineDown) w.top = std::min(MaxTop(w), w.top + 1);
        return 0;
    }
    default:
        return 0;
    }
}

std::intptr_t ComboMessage(MemWindow& w, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
    switch (message) {
    case kCbAddString:
        w.items.push_back(TextOf(lParam));
        return static_cast<std::intptr_t>(w.items.size() - 1);
    case kCbResetContent:
        w.items.clear();
        w.selection = -1;
        return 0;
    case kCbSetCurSel:
        w.selection = ItemIndex(w, wParam);
        return w.selection < 0 ? kLbErr : w.selection;
    case kCbGetCurSel:
        return w.selection;
    case kCbGetCount:
        return static_cast<std::intptr_t>(w.items.size());
    case kCbGetLbTextLen: {
        const int index = ItemIndex(w, wParam);
        return index < 0 ? kLbErr
                         : static_cast<std::intptr_t>(w.items[static_cast<std::size_t>(index)].size());
    }
    case kCbGetLbText: {
        const int index = ItemIndex(w, wParam);
        auto* out = reinterpret_cast<char*>(lParam);
        if (index < 0 || out == nullptr) return kLbErr;
        const std::string& item = w.items[static_cast<std::size_t>(index)];
        std::memcpy(out, item.c_str(), item.size() + 1);
        return static_cast<std::intptr_t>(item.size());
    }
    default:
        return 0;
    }
}

std::intptr_t ControlMessage(MemWindow& w, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
    switch (message) {
    case kWmGetText:
        return CopyText(DisplayedText(w), wParam, lParam);
    case kWmGetTextLength:
        return static_cast<std::intptr_t>(DisplayedText(w).size());
    case kWmSetText:
        // A drop-down list shows its selection and has no text of its own.
        if (w.kind == Kind::ComboBox) return kLbErr;
        w.text = TextOf(lParam);
        return 1;
    default:
        break;
    }
    switch (w.kind) {
    case Kind::Edit:
        return EditMessage(w, message, wParam, lParam);
    case Kind::ListBox:
        return ListMessage(w, message, wParam, lParam);
    case Kind::ComboBox:
        return ComboMessage(w, message, wParam, lParam);
    default:
        return 0;
    }
}

// Sends a message to the dialog, i.e. to its procedure; the caption is
// kept for the text messages it leaves alone.
std::intptr_t DialogMessage(MemDialog& d, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
    const std::intptr_t r = d.proc(&d.self, message, wParam, lParam);
    if (r != 0) return r;
    if (message == kWmGetText) return CopyText(d.self.text, wParam, lParam);
    if (message == kWmGetTextLength) return static_cast<std::intptr_t>(d.self.text.size());
    if (message == kWmSetText) {
        d.self.text = TextOf(lParam);
        return 1;
    }
    return 0;
}

// A control that can take a user's action now.
MemWindow* Usable(DlgWindow dialog, int id, Kind kind) {
    MemDialog* d = FindDialog(dialog);
    if (d == nullptr || d->ended) return nullptr;
    MemWindow* w = FindControl(dialog, id);
    if (w == nullptr || w->kind != kind || !w->enabled) return nullptr;
    return w;
}

std::intptr_t Handle(MemWindow* w) { return reinterpret_cast<std::intptr_t>(w); }

}  // namespace

// ---- platform/dialog_ui.h

DlgModule FindModule(const char*) {
    // The templates are built from their layouts; any module will do.
    return const_cast<unsigned char*>(&kModuleToken);
}

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

std::intptr_t RunModalDialog(DlgModule, int, const DialogLayout& layout, DlgWindow owner,
                             DlgProc proc, std::intptr_t initParam) {
    memory::DialogUser user;
    {
        std::lock_guard<std::mutex> hold(g_userLock);
        user = g_user;
    }
    if (!user || proc == nullptr) return -1;

    MemDialog d;
    d.self.dialog = &d;
    d.self.isDialog = true;
    d.self.text = layout.caption != nullptr ? layout.caption : "";
    d.self.style = layout.style;
    d.owner = owner;
    d.proc = proc;
    for (std::size_t i = 0; i < layout.controlCount; ++i) {
        const ControlLayout& c = layout.controls[i];
        auto w = std::make_unique<MemWindow>();
        w->dialog = &d;
        w->id = c.id;
        w->kind = KindOf(c.className);
        w->text = c.text != nullptr ? c.text : "";
        w->style = c.style;
        w->exStyle = c.exStyle;
        w->enabled = (c.style & kWsDisabled) == 0;
        w->rows = std::max(1, (c.height - 2) / kListRowHeight);
        d.controls.push_back(std::move(w));
    }

    t_open.push_back(&d);
    DialogMessage(d, kWmInitDialog, 0, initParam);
    if (!d.ended) user(&d.self);
    t_open.erase(std::find(t_open.begin(), t_open.end(), &d));
    return d.ended ? d.result : -1;
}

bool EndModalDialog(DlgWindow dialog, std::intptr_t result) {
    MemDialog* d = FindDialog(dialog);
    if (d == nullptr) return false;
    d->ended = true;
    d->result = result;
    return true;
}

void SetDialogData(DlgWindow dialog, void* data) {
    if (MemDialog* d = FindDialog(dialog)) d->data = data;
}

void* GetDialogData(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    return d != nullptr ? d->data : nullptr;
}

DlgWindow DialogItem(DlgWindow dialog, int id) { return FindControl(dialog, id); }

std::intptr_t SendWindowMessage(DlgWindow window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
    MemWindow* w = Find(window);
    if (w == nullptr) return 0;
    if (w->isDialog) return DialogMessage(*w->dialog, message, wParam, lParam);
    return ControlMessage(*w, message, wParam, lParam);
}

std::intptr_t SendItemMessage(DlgWindow dialog, int id, std::uint32_t message,
                              std::uintptr_t wParam, std::intptr_t lParam) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? ControlMessage(*w, message, wParam, lParam) : 0;
}

int ReadWindowText(DlgWindow window, char* text, int capacity) {
    if (text == nullptr || capacity <= 0) return 0;
    text[0] = '\0';
    return static_cast<int>(SendWindowMessage(window, kWmGetText,
                                              static_cast<std::uintptr_t>(capacity),
                                              reinterpret_cast<std::intptr_t>(text)));
}

int GetItemText(DlgWindow dialog, int id, char* text, int capacity) {
    if (text == nullptr || capacity <= 0) return 0;
    text[0] = '\0';
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? ReadWindowText(w, text, capacity) : 0;
}

bool WriteWindowText(DlgWindow window, const char* text) {
    return SendWindowMessage(window, kWmSetText, 0, reinterpret_cast<std::intptr_t>(text)) == 1;
}

bool EnableControl(DlgWindow window, bool enable) {
    MemWindow* w = Find(window);
    if (w == nullptr) return false;
    const bool wasDisabled = !w->enabled;
    w->enabled = enable;
    return wasDisabled;
}

int ShowMessageBox(DlgWindow owner, const char* text, const char* caption, std::uint32_t type) {
    MemWindow* w = Find(owner);
    if (w != nullptr) {
        w->dialog->boxes.push_back(
            {owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    }
    return static_cast<int>(kIdOk);
}

// ---- tests/support/dialog_memory.h

namespace memory {

void SetDialogUser(DialogUser user) {
    std::lock_guard<std::mutex> hold(g_userLock);
    g_user = std::move(user);
}

bool TypeText(DlgWindow dialog, int id, const std::string& text) {
    MemWindow* w = Usable(dialog, id, Kind::Edit);
    if (w == nullptr) return false;
    ControlMessage(*w, kEmSetSel, 0, -1);
    if (text.empty()) ControlMessage(*w, kWmChar, '\b', 0);
    for (char c : text) ControlMessage(*w, kWmChar, static_cast<unsigned char>(c), 0);
    return true;
}

bool ChooseItem(DlgWindow dialog, int id, int index) {
    MemWindow* w = Usable(dialog, id, Kind::ComboBox);
    if (w == nullptr || index < 0 || index >= static_cast<int>(w->items.size())) return false;
    w->selection = index;
    DialogMessage(*w->dialog, kWmCommand, MakeWParam(static_cast<std::uint32_t>(id), kCbnSelChange),
                  Handle(w));
    return true;
}

bool Click(DlgWindow dialog, int id) {
    MemWindow* w = Usable(dialog, id, Kind::Button);
    if (w == nullptr) return false;
    DialogMessage(*w->dialog, kWmCommand, MakeWParam(static_cast<std::uint32_t>(id), kBnClicked),
                  Handle(w));
    return true;
}

void PressEscape(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    if (d == nullptr || d->ended) return;
    DialogMessage(*d, kWmCommand, MakeWParam(static_cast<std::uint32_t>(kIdCancel), kBnClicked),
                  Handle(FindControl(dialog, static_cast<int>(kIdCancel))));
}

bool ClickArrow(DlgWindow dialog, int id, std::uint32_t code) {
    MemWindow* w = Usable(dialog, id, Kind::ScrollBar);
    if (w == nullptr) return false;
    DialogMessage(*w->dialog, kWmVScroll, MakeWParam(code, 0), Handle(w));
    if (!w->dialog->ended) DialogMessage(*w->dialog, kWmVScroll, MakeWParam(kSbEndScroll, 0), Handle(w));
    return true;
}

bool ScrollList(DlgWindow dialog, int id, std::uint32_t code) {
    MemWindow* w = Usable(dialog, id, Kind::ListBox);
    if (w == nullptr) return false;
    ListMessage(*w, kWmVScroll, MakeWParam(code, 0), 0);
    return true;
}

std::string Text(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? DisplayedText(*w) : std::string();
}

bool IsEnabled(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr && w->enabled;
}

int ItemCount(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? static_cast<int>(w->items.size()) : 0;
}

std::string ItemText(DlgWindow dialog, int id, int index) {
    MemWindow* w = FindControl(dialog, id);
    if (w == nullptr || index < 0 || index >= static_cast<int>(w->items.size())) return {};
    return w->items[static_cast<std::size_t>(index)];
}

int Selection(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? w->selection : -1;
}

int TopIndex(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? w->top : -1;
}

int TextLimit(DlgWindow dialog, int id) {
    MemWindow* w = FindControl(dialog, id);
    return w != nullptr ? static_cast<int>(w->limit) : 0;
}

DlgWindow Owner(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    return d != nullptr ? d->owner : nullptr;
}

std::string Caption(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    return d != nullptr ? d->self.text : std::string();
}

bool Ended(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    return d == nullptr || d->ended;
}

std::vector<MessageBoxShown> TakeMessageBoxes(DlgWindow dialog) {
    MemDialog* d = FindDialog(dialog);
    if (d == nullptr) return {};
    std::vector<MessageBoxShown> boxes;
    boxes.swap(d->boxes);
    return boxes;
}

}  // namespace memory
}  // namespace etl::plat
