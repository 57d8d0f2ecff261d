// The options dialog over the real main frame: Apply and Cancel, the Send To shortcut, the
// tool rows and the tools menu, the key customisation working copy, the plug-in page, and
// pictures of every page and of the cache dialog (PRAVEL_SHOT_DIR).
#include "test_frame_support.h"
#include "test_options_support.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dialogs/cache_dialog.h"
#include "dialogs/options_dialog.h"
#include "frame/command_table.h"
#include "frame/key_table.h"
#include "frame/menus.h"

using namespace frametest;
using namespace optionstest;

namespace {

constexpr int kTab = 1010, kApply = 1020;

std::wstring programPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The target of a shell link file, or "" when it cannot be loaded.
std::wstring linkTarget(const std::wstring& link) {
    IShellLinkW* shell = nullptr;
    std::wstring target;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ))) {
            wchar_t path[MAX_PATH] = {};
            if (SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, 0))) target = path;
        }
        file->Release();
    }
    shell->Release();
    return target;
}

std::wstring sendToFolder() {
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_SENDTO, TRUE);
    return folder;
}

bool toolInMenu(int tool) {
    return GetMenuState(popupMenu(MenuPosTools), UINT(cmd::Tool1 + tool), MF_BYCOMMAND) != UINT(-1);
}

}  // namespace

class OptionsDialog : public FrameFixture {
protected:
    HWND dlg = nullptr;

    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        if (dlg && IsWindow(dlg)) DestroyWindow(dlg);
        FrameFixture::TearDown();
        CoUninitialize();
    }
    void open() {
        dlg = createOptionsDialog(frame);
        ASSERT_NE(dlg, nullptr);
        ShowWindow(dlg, SW_SHOW);
        pump();
    }
    HWND page(int i) { return optionsPage(i); }
    void selectTab(int i) {
        HWND tab = GetDlgItem(dlg, kTab);
        SendMessageW(tab, TCM_SETCURSEL, WPARAM(i), 0);
        NMHDR hdr{tab, UINT_PTR(kTab), UINT(TCN_SELCHANGE)};
        SendMessageW(dlg, WM_NOTIFY, kTab, reinterpret_cast<LPARAM>(&hdr));
        pump();
    }
};

TEST_F(OptionsDialog, ApplyTakesEveryControl) {
    createFrame("[Mwin]\r\nDblClick=3\r\nUseCache=1\r\nCacheOpt=1\r\nSubClose=1\r\nDTExpand=1\r\nNoRecycMsg=0\r\n");
    open();
    HWND p = page(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(p, 1160, CB_GETCURSEL, 0, 0), 3);
    SendDlgItemMessageW(p, 1160, CB_SETCURSEL, 11, 0);
    for (int id : {1150, 1154, 1151, 1153}) CheckDlgButton(p, id, BST_UNCHECKED);
    CheckDlgButton(p, 1190, BST_CHECKED);
    SetDlgItemTextW(p, 1182, L"C:\\viewer\\DornaEx.exe");
    click(dlg, kApply);
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_EQ(g_settings.doubleClickAction, 11);
    EXPECT_EQ(g_settings.useCache + g_settings.cacheOptimise + g_settings.subClose + g_settings.expandDesktop, 0);
    EXPECT_EQ(g_settings.noRecycleConfirm, 1);
    EXPECT_STREQ(g_settings.viewerPath, L"C:\\viewer\\DornaEx.exe");
    // Tabs show one page at a time.
    selectTab(2);
    EXPECT_FALSE(IsWindowVisible(page(0)));
    EXPECT_TRUE(IsWindowVisible(page(2)));
    click(dlg, IDOK);
    EXPECT_FALSE(IsWindow(dlg));

    // A stored action outside the list selects nothing and survives an Apply unchanged.
    g_settings.doubleClickAction = 40;
    open();
    EXPECT_EQ(SendDlgItemMessageW(page(0), 1160, CB_GETCURSEL, 0, 0), CB_ERR);
    click(dlg, IDOK);
    EXPECT_EQ(g_settings.doubleClickAction, 40);
}

TEST_F(OptionsDialog, WallpaperFileButtonFollowsTheFile) {
    createFrame();
    const std::wstring wallpaper = std::wstring(settingsFolderPath()) + L"save_wp.bmp";
    DeleteFileW(wallpaper.c_str());
    open();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page(0), 1184)));
    click(dlg, IDCANCEL);
    ASSERT_TRUE(winetest::writeBytes(wallpaper, "BM"));
    open();
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(page(0), 1184)));
    click(page(0), 1184);
    EXPECT_FALSE(exists(wallpaper));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page(0), 1184)));
}

