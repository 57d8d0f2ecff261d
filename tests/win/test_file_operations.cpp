// File operations and external programs against two live panes: command lines seen by a
// stand-in viewer, stand-in tools and a stand-in associated program; delete to the recycle
// bin (Wine's trash); the name dialog's renames and new folders; over-long and non-ANSI names;
// a tool command line longer than the system takes.
#include "test_pane_support.h"

#include <shlwapi.h>

#include <map>
#include <set>

#include "base/messages.h"
#include "frame/command_lines.h"
#include "frame/external_programs.h"
#include "frame/file_operations.h"

using namespace panetest;

namespace {

// ---------------------------------------------------------------- modal dialogs and stand-ins
// The name dialog and the message boxes run modal loops on this thread; a thread timer that
// those loops dispatch answers them: the name dialog gets the next text and OK (and, when it
// stays open after a message, the next text again or Cancel when none is left), the question
// about names in use the chosen button, a box OK (on every tick until it is gone: a box may
// not take the answer while it opens).
struct SeenDialog {
    std::wstring caption, field, text;
};
std::vector<SeenDialog> g_seen;
std::vector<std::wstring> g_toType;
std::map<HWND, size_t> g_answered;  // name dialog -> how many windows had been seen when answered
int g_collisionAnswer = IDCANCEL;

std::wstring windowText(HWND w) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(w, buffer, 1024);
    return buffer;
}

BOOL CALLBACK answerDialog(HWND w, LPARAM) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(w) || !IsWindowEnabled(w)) return TRUE;
    HWND field = GetDlgItem(w, 2020);
    HWND question = GetDlgItem(w, 2410);
    const auto answered = g_answered.find(w);
    if (answered == g_answered.end()) {
        g_seen.push_back({windowText(w), field ? windowText(field) : L"",
                          windowText(question ? question : GetDlgItem(w, 0xFFFF))});
    } else if (!field || answered->second == g_seen.size()) {
        return TRUE;  // answered already, and no message came since
    }
    if (field) {
        g_answered[w] = g_seen.size();
        if (answered != g_answered.end() && g_toType.empty()) {
            PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        }
        if (!g_toType.empty()) {
            SetWindowTextW(field, g_toType.front().c_str());
            g_toType.erase(g_toType.begin());
        }
        PostMessageW(w, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    if (question) {
        g_answered[w] = g_seen.size();
        // IDOK stands for the Enter key, pressed on whatever has the focus.
        if (g_collisionAnswer == IDOK) PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
        else PostMessageW(w, WM_COMMAND, g_collisionAnswer, 0);
        return TRUE;
    }
    PostMessageW(w, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK driverTick(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), answerDialog, 0); }

struct DialogDriver {
    UINT_PTR timer;
    explicit DialogDriver(std::vector<std::wstring> typed, int collisionAnswer = IDCANCEL) {
        g_seen.clear();
        g_answered.clear();
        g_toType = std::move(typed);
        g_collisionAnswer = collisionAnswer;
        timer = SetTimer(nullptr, 0, 30, driverTick);
    }
    ~DialogDriver() { KillTimer(nullptr, timer); }
};

bool sawMessage(int id) {
    for (const SeenDialog& d : g_seen)
        if (d.caption == L"Error" && d.text == messageText(id)) return true;
    return false;
}

// The command line a stand-in recorded, without its own program path; "<none>" when it did
// not run within the bound.
std::wstring recordedArguments(const std::wstring& exe, DWORD boundMs = 20000) {
    const std::wstring out = exe + L".txt";
    const DWORD start = GetTickCount();
    // A record always holds at least the program's path: an empty read is a file that could
    // not be opened yet (the stand-in has just moved it into place), not an empty command line.
    std::string bytes;
    while ((bytes = readBytes(out)).empty()) {
        if (GetTickCount() - start > boundMs) return L"<none>";
        pump();
        Sleep(20);
    }
    DeleteFileW(out.c_str());
    const std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t at = line.find(line.empty() || line[0] != L'"' ? L' ' : L'"', 1);
    at = at == std::wstring::npos ? line.size() : at + (line[0] == L'"');
    return line.substr(std::min(line.size(), line.find_first_not_of(L' ', at)));
}

// ---------------------------------------------------------------- two live panes
struct Marker {
    static inline WNDPROC original[2] = {};
    static inline std::atomic<int> seen[2] = {};
    template <int I>
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_APP + 1) {
            ++seen[I];
            return 0;
        }
        return CallWindowProcW(original[I], w, m, wp, lp);
    }
};

