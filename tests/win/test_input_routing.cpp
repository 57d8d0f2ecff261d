// Keys and hand-overs in the real program, driven by real input: with each menu open (menu
// bar, thumbnail context, folder-tree context) Esc and Delete belong to the menu whichever
// pane the pointer is over; keys typed in the size fields edit them and start nothing else;
// Enter in a size field applies the size; a folder handed over during the rename dialog waits
// for the dialog to end.
//
// This executable is also the program: run under the name Pravel.exe (a copy in a private
// folder with its own settings and image folders) it runs the application on its main thread
// and a driver on a second thread, which sends keyboard and mouse input through the system,
// notes what happened in report.txt beside itself and closes the program. The tests read the
// report.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/app_win.h"
#include "base/command_ids.h"
#include "base/platform.h"
#include "base/settings.h"
#include "base/win_state.h"
#include "frame/frame_state.h"
#include "thumbs/pane.h"
#include "test_pane_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kImages = 6;
constexpr DWORD kBoundMs = 20000;  // only a bound against hanging, never a measure
// Time for keys that must do nothing to have done it, had they reached a shortcut.
constexpr DWORD kSettleMs = 600;

std::wstring selfPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// A small image of its own colours per seed.
std::string bmpBytes(unsigned seed) { return panetest::bmpBytes(8, 6, seed); }

std::wstring imageName(int i) {
    wchar_t name[32];
    wsprintfW(name, L"img%05d.bmp", i);
    return name;
}

// ================================================================ the program side

std::map<std::string, std::string> g_report;
fs::path g_home;

void note(const std::string& key, const std::string& value) { g_report[key] = value; }
void note(const std::string& key, long value) { note(key, std::to_string(value)); }
std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? char(c) : '?';
    return out;
}

bool waitUntil(const std::function<bool()>& condition, DWORD boundMs = kBoundMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > boundMs) return condition();
        Sleep(10);
    }
    return true;
}

DWORD mainThreadId() { return GetWindowThreadProcessId(g_mainWindow, nullptr); }

HWND focusOfMainThread() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(mainThreadId(), &info) ? info.hwndFocus : nullptr;
}

void keyEvent(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = WORD(MapVirtualKeyW(vk, 0));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    if (vk == VK_DELETE || vk == VK_HOME || vk == VK_END || (vk >= VK_LEFT && vk <= VK_DOWN))
        in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    SendInput(1, &in, sizeof in);
}

void tap(WORD vk, WORD modifier = 0) {
    if (modifier) keyEvent(modifier, false);
    keyEvent(vk, false);
    keyEvent(vk, true);
    if (modifier) keyEvent(modifier, true);
    Sleep(30);
}