TEST_F(OptionsDialog, RefusedWhileAPaneIsBusy) {
    createFrame();
    g_paneBusy[1] = PaneLoading;
    EXPECT_EQ(createOptionsDialog(frame), nullptr);
    g_paneBusy[1] = PaneIdle;
}

TEST_F(OptionsDialog, SendToShortcutDeletedAndRecreatedAsARealLink) {
    createFrame();
    const std::wstring link = sendToShortcutPath(programPath().c_str());
    ASSERT_FALSE(link.empty());
    EXPECT_EQ(link, sendToFolder() + L"\\win_test_options_dialog.lnk");
    ASSERT_TRUE(createProgramShortcut(link.c_str(), programPath().c_str()));

    // Present at opening: checked; unchecked and applied: the file is gone.
    open();
    EXPECT_EQ(IsDlgButtonChecked(page(0), 1152), BST_CHECKED);
    CheckDlgButton(page(0), 1152, BST_UNCHECKED);
    click(dlg, kApply);
    EXPECT_FALSE(exists(link));
    // Checked again: a shell link whose target is the program.
    CheckDlgButton(page(0), 1152, BST_CHECKED);
    click(dlg, kApply);
    ASSERT_TRUE(exists(link));
    EXPECT_EQ(lstrcmpiW(linkTarget(link).c_str(), programPath().c_str()), 0) << linkTarget(link);
    click(dlg, IDOK);

    // A Send To folder that is read-only: the dialog reports on reopening what is on disk.
    const std::wstring folder = sendToFolder();
    DeleteFileW(link.c_str());
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY);
    open();
    CheckDlgButton(page(0), 1152, BST_CHECKED);
    click(dlg, IDOK);
    const bool made = exists(link);
    std::printf("read-only Send To folder: shortcut %s\n", made ? "created" : "not created");
    open();
    EXPECT_EQ(IsDlgButtonChecked(page(0), 1152) == BST_CHECKED, made);
    click(dlg, IDCANCEL);
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A Send To folder that is missing: creation fails quietly, and the next Apply tries again.
    DeleteFileW(link.c_str());
    const std::wstring away = folder + L".away";
    ASSERT_TRUE(MoveFileW(folder.c_str(), away.c_str()));
    open();
    CheckDlgButton(page(0), 1152, BST_CHECKED);
    click(dlg, kApply);
    EXPECT_FALSE(exists(link));
    EXPECT_EQ(IsDlgButtonChecked(page(0), 1152), BST_CHECKED);
    ASSERT_TRUE(MoveFileW(away.c_str(), folder.c_str()));
    click(dlg, kApply);
    EXPECT_TRUE(exists(link));
    click(dlg, IDCANCEL);
    DeleteFileW(link.c_str());
}

