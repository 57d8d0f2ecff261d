// The folder tree driven for real inside the test process: the main frame with its tree pane,
// both thumbnail pane threads, COM and the shell namespace, generated folders on disk.
// Covers the registered-folder rules, hidden and dot folders, opening folders in the panes,
// file drags from a pane onto the tree, rename follow-up, bad input, and a timed expansion of
// a folder with 5,000 subfolders (the figure is printed, never asserted).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <functional>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "base/image_lock.h"
#include "app/settings.h"
#include "base/thread_messages.h"
#include "frame/command_table.h"
#include "frame/frame_state.h"
#include "frame/main_window.h"
#include "thumbs/pane.h"
#include "thumbs/pane_access.h"
#include "tree/folder_tree_model.h"
#include "tree/folder_tree_pane.h"
#include "tree/tree_access.h"
#include "test_pane_support.h"

const uint8_t* blendTable();

namespace {

using panetest::pump;
using panetest::waitFor;
using panetest::writeBytes;

std::wstring tempRoot() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"pravel_tree_test";
}

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(path);
            else DeleteFileW(path.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring makeDir(const std::wstring& path) {
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

// A 4 x 3 24-bit BMP.
std::string smallBmp(unsigned seed) {
    std::string b(54 + 12 * 3, '\0');
    auto le32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + k] = char((v >> (8 * k)) & 0xFF);
    };
    b[0] = 'B';
    b[1] = 'M';
    le32(2, uint32_t(b.size()));
    le32(10, 54);
    le32(14, 40);
    le32(18, 4);
    le32(22, 3);
    b[26] = 1;
    b[28] = 24;
    for (size_t i = 54; i < b.size(); ++i) b[i] = char(seed * 31 + i);
    return b;
}

bool exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s.push_back(char(c));
    return s;
}

HWND treeWindow() { return g_treePane.tree; }

std::vector<HTREEITEM> childrenOf(HTREEITEM parent) {
    std::vector<HTREEITEM> out;
    for (HTREEITEM c = TreeView_GetChild(treeWindow(), parent); c; c = TreeView_GetNextSibling(treeWindow(), c))
        out.push_back(c);
    return out;
}