class FileOps : public ::testing::Test {
protected:
    HANDLE threads[2] = {};
    std::wstring bin, folder;

    void SetUp() override {
        setUpProcessOnce();
        const std::wstring settings = tempFolder(L"ops_settings");
        setSettingsFilePath((settings + L"\\Pravel.ini").c_str());
        g_settings = AppSettings{};
        g_settings.noRecycleConfirm = 1;
        updateTextAreaHeight(g_settings);
        g_activePane = 0;
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        posted().clear();
        threads[0] = CreateThread(nullptr, 0, paneThread1, nullptr, 0, nullptr);
        threads[1] = CreateThread(nullptr, 0, paneThread2, nullptr, 0, nullptr);
        ASSERT_TRUE(waitFor([] { return count(CodePane1Ready) == 1 && count(CodePane2Ready) == 1; }));
        for (int i = 0; i < 2; ++i) {
            HWND outer = g_panes[i].outerWindow;
            SetWindowPos(outer, nullptr, i * 540, 0, 530, 700, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            Marker::original[i] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                outer, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(i == 0 ? &Marker::proc<0> : &Marker::proc<1>)));
        }
        bin = tempFolder(L"ops_bin");
        removeFolder(bin);
        bin = tempFolder(L"ops_bin");
        folder = tempFolder(L"ops_files");
        removeFolder(folder);
        folder = tempFolder(L"ops_files");
    }

    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
            if (g_panes[i].outerWindow) SendMessageW(g_panes[i].outerWindow, kCrossThreadMessage, CodeEndThread, 0);
            WaitForSingleObject(threads[i], 30000);
            CloseHandle(threads[i]);
            freePaneItems(g_panes[i]);
            g_panes[i] = ThumbnailPane{};
            g_paneWindows[i] = nullptr;
        }
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        pump();
        removeFolder(folder);
        removeFolder(bin);
        removeFolder(tempFolder(L"ops_settings"));
    }

    void flush(int pane) {
        const int before = Marker::seen[pane];
        PostMessageW(g_panes[pane].outerWindow, WM_APP + 1, 0, 0);
        waitFor([&] { return Marker::seen[pane] > before; }, 600000);
    }
    void show(int pane, const std::wstring& f) {
        paneOpenFolder(pane, f.c_str());
        flush(pane);
    }
    // Exactly these items selected: a plain click on the first, Ctrl-clicks on the rest.
    void select(int pane, std::initializer_list<int> items) {
        // A click on the background clears the selection first (a plain click on an item that
        // is already selected keeps the group).
        SendMessageW(g_panes[pane].baseWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 690));
        SendMessageW(g_panes[pane].baseWindow, WM_LBUTTONUP, 0, MAKELPARAM(2, 690));
        bool first = true;
        for (int i : items) {
            HWND cell = GetDlgItem(g_panes[pane].baseWindow, 10000 + i);
            ASSERT_NE(cell, nullptr) << "item " << i << " in view";
            const WPARAM keys = first ? MK_LBUTTON : (MK_LBUTTON | MK_CONTROL);
            SendMessageW(cell, WM_LBUTTONDOWN, keys, MAKELPARAM(10, 10));
            SendMessageW(cell, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
            first = false;
        }
        pump();
    }
    std::vector<std::wstring> names(int pane) {
        std::vector<std::wstring> out;
        for (int i = 0; i < g_panes[pane].itemCount; ++i) out.push_back(g_panes[pane].items[i].name);
        return out;
    }
    std::wstring standIn(const wchar_t* name) {
        std::wstring source, path = bin + L"\\" + name;
        for (const char* p = PRAVEL_STANDIN_EXE; *p; ++p) source.push_back(*p == '/' ? L'\\' : wchar_t(*p));
        EXPECT_TRUE(CopyFileW(source.c_str(), path.c_str(), FALSE)) << "stand-in copied";
        return path;
    }
    std::wstring write(const std::wstring& f, const wchar_t* name, unsigned seed) {
        const std::wstring path = f + L"\\" + name;
        writeBytes(path, bmpBytes(4 + int(seed % 5), 3, seed));
        return path;
    }
};