TEST_F(OptionsDialog, ToolRowsAndTheToolsMenu) {
    createFrame(
        "[Path]\r\nAPP0=C:\\tools\\first.exe\r\nAN0=first\r\nAPP2=C:\\tools\\third.exe\r\nAN2=third\r\n"
        "APP3=C:\\tools\\no name.exe\r\n");
    ASSERT_TRUE(toolInMenu(0));
    ASSERT_TRUE(toolInMenu(2));
    open();
    HWND p = page(1);
    EXPECT_EQ(text(p, 1320), L"first");
    EXPECT_EQ(text(p, 1321), L"<未登録>");
    EXPECT_EQ(text(p, 1322), L"third");
    EXPECT_EQ(text(p, 1323), L"no name");  // stored without a name: shown under its file name

    // "登録" with a path holding blanks and dots, through the real open-file dialog.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"pravel tool folder";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring tool = folder + L"\\my tool.v2.exe";
    ASSERT_TRUE(winetest::writeBytes(tool, "MZ"));
    ModalDriver::arm(p, [&](HWND open) {
        SetDlgItemTextW(open, 0x47c, tool.c_str());  // the file-name box
        SetDlgItemTextW(open, 0x480, tool.c_str());
        PostMessageW(open, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(open, IDOK)));
    });
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    click(p, 1331);
    EXPECT_TRUE(ModalDriver::ran);
    EXPECT_EQ(text(p, 1321), L"my tool.v2");
    wchar_t after[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, before);

    // "解除" on the first row, then OK: the menu loses tool 1 and gains tool 2.
    click(p, 1340);
    EXPECT_EQ(text(p, 1320), L"<未登録>");
    click(dlg, IDOK);
    EXPECT_FALSE(toolInMenu(0));
    EXPECT_TRUE(toolInMenu(1));
    EXPECT_TRUE(toolInMenu(2));
    EXPECT_STREQ(g_settings.toolPaths[0], L"");
    EXPECT_STREQ(g_settings.toolNames[0], L"");
    EXPECT_EQ(std::wstring(g_settings.toolPaths[1]), tool);
    EXPECT_STREQ(g_settings.toolNames[1], L"my tool.v2");
    EXPECT_STREQ(g_settings.toolNames[2], L"third");
    EXPECT_STREQ(g_settings.toolNames[3], L"no name");
    DeleteFileW(tool.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(OptionsDialog, KeyChangesReachTheShortcutsOnlyThroughOk) {
    createFrame();
    const int row = commandIndex(cmd::Options);
    ASSERT_GE(row, 0);
    const ACCEL original = liveAccelerators().entries[row];
    // In the key dialog: select the "オプション" row, choose F9 with Ctrl, "登録", "閉じる".
    auto assignCtrlF9 = [&](HWND keys) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendDlgItemMessageW(keys, 2250, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        const LRESULT f9 = SendDlgItemMessageW(keys, 2221, LB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(L"F9"));
        SendDlgItemMessageW(keys, 2221, LB_SETCURSEL, WPARAM(f9), 0);
        CheckDlgButton(keys, 2240, BST_CHECKED);
        click(keys, 2230);
        click(keys, 2233);
    };

    open();
    ModalDriver::arm(dlg, assignCtrlF9);
    click(page(0), 1185);
    ASSERT_TRUE(ModalDriver::ran);
    click(dlg, IDCANCEL);
    EXPECT_EQ(liveAccelerators().entries[row].key, original.key);
    EXPECT_EQ(liveAccelerators().entries[row].fVirt, original.fVirt);

    open();
    ModalDriver::arm(dlg, assignCtrlF9);
    click(page(0), 1185);
    ASSERT_TRUE(ModalDriver::ran);
    click(dlg, IDOK);
    EXPECT_EQ(liveAccelerators().entries[row].key, VK_F9);
    EXPECT_EQ(liveAccelerators().entries[row].fVirt, FVIRTKEY | FCONTROL);
    // The menus were rebuilt with the new label.
    HMENU tools = popupMenu(MenuPosTools);
    bool labelled = false;
    for (int i = 0; i < GetMenuItemCount(tools); ++i) {
        std::wstring item, shortcut;
        if (GetMenuItemID(tools, i) == UINT(cmd::Options) && menuItemTexts(tools, i, item, shortcut))
            labelled = shortcut == L"Ctrl+F9";
    }
    EXPECT_TRUE(labelled);
}

TEST_F(OptionsDialog, PluginRowsSortedWithoutCaseAndDoubleClickOpensThePluginsDialog) {
    const std::wstring exe = programPath();
    const std::wstring built = exe.substr(0, exe.find_last_of(L'\\')) + L"\\..\\plugins\\";
    if (!exists(built + L"tpic.spi")) GTEST_SKIP() << "test plug-ins not built (target test_plugins)";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"pravel_options_plugins";
    CreateDirectoryW(folder.c_str(), nullptr);
    // Names whose case-blind order (alpha, Beta, Zeta) differs from their code order; the
    // export filter is no import filter and is not listed.
    const std::pair<const wchar_t*, const wchar_t*> copies[] = {
        {L"tpic2.spi", L"Zeta.spi"}, {L"tpic.spi", L"Beta.spi"}, {L"tpic2.spi", L"alpha.spi"}, {L"tpicam.spi", L"Gamma.spi"}};
    for (const auto& [from, to] : copies)
        ASSERT_TRUE(CopyFileW((built + from).c_str(), (folder + L"\\" + to).c_str(), FALSE));
    createFrame();
    lstrcpynW(g_settings.pluginFolder, folder.c_str(), kPathCapacity);
    open();
    HWND p = page(2);
    EXPECT_EQ(text(p, 1420), folder);
    HWND list = GetDlgItem(p, 1440);
    ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(cellText(list, 0, 0), L"alpha.spi");
    EXPECT_EQ(cellText(list, 1, 0), L"Beta.spi");
    EXPECT_EQ(cellText(list, 2, 0), L"Zeta.spi");
    EXPECT_EQ(cellText(list, 0, 1), L"*.pic");
    EXPECT_EQ(cellText(list, 1, 1), L"*.JPG;*.PIC;*.tpi");
    EXPECT_EQ(cellText(list, 1, 2), L"Test pictures/Test pictures (second kind)");

    // A double-click on a row opens the dialog of the plug-in named in it, owned by the
    // options dialog; a plug-in without one does nothing.
    selectTab(2);
    auto doubleClick = [&](int row) {
        RECT r{};
        r.left = LVIR_BOUNDS;
        SendMessageW(list, LVM_GETITEMRECT, WPARAM(row), reinterpret_cast<LPARAM>(&r));
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        pump();
    };
    std::wstring shown;
    ModalDriver::arm(dlg, [&](HWND box) {
        wchar_t buffer[200] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 200);  // the message box's text
        shown = buffer;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    });
    doubleClick(1);
    EXPECT_TRUE(ModalDriver::ran);
    EXPECT_NE(shown.find(L"テスト用プラグイン"), std::wstring::npos) << shown;
    ModalDriver::arm(dlg, [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); });
    doubleClick(0);
    for (int i = 0; i < 10; ++i) {
        pump();
        Sleep(30);
    }
    EXPECT_FALSE(ModalDriver::ran);
    ModalDriver::disarm();

    // "設定解除" empties the folder and the list; OK stores the empty folder.
    click(p, 1431);
    EXPECT_EQ(text(p, 1420), L"");
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
    click(dlg, IDOK);
    EXPECT_STREQ(g_settings.pluginFolder, L"");
    for (const auto& [from, to] : copies) DeleteFileW((folder + L"\\" + to).c_str());
    RemoveDirectoryW(folder.c_str());
}