std::wstring textOf(HTREEITEM item) {
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    SendMessageW(treeWindow(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

std::vector<std::wstring> childTexts(HTREEITEM parent) {
    std::vector<std::wstring> out;
    for (HTREEITEM c : childrenOf(parent)) out.push_back(textOf(c));
    return out;
}

int childrenFlag(HTREEITEM item) {
    TVITEMW tv{};
    tv.mask = TVIF_CHILDREN;
    tv.hItem = item;
    SendMessageW(treeWindow(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return tv.cChildren;
}

std::wstring pathOf(HTREEITEM item) {
    wchar_t p[kPathCapacity];
    return treeRawPathOfItem(item, p) ? std::wstring(p) : std::wstring();
}

// As the user's collapse and the next expansion do it.
void collapseAndExpand(HTREEITEM item) {
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(item));
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

// The pane's status part "selected/total".
std::wstring paneCountText(int pane) {
    HWND status = FindWindowExW(g_paneWindows[pane], nullptr, STATUSCLASSNAMEW, nullptr);
    wchar_t text[64] = {};
    if (status) SendMessageW(status, SB_GETTEXTW, 2, reinterpret_cast<LPARAM>(text));
    return text;
}

bool paneShows(int pane, const std::wstring& folder, const wchar_t* count) {
    return waitFor([&] {
        return paneFolder(pane) == folder && g_paneBusy[pane].load() == PaneIdle && paneCountText(pane) == count;
    });
}

// Counts the drag-begin codes that reach the main window.
WNDPROC g_mainProc = nullptr;
int g_dragBegins = 0;
LRESULT CALLBACK countingMainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kCrossThreadMessage && wp == CodeFileDragBegins) ++g_dragBegins;
    return CallWindowProcW(g_mainProc, w, m, wp, lp);
}

class TreeApp : public ::testing::Test {
protected:
    std::wstring root = tempRoot();
    std::wstring ini;
    HWND frame = nullptr;

    static void SetUpTestSuite() {
        g_instance = GetModuleHandleW(nullptr);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES |
                                                 ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_COOL_CLASSES};
        InitCommonControlsEx(&icc);
        readSystemMetrics();
        registerProgramWindowClasses(g_instance);
        initImageLock();
        blendTable();
        HDC screen = GetDC(nullptr);
        g_scalingDC = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
    }

    void SetUp() override {
        removeTree(root);
        makeDir(root);
        ini = makeDir(root + L"\\settings") + L"\\Pravel.ini";
    }

    // Starts the frame and both panes with `iniText` as the settings file (null: no file).
    void start(const std::string* iniText) {
        if (iniText) writeBytes(ini, *iniText);
        setSettingsFilePath(ini.c_str());
        g_settings = AppSettings{};
        loadSettings();
        g_paneBusy[0] = g_paneBusy[1] = PaneIdle;
        g_pointerButtonState = 0;
        RECT work{0, 0, 800, 600};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        frame = createMainWindow(SW_SHOWNORMAL, readMainPlacement(work.right - work.left, work.bottom - work.top));
        ASSERT_NE(frame, nullptr);
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingMainProc)));
        g_dragBegins = 0;
        g_paneWindows[0] = g_paneWindows[1] = nullptr;
        g_paneThreads[0] = CreateThread(nullptr, 0, paneThread1, nullptr, 0, nullptr);
        g_paneThreads[1] = CreateThread(nullptr, 0, paneThread2, nullptr, 0, nullptr);
        ASSERT_TRUE(waitFor([] { return g_paneWindows[0] && g_paneWindows[1]; }));
        layoutClientArea();  // the frame lays out at the first pair of ready codes only
        pump();
        ASSERT_NE(treeWindow(), nullptr);
    }
    void start(const std::string& iniText) { start(&iniText); }
    // Settings with the given registered folders (and more "Mwin" lines).
    void startWith(const std::vector<std::wstring>& folders, const std::string& mwin = "") {
        std::string text = "[Mwin]\r\nDTExpand=0\r\nCacheOpt=0\r\nUseCache=0\r\n" + mwin + "[FolderList]\r\n";
        for (size_t i = 0; i < folders.size(); ++i) text += std::to_string(i) + "=" + narrow(folders[i]) + "\r\n";
        start(text);
    }

    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
            if (g_paneWindows[i]) {
                DWORD_PTR r = 0;
                SendMessageTimeoutW(g_paneWindows[i], kCrossThreadMessage, CodeEndThread, 0, SMTO_NORMAL, 10000, &r);
            }
            if (g_paneThreads[i]) {
                WaitForSingleObject(g_paneThreads[i], 30000);
                CloseHandle(g_paneThreads[i]);
            }
            g_paneThreads[i] = nullptr;
            g_paneWindows[i] = nullptr;
            freePaneItems(g_panes[i]);
            g_panes[i] = ThumbnailPane{};
        }
        if (frame) {
            freeFrameResources();
            DestroyWindow(frame);
        }
        pump();
        removeTree(root);
    }

    HTREEITEM registeredRoot() { return g_treeModel.registeredRoot; }
    HTREEITEM registeredItem(const std::wstring& path) { return treeFindChildByPath(path.c_str(), registeredRoot()); }
    void select(HTREEITEM item) { SendMessageW(treeWindow(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }

    std::wstring folderWithImages(const std::wstring& name, int n) {
        std::wstring f = makeDir(root + L"\\" + name);
        for (int i = 0; i < n; ++i) writeBytes(f + L"\\img" + std::to_wstring(i) + L".bmp", smallBmp(unsigned(i)));
        return f;
    }

    POINT itemCentre(HTREEITEM item) {
        RECT r{};
        TreeView_GetItemRect(treeWindow(), item, &r, TRUE);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    // A file drag as the pane starts it (drag mode set, code 142 seen) and as the pointer
    // reaches the tree: one move over `item` and the release of the drag's button there.
    void dragOnto(int mode, HTREEITEM item) {
        g_pointerButtonState = mode;
        SendMessageW(frame, kCrossThreadMessage, CodeFileDragBegins, 0);
        const POINT p = itemCentre(item);
        const LPARAM at = MAKELPARAM(p.x, p.y);
        SendMessageW(treeWindow(), WM_MOUSEMOVE, mode == 1 ? MK_LBUTTON : MK_RBUTTON, at);
        SendMessageW(treeWindow(), mode == 1 ? WM_LBUTTONUP : WM_RBUTTONUP, 0, at);
        pump();
    }
};

// ---------------------------------------------------------------- structure and first start

TEST_F(TreeApp, PaneWindowControlsAndFirstStartWithoutSettingsShowsMyPictures) {
    start(nullptr);  // no settings file at all
    HWND pane = g_frame.treePane;
    EXPECT_EQ(GetDlgCtrlID(pane), 400);
    EXPECT_TRUE(GetWindowLongPtrW(pane, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    const struct {
        int id;
        const wchar_t* text;
    } controls[] = {{410, L"登録フォルダ"}, {411, L"追加"}, {412, L"除外"}};
    for (const auto& c : controls) {
        HWND w = GetDlgItem(pane, c.id);
        ASSERT_NE(w, nullptr) << c.id;
        wchar_t text[32] = {};
        GetWindowTextW(w, text, 32);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_EQ(GetDlgItem(pane, 401), treeWindow());
    RECT client, tr;
    GetClientRect(pane, &client);
    GetWindowRect(treeWindow(), &tr);
    MapWindowPoints(nullptr, pane, reinterpret_cast<POINT*>(&tr), 2);
    EXPECT_EQ(tr.top, 36);
    EXPECT_EQ(tr.bottom - tr.top, client.bottom - 46);
    EXPECT_EQ(tr.right - tr.left, client.right);

    wchar_t pictures[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures)));
    ASSERT_NE(registeredRoot(), nullptr);
    const auto items = childrenOf(registeredRoot());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(pathOf(items[0]), pictures);
    EXPECT_TRUE(TreeView_GetItemState(treeWindow(), registeredRoot(), TVIS_EXPANDED) & TVIS_EXPANDED);
    // The Desktop item comes first and carries the shell's folders.
    EXPECT_EQ(TreeView_GetRoot(treeWindow()), g_treeModel.desktop);
    EXPECT_FALSE(childrenOf(g_treeModel.desktop).empty());  // "DTExpand" defaults to on
}

// ---------------------------------------------------------------- registered folders

TEST_F(TreeApp, EmptyListThenOpenPathRegistersSelectsAndLoadsThePane) {
    const std::wstring a = folderWithImages(L"alpha", 3);
    start(std::string("[Mwin]\r\nDTExpand=0\r\nUseCache=0\r\n"));
    EXPECT_EQ(childrenFlag(registeredRoot()), 0);  // no expand button
    EXPECT_TRUE(childrenOf(registeredRoot()).empty());

    // A file path opens its folder, which is registered, selected and listed in pane 1.
    treeOpenPath((a + L"\\img1.bmp").c_str());
    EXPECT_EQ(childrenFlag(registeredRoot()), 1);
    const auto items = childrenOf(registeredRoot());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(pathOf(items[0]), a);
    EXPECT_TRUE(TreeView_GetItemState(treeWindow(), registeredRoot(), TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_EQ(TreeView_GetSelection(treeWindow()), items[0]);
    EXPECT_TRUE(paneShows(0, a, L"0/3")) << paneCountText(0);
    EXPECT_TRUE(paneFolder(1).empty());

    // Opening it again adds nothing, in any letter case: it is the same folder.
    treeOpenPath(a.c_str());
    EXPECT_EQ(g_settings.folders.count(), 1);
    std::wstring upper = a;
    upper.back() = L'A';
    HTREEITEM item = nullptr;
    EXPECT_EQ(treeAddRegisteredFolder(upper.c_str(), &item), AddResult::Existing);
    EXPECT_EQ(item, items[0]);
    EXPECT_EQ(g_settings.folders.count(), 1);
}

TEST_F(TreeApp, VanishedRegisteredFolderLeavesAtNextExpansionOthersStay) {
    const std::wstring a = makeDir(root + L"\\aa"), b = makeDir(root + L"\\bb"), c = makeDir(root + L"\\cc"),
                       d = makeDir(root + L"\\dd");
    startWith({d, b, a, c});  // shown sorted by name, stored in insertion order
    EXPECT_EQ(childTexts(registeredRoot()), (std::vector<std::wstring>{L"aa", L"bb", L"cc", L"dd"}));
    RemoveDirectoryW(b.c_str());
    collapseAndExpand(registeredRoot());
    EXPECT_EQ(childTexts(registeredRoot()), (std::vector<std::wstring>{L"aa", L"cc", L"dd"}));
    ASSERT_EQ(g_settings.folders.count(), 3);
    EXPECT_EQ(std::wstring(g_settings.folders.paths[0]), d);
    EXPECT_EQ(std::wstring(g_settings.folders.paths[1]), a);
    EXPECT_EQ(std::wstring(g_settings.folders.paths[2]), c);

    // Removing the last ones takes the expand button away.
    for (HTREEITEM item : childrenOf(registeredRoot())) folderTreeRunCommand(cmd::TreeUnregister, item);
    EXPECT_EQ(g_settings.folders.count(), 0);
    EXPECT_EQ(childrenFlag(registeredRoot()), 0);
}

TEST_F(TreeApp, FullListRefusesTheHundredAndFirstFolder) {
    std::vector<std::wstring> folders;
    const std::wstring many = makeDir(root + L"\\many");
    for (int i = 0; i < kRegisteredFolderMax; ++i) folders.push_back(makeDir(many + L"\\f" + std::to_wstring(i)));
    const std::wstring extra = makeDir(root + L"\\extra");
    startWith(folders);
    ASSERT_EQ(g_settings.folders.count(), kRegisteredFolderMax);
    HTREEITEM item = nullptr;
    EXPECT_EQ(treeAddRegisteredFolder(extra.c_str(), &item), AddResult::ListFull);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(childrenOf(registeredRoot()).size(), size_t(kRegisteredFolderMax));  // nothing shown that is not stored
    // Open path still lists the folder, unregistered.
    treeOpenPath(extra.c_str());
    EXPECT_TRUE(waitFor([&] { return paneFolder(0) == extra; }));
    EXPECT_EQ(registeredListFind(g_settings.folders, extra.c_str()), -1);
}

// ---------------------------------------------------------------- hidden and dot folders

TEST_F(TreeApp, HiddenAndDotFoldersLeftOutDriveRootsStay) {
    const std::wstring r = makeDir(root + L"\\reg");
    makeDir(r + L"\\visible");
    makeDir(r + L"\\hid");
    SetFileAttributesW((r + L"\\hid").c_str(), FILE_ATTRIBUTE_HIDDEN);
    makeDir(r + L"\\_dot");
    MoveFileW((r + L"\\_dot").c_str(), (r + L"\\.dot").c_str());
    makeDir(r + L"\\.dot\\inner");
    const std::wstring lone = makeDir(root + L"\\lone");
    makeDir(lone + L"\\.only");  // a dot folder alone gives no expand button
    startWith({r, lone});

    HTREEITEM reg = registeredItem(r);
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(childrenFlag(registeredItem(lone)), 0);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(reg));
    EXPECT_EQ(childTexts(reg), (std::vector<std::wstring>{L"visible"}));

    // With the mask off the hidden folder appears at the next listing; "." folders never do.
    folderTreeRunCommand(cmd::Hidden, nullptr);
    EXPECT_EQ(g_settings.hiddenMask, 0);
    collapseAndExpand(reg);
    EXPECT_EQ(childTexts(reg), (std::vector<std::wstring>{L"hid", L"visible"}));

    // A mask that every folder matches leaves out every folder, but never a drive root.
    g_settings.hiddenMask = FILE_ATTRIBUTE_DIRECTORY;
    collapseAndExpand(reg);
    EXPECT_TRUE(childrenOf(reg).empty());
    EXPECT_EQ(childrenFlag(reg), 0);
    wchar_t drives[MAX_PATH];
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, drives)));
    drives[3] = L'\0';  // "C:\"
    LPITEMIDLIST computer = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)));
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(g_treeModel.desktop));
    HTREEITEM computerItem = nullptr;
    for (HTREEITEM c : childrenOf(g_treeModel.desktop)) {
        const FolderNode* node = treeNodeOf(c);
        if (node && node->relative &&
            HRESULT_CODE(g_treeModel.desktopFolder->CompareIDs(0, node->relative, computer)) == 0)
            computerItem = c;
    }
    CoTaskMemFree(computer);
    ASSERT_NE(computerItem, nullptr);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(computerItem));
    bool sawRoot = false;
    for (HTREEITEM d : childrenOf(computerItem)) sawRoot = sawRoot || pathOf(d) == drives;
    EXPECT_TRUE(sawRoot) << "drive root " << narrow(drives) << " left out";
    g_settings.hiddenMask = 2;
}