// ---------------------------------------------------------------- command lines

TEST(CommandLines, TheSystemLimitCountsQuotesSpaceAndTerminator) {
    // "program" + space + parameters + terminator must stay within 32,767 characters.
    const std::wstring program(100, L'x');
    const size_t room = kCommandLineCapacity - (100 + 2 + 1 + 1);
    EXPECT_TRUE(commandLineFits(program.c_str(), std::wstring(room, L'p')));
    EXPECT_FALSE(commandLineFits(program.c_str(), std::wstring(room + 1, L'p')));
}

// ---------------------------------------------------------------- the viewer, tools, association

TEST_F(FileOps, ViewerSlideShowAndToolCommandLines) {
    for (unsigned i = 0; i < 5; ++i) {
        wchar_t n[32];
        wsprintfW(n, L"img%u.bmp", i);
        write(folder, n, i);
    }
    const std::wstring spaced = tempFolder(L"ops sp");
    removeFolder(spaced);
    tempFolder(L"ops sp");
    write(spaced, L"one.bmp", 9);
    const std::wstring viewer = standIn(L"Dorna.exe");
    const std::wstring tool = standIn(L"tool4.exe");
    lstrcpyW(g_settings.viewerPath, viewer.c_str());
    lstrcpyW(g_settings.toolPaths[3], tool.c_str());
    show(0, folder);
    ASSERT_EQ(g_panes[0].itemCount, 5);
    const std::wstring f = folder + L"\\";

    // Nothing selected: the switch alone.
    openSelectionInViewer(g_mainWindow, L"/v");
    EXPECT_EQ(recordedArguments(viewer), L"/v");
    // Two selected: only the first, bare (no space in the path); no plug-in folder.
    select(0, {3, 1});
    openSelectionInViewer(g_mainWindow, L"/v");
    EXPECT_EQ(recordedArguments(viewer), L"/v " + f + L"img1.bmp");
    lstrcpyW(g_settings.pluginFolder, L"C:\\plug ins");
    showViewerOptions(g_mainWindow);
    EXPECT_EQ(recordedArguments(viewer), L"/o " + f + L"img1.bmp \"C:\\plug ins\"");
    g_settings.pluginFolder[0] = 0;

    // Slide show: the pane's first item whatever is selected.
    select(0, {2});
    startSlideShow(g_mainWindow);
    EXPECT_EQ(recordedArguments(viewer), L"/a " + f + L"img0.bmp");
    g_paneBusy[0] = PaneLoading;
    startSlideShow(g_mainWindow);
    g_paneBusy[0] = PaneIdle;
    EXPECT_EQ(recordedArguments(viewer, 1500), L"<none>") << "no slide show while the pane loads";

    // "DblClick" 7 runs tool 4 with three quoted paths.
    select(0, {0, 2, 4});
    g_settings.doubleClickAction = 7;
    runDoubleClickAction(g_mainWindow, 0);
    EXPECT_EQ(recordedArguments(tool), L"\"" + f + L"img0.bmp\" \"" + f + L"img2.bmp\" \"" + f + L"img4.bmp\"");

    // A path with a space is quoted, and so is a plug-in folder with one.
    show(1, spaced);
    select(1, {0});
    lstrcpyW(g_settings.pluginFolder, L"C:\\spi");
    g_settings.doubleClickAction = 1;
    runDoubleClickAction(g_mainWindow, 1);
    EXPECT_EQ(recordedArguments(viewer), L"/s \"" + spaced + L"\\one.bmp\" C:\\spi");
    removeFolder(spaced);
}

