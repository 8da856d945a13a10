// The real "Tag Format" dialog on the Windows dialog manager. A host thread
// loads ETLANdr.dll and calls VpiMain with code 16, owning the dialog by a
// window of its own; the test thread finds the dialog ("Tag Format") and
// drives its live controls by messages, as a user's clicks and keys would.
//
// Needs a display: under Wine without DISPLAY the tests skip. With
// ETL_DIALOG_SCREENSHOT set to a .bmp path, one open dialog is captured
// there (scripts/dialog-gui-test.sh turns it into a PNG).
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "address/dialog.h"
#include "host/blocks.h"
#include "tools/loader/library_loader.h"

namespace {

constexpr DWORD kWaitMs = 10000;

constexpr int kPlcNumber = 1037;
constexpr int kBitList = 1022;
constexpr int kPlcArrows = 1036;
constexpr int kGateKind = 1060;
constexpr int kMemoryType = 1006;
constexpr int kAddress = 1007;
constexpr int kAddressArrows = 1041;

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool HaveDisplay() {
    if (!UnderWine()) return true;
    char display[256];
    return GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
}

void SetEnv(const char* name, const char* value) {
    // The host runtime stand-in reads its settings through the C runtime.
    std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
    _putenv(entry.c_str());
    SetEnvironmentVariableA(name, value);
}

// One run of code 16 on a host thread, with the dialog found and driven
// from the calling thread.
class LiveDialog {
public:
    explicit LiveDialog(VpiMainFn entry) : entry_(entry) {
        std::memset(buffer_, '#', sizeof buffer_ - 1);
        buffer_[sizeof buffer_ - 1] = '\0';
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &LiveDialog::HostThread, this, 0, nullptr);
    }

    ~LiveDialog() {
        if (thread_ != nullptr) {
            if (WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0 && dialog_ != nullptr) {
                PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            }
            if (WaitForSingleObject(thread_, kWaitMs) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
            CloseHandle(thread_);
        }
        if (ready_ != nullptr) CloseHandle(ready_);
    }

    LiveDialog(const LiveDialog&) = delete;
    LiveDialog& operator=(const LiveDialog&) = delete;

    // Waits for the dialog window; null when the call ended without one.
    HWND Open() {
        WaitForSingleObject(ready_, kWaitMs);
        for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
            HWND found = FindWindowA("#32770", "Tag Format");
            if (found != nullptr && GetWindowThreadProcessId(found, nullptr) == hostThreadId_) {
                dialog_ = found;
                Settle();
                return dialog_;
            }
            if (WaitForSingleObject(thread_, 20) == WAIT_OBJECT_0) return nullptr;
        }
        return nullptr;
    }

    HWND Dialog() const { return dialog_; }
    HWND HostWindow() const { return hostWindow_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    // Lets the dialog's thread handle everything queued so far.
    void Settle() const {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored);
    }