// ---------------------------------------------------------------- opening folders in the panes

TEST_F(TreeApp, SelectionOpensActivePaneShiftOpensTheOther) {
    const std::wstring a = folderWithImages(L"one", 2), b = folderWithImages(L"two", 4);
    startWith({a, b}, "ThSplit=0\r\n");
    ASSERT_EQ(g_activePane.load(), 0);
    select(registeredItem(a));
    EXPECT_TRUE(paneShows(0, a, L"0/2"));

    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(treeWindow(), WM_SETCURSOR, reinterpret_cast<WPARAM>(treeWindow()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), g_appCursors[3]);  // the pane-2 mark while Shift is down
    select(registeredItem(b));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    SendMessageW(treeWindow(), WM_SETCURSOR, reinterpret_cast<WPARAM>(treeWindow()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), g_appCursors[2]);
    EXPECT_TRUE(paneShows(1, b, L"0/4"));
    EXPECT_EQ(paneFolder(0), a);  // the active pane kept its folder
    EXPECT_EQ(g_treePane.paneItem[1], registeredItem(b));

    // Context commands 5500 / 5501 open the item in the named pane.
    folderTreeRunCommand(cmd::TreeShowIn1, registeredItem(b));
    EXPECT_TRUE(paneShows(0, b, L"0/4"));

    // A tree folder dragged onto pane 1 (the active one) opens there and takes the caret.
    NMTREEVIEWW begin{};
    begin.hdr.hwndFrom = treeWindow();
    begin.hdr.idFrom = 401;
    begin.hdr.code = TVN_BEGINDRAGW;
    begin.itemNew.hItem = registeredItem(a);
    SendMessageW(g_frame.treePane, WM_NOTIFY, 401, reinterpret_cast<LPARAM>(&begin));
    EXPECT_EQ(GetCapture(), g_frame.treePane);
    RECT pr;
    GetWindowRect(g_paneWindows[0], &pr);
    POINT drop{(pr.left + pr.right) / 2, (pr.top + pr.bottom) / 2};
    ScreenToClient(g_frame.treePane, &drop);
    SendMessageW(g_frame.treePane, WM_LBUTTONUP, 0, MAKELPARAM(drop.x, drop.y));
    EXPECT_TRUE(paneShows(0, a, L"0/2"));
    EXPECT_EQ(TreeView_GetSelection(treeWindow()), registeredItem(a));
    EXPECT_NE(GetCapture(), g_frame.treePane);
}