// The associated program of ".jpe" is a stand-in registered in the test prefix's class root
// (Wine's does not merge the user's classes) and removed afterwards.
class Association : public FileOps {
protected:
    void registerProgram(const std::wstring& exe) {
        const std::wstring line = L"\"" + exe + L"\" \"%1\"";
        SHSetValueW(HKEY_CLASSES_ROOT, L".jpe", nullptr, REG_SZ, L"PravelTest.jpe", 30);
        SHSetValueW(HKEY_CLASSES_ROOT, L"PravelTest.jpe\\shell\\open\\command", nullptr, REG_SZ, line.c_str(),
                    DWORD((line.size() + 1) * sizeof(wchar_t)));
    }
    void TearDown() override {
        SHDeleteKeyW(HKEY_CLASSES_ROOT, L"PravelTest.jpe");
        SHDeleteKeyW(HKEY_CLASSES_ROOT, L".jpe");
        FileOps::TearDown();
    }
};

TEST_F(Association, WithoutTheViewerEveryDoubleClickOpensTheAssociatedProgram) {
    HKEY existing;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".jpe", 0, KEY_READ, &existing) == 0) {
        RegCloseKey(existing);
        GTEST_SKIP() << "the prefix already has a .jpe association";
    }
    write(folder, L"pic.jpe", 1);
    write(folder, L"写真.jpe", 2);
    const std::wstring opener = standIn(L"opener.exe");
    registerProgram(opener);
    const std::wstring tool = standIn(L"tool1.exe");
    lstrcpyW(g_settings.toolPaths[0], tool.c_str());
    lstrcpyW(g_settings.viewerPath, (bin + L"\\Dorna.exe").c_str());  // not there
    show(0, folder);
    ASSERT_EQ(g_panes[0].itemCount, 2);
    select(0, {1, 0});  // both selected: the first in list order is opened, and only it
    for (int action : {0, 4}) {
        g_settings.doubleClickAction = action;
        runDoubleClickAction(g_mainWindow, 0);
        EXPECT_EQ(recordedArguments(opener), L"\"" + folder + L"\\pic.jpe\"") << "action " << action;
        EXPECT_EQ(recordedArguments(tool, 500), L"<none>");
    }
    // With the viewer gone the viewer commands do nothing; a Japanese name reaches the program.
    select(0, {1});
    openSelectionInViewer(g_mainWindow, L"/v");
    openSelectionWithAssociation(g_mainWindow);
    EXPECT_EQ(recordedArguments(opener), L"\"" + folder + L"\\写真.jpe\"");
}

TEST_F(FileOps, AThousandFileToolListThatCannotFitStartsNothing) {
    makeImages(folder, 1000);
    show(0, folder);
    ASSERT_EQ(g_panes[0].itemCount, 1000);
    PostMessageW(g_panes[0].outerWindow, kCrossThreadMessage, CodeSelectAll, 0);
    flush(0);
    PaneSelection s;
    ASSERT_TRUE(queryPaneSelection(0, s));
    ASSERT_EQ(s.selected.size(), 1000u);
    const std::wstring tool = standIn(L"tool.exe");
    lstrcpyW(g_settings.toolPaths[0], tool.c_str());
    const size_t length = selectionQuotedList(s).size();
    std::printf("quoted list of 1000 files: %zu characters (limit %zu)\n", length, kCommandLineCapacity);
    ASSERT_GT(length, kCommandLineCapacity);
    DialogDriver driver({});
    runExternalTool(g_mainWindow, 0);
    EXPECT_TRUE(sawMessage(MsgRunFailed));
    EXPECT_EQ(recordedArguments(tool, 2000), L"<none>") << "no tool given part of the list";
}

// ---------------------------------------------------------------- delete

// Wine's recycle bin is the user's trash; Wine gives the home folder as \??\Z:\root (for example).
std::wstring trashFolder() {
    wchar_t home[MAX_PATH] = {};
    GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    std::wstring out = home;
    if (out.rfind(L"\\??\\", 0) == 0) out.erase(0, 4);
    return out + L"\\.local\\share\\Trash";
}