    std::string Text(int id) const {
        char text[128] = {};
        SendMessageA(Item(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        return text;
    }

    // Keys into an edit: select all, then one character at a time.
    void Type(int id, const std::string& text) const {
        HWND edit = Item(id);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        if (text.empty()) SendMessageA(edit, WM_CHAR, VK_BACK, 0);
        for (char c : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }

    // Picks a combo box entry as a click in its list does.
    void Choose(int id, int index) const {
        HWND combo = Item(id);
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }

    int Selection(int id) const { return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0)); }
    int Count(int id) const { return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0)); }

    void Arrow(int id, int code) const {
        SendMessageA(dialog_, WM_VSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(Item(id)));
        SendMessageA(dialog_, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0),
                     reinterpret_cast<LPARAM>(Item(id)));
    }

    void ScrollBitList(int code, int times) const {
        for (int i = 0; i < times; ++i) SendMessageA(Item(kBitList), WM_VSCROLL, code, 0);
    }

    int BitTop() const { return static_cast<int>(SendMessageA(Item(kBitList), LB_GETTOPINDEX, 0, 0)); }

    // Clicks a push button. The click is posted, since a message box would
    // hold a sent one. Returns the text of the error box it raised (and
    // closes it), or "" once the dialog has ended.
    std::string Press(int id) {
        PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(id)));
        for (DWORD waited = 0; waited < kWaitMs; waited += 20) {
            if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0) return "";
            HWND box = FindWindowA("#32770", "Error");
            if (box != nullptr && GetWindowThreadProcessId(box, nullptr) == hostThreadId_) {
                char text[256] = {};
                GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                boxOwner_ = GetWindow(box, GW_OWNER);
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                for (DWORD w = 0; w < kWaitMs && IsWindow(box); w += 20) Sleep(20);
                Settle();
                return text[0] != '\0' ? text : "(empty message box)";
            }
            Sleep(20);
        }
        return "(no reaction)";
    }

    HWND LastBoxOwner() const { return boxOwner_; }

    // Waits for VpiMain to return; false when it did not.
    bool Finish() {
        if (WaitForSingleObject(thread_, kWaitMs) != WAIT_OBJECT_0) return false;
        return true;
    }

    std::int32_t Result() const { return result_; }
    HWND OwnerAtOpen() const { return GetWindow(dialog_, GW_OWNER); }
    std::string Output() const { return buffer_; }
    bool RestUntouched() const {
        for (std::size_t i = std::strlen(buffer_) + 1; i < sizeof buffer_ - 1; ++i) {
            if (buffer_[i] != '#') return false;
        }
        return true;
    }

    // Saves the dialog as it is on the screen, caption and frame included,
    // as a 24-bit BMP.
    bool Capture(const char* path) const {
        RedrawWindow(dialog_, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Settle();
        Sleep(300);
        Settle();
        RECT r;
        GetWindowRect(dialog_, &r);
        const int width = r.right - r.left;
        const int height = r.bottom - r.top;
        if (width <= 0 || height <= 0) return false;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);

        BITMAPINFOHEADER info{};
        info.biSize = sizeof info;
        info.biWidth = width;
        info.biHeight = height;  // bottom-up rows, as BMP files keep them
        info.biPlanes = 1;
        info.biBitCount = 24;
        info.biCompression = BI_RGB;
        const int stride = (width * 3 + 3) & ~3;
        std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
        const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        if (rows != height) return false;

        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
        info.biSizeImage = static_cast<DWORD>(pixels.size());
        FILE* out = std::fopen(path, "wb");
        if (out == nullptr) return false;
        bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                  std::fwrite(&info, sizeof info, 1, out) == 1 &&
                  std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
        ok = std::fclose(out) == 0 && ok;
        return ok;
    }

private:
    static DWORD WINAPI HostThread(void* self) {
        auto* d = static_cast<LiveDialog*>(self);
        d->hostThreadId_ = GetCurrentThreadId();
        d->hostWindow_ = CreateWindowExA(0, "STATIC", "ETLANdr test host", WS_OVERLAPPED, 0, 0,
                                         200, 100, nullptr, nullptr, nullptr, nullptr);
        SetEvent(d->ready_);
        etl::DialogBlock block{d->buffer_, d->hostWindow_};
        etl::VpiRequest request{nullptr, 16, 0, 0, &block};
        d->result_ = d->entry_(&request);
        if (d->hostWindow_ != nullptr) DestroyWindow(d->hostWindow_);
        return 0;
    }

    VpiMainFn entry_;
    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD hostThreadId_ = 0;
    HWND hostWindow_ = nullptr;
    HWND dialog_ = nullptr;
    HWND boxOwner_ = nullptr;
    char buffer_[16];
    std::int32_t result_ = -1;
};

class DialogGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "no display (run scripts/dialog-gui-test.sh)";
        const std::string path = etl::plat::ExecutableDirectory() + etl::plat::DriverFileName();
        ASSERT_TRUE(library_.Load(path)) << library_.Error();
        SetEnv("QANPRO_VERSION", "820");
        SetEnv("QANPRO_CLIENT_FAIL", nullptr);
    }

    void TearDown() override {
        SetEnv("QANPRO_VERSION", nullptr);
        SetEnv("QANPRO_CLIENT_FAIL", nullptr);
    }

    VpiMainFn Entry() const { return library_.Entry(); }

    etl::plat::DriverLibrary library_;
};

#define OPEN_OR_FAIL(live)                                              \
    do {                                                                \
        ASSERT_NE((live).Open(), nullptr) << "the dialog did not open"; \
    } while (false)

// The controls in template (and tab) order: the driver's own layout table,
// which its resource must match control by control.
const etl::plat::DialogLayout& kLayout = etl::kTagFormatLayout;