// ---------------------------------------------------------------- file drags onto the tree

TEST_F(TreeApp, FileDragsCopyWithRightMoveWithLeftAndRefuseTheSourceFolder) {
    const std::wstring src = folderWithImages(L"src", 3);
    const std::wstring copyTarget = makeDir(root + L"\\copies"), moveTarget = makeDir(root + L"\\moved");
    startWith({src, copyTarget, moveTarget});
    select(registeredItem(src));
    ASSERT_TRUE(paneShows(0, src, L"0/3"));
    // Two of the three selected: all, then the last one toggled off with the middle button.
    PostMessageW(g_paneWindows[0], kCrossThreadMessage, CodeSelectAll, 0);
    ASSERT_TRUE(waitFor([] { return paneCountText(0) == L"3/3"; }));
    HWND last = GetDlgItem(g_panes[0].baseWindow, 10002);
    ASSERT_NE(last, nullptr);
    PostMessageW(last, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(5, 5));
    ASSERT_TRUE(waitFor([] { return paneCountText(0) == L"2/3"; })) << narrow(paneCountText(0));

    // Dropped on the folder the pane itself shows: refused, nothing changes.
    dragOnto(2, registeredItem(src));
    EXPECT_EQ(g_pointerButtonState.load(), 0);
    WIN32_FIND_DATAW fd;
    int inSource = 0;
    HANDLE h = FindFirstFileW((src + L"\\*.bmp").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do ++inSource;
        while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    EXPECT_EQ(inSource, 3);

    // Right button: a copy, the source intact.
    dragOnto(2, registeredItem(copyTarget));
    EXPECT_TRUE(exists(copyTarget + L"\\img0.bmp"));
    EXPECT_TRUE(exists(copyTarget + L"\\img1.bmp"));
    EXPECT_TRUE(exists(src + L"\\img0.bmp"));
    EXPECT_TRUE(exists(src + L"\\img1.bmp"));
    EXPECT_EQ(paneCountText(0), L"2/3");

    // Left button: a move, and the source pane drops the two items.
    dragOnto(1, registeredItem(moveTarget));
    EXPECT_TRUE(exists(moveTarget + L"\\img0.bmp"));
    EXPECT_TRUE(exists(moveTarget + L"\\img1.bmp"));
    EXPECT_FALSE(exists(src + L"\\img0.bmp"));
    EXPECT_FALSE(exists(src + L"\\img1.bmp"));
    EXPECT_TRUE(exists(src + L"\\img2.bmp"));
    EXPECT_FALSE(exists(moveTarget + L"\\img2.bmp"));
    EXPECT_TRUE(waitFor([] { return paneCountText(0) == L"0/1"; })) << narrow(paneCountText(0));
    EXPECT_EQ(g_pointerButtonState.load(), 0);
    EXPECT_EQ(g_treePane.contextItem, nullptr);
}

TEST_F(TreeApp, PaneDragStartCapturesForTheTreeAndPostsOncePerPress) {
    const std::wstring src = folderWithImages(L"drag", 1);
    const std::wstring nested = makeDir(root + L"\\nested");
    makeDir(nested + L"\\child");
    startWith({src, nested});
    select(registeredItem(src));
    ASSERT_TRUE(paneShows(0, src, L"0/1"));
    HWND cell = GetDlgItem(g_panes[0].baseWindow, 10000);
    ASSERT_NE(cell, nullptr);
    PostMessageW(cell, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10, 10));
    for (int i = 1; i <= 6; ++i) PostMessageW(cell, WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(10 + 10 * i, 10));
    ASSERT_TRUE(waitFor([] { return g_dragBegins > 0; }));
    Sleep(200);
    pump();
    EXPECT_EQ(g_dragBegins, 1);  // six long moves, one press: one drag
    EXPECT_EQ(GetCapture(), treeWindow());
    EXPECT_TRUE(g_treePane.fileDrag);
    // Resting over a folder's expand button expands it after a while.
    HTREEITEM folder = registeredItem(nested);
    RECT row{};
    TreeView_GetItemRect(treeWindow(), folder, &row, TRUE);
    POINT button{-1, (row.top + row.bottom) / 2};
    for (int x = 0; x < row.left && button.x < 0; ++x) {
        TVHITTESTINFO hit{};
        hit.pt = POINT{x, button.y};
        TreeView_HitTest(treeWindow(), &hit);
        if (hit.hItem == folder && (hit.flags & TVHT_ONITEMBUTTON)) button.x = x;
    }
    ASSERT_GE(button.x, 0);
    SendMessageW(treeWindow(), WM_MOUSEMOVE, MK_RBUTTON, MAKELPARAM(button.x, button.y));
    EXPECT_TRUE(waitFor([&] { return !childrenOf(folder).empty(); }, 5000));
    // The release ends it over no folder: nothing copied, the state cleared.
    SendMessageW(treeWindow(), WM_RBUTTONUP, 0, MAKELPARAM(-50, -50));
    EXPECT_EQ(g_pointerButtonState.load(), 0);
    EXPECT_FALSE(g_treePane.fileDrag);
    EXPECT_NE(GetCapture(), treeWindow());
}