TEST_F(FileOps, DeleteSendsTwoFilesToTheBinAndBothPanesFollow) {
    wchar_t token[32];
    wsprintfW(token, L"%08lx", GetTickCount() ^ GetCurrentProcessId());
    std::vector<std::wstring> files;
    std::vector<std::string> bytes;
    for (unsigned i = 0; i < 5; ++i) {
        const std::wstring name = L"del" + std::to_wstring(i) + L"_" + token + L".bmp";
        write(folder, name.c_str(), i + 20);
        files.push_back(name);
        bytes.push_back(readBytes(folder + L"\\" + name));
    }
    show(0, folder);
    show(1, folder);
    ASSERT_EQ(g_panes[0].itemCount, 5);
    ASSERT_EQ(g_panes[1].itemCount, 5);
    select(0, {1, 3});

    // Refused while either pane is busy (the other one shows the same folder).
    for (int busy : {0, 1}) {
        g_paneBusy[busy] = PaneLoading;
        deleteSelectedFiles(g_mainWindow);
        g_paneBusy[busy] = PaneIdle;
        EXPECT_NE(GetFileAttributesW((folder + L"\\" + files[1]).c_str()), INVALID_FILE_ATTRIBUTES) << busy;
    }

    deleteSelectedFiles(g_mainWindow);
    flush(0);
    flush(1);
    EXPECT_EQ(names(0), (std::vector<std::wstring>{files[0], files[2], files[4]}));
    for (int i = 0; i < 3; ++i) EXPECT_NE(GetDlgItem(g_panes[0].baseWindow, 10000 + i), nullptr) << i;
    EXPECT_EQ(GetDlgItem(g_panes[0].baseWindow, 10003), nullptr);
    EXPECT_EQ(names(1), names(0)) << "the other pane was listed again";
    const std::wstring trash = trashFolder();
    for (int i : {1, 3}) {
        EXPECT_EQ(GetFileAttributesW((folder + L"\\" + files[i]).c_str()), INVALID_FILE_ATTRIBUTES) << i;
        const std::wstring binned = trash + L"\\files\\" + files[i];
        EXPECT_EQ(readBytes(binned), bytes[i]) << "in the bin byte for byte: " << i;
        DeleteFileW(binned.c_str());
        DeleteFileW((trash + L"\\info\\" + files[i] + L".trashinfo").c_str());
    }
    for (int i : {0, 2, 4}) EXPECT_EQ(readBytes(folder + L"\\" + files[i]), bytes[i]);

    // The list check: not longer than one character, or without the closing zeros.
    EXPECT_FALSE(recycleList(g_mainWindow, std::wstring(1, L'\0')));
    EXPECT_FALSE(recycleListSilently(folder + L"\\" + files[0]));
    EXPECT_EQ(readBytes(folder + L"\\" + files[0]), bytes[0]);
}