// Reads a DLGTEMPLATEEX resource as the dialog manager does.
class TemplateReader {
public:
    TemplateReader(const unsigned char* data, std::size_t size) : p_(data), end_(data + size) {}
    bool Ok() const { return ok_; }
    std::uint16_t Word() {
        std::uint16_t v = 0;
        Take(&v, sizeof v);
        return v;
    }
    std::uint32_t Dword() {
        std::uint32_t v = 0;
        Take(&v, sizeof v);
        return v;
    }
    std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
    // A string or an ordinal ("#n"); "" for none.
    std::string NameOrOrdinal() {
        const std::uint16_t first = Word();
        if (first == 0) return "";
        if (first == 0xFFFF) {
            char ordinal[8];
            std::snprintf(ordinal, sizeof ordinal, "#%u", static_cast<unsigned>(Word()));
            return ordinal;
        }
        return Text(first);
    }
    // A NUL-terminated UTF-16 text, read as ASCII; `first` is its first
    // character when already read.
    std::string Text(std::uint16_t first = 0) {
        char text[256];
        std::size_t n = 0;
        for (std::uint16_t c = first != 0 ? first : Word(); ok_ && c != 0; c = Word()) {
            if (n + 1 < sizeof text) text[n++] = static_cast<char>(c);
        }
        return std::string(text, n);
    }
    void AlignDword(const unsigned char* base) {
        while (ok_ && ((p_ - base) & 3) != 0) ++p_;
    }
    void Skip(std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) {
            ok_ = false;
            return;
        }
        p_ += n;
    }

private:
    void Take(void* out, std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) {
            ok_ = false;
            return;
        }
        std::memcpy(out, p_, n);
        p_ += n;
    }
    const unsigned char* p_;
    const unsigned char* end_;
    bool ok_ = true;
};