// ---------------------------------------------------------------- rename and new folder follow-up

TEST_F(TreeApp, AfterRenameReopensThePaneAtTheNewPath) {
    const std::wstring reg = makeDir(root + L"\\base");
    const std::wstring old = makeDir(reg + L"\\before");
    writeBytes(old + L"\\a.bmp", smallBmp(1));
    makeDir(reg + L"\\sibling");
    startWith({reg});
    HTREEITEM base = registeredItem(reg);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(base));
    HTREEITEM before = treeFindChildByPath(old.c_str(), base);
    ASSERT_NE(before, nullptr);
    select(before);
    ASSERT_TRUE(paneShows(0, old, L"0/1"));

    const std::wstring renamed = reg + L"\\after";
    ASSERT_TRUE(MoveFileW(old.c_str(), renamed.c_str()));
    g_treePane.contextItem = before;  // as the rename command leaves it for the dialog
    treeAfterRename(old.c_str(), renamed.c_str());
    EXPECT_TRUE(paneShows(0, renamed, L"0/1"));
    EXPECT_EQ(childTexts(base), (std::vector<std::wstring>{L"after", L"sibling"}));
    EXPECT_EQ(g_treePane.paneItem[0], treeFindChildByPath(renamed.c_str(), base));
    EXPECT_EQ(TreeView_GetSelection(treeWindow()), g_treePane.paneItem[0]);

    // A registered folder renamed keeps its place in the list.
    const std::wstring moved = root + L"\\base2";
    ASSERT_TRUE(MoveFileW(reg.c_str(), moved.c_str()));
    g_treePane.contextItem = base;
    treeAfterRename(reg.c_str(), moved.c_str());
    EXPECT_EQ(std::wstring(g_settings.folders.paths[0]), moved);
    EXPECT_NE(registeredItem(moved), nullptr);
    EXPECT_TRUE(waitFor([] { return paneFolder(0).empty(); }, 10000));  // its folder lay inside the renamed one

    // A new folder shows at once below its parent.
    makeDir(moved + L"\\fresh");
    g_treePane.contextItem = registeredItem(moved);
    treeAfterNewFolder(moved.c_str());
    EXPECT_EQ(childTexts(registeredItem(moved)), (std::vector<std::wstring>{L"after", L"fresh", L"sibling"}));
}