TEST_F(FileOps, ADeleteThatStopsPartWayListsTheFolderAgain) {
    wchar_t token[32];
    wsprintfW(token, L"%08lx", GetTickCount() ^ GetCurrentProcessId());
    const std::wstring gone = std::wstring(L"part0_") + token + L".bmp", held = std::wstring(L"part1_") + token + L".bmp";
    write(folder, gone.c_str(), 1);
    write(folder, held.c_str(), 2);
    write(folder, L"zz.bmp", 3);
    show(0, folder);
    show(1, folder);
    select(0, {0, 1});
    // A file open without delete sharing cannot be moved to the bin.
    HANDLE open = CreateFileW((folder + L"\\" + held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    {
        DialogDriver driver({});  // answers the shell's error box, if it shows one
        deleteSelectedFiles(g_mainWindow);
    }
    CloseHandle(open);
    flush(0);
    flush(1);
    const std::wstring trash = trashFolder();
    DeleteFileW((trash + L"\\files\\" + gone).c_str());
    DeleteFileW((trash + L"\\info\\" + gone + L".trashinfo").c_str());
    ASSERT_EQ(GetFileAttributesW((folder + L"\\" + gone).c_str()), INVALID_FILE_ATTRIBUTES) << "the first file went";
    ASSERT_NE(GetFileAttributesW((folder + L"\\" + held).c_str()), INVALID_FILE_ATTRIBUTES) << "the held one stayed";
    EXPECT_EQ(names(0), (std::vector<std::wstring>{held, L"zz.bmp"}));
    EXPECT_EQ(names(1), names(0));
}

// ---------------------------------------------------------------- copy and move

// Copies and moves onto a folder that holds some of the names: one question, and its answer
// is what happens, whatever the shell would have done; both panes list the truth afterwards.
TEST_F(FileOps, CopyAndMoveOntoNamesInUseReplaceOnlyWhenTheUserSaysSo) {
    const std::wstring target = tempFolder(L"ops_target");
    removeFolder(target);
    tempFolder(L"ops_target");
    std::map<std::wstring, std::string> source, kept;
    for (const wchar_t* n : {L"a.bmp", L"b.bmp", L"c.bmp"}) source[n] = readBytes(write(folder, n, unsigned(n[0])));
    kept[L"b.bmp"] = readBytes(write(target, L"b.bmp", 99));
    show(0, folder);
    show(1, target);
    const auto bytesIn = [&](const wchar_t* name) { return readBytes(target + L"\\" + name); };

    // Cancel: nothing copied at all; the question named the one name in use.
    select(0, {0, 1, 2});
    {
        DialogDriver driver({}, IDCANCEL);
        EXPECT_FALSE(copyOrMoveSelection(g_mainWindow, 2, 0, target.c_str()));
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_NE(g_seen[0].text.find(L"1 個"), std::wstring::npos);
        EXPECT_NE(g_seen[0].text.find(L"b.bmp"), std::wstring::npos);
    }
    EXPECT_EQ(bytesIn(L"b.bmp"), kept[L"b.bmp"]);
    EXPECT_EQ(GetFileAttributesW((target + L"\\a.bmp").c_str()), INVALID_FILE_ATTRIBUTES);

    // Enter skips: the others are copied, the file in use keeps its bytes; the target pane
    // follows.
    select(0, {0, 1, 2});
    {
        DialogDriver driver({}, IDOK);
        EXPECT_TRUE(copyOrMoveSelection(g_mainWindow, 2, 0, target.c_str()));
        EXPECT_EQ(g_seen.size(), 1u);
    }
    flush(1);
    EXPECT_EQ(bytesIn(L"a.bmp"), source[L"a.bmp"]);
    EXPECT_EQ(bytesIn(L"b.bmp"), kept[L"b.bmp"]);
    EXPECT_EQ(bytesIn(L"c.bmp"), source[L"c.bmp"]);
    EXPECT_EQ(names(1), (std::vector<std::wstring>{L"a.bmp", L"b.bmp", L"c.bmp"}));
    flush(0);
    EXPECT_EQ(names(0).size(), 3u) << "a copy leaves the source alone";

    // Move with skip: the names in use stay in the source folder and its pane, the rest move.
    write(folder, L"d.bmp", 40);
    source[L"d.bmp"] = readBytes(folder + L"\\d.bmp");
    show(0, folder);
    select(0, {1, 3});  // b (in use) and d
    {
        DialogDriver driver({}, 2412);
        copyOrMoveSelection(g_mainWindow, 1, 0, target.c_str());
        EXPECT_EQ(g_seen.size(), 1u);
    }
    flush(0);
    flush(1);
    EXPECT_EQ(names(0), (std::vector<std::wstring>{L"a.bmp", L"b.bmp", L"c.bmp"}));
    EXPECT_EQ(names(1), (std::vector<std::wstring>{L"a.bmp", L"b.bmp", L"c.bmp", L"d.bmp"}));
    EXPECT_EQ(bytesIn(L"b.bmp"), kept[L"b.bmp"]);
    EXPECT_EQ(bytesIn(L"d.bmp"), source[L"d.bmp"]);

    // Move with overwrite: every name is in use now; all are replaced and the source is empty.
    select(0, {0, 1, 2});
    {
        DialogDriver driver({}, 2411);
        EXPECT_TRUE(copyOrMoveSelection(g_mainWindow, 1, 0, target.c_str()));
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_NE(g_seen[0].text.find(L"3 個"), std::wstring::npos);
    }
    flush(0);
    flush(1);
    EXPECT_TRUE(names(0).empty());
    for (const wchar_t* n : {L"a.bmp", L"b.bmp", L"c.bmp"}) EXPECT_EQ(bytesIn(n), source[n]) << n;

    // No name in use: no question.
    write(folder, L"e.bmp", 50);
    show(0, folder);
    select(0, {0});
    {
        DialogDriver driver({}, IDCANCEL);
        EXPECT_TRUE(copyOrMoveSelection(g_mainWindow, 2, 0, target.c_str()));
        EXPECT_TRUE(g_seen.empty());
    }
    EXPECT_EQ(bytesIn(L"e.bmp"), readBytes(folder + L"\\e.bmp"));
    removeFolder(target);
}

TEST_F(FileOps, AMoveThatLeavesAHeldFileBehindListsBothFoldersAsTheyAre) {
    const std::wstring target = tempFolder(L"ops_target");
    removeFolder(target);
    tempFolder(L"ops_target");
    write(folder, L"free.bmp", 1);
    const std::wstring held = write(folder, L"held.bmp", 2);
    write(folder, L"zz.bmp", 3);
    show(0, folder);
    show(1, target);
    select(0, {0, 1});
    // A file open without delete sharing cannot be moved.
    HANDLE open = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    {
        DialogDriver driver({});  // answers the shell's error box, if it shows one
        copyOrMoveSelection(g_mainWindow, 1, 0, target.c_str());
    }
    CloseHandle(open);
    flush(0);
    flush(1);
    ASSERT_EQ(GetFileAttributesW((folder + L"\\free.bmp").c_str()), INVALID_FILE_ATTRIBUTES) << "the free file moved";
    ASSERT_NE(GetFileAttributesW(held.c_str()), INVALID_FILE_ATTRIBUTES) << "the held one stayed";
    EXPECT_EQ(names(0), (std::vector<std::wstring>{L"held.bmp", L"zz.bmp"}));
    EXPECT_EQ(names(1), (std::vector<std::wstring>{L"free.bmp"}));
    removeFolder(target);
}

// ---------------------------------------------------------------- the name dialog

TEST_F(FileOps, RenameKeepsTheExtensionAndBothPanesFollow) {
    const std::wstring a = write(folder, L"a.jpg", 1);
    const std::wstring c = write(folder, L"c.jpg", 2);
    const std::string aBytes = readBytes(a), cBytes = readBytes(c);
    show(0, folder);
    show(1, folder);
    ASSERT_EQ(names(0), (std::vector<std::wstring>{L"a.jpg", L"c.jpg"}));
    select(0, {0});
    {
        DialogDriver driver({L"b"});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5030, 0, nullptr), 1);
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_EQ(g_seen[0].caption, L"ファイル名変更");
        EXPECT_EQ(g_seen[0].field, L"a");
    }
    EXPECT_EQ(readBytes(folder + L"\\b.jpg"), aBytes);
    EXPECT_EQ(GetFileAttributesW(a.c_str()), INVALID_FILE_ATTRIBUTES);
    flush(0);
    flush(1);
    EXPECT_EQ(names(0)[0], L"b.jpg");
    EXPECT_EQ(names(1)[0], L"b.jpg") << "the other pane on the same folder";
    {
        DialogDriver driver({L"b.png"});
        renameSelectedFile(g_mainWindow);
    }
    EXPECT_EQ(readBytes(folder + L"\\b.png.jpg"), aBytes);
    flush(0);
    EXPECT_EQ(names(0)[0], L"b.png.jpg");
    // Onto an existing name: said so, the dialog stays open for another name, and both files
    // stay; the next name is taken.
    {
        DialogDriver driver({L"c", L"d"});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5030, 0, nullptr), 1);
        ASSERT_EQ(g_seen.size(), 2u) << "the dialog and one message";
        EXPECT_EQ(g_seen[1].caption, L"Error");
        EXPECT_NE(g_seen[1].text.find(L"同じ名前"), std::wstring::npos);
    }
    flush(0);
    EXPECT_EQ(readBytes(c), cBytes);
    EXPECT_EQ(readBytes(folder + L"\\d.jpg"), aBytes);
    EXPECT_EQ(names(0), (std::vector<std::wstring>{L"d.jpg", L"c.jpg"})) << "renamed in its place";

    select(0, {0, 1});
    EXPECT_EQ(runNameDialog(g_mainWindow, 5030, 0, nullptr), 0) << "two selected: no dialog";
}