// The predefined control classes by their template ordinals.
std::string ClassName(const std::string& name) {
    if (name == "#128") return "BUTTON";
    if (name == "#129") return "EDIT";
    if (name == "#130") return "STATIC";
    if (name == "#131") return "LISTBOX";
    if (name == "#132") return "SCROLLBAR";
    if (name == "#133") return "COMBOBOX";
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// Resource 101 of ETLANdr.dll, read from the file: no display needed.
TEST(DialogTemplate, Resource101IsTheTagFormatTemplate) {
    etl::plat::DriverLibrary library;
    const std::string path = etl::plat::ExecutableDirectory() + etl::plat::DriverFileName();
    ASSERT_TRUE(library.Load(path)) << library.Error();
    HMODULE module = GetModuleHandleA("ETLANdr.DLL");
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const auto* base = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(base, nullptr);
    TemplateReader t(base, SizeofResource(module, found));

    EXPECT_EQ(t.Word(), 1);       // DLGTEMPLATEEX
    EXPECT_EQ(t.Word(), 0xFFFF);
    t.Dword();                    // help id
    EXPECT_EQ(t.Dword(), 0u);     // extended style
    EXPECT_EQ(t.Dword(), static_cast<std::uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    const std::uint16_t count = t.Word();
    EXPECT_EQ(count, kLayout.controlCount);
    EXPECT_EQ(t.Short(), 0);
    EXPECT_EQ(t.Short(), 0);
    EXPECT_EQ(t.Short(), kLayout.width);
    EXPECT_EQ(t.Short(), kLayout.height);
    EXPECT_EQ(t.NameOrOrdinal(), "");  // no menu
    EXPECT_EQ(t.NameOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(t.Text(), kLayout.caption);
    EXPECT_EQ(t.Word(), kLayout.fontPoints);
    t.Word();                // weight
    t.Skip(2);               // italic, character set
    EXPECT_EQ(t.Text(), kLayout.fontName);
    ASSERT_TRUE(t.Ok());

    for (std::size_t i = 0; i < count && i < kLayout.controlCount; ++i) {
        const etl::plat::ControlLayout& row = kLayout.controls[i];
        SCOPED_TRACE(row.id);
        t.AlignDword(base);
        t.Dword();  // help id
        EXPECT_EQ(t.Dword(), row.exStyle);
        EXPECT_EQ(t.Dword(), row.style);
        EXPECT_EQ(t.Short(), row.x);
        EXPECT_EQ(t.Short(), row.y);
        EXPECT_EQ(t.Short(), row.width);
        EXPECT_EQ(t.Short(), row.height);
        EXPECT_EQ(t.Dword() & 0xFFFFu, static_cast<std::uint32_t>(row.id) & 0xFFFFu);
        EXPECT_EQ(ClassName(t.NameOrOrdinal()), ClassName(row.className));
        EXPECT_EQ(t.NameOrOrdinal(), row.text);
        t.Skip(t.Word());  // creation data
        ASSERT_TRUE(t.Ok());
    }
}

TEST_F(DialogGuiTest, LiveControlsAndOpeningStateThenOkGives01Y0000) {
    LiveDialog live(Entry());
    OPEN_OR_FAIL(live);
    HWND dialog = live.Dialog();

    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Tag Format");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)) & WS_SYSMENU, 0u);
    RECT units{0, 0, kLayout.width, kLayout.height};
    MapDialogRect(dialog, &units);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);

    // The controls in template order, each where its dialog units put it
    // (within a pixel of rounding).
    HWND child = GetWindow(dialog, GW_CHILD);
    for (std::size_t i = 0; i < kLayout.controlCount; ++i) {
        const etl::plat::ControlLayout& row = kLayout.controls[i];
        SCOPED_TRACE(row.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child) & 0xFFFF, row.id & 0xFFFF);
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, row.className);
        RECT expected{row.x, row.y, row.x + row.width, row.y + row.height};
        MapDialogRect(dialog, &expected);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_NEAR(actual.left, expected.left, 1);
        EXPECT_NEAR(actual.top, expected.top, 1);
        EXPECT_NEAR(actual.right, expected.right, 1);
        if (row.id != kGateKind && row.id != kMemoryType) {  // a closed drop-down is shorter
            EXPECT_NEAR(actual.bottom, expected.bottom, 1);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);

    EXPECT_EQ(live.Text(kGateKind), "Analog gate");
    EXPECT_EQ(live.Count(kGateKind), 3);
    EXPECT_EQ(live.Count(kMemoryType), 27);
    EXPECT_EQ(live.Text(kMemoryType), "Y - External output relay ");
    EXPECT_TRUE(IsWindowEnabled(live.Item(kMemoryType)));
    EXPECT_FALSE(IsWindowEnabled(live.Item(kBitList)));
    EXPECT_EQ(live.Text(kPlcNumber), "01");
    EXPECT_EQ(live.Text(kAddress), "0000");
    EXPECT_EQ(SendMessageA(live.Item(kAddress), EM_GETLIMITTEXT, 0, 0), 4);
    EXPECT_EQ(live.BitTop(), 15);

    EXPECT_EQ(live.Press(IDOK), "");
    ASSERT_TRUE(live.Finish());
    EXPECT_EQ(live.Result(), 0);
    EXPECT_EQ(live.Output(), "01Y0000");
    EXPECT_TRUE(live.RestUntouched());
}

TEST_F(DialogGuiTest, ComposesWhatTheUserPicks) {
    {
        LiveDialog live(Entry());
        OPEN_OR_FAIL(live);
        live.Choose(kGateKind, 1);  // Digital gate
        EXPECT_EQ(live.Count(kMemoryType), 6);
        EXPECT_TRUE(IsWindowEnabled(live.Item(kBitList)));
        live.Choose(kMemoryType, 3);  // T - Timer
        live.Type(kAddress, "12");
        live.ScrollBitList(SB_LINEUP, 10);
        EXPECT_EQ(live.BitTop(), 5);  // "A"
        if (const char* shot = std::getenv("ETL_DIALOG_SCREENSHOT")) {
            EXPECT_TRUE(live.Capture(shot)) << shot;
        }
        EXPECT_EQ(live.Press(IDOK), "");
        ASSERT_TRUE(live.Finish());
        EXPECT_EQ(live.Output(), "01T0012A");
    }
    {
        LiveDialog live(Entry());
        OPEN_OR_FAIL(live);
        live.Choose(kMemoryType, 5);  // LD - Data Link relay
        live.Type(kAddress, "10");
        EXPECT_EQ(live.Press(IDOK), "");
        ASSERT_TRUE(live.Finish());
        EXPECT_EQ(live.Output(), "01G00010");
    }
    {
        LiveDialog live(Entry());
        OPEN_OR_FAIL(live);
        live.Choose(kMemoryType, 26);  // IF - Index Register
        live.Type(kAddress, "3");
        EXPECT_EQ(live.Press(IDOK), "");
        ASSERT_TRUE(live.Finish());
        EXPECT_EQ(live.Output(), "01U0003");
    }
}

TEST_F(DialogGuiTest, WidthsArrowsAndGateKindChange) {
    LiveDialog live(Entry());
    OPEN_OR_FAIL(live);
    live.Choose(kMemoryType, 6);  // D - Data register
    EXPECT_EQ(live.Text(kAddress), "00000");
    EXPECT_EQ(SendMessageA(live.Item(kAddress), EM_GETLIMITTEXT, 0, 0), 5);
    live.Type(kAddress, "123456x");  // the edit keeps five digits
    EXPECT_EQ(live.Text(kAddress), "12345");
    live.Type(kAddress, "99999");
    live.Arrow(kAddressArrows, SB_LINEUP);
    EXPECT_EQ(live.Text(kAddress), "99999");
    live.Type(kAddress, "00000");
    live.Arrow(kAddressArrows, SB_LINEDOWN);
    EXPECT_EQ(live.Text(kAddress), "00000");

    live.Choose(kMemoryType, 0);  // Y: back to four digits
    EXPECT_EQ(live.Text(kAddress), "0000");
    live.Type(kAddress, "9999");
    live.Arrow(kAddressArrows, SB_LINEUP);
    EXPECT_EQ(live.Text(kAddress), "9999");
    live.Arrow(kAddressArrows, SB_LINEDOWN);
    EXPECT_EQ(live.Text(kAddress), "9998");

    live.Type(kPlcNumber, "64");
    live.Arrow(kPlcArrows, SB_LINEUP);
    EXPECT_EQ(live.Text(kPlcNumber), "64");
    live.Type(kPlcNumber, "01");
    live.Arrow(kPlcArrows, SB_LINEDOWN);
    EXPECT_EQ(live.Text(kPlcNumber), "01");
    live.Arrow(kPlcArrows, SB_LINEUP);
    EXPECT_EQ(live.Text(kPlcNumber), "02");

    live.Choose(kMemoryType, 7);  // F, then the gate kind changes
    live.Choose(kGateKind, 1);
    EXPECT_EQ(live.Count(kMemoryType), 6);
    EXPECT_EQ(live.Selection(kMemoryType), 0);
    EXPECT_EQ(live.Text(kAddress), "0000");
    EXPECT_EQ(SendMessageA(live.Item(kAddress), EM_GETLIMITTEXT, 0, 0), 4);
    EXPECT_TRUE(IsWindowEnabled(live.Item(kBitList)));
    live.Choose(kGateKind, 2);
    EXPECT_EQ(live.Count(kMemoryType), 9);
    EXPECT_FALSE(IsWindowEnabled(live.Item(kBitList)));
    EXPECT_EQ(live.Press(IDOK), "");
    ASSERT_TRUE(live.Finish());
    EXPECT_EQ(live.Output(), "02X0000");
}

TEST_F(DialogGuiTest, ErrorBoxesKeepTheDialogOpen) {
    LiveDialog live(Entry());
    OPEN_OR_FAIL(live);
    live.Type(kPlcNumber, "65");
    EXPECT_EQ(live.Press(IDOK), "PLC number should be between 0 - 64 ");
    EXPECT_EQ(live.LastBoxOwner(), live.Dialog());
    live.Type(kAddress, "");
    live.Type(kPlcNumber, "7");
    EXPECT_EQ(live.Press(IDOK), "missing value!");
    EXPECT_TRUE(IsWindow(live.Dialog()));
    live.Type(kAddress, "5");
    live.Type(kPlcNumber, "123");
    EXPECT_EQ(live.Press(IDOK), "");
    ASSERT_TRUE(live.Finish());
    EXPECT_EQ(live.Output(), "12Y0005");
}

TEST_F(DialogGuiTest, CancelGives53AndLeavesTheBuffer) {
    LiveDialog live(Entry());
    OPEN_OR_FAIL(live);
    live.Type(kPlcNumber, "00");
    EXPECT_EQ(live.Press(IDCANCEL), "");
    ASSERT_TRUE(live.Finish());
    EXPECT_EQ(live.Result(), 53);
    EXPECT_EQ(live.Output(), std::string(15, '#'));
}

TEST_F(DialogGuiTest, HostWindowOwnsTheDialogFromVersion820On) {
    struct Case {
        const char* version;
        const char* clientFail;
        bool owned;
    };
    for (const Case c : {Case{"819", nullptr, false}, Case{"820", nullptr, true},
                         Case{"900", "1", false}}) {
        SCOPED_TRACE(c.version);
        SetEnv("QANPRO_VERSION", c.version);
        SetEnv("QANPRO_CLIENT_FAIL", c.clientFail);
        LiveDialog live(Entry());
        OPEN_OR_FAIL(live);
        EXPECT_EQ(live.OwnerAtOpen(), c.owned ? live.HostWindow() : nullptr);
        EXPECT_EQ(live.Press(IDOK), "");
        ASSERT_TRUE(live.Finish());
        EXPECT_EQ(live.Output(), "01Y0000");
    }
}

}  // namespace