// The registered list follows a rename itself: with "登録フォルダ" collapsed (no item to find)
// and for entries inside the renamed folder (their items hold the old path).
TEST_F(TreeApp, RegisteredEntriesFollowARenameCollapsedAndNested) {
    const std::wstring a = makeDir(root + L"\\a");
    const std::wstring nested = makeDir(a + L"\\nested");
    const std::wstring c = makeDir(root + L"\\c");
    const std::wstring inner = makeDir(c + L"\\inner");
    const std::wstring other = makeDir(root + L"\\other");
    startWith({a, nested, inner, other});
    ASSERT_EQ(childrenOf(registeredRoot()).size(), 4u);

    // Collapsed: both entries of the renamed folder take the new path and are listed again.
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(registeredRoot()));
    ASSERT_TRUE(childrenOf(registeredRoot()).empty());
    const std::wstring b = root + L"\\b";
    ASSERT_TRUE(MoveFileW(a.c_str(), b.c_str()));
    g_treePane.contextItem = nullptr;
    treeAfterRename(a.c_str(), b.c_str());
    EXPECT_EQ(std::wstring(g_settings.folders.paths[0]), b);
    EXPECT_EQ(std::wstring(g_settings.folders.paths[1]), b + L"\\nested");
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(registeredRoot()));
    EXPECT_EQ(childrenOf(registeredRoot()).size(), 4u) << "nothing dropped at the next expansion";
    EXPECT_NE(registeredItem(b + L"\\nested"), nullptr);

    // Expanded, and only an entry inside the renamed folder is registered: its item follows at
    // once, the others keep their places. The old path is given in other letter case.
    const std::wstring d = root + L"\\d";
    ASSERT_TRUE(MoveFileW(c.c_str(), d.c_str()));
    std::wstring shouted = c;
    for (wchar_t& ch : shouted) ch = wchar_t(towupper(ch));
    treeAfterRename(shouted.c_str(), d.c_str());
    EXPECT_EQ(std::wstring(g_settings.folders.paths[2]), d + L"\\inner");
    EXPECT_EQ(std::wstring(g_settings.folders.paths[3]), other);
    EXPECT_EQ(pathOf(registeredItem(d + L"\\inner")), d + L"\\inner");
    EXPECT_EQ(childrenOf(registeredRoot()).size(), 4u);
}

// Cancels whatever dialog the shell might show, so that a wrong guard cannot go through.
BOOL CALLBACK cancelDialog(HWND w, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}
void CALLBACK cancelDialogs(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), cancelDialog, 0); }