TEST_F(FileOps, OverLongAndNonAnsiNames) {
    std::printf("ANSI code page %u\n", GetACP());
    const std::wstring a = write(folder, L"a.bmp", 1);
    const std::string aBytes = readBytes(a);
    show(0, folder);
    select(0, {0});
    // A new path of 259 characters or more is not attempted.
    const size_t room = 258 - (folder.size() + 1) - 4;  // the longest stem that still fits
    {
        DialogDriver driver({std::wstring(room + 1, L'n')});
        renameSelectedFile(g_mainWindow);
    }
    EXPECT_EQ(readBytes(a), aBytes);
    flush(0);
    EXPECT_EQ(names(0)[0], L"a.bmp");
    {
        DialogDriver driver({std::wstring(room, L'n')});
        renameSelectedFile(g_mainWindow);
    }
    flush(0);
    EXPECT_EQ(names(0)[0], std::wstring(room, L'n') + L".bmp");
    // Japanese, whatever the code page.
    select(0, {0});
    {
        DialogDriver driver({L"写真テスト"});
        renameSelectedFile(g_mainWindow);
    }
    EXPECT_EQ(readBytes(folder + L"\\写真テスト.bmp"), aBytes);
    flush(0);
    EXPECT_EQ(names(0)[0], L"写真テスト.bmp");
    const std::wstring tool = standIn(L"tool.exe");
    lstrcpyW(g_settings.toolPaths[5], tool.c_str());
    runExternalTool(g_mainWindow, 5);
    EXPECT_EQ(recordedArguments(tool), L"\"" + folder + L"\\写真テスト.bmp\"");
}