void pointerTo(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = LONG((screen.x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1));
    in.mi.dy = LONG((screen.y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
    Sleep(60);
}

POINT centreOf(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void click(POINT screen, bool right = false) {
    pointerTo(screen);
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof in[0]);
    Sleep(60);
}

std::wstring textOf(HWND window) {
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

bool imageExists(int i) { return pathExists((g_home / L"a" / imageName(i)).c_str()); }
int imagesLeft() {
    int n = 0;
    for (int i = 0; i < kImages; ++i) n += imageExists(i);
    return n;
}

ThumbnailPane& pane1() { return g_panes[0]; }
bool pane1Idle() { return g_paneBusy[0].load() == PaneIdle && g_paneBusy[1].load() == PaneIdle; }
HWND cellOf(int i) { return GetDlgItem(pane1().baseWindow, 10000 + i); }

// Every case starts alike, whatever the one before did: all images there and listed in pane 1,
// exactly its first item selected.
bool selectFirstImage() {
    bool missing = false;
    for (int i = 0; i < kImages; ++i)
        if (!imageExists(i)) {
            const std::string bytes = bmpBytes(unsigned(i));
            writeWholeFile((g_home / L"a" / imageName(i)).c_str(), bytes.data(), bytes.size());
            missing = true;
        }
    waitUntil(pane1Idle);
    if (missing || pane1().itemCount != kImages) {
        PostMessageW(g_mainWindow, WM_COMMAND, MAKEWPARAM(cmd::Refresh, 0), 0);
        waitUntil([] { return !pane1Idle() || pane1().itemCount != kImages; }, 3000);  // the listing began
    }
    if (!waitUntil([] { return pane1Idle() && pane1().itemCount == kImages && cellOf(0); })) return false;
    if (pane1().selectedCount != 1 || !pane1().items[0].isSelected()) {
        // A press on a selected item keeps a group: clear the selection on the background first.
        RECT r{};
        GetClientRect(pane1().baseWindow, &r);
        POINT corner{r.right - 4, r.bottom - 4};
        ClientToScreen(pane1().baseWindow, &corner);
        click(corner);
        click(centreOf(cellOf(0)));
    }
    return waitUntil([] { return pane1().selectedCount == 1 && pane1().items[0].isSelected(); });
}

// One menu open, Delete and then Esc pressed with the pointer over pane `over`.
void menuCase(const std::string& name, const std::function<void()>& open, int over) {
    const std::string key = name + ".pane" + std::to_string(over + 1);
    if (!selectFirstImage()) {
        note(key + ".ready", "no");
        return;
    }
    open();
    const bool opened = waitUntil([] { return g_menuOpen.load() != 0; });
    note(key + ".opened", opened ? "yes" : "no");
    if (!opened) return;
    pointerTo(centreOf(g_panes[over].baseWindow));
    Sleep(kSettleMs);  // the pointer rests over the pane, as the user's would
    tap(VK_DELETE);
    Sleep(kSettleMs);
    note(key + ".openAfterDelete", g_menuOpen.load() != 0 ? "yes" : "no");
    tap(VK_ESCAPE);
    const bool closed = waitUntil([] { return g_menuOpen.load() == 0; }, 5000);
    note(key + ".closedByEsc", closed ? "yes" : "no");
    if (!closed) {
        // Deaf to the keys: close it the way that still works, a click elsewhere.
        RECT r{};
        GetWindowRect(g_mainWindow, &r);
        click(POINT{r.right - 40, r.bottom - 20});
        waitUntil([] { return g_menuOpen.load() == 0; });
        tap(VK_ESCAPE);  // and end the menu-bar mode, if any
    }
    Sleep(kSettleMs);
    note(key + ".imagesLeft", imagesLeft());
    note(key + ".itemsShown", pane1().itemCount);
}

void openFileMenuByKeys() {
    tap(VK_MENU);
    tap('F');
}

void openThumbnailMenu() { click(centreOf(cellOf(0)), true); }

void openTreeMenu() {
    HWND base = FindWindowExW(g_clientWindow, nullptr, L"Pravel_trbase_class", nullptr);
    HWND tree = base ? GetDlgItem(base, 401) : nullptr;
    if (!tree) return;
    // The folder the command line opened is registered and selected.
    RECT r{};
    const auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    std::memcpy(&r, &item, sizeof item);  // the item goes in, its rectangle comes out
    if (!SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) return;
    MapWindowPoints(tree, nullptr, reinterpret_cast<POINT*>(&r), 2);
    click(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, true);
}

// Types into a size field after a click into it; notes its text after each key.
void sizeFieldCase(const std::string& name, HWND field, const char* digits) {
    if (!selectFirstImage()) {
        note(name + ".ready", "no");
        return;
    }
    click(centreOf(field));
    note(name + ".focused", waitUntil([&] { return focusOfMainThread() == field; }) ? "yes" : "no");
    const int activeBefore = activePane();
    const int splitBefore = int(g_settings.thumbSplit);
    tap('A', VK_CONTROL);
    Sleep(kSettleMs);
    DWORD from = 0, to = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    note(name + ".ctrlA.selection", std::to_string(from) + "-" + std::to_string(to));
    note(name + ".ctrlA.selectedItems", pane1().selectedCount);
    for (const char* d = digits; *d; ++d) tap(WORD(*d));
    waitUntil([&] { return narrow(textOf(field)) == digits; }, 3000);
    note(name + ".typed", narrow(textOf(field)));
    tap(VK_HOME);
    tap(VK_DELETE);
    waitUntil([&] { return narrow(textOf(field)) == digits + 1; }, 3000);
    note(name + ".homeDelete", narrow(textOf(field)));
    tap(VK_END);
    tap(VK_BACK);
    const std::string shortened = std::string(digits + 1, digits + std::strlen(digits) - 1);
    waitUntil([&] { return narrow(textOf(field)) == shortened; }, 3000);
    note(name + ".endBackspace", narrow(textOf(field)));
    tap(VK_TAB);
    Sleep(kSettleMs);
    note(name + ".afterTab", narrow(textOf(field)));
    note(name + ".activePaneKept", activePane() == activeBefore ? "yes" : "no");
    note(name + ".splitKept", int(g_settings.thumbSplit) == splitBefore ? "yes" : "no");
    note(name + ".selectedItems", pane1().selectedCount);
    note(name + ".imagesLeft", imagesLeft());
    note(name + ".itemsShown", pane1().itemCount);
}

void enterAppliesWidth() {
    HWND field = g_frame.fieldW;
    click(centreOf(field));
    waitUntil([&] { return focusOfMainThread() == field; });
    tap('A', VK_CONTROL);
    for (const char* d = "96"; *d; ++d) tap(WORD(*d));
    waitUntil([&] { return textOf(field) == L"96"; }, 3000);
    note("enter.before", g_settings.thumbWidth);
    tap(VK_RETURN);
    note("enter.applied", waitUntil([] { return g_settings.thumbWidth == 96; }) ? "yes" : "no");
    // Listed again in cells of the new width.
    waitUntil([] {
        return pane1Idle() && pane1().itemCount == kImages &&
               pane1().grid.pitchWidth == 96 + GetSystemMetrics(SM_CXEDGE);
    });
    note("enter.itemsShown", pane1().itemCount);
    note("enter.imagesLeft", imagesLeft());
}

BOOL CALLBACK findNameDialog(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (pid == GetCurrentProcessId() && lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

void renameDuringHandOver() {
    if (!selectFirstImage()) {
        note("rename.ready", "no");
        return;
    }
    PostMessageW(g_mainWindow, WM_COMMAND, MAKEWPARAM(cmd::Rename, 0), 0);
    HWND dialog = nullptr;
    waitUntil([&] { return EnumWindows(findNameDialog, reinterpret_cast<LPARAM>(&dialog)), dialog != nullptr; });
    note("rename.dialog", dialog ? "yes" : "no");
    if (!dialog) {
        note("rename.state", "modal " + std::to_string(g_modalFlag.load()) + " selected " +
                                 std::to_string(pane1().selectedCount) + " busy " + std::to_string(g_paneBusy[0].load()));
        return;
    }
    // A second instance hands over folder b while the dialog is open.
    const std::wstring other = (g_home / L"b").wstring();
    COPYDATASTRUCT data{0, DWORD((other.size() + 1) * sizeof(wchar_t)), const_cast<wchar_t*>(other.c_str())};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(g_mainWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kBoundMs, &result);
    Sleep(kSettleMs);
    note("rename.folderDuringDialog", narrow(fs::path(pane1().folder).filename().wstring()));
    HWND field = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    if (field) SetWindowTextW(field, L"renamed");
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    const bool opened = waitUntil([&] {
        return fs::path(pane1().folder).filename() == L"b" && pane1Idle() && pane1().itemCount == 1;
    });
    note("rename.heldFolderOpened", opened ? "yes" : "no");
    note("rename.firstItemAfter", opened ? narrow(pane1().items[0].name) : "");
    note("rename.renamedInA", pathExists((g_home / L"a" / L"renamed.bmp").c_str()) ? "yes" : "no");
    note("rename.bUntouched", pathExists((g_home / L"b" / imageName(0)).c_str()) ? "yes" : "no");
}

DWORD WINAPI driver(LPVOID) {
    const bool up = waitUntil([] {
        return g_mainWindow && IsWindowVisible(g_mainWindow) && pane1().baseWindow && g_panes[1].baseWindow;
    }, 60000);
    note("started", up ? "yes" : "no");
    if (up) {
        SetForegroundWindow(g_mainWindow);
        for (int over = 0; over < 2; ++over) {
            menuCase("fileMenuKeys", openFileMenuByKeys, over);
            menuCase("thumbMenu", openThumbnailMenu, over);
            menuCase("treeMenu", openTreeMenu, over);
        }
        sizeFieldCase("fieldH", g_frame.fieldH, "123");
        sizeFieldCase("fieldW", g_frame.fieldW, "567");
        enterAppliesWidth();
        renameDuringHandOver();
    }
    if (FILE* f = _wfopen((g_home / L"report.txt").c_str(), L"wb")) {
        for (const auto& [key, value] : g_report) std::fprintf(f, "%s=%s\n", key.c_str(), value.c_str());
        std::fclose(f);
    }
    if (g_mainWindow) PostMessageW(g_mainWindow, WM_CLOSE, 0, 0);
    return 0;
}

int runAsProgram() {
    g_home = fs::path(selfPath()).parent_path();
    HANDLE thread = CreateThread(nullptr, 0, driver, nullptr, 0, nullptr);
    const int code = runApplication(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    if (thread) {
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
    }
    return code;
}

// ================================================================ the test side

std::map<std::string, std::string> runProgramOnce() {
    static std::map<std::string, std::string> report;
    static bool ran = false;
    if (ran) return report;
    ran = true;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const fs::path home = fs::path(temp) / (L"pravel_keys_" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove_all(home, ignored);
    fs::create_directories(home / L"a");
    fs::create_directories(home / L"b");
    auto writeImage = [](const fs::path& path, unsigned seed) {
        const std::string bytes = bmpBytes(seed);
        writeWholeFile(path.c_str(), bytes.data(), bytes.size());
    };
    for (int i = 0; i < kImages; ++i) writeImage(home / L"a" / imageName(i), unsigned(i));
    writeImage(home / L"b" / imageName(0), 9);
    // Deletes go to the recycle bin without a question; both panes shown, no cache.
    const char ini[] = "[Mwin]\r\nx=0\r\ny=0\r\nw=1000\r\nh=700\r\nThSplit=0\r\nUseCache=0\r\nNoRecycMsg=1\r\n";
    writeWholeFile((home / L"Pravel.ini").c_str(), ini, sizeof ini - 1);
    const fs::path program = home / L"Pravel.exe";
    if (!CopyFileW(selfPath().c_str(), program.c_str(), FALSE)) return report;

    std::wstring commandLine = L"\"" + program.wstring() + L"\" \"" + (home / L"a").wstring() + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, home.c_str(), &si,
                        &pi))
        return report;
    if (WaitForSingleObject(pi.hProcess, 300000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string text;
    readWholeFile((home / L"report.txt").c_str(), text);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) report[line.substr(0, eq)] = line.substr(eq + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (std::getenv("PRAVEL_KEYS_REPORT"))
        for (const auto& [key, value] : report) std::printf("%s=%s\n", key.c_str(), value.c_str());
    fs::remove_all(home, ignored);
    return report;
}

class InputRouting : public ::testing::Test {
protected:
    void SetUp() override {
        report = runProgramOnce();
        ASSERT_EQ(report["started"], "yes") << "the program did not come up";
        for (const auto& [key, value] : report)
            if (key.find(".state") != std::string::npos) std::printf("[ state ] %s=%s\n", key.c_str(), value.c_str());
    }
    std::string at(const std::string& key) { return report.count(key) ? report[key] : "(missing)"; }
    std::map<std::string, std::string> report;
};

TEST_F(InputRouting, EscAndDeleteBelongToTheOpenMenuWhicheverPaneThePointerIsOver) {
    for (const char* menu : {"fileMenuKeys", "thumbMenu", "treeMenu"})
        for (const char* over : {".pane1", ".pane2"}) {
            const std::string key = std::string(menu) + over;
            SCOPED_TRACE(key);
            ASSERT_EQ(at(key + ".opened"), "yes");
            EXPECT_EQ(at(key + ".openAfterDelete"), "yes") << "Delete closed the menu or ran behind it";
            EXPECT_EQ(at(key + ".closedByEsc"), "yes");
            EXPECT_EQ(at(key + ".imagesLeft"), std::to_string(kImages)) << "Delete reached the delete command";
            EXPECT_EQ(at(key + ".itemsShown"), std::to_string(kImages)) << "Esc reached stop/clear";
        }
}

TEST_F(InputRouting, KeysTypedInTheSizeFieldsEditThemAndStartNothingElse) {
    const struct {
        const char* field;
        const char* typed;
        const char* homeDelete;
        const char* endBackspace;
    } cases[] = {{"fieldH", "123", "23", "2"}, {"fieldW", "567", "67", "6"}};
    for (const auto& c : cases) {
        const std::string f = c.field;
        SCOPED_TRACE(f);
        ASSERT_EQ(at(f + ".focused"), "yes");
        EXPECT_EQ(at(f + ".ctrlA.selection"), "0-3") << "Ctrl+A selects the field's text";
        EXPECT_EQ(at(f + ".ctrlA.selectedItems"), "1") << "Ctrl+A selected the thumbnails";
        EXPECT_EQ(at(f + ".typed"), c.typed);
        EXPECT_EQ(at(f + ".homeDelete"), c.homeDelete);
        EXPECT_EQ(at(f + ".endBackspace"), c.endBackspace);
        EXPECT_EQ(at(f + ".afterTab"), c.endBackspace);
        EXPECT_EQ(at(f + ".activePaneKept"), "yes") << "Tab switched the active pane";
        EXPECT_EQ(at(f + ".splitKept"), "yes");
        EXPECT_EQ(at(f + ".selectedItems"), "1");
        EXPECT_EQ(at(f + ".imagesLeft"), std::to_string(kImages)) << "Delete or Backspace deleted files";
        EXPECT_EQ(at(f + ".itemsShown"), std::to_string(kImages));
    }
}

TEST_F(InputRouting, EnterInTheWidthFieldAppliesTheSize) {
    EXPECT_EQ(at("enter.before"), "148");
    EXPECT_EQ(at("enter.applied"), "yes");
    EXPECT_EQ(at("enter.itemsShown"), std::to_string(kImages));
    EXPECT_EQ(at("enter.imagesLeft"), std::to_string(kImages));
}

TEST_F(InputRouting, AFolderHandedOverDuringTheRenameDialogOpensAfterIt) {
    ASSERT_EQ(at("rename.dialog"), "yes");
    EXPECT_EQ(at("rename.folderDuringDialog"), "a") << "the pane switched folders under the dialog";
    EXPECT_EQ(at("rename.renamedInA"), "yes");
    EXPECT_EQ(at("rename.heldFolderOpened"), "yes");
    EXPECT_EQ(at("rename.firstItemAfter"), "img00000.bmp") << "the rename reached the new folder's item";
    EXPECT_EQ(at("rename.bUntouched"), "yes");
}

}  // namespace

int main(int argc, char** argv) {
    if (fs::path(selfPath()).filename() == L"Pravel.exe") return runAsProgram();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