TEST_F(TreeApp, RootsAndSpecialFoldersAreRefusedAndBusyChecksIgnoreCase) {
    const std::wstring photos = makeDir(root + L"\\Photos");
    writeBytes(photos + L"\\a.bmp", smallBmp(1));
    startWith({root});
    wchar_t profile[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile)));
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring drive = std::wstring(windows).substr(0, 3);  // "C:\\"
    for (const std::wstring& refused : {drive, std::wstring(profile)}) {
        HTREEITEM item = nullptr;
        ASSERT_EQ(treeAddRegisteredFolder(refused.c_str(), &item), AddResult::Added) << narrow(refused);
        g_treePane.contextItem = item;
        TreeMenuState state;
        ASSERT_TRUE(queryTreeMenuState(state));
        EXPECT_FALSE(state.selectionIsFileFolder) << "rename and delete disabled: " << narrow(refused);
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, cancelDialogs);
        folderTreeRunCommand(cmd::TreeDeleteFolder, item);
        KillTimer(nullptr, timer);
        EXPECT_TRUE(exists(refused));
        EXPECT_NE(registeredItem(refused), nullptr) << narrow(refused);
    }
    EXPECT_TRUE(exists(windows));

    // Registered in lower case, shown by a busy pane in its own case: still the same folder.
    std::wstring lower = photos;
    for (wchar_t& ch : lower) ch = wchar_t(towlower(ch));
    HTREEITEM item = nullptr;
    ASSERT_EQ(treeAddRegisteredFolder(lower.c_str(), &item), AddResult::Added);
    paneOpenFolder(0, photos.c_str());
    ASSERT_TRUE(paneShows(0, photos, L"0/1"));
    g_paneBusy[0] = PaneLoading;
    g_treePane.contextItem = item;
    TreeMenuState state;
    ASSERT_TRUE(queryTreeMenuState(state));
    EXPECT_TRUE(state.selectionIsFileFolder);
    EXPECT_TRUE(state.selectionInBusyPane);
    folderTreeRunCommand(cmd::TreeDeleteFolder, item);
    g_paneBusy[0] = PaneIdle;
    EXPECT_TRUE(exists(photos)) << "no delete under a busy pane";
    EXPECT_EQ(treeAddRegisteredFolder(photos.c_str(), &item), AddResult::Existing) << "registered once";
}

// ---------------------------------------------------------------- folder commands through the shell

// While the name dialog runs its own loop, this timer types the name and presses OK.
std::wstring g_typedName;
bool g_dialogSeen = false;
BOOL CALLBACK findNameDialog(HWND w, LPARAM out) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(w) && GetDlgItem(w, 2020)) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}
void CALLBACK answerNameDialog(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findNameDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;
    KillTimer(nullptr, id);
    g_dialogSeen = true;
    SetDlgItemTextW(dialog, 2020, g_typedName.c_str());
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}
void runWithName(int command, HTREEITEM item, const wchar_t* name) {
    g_typedName = name;
    g_dialogSeen = false;
    SetTimer(nullptr, 0, 100, answerNameDialog);
    folderTreeRunCommand(command, item);
    pump();
}

TEST_F(TreeApp, FolderCreateRenameAndDeleteFromTheTreeFollowThePane) {
    const std::wstring reg = makeDir(root + L"\\base");
    const std::wstring inner = makeDir(reg + L"\\inner");
    writeBytes(inner + L"\\a.bmp", smallBmp(1));
    startWith({reg}, "NoRecycMsg=1\r\n");
    HTREEITEM base = registeredItem(reg);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(base));
    select(treeFindChildByPath(inner.c_str(), base));
    ASSERT_TRUE(paneShows(0, inner, L"0/1"));

    // New folder inside the registered folder: listed at once, the pane keeps its folder.
    runWithName(cmd::TreeNewFolder, base, L"made");
    EXPECT_TRUE(g_dialogSeen);
    EXPECT_TRUE(exists(reg + L"\\made"));
    EXPECT_EQ(childTexts(registeredItem(reg)), (std::vector<std::wstring>{L"inner", L"made"}));
    EXPECT_TRUE(paneShows(0, inner, L"0/1"));

    // Rename of the folder pane 1 shows: the pane follows to the new path.
    runWithName(cmd::TreeRenameFolder, treeFindChildByPath(inner.c_str(), registeredItem(reg)), L"renamed");
    EXPECT_TRUE(g_dialogSeen);
    EXPECT_TRUE(exists(reg + L"\\renamed"));
    EXPECT_TRUE(paneShows(0, reg + L"\\renamed", L"0/1"));
    EXPECT_EQ(childTexts(registeredItem(reg)), (std::vector<std::wstring>{L"made", L"renamed"}));

    // Deleting the registered folder's directory: gone from disk, the list and the tree, and
    // the pane that showed a folder inside it is reset.
    folderTreeRunCommand(cmd::TreeDeleteFolder, registeredItem(reg));
    EXPECT_FALSE(exists(reg));
    EXPECT_EQ(g_settings.folders.count(), 0);
    EXPECT_TRUE(childrenOf(registeredRoot()).empty());
    EXPECT_TRUE(waitFor([] { return paneFolder(0).empty() && paneCountText(0).empty(); }));
    EXPECT_EQ(TreeView_GetSelection(treeWindow()), registeredRoot());
}

// ---------------------------------------------------------------- bad input