// ---------------------------------------------------------------- pictures

namespace {

std::wstring g_shotDir;

// Announces a step and waits (bounded) until the picture has been taken.
void handshake(const wchar_t* name) {
    const std::wstring ready = g_shotDir + L"\\" + name + L".ready";
    const std::wstring done = g_shotDir + L"\\" + name + L".done";
    winetest::writeBytes(ready, "");
    for (int i = 0; i < 600 && !exists(done); ++i) {
        pump();
        Sleep(100);
    }
}

void settle() {
    for (int i = 0; i < 20; ++i) {
        pump();
        Sleep(20);
    }
}

}  // namespace

TEST_F(OptionsDialog, Pictures) {
    const char* dir = std::getenv("PRAVEL_SHOT_DIR");
    if (!dir || !*dir) GTEST_SKIP() << "PRAVEL_SHOT_DIR not set";
    g_shotDir.assign(dir, dir + std::strlen(dir));
    createFrame("[Path]\r\nAPP0=C:\\Program Files\\Tools\\resize.exe\r\nAN0=resize\r\n"
                "APP3=C:\\Program Files\\Paint\\paint.exe\r\nAN3=paint\r\n");
    const char* plugins = std::getenv("PRAVEL_SHOT_PLUGINS");
    if (plugins && *plugins) {
        std::wstring folder(plugins, plugins + std::strlen(plugins));
        lstrcpynW(g_settings.pluginFolder, folder.c_str(), kPathCapacity);
    }
    lstrcpynW(g_settings.viewerPath, L"C:\\Program Files\\Dorna\\Dorna.exe", kPathCapacity);
    open();
    settle();
    handshake(L"options-settings");
    selectTab(1);
    settle();
    handshake(L"options-tools");
    selectTab(2);
    settle();
    handshake(L"options-plugins");
    click(dlg, IDCANCEL);
    pump();

    // Six cached folders, one of whose data files is missing.
    const std::wstring cache = cacheFolderPath();
    CreateDirectoryW(cache.c_str(), nullptr);
    const std::vector<IndexEntry> entries = {
        {L"C:\\users\\Public\\Pictures\\2009 旅行", 10000000},
        {L"C:\\users\\Public\\Pictures\\2009 旅行\\京都", 10000001},
        {L"D:\\写真\\カメラ", 10000002, 200, 150},
        {L"D:\\写真\\スキャン\\アルバム 1", 10000003},
        {L"E:\\wallpapers", 10000004},
        {L"C:\\users\\Public\\Pictures\\壁紙", 10000005, 96, 72},
    };
    ASSERT_TRUE(winetest::writeBytes(cache + L"index.dat", indexBytes(entries)));
    const uint32_t counts[] = {12, 48, 1234, 7, 305, 0};
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == 3) continue;
        winetest::writeBytes(cache + std::to_wstring(entries[i].number) + L".dat",
                             dataBytes(counts[i], 8 + counts[i] * 3100));
    }
    HWND cacheDlg = createCacheDialog(frame);
    ASSERT_NE(cacheDlg, nullptr);
    ShowWindow(cacheDlg, SW_SHOW);
    LVITEMW tick{};
    tick.stateMask = LVIS_STATEIMAGEMASK;
    tick.state = INDEXTOSTATEIMAGEMASK(2);
    SendDlgItemMessageW(cacheDlg, 1530, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&tick));
    settle();
    handshake(L"cache-dialog");
    click(cacheDlg, IDOK);
    for (const IndexEntry& e : entries) DeleteFileW((cache + std::to_wstring(e.number) + L".dat").c_str());
    DeleteFileW((cache + L"index.dat").c_str());
}