TEST_F(FileOps, NewFolderAndFolderRename) {
    {
        DialogDriver driver({L"新しいフォルダ"});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5520, 0, folder.c_str()), 1);
        ASSERT_EQ(g_seen.size(), 1u);
        EXPECT_EQ(g_seen[0].caption, L"フォルダ新規作成");
        EXPECT_EQ(g_seen[0].field, L"");
    }
    const DWORD made = GetFileAttributesW((folder + L"\\新しいフォルダ").c_str());
    EXPECT_TRUE(made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_DIRECTORY));
    // A name that cannot be made: message 13, and the dialog stays open (closed here by Cancel).
    for (const wchar_t* bad : {L"x\\y", L"what?", L"", L"..\\escape", L"新しいフォルダ"}) {
        DialogDriver driver({bad});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5520, 0, folder.c_str()), 2);
        EXPECT_TRUE(sawMessage(MsgFolderCreateFailed)) << "message 13 for \"" << std::string(bad, bad + lstrlenW(bad)).c_str() << "\"";
    }
    // The first name refused, the second made in the same dialog.
    {
        DialogDriver driver({L"", L"second"});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5520, 0, folder.c_str()), 1);
    }
    EXPECT_TRUE(PathIsDirectoryW((folder + L"\\second").c_str()));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(GetFileAttributesW((std::wstring(temp) + L"escape").c_str()), INVALID_FILE_ATTRIBUTES);
    {
        DialogDriver driver({L"renamed"});
        EXPECT_EQ(runNameDialog(g_mainWindow, 5521, 0, (folder + L"\\新しいフォルダ").c_str()), 1);
        ASSERT_FALSE(g_seen.empty());
        EXPECT_EQ(g_seen[0].caption, L"フォルダ名変更");
        EXPECT_EQ(g_seen[0].field, L"新しいフォルダ");
    }
    EXPECT_NE(GetFileAttributesW((folder + L"\\renamed").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\新しいフォルダ").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