TEST_F(TreeApp, BadInputRegistersNothingThatIsNotADirectory) {
    const std::wstring ok = makeDir(root + L"\\ok");
    startWith({ok});
    const int before = g_settings.folders.count();

    // A path longer than a path buffer.
    std::wstring longPath = root;
    while (longPath.size() < 300) longPath += L"\\abcdefghij";
    treeOpenPath(longPath.c_str());
    HTREEITEM item = nullptr;
    EXPECT_EQ(treeAddRegisteredFolder(longPath.c_str(), &item), AddResult::NotADirectory);

    // A shortcut whose target is gone.
    const std::wstring target = makeDir(root + L"\\target"), link = root + L"\\gone.lnk";
    IShellLinkW* sl = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&sl))));
    sl->SetPath(target.c_str());
    IPersistFile* pf = nullptr;
    ASSERT_TRUE(SUCCEEDED(sl->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf))));
    ASSERT_TRUE(SUCCEEDED(pf->Save(link.c_str(), TRUE)));
    pf->Release();
    sl->Release();
    removeTree(target);
    treeOpenPath(link.c_str());

    // A drop of a path that does not exist, and of a path too long for a path buffer whose
    // first 259 characters name an existing file (cut, it would register that file's folder).
    const auto dropOnTree = [](const std::wstring& path) {
        const size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
        HGLOBAL drop = GlobalAlloc(GHND, bytes);
        auto* df = static_cast<DROPFILES*>(GlobalLock(drop));
        df->pFiles = sizeof(DROPFILES);
        df->fWide = TRUE;
        std::memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), path.c_str(), path.size() * sizeof(wchar_t));
        GlobalUnlock(drop);
        SendMessageW(treeWindow(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    };
    dropOnTree(root + L"\\missing\\file.jpg");
    const std::wstring cutFolder = makeDir(root + L"\\cut");
    const std::wstring cutFile = cutFolder + L"\\" + std::wstring(259 - cutFolder.size() - 1, L'c');
    writeBytes(cutFile, "x");
    ASSERT_TRUE(exists(cutFile));
    dropOnTree(cutFile + L"\\more.jpg");

    EXPECT_EQ(g_settings.folders.count(), before);
    for (int i = 0; i < g_settings.folders.count(); ++i) {
        const DWORD a = GetFileAttributesW(g_settings.folders.paths[i]);
        EXPECT_TRUE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) << i;
    }

    // A shortcut to a live folder is followed, and a folder that cannot be listed expands to
    // nothing without harm.
    const std::wstring live = makeDir(root + L"\\live");
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&sl))));
    sl->SetPath(live.c_str());
    sl->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf));
    pf->Save((root + L"\\live.lnk").c_str(), TRUE);
    pf->Release();
    sl->Release();
    treeOpenPath((root + L"\\live.lnk").c_str());
    EXPECT_NE(registeredListFind(g_settings.folders, live.c_str()), -1);

    const std::wstring locked = makeDir(root + L"\\locked");
    makeDir(locked + L"\\inside");
    HTREEITEM lockedItem = nullptr;
    ASSERT_EQ(treeAddRegisteredFolder(locked.c_str(), &lockedItem), AddResult::Added);
    // Its listing fails once the folder is gone from under the item.
    removeTree(locked);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(lockedItem));
    EXPECT_TRUE(childrenOf(lockedItem).empty());
    EXPECT_EQ(childrenFlag(lockedItem), 0);
}

// ---------------------------------------------------------------- responsiveness

TEST_F(TreeApp, ExpandingFiveThousandSubfoldersIsTimed) {
    const std::wstring big = makeDir(root + L"\\big");
    for (int i = 0; i < 5000; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"\\sub%04d", i);
        CreateDirectoryW((big + name).c_str(), nullptr);
    }
    startWith({big});
    HTREEITEM item = registeredItem(big);
    ASSERT_NE(item, nullptr);
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    QueryPerformanceCounter(&t1);
    const auto children = childrenOf(item);
    EXPECT_EQ(children.size(), 5000u);
    EXPECT_EQ(textOf(children.front()), L"sub0000");
    EXPECT_EQ(textOf(children.back()), L"sub4999");
    std::printf("expanding a registered folder with 5000 subfolders: %.0f ms\n",
                double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(f.QuadPart));

    // The same folder reached through the Desktop branch (the computer, the drive, ...).
    LPITEMIDLIST computer = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)));
    HTREEITEM shell = g_treeModel.desktop;
    for (int depth = 0; shell && depth < 32 && pathOf(shell) != big; ++depth) {
        SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(shell));
        HTREEITEM next = nullptr;
        for (HTREEITEM c : childrenOf(shell)) {
            const std::wstring p = pathOf(c);
            const bool prefix = !p.empty() && big.compare(0, p.size(), p) == 0 &&
                                (p.back() == L'\\' || big.size() == p.size() || big[p.size()] == L'\\');
            const FolderNode* node = treeNodeOf(c);
            if (prefix || (!next && p.empty() && shell == g_treeModel.desktop && node && node->relative &&
                           HRESULT_CODE(g_treeModel.desktopFolder->CompareIDs(0, node->relative, computer)) == 0))
                next = c;
            if (prefix) break;
        }
        shell = next;
    }
    CoTaskMemFree(computer);
    ASSERT_NE(shell, nullptr) << "the folder was not found below the Desktop";
    QueryPerformanceCounter(&t0);
    SendMessageW(treeWindow(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(shell));
    QueryPerformanceCounter(&t1);
    const auto shellChildren = childrenOf(shell);
    EXPECT_EQ(shellChildren.size(), 5000u);
    EXPECT_EQ(textOf(shellChildren.front()), L"sub0000");
    std::printf("expanding the same folder in the Desktop branch: %.0f ms\n",
                double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(f.QuadPart));
}

}  // namespace
