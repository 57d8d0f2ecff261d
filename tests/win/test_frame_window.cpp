// The real main frame in the test process: opening position, pane layout, split and tree
// commands, column-count and size fields, menus and their enabling, the keyboard menu-bar
// mode, and the key customisation dialog.
#include "test_frame_support.h"

#include <cstring>
#include <set>
#include <utility>

#include "frame/command_table.h"
#include "frame/key_dialog.h"
#include "frame/key_table.h"
#include "frame/menus.h"
#include "frame/toolbars.h"

using namespace frametest;

namespace {

RECT primaryWork() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

std::wstring windowText(HWND w) {
    wchar_t buf[64] = {};
    GetWindowTextW(w, buf, 64);
    return buf;
}

// Keyboard hook input as the system delivers it: bit 31 set on release, bit 30 on repeat.
void key(WPARAM vk, bool release) {
    LPARAM lp = 1 | (release ? (LPARAM(1) << 31) | (LPARAM(1) << 30) : 0);
    mainKeyboardHook(HC_ACTION, vk, lp);
    pump();
}

// While a popup menu runs its own loop, this timer notes which menu is open and closes it.
int g_seenMenuOpen = 0;
void CALLBACK closeMenuTimer(HWND w, UINT, UINT_PTR id, DWORD) {
    KillTimer(w, id);
    g_seenMenuOpen = g_menuOpen.load();
    EndMenu();
}

int menuStateOf(HMENU menu, UINT id) { return int(GetMenuState(menu, id, MF_BYCOMMAND)); }

}  // namespace

class FrameWindow : public FrameFixture {};

TEST_F(FrameWindow, OpeningPositionDefaultsCentredAndClamped) {
    const RECT work = primaryWork();
    {
        createFrame();
        RECT r;
        GetWindowRect(frame, &r);
        EXPECT_EQ(r.right - r.left, 800);
        EXPECT_EQ(r.bottom - r.top, 600);
        EXPECT_EQ(r.left, work.left + (work.right - work.left - 800) / 2);
        EXPECT_EQ(r.top, work.top + (work.bottom - work.top - 600) / 2);
        TearDown();
        frame = nullptr;
    }
    {
        createFrame("[Mwin]\r\nx=-500\r\ny=20\r\n");
        RECT r;
        GetWindowRect(frame, &r);
        EXPECT_EQ(r.left, work.left);
        EXPECT_EQ(r.top, work.top + 20);
        TearDown();
        frame = nullptr;
    }
    {
        createFrame("[Mwin]\r\nx=50\r\ny=0\r\nw=9000\r\nh=300\r\n");
        RECT r;
        GetWindowRect(frame, &r);
        EXPECT_EQ(r.left, work.left);
        EXPECT_EQ(r.right - r.left, work.right - work.left);
        EXPECT_EQ(r.bottom - r.top, 300);
    }
}

TEST_F(FrameWindow, MaximisedSettingAndStructure) {
    createFrame("[Mwin]\r\nMax=1\r\n");
    EXPECT_TRUE(IsZoomed(frame));
    EXPECT_EQ(g_settings.maximized, 1);
    // (Restoring is not checked: without a window manager the display never confirms it.)

    // Rebar 200 with the two bar bands, client window 310 directly below it.
    HWND rebar = GetDlgItem(frame, 200);
    ASSERT_NE(rebar, nullptr);
    EXPECT_EQ(SendMessageW(rebar, RB_GETBANDCOUNT, 0, 0), 2);
    EXPECT_EQ(GetDlgCtrlID(g_frame.menuBar), 201);
    EXPECT_EQ(GetDlgCtrlID(g_frame.commandBar), 202);
    EXPECT_EQ(SendMessageW(g_frame.menuBar, TB_BUTTONCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(g_frame.commandBar, TB_BUTTONCOUNT, 0, 0), 13);
    HWND client = GetDlgItem(frame, 310);
    ASSERT_EQ(client, g_clientWindow);
    RECT rb = rectIn(rebar, frame), cl = rectIn(client, frame), fc;
    GetClientRect(frame, &fc);
    EXPECT_EQ(cl.top, rb.bottom);
    EXPECT_EQ(cl.bottom, fc.bottom);
    EXPECT_EQ(cl.right - cl.left, fc.right);
    EXPECT_EQ(SendMessageW(g_frame.filter, CB_GETCOUNT, 0, 0), 6);
    EXPECT_EQ(windowText(g_frame.fieldW), L"148");
    EXPECT_EQ(windowText(g_frame.fieldH), L"111");
    // The tree pane is pinned and shown; only its right border lies inside the client window.
    ASSERT_NE(g_frame.treePane, nullptr);
    EXPECT_TRUE(IsWindowVisible(g_frame.treePane));
    EXPECT_EQ(g_settings.treeWidth, 150);
    RECT tc;
    GetClientRect(g_frame.treePane, &tc);
    EXPECT_EQ(tc.right, 150);
    RECT tr = rectIn(g_frame.treePane, client);
    EXPECT_LT(tr.left, 0);
    EXPECT_LT(tr.top, 0);
}

TEST_F(FrameWindow, PaneLayoutFollowsTheClientSize) {
    createFrame("[Mwin]\r\nThSplit=0\r\nTreeW=150\r\n");
    addStandInPanes();
    g_sizeFrameX = 4;
    g_settings.treeWidth = 150;
    SetWindowPos(g_clientWindow, nullptr, 0, 0, 1001, 400, SWP_NOZORDER | SWP_NOMOVE);
    pump();
    RECT p1 = rectIn(panes[0], g_clientWindow), p2 = rectIn(panes[1], g_clientWindow);
    EXPECT_EQ(g_settings.treeWidth, 150);
    EXPECT_EQ(p1.left, 154);
    EXPECT_EQ(p1.right - p1.left, 422);
    EXPECT_EQ(p2.left, 578);
    EXPECT_EQ(p2.right - p2.left, 422);
    EXPECT_EQ(p1.bottom - p1.top, 400);
    EXPECT_TRUE(IsWindowVisible(panes[0]) && IsWindowVisible(panes[1]));
}

TEST_F(FrameWindow, SetSplitTwiceActivatesOnce) {
    createFrame();  // "ThSplit" 1
    addStandInPanes();
    onFrameCommand(cmd::Pane2, 0);
    pump();
    EXPECT_EQ(g_settings.thumbSplit, SplitMode::Pane2);
    EXPECT_EQ(countCodes(panes[1], CodeActivate), 1);
    EXPECT_FALSE(IsWindowVisible(panes[0]));
    EXPECT_TRUE(IsWindowVisible(panes[1]));
    EXPECT_TRUE(SendMessageW(g_frame.commandBar, TB_ISBUTTONCHECKED, cmd::Pane2, 0));
    EXPECT_FALSE(SendMessageW(g_frame.commandBar, TB_ISBUTTONCHECKED, cmd::Pane1, 0));
    onFrameCommand(cmd::Pane2, 0);
    pump();
    EXPECT_EQ(countCodes(panes[1], CodeActivate), 1);

    // Both panes: no activation; then the switch shortcut activates the inactive pane.
    onFrameCommand(cmd::BothPanes, 0);
    pump();
    EXPECT_EQ(countCodes(panes[0], CodeActivate), 0);
    g_activePane = 1;
    onFrameCommand(cmd::SwitchPane, 0);
    pump();
    EXPECT_EQ(countCodes(panes[0], CodeActivate), 1);
}

TEST_F(FrameWindow, AutoTreeToggleAndShowCodes) {
    createFrame();
    addStandInPanes();
    onFrameCommand(cmd::AutoTree, 0);
    pump();
    EXPECT_EQ(g_settings.autoTree, 1);
    EXPECT_FALSE(IsWindowVisible(g_frame.treePane));
    EXPECT_EQ(rectIn(panes[0], g_clientWindow).left, 0);
    EXPECT_TRUE(SendMessageW(g_frame.commandBar, TB_ISBUTTONCHECKED, cmd::AutoTree, 0));

    PostMessageW(frame, kCrossThreadMessage, CodeShowTree, 1);
    pump();
    EXPECT_TRUE(IsWindowVisible(g_frame.treePane));
    EXPECT_EQ(rectIn(panes[0], g_clientWindow).left, 0);  // the tree lies over the panes
    PostMessageW(frame, kCrossThreadMessage, CodeShowTree, 0);
    pump();
    EXPECT_FALSE(IsWindowVisible(g_frame.treePane));

    // A file drag pins the tree again.
    PostMessageW(frame, kCrossThreadMessage, CodeFileDragBegins, 0);
    pump();
    EXPECT_EQ(g_settings.autoTree, 0);
    EXPECT_TRUE(IsWindowVisible(g_frame.treePane));
    // A pinned tree ignores the hide request of the automatic mode.
    PostMessageW(frame, kCrossThreadMessage, CodeShowTree, 0);
    pump();
    EXPECT_TRUE(IsWindowVisible(g_frame.treePane));
}

TEST_F(FrameWindow, TreePaneWidthLimits) {
    createFrame();
    MINMAXINFO mm{};
    mm.ptMaxTrackSize = {5000, 5000};
    SendMessageW(g_frame.treePane, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mm));
    EXPECT_EQ(mm.ptMinTrackSize.x, 44);
    EXPECT_EQ(mm.ptMaxTrackSize.x, 400);
    // A new tree width is taken from the pane's client width.
    RECT r;
    GetWindowRect(g_frame.treePane, &r);
    SetWindowPos(g_frame.treePane, nullptr, 0, 0, 250, r.bottom - r.top, SWP_NOZORDER | SWP_NOMOVE);
    RECT c;
    GetClientRect(g_frame.treePane, &c);
    EXPECT_EQ(g_settings.treeWidth, c.right);
}

TEST_F(FrameWindow, ColumnCountCommandsAndSizeFields) {
    createFrame();
    addStandInPanes();
    g_activePane = 0;
    SetWindowPos(bases[0], nullptr, 0, 0, 600, 200, SWP_NOZORDER | SWP_NOMOVE);
    postedCodes().clear();
    onFrameCommand(cmd::Columns4, 0);
    pump();
    EXPECT_EQ(windowText(g_frame.fieldW), L"148");
    EXPECT_EQ(windowText(g_frame.fieldH), L"111");
    // Same size as before: only the active pane is listed again, without reset.
    EXPECT_EQ(countCodes(panes[0], CodeClear), 1);
    EXPECT_EQ(countCodes(panes[0], CodeLoadFolder), 1);
    EXPECT_EQ(countCodes(panes[1], CodeLoadFolder), 0);

    SetWindowPos(bases[0], nullptr, 0, 0, 100, 200, SWP_NOZORDER | SWP_NOMOVE);
    onFrameCommand(cmd::Columns12, 0);
    pump();
    EXPECT_EQ(windowText(g_frame.fieldW), L"32");
    EXPECT_EQ(windowText(g_frame.fieldH), L"32");
    EXPECT_EQ(g_settings.thumbWidth, 32);
    EXPECT_EQ(g_settings.thumbHeight, 32);
    EXPECT_EQ(countCodes(panes[1], CodeLoadFolder), 1);  // a size change lists both panes

    // Typing into the fields stores clamped pending values at once.
    SetWindowTextW(g_frame.fieldW, L"5");
    pump();
    EXPECT_EQ(g_pendingThumbWidth, 32);
    SetWindowTextW(g_frame.fieldW, L"950");
    pump();
    EXPECT_EQ(g_pendingThumbWidth, 800);
    SetWindowTextW(g_frame.fieldH, L"200");
    pump();
    EXPECT_EQ(g_pendingThumbHeight, 200);
    EXPECT_EQ(g_settings.thumbWidth, 32);  // takes effect at the next refresh
    // Leaving the field writes the pending value back.
    SetWindowTextW(g_frame.fieldW, L"9");
    SendMessageW(frame, WM_COMMAND, MAKEWPARAM(220, EN_KILLFOCUS), reinterpret_cast<LPARAM>(g_frame.fieldW));
    EXPECT_EQ(windowText(g_frame.fieldW), L"32");
    onFrameCommand(cmd::Refresh, 0);
    pump();
    EXPECT_EQ(g_settings.thumbWidth, 32);
    EXPECT_EQ(g_settings.thumbHeight, 200);
}

TEST_F(FrameWindow, FilterCommandsAndList) {
    createFrame();
    addStandInPanes();
    g_fileFilter = 0;
    postedCodes().clear();
    onFrameCommand(cmd::FilterAll + 3, 0);  // JPEG
    pump();
    EXPECT_EQ(g_fileFilter.load(), 3);
    EXPECT_EQ(SendMessageW(g_frame.filter, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(countCodes(panes[0], CodeLoadFolder), 1);
    onFrameCommand(cmd::FilterAll + 3, 0);  // unchanged: nothing listed
    pump();
    EXPECT_EQ(countCodes(panes[0], CodeLoadFolder), 1);
    SendMessageW(g_frame.filter, CB_SETCURSEL, 5, 0);
    onFrameCommand(240, CBN_SELCHANGE);
    pump();
    EXPECT_EQ(g_fileFilter.load(), 5);
    EXPECT_EQ(countCodes(panes[0], CodeLoadFolder), 2);
}

TEST_F(FrameWindow, MenusTextsShortcutsAndEnabling) {
    createFrame();
    HMENU file = popupMenu(MenuPosFile);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(GetMenuItemCount(file), 13);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosView)), 10);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosTools)), 10);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosHelp)), 3);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosColumns)), 7);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosThumbContext)), 14);
    EXPECT_EQ(GetMenuItemCount(popupMenu(MenuPosTreeContext)), 13);
    std::wstring text, shortcut;
    ASSERT_TRUE(menuItemTexts(file, 6, text, shortcut));
    EXPECT_EQ(text, L"ファイル削除(&D)");
    EXPECT_EQ(shortcut, L"Delete");
    ASSERT_TRUE(menuItemTexts(file, 8, text, shortcut));
    EXPECT_EQ(shortcut, L"Ctrl+A");
    EXPECT_FALSE(menuItemTexts(file, 3, text, shortcut));  // separator
    ASSERT_TRUE(menuItemTexts(popupMenu(MenuPosView), 2, text, shortcut));
    EXPECT_EQ(text, L"サムネイル(&T)");

    // A pane with three items, one selected PNG without text data.
    ThumbnailItem items[3] = {};
    items[1].selected = SelectionMark::Selected;
    items[1].facts.format = 2;
    g_panes[0].items = items;
    g_panes[0].itemCount = 3;
    g_panes[0].selectedCount = 1;
    publishPane(g_panes[0]);  // as the pane's thread does after each change
    g_activePane = 0;
    prepareMenu(file);
    EXPECT_FALSE(menuStateOf(file, cmd::FileInfo) & MF_GRAYED);
    EXPECT_FALSE(menuStateOf(file, cmd::Comment) & MF_GRAYED);
    EXPECT_TRUE(menuStateOf(file, cmd::TextData) & MF_GRAYED);
    EXPECT_FALSE(menuStateOf(file, cmd::Rename) & MF_GRAYED);
    EXPECT_FALSE(menuStateOf(file, cmd::SelectAll) & MF_CHECKED);
    g_paneBusy[0] = PaneLoading;
    prepareMenu(file);
    EXPECT_TRUE(menuStateOf(file, cmd::Delete) & MF_GRAYED);
    EXPECT_TRUE(menuStateOf(file, cmd::SelectAll) & MF_GRAYED);
    g_paneBusy[0] = PaneIdle;
    items[0].selected = items[2].selected = SelectionMark::Selected;
    g_panes[0].selectedCount = 3;
    publishPane(g_panes[0]);
    prepareMenu(file);
    EXPECT_TRUE(menuStateOf(file, cmd::SelectAll) & MF_CHECKED);
    EXPECT_TRUE(menuStateOf(file, cmd::FileInfo) & MF_GRAYED);
    EXPECT_TRUE(menuStateOf(file, cmd::Wallpaper) & MF_GRAYED);

    // The tools submenu lists only tools with a program path, names cut to 27 characters.
    wcscpy(g_settings.toolPaths[1], L"C:\\tool.exe");
    wcscpy(g_settings.toolNames[1], L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    wcscpy(g_settings.toolNames[2], L"named but no program");
    rebuildToolSubmenus();
    HMENU toolsSub = GetSubMenu(popupMenu(MenuPosTools), 6);
    ASSERT_NE(toolsSub, nullptr);
    ASSERT_EQ(GetMenuItemCount(toolsSub), 1);
    EXPECT_EQ(GetMenuItemID(toolsSub, 0), 5232u);
    ASSERT_TRUE(menuItemTexts(toolsSub, 0, text, shortcut));
    EXPECT_EQ(text, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0(&2)");
    prepareMenu(popupMenu(MenuPosTools));
    EXPECT_FALSE(GetMenuState(popupMenu(MenuPosTools), 6, MF_BYPOSITION) & MF_GRAYED);
}

TEST_F(FrameWindow, ButtonTooltipsAndMenuPlacesComeFromTheCommandRows) {
    createFrame();
    const std::pair<CommandId, const wchar_t*> tips[] = {
        {cmd::AutoTree, L"フォルダツリー自動表示"}, {cmd::Pane1, L"サムネイルウィンドウ1"},
        {cmd::Pane2, L"サムネイルウィンドウ2"},     {cmd::BothPanes, L"サムネイルウィンドウを並べて表示"},
        {cmd::TextArea, L"情報領域表示(&D)"},       {cmd::InfoSettings, L"表示情報設定(&C)"},
        {cmd::StopClear, L"中止/消去(&S)"},         {cmd::Refresh, L"サムネイル更新(&R)"},
        {cmd::ColumnButton, L"表示列数"},           {cmd::MenuFile, nullptr},
        {cmd::Separator, nullptr}};
    for (const auto& [id, want] : tips) {
        NMTTDISPINFOW di{};
        di.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageW(g_frame.commandBar, TB_GETTOOLTIPS, 0, 0));
        di.hdr.idFrom = id;
        di.hdr.code = TTN_GETDISPINFOW;
        LRESULT result = 0;
        EXPECT_EQ(handleToolBarNotify(&di.hdr, &result), want != nullptr) << id;
        if (want) {
            EXPECT_STREQ(di.lpszText, want) << id;
        }
    }
    // Every item that a rule grays or checks lies in a popup its row names, and the other way
    // round; an item outside its row's places would silently never be prepared.
    for (int pos = 0; pos < MenuPosCount; ++pos) {
        std::set<CommandId> shown;
        HMENU menus[2] = {popupMenu(pos), nullptr};
        for (HMENU m : menus) {
            for (int i = 0; m && i < GetMenuItemCount(m); ++i) {
                MENUITEMINFOW mii{};
                mii.cbSize = sizeof mii;
                mii.fMask = MIIM_ID | MIIM_SUBMENU;
                ASSERT_TRUE(GetMenuItemInfoW(m, UINT(i), TRUE, &mii));
                if (mii.hSubMenu && m == menus[0]) menus[1] = mii.hSubMenu;
                shown.insert(CommandId(mii.wID));
            }
        }
        for (CommandId id = cmd::MenuFile; id < cmd::Separator; ++id) {
            const CommandInfo* row = commandInfo(id);
            if (!row || row->rule == CommandRule::None) continue;
            EXPECT_EQ(shown.count(id) == 1, (row->menus & menuBit(pos)) != 0) << "command " << id << " in " << pos;
        }
    }
}

TEST_F(FrameWindow, KeyboardMenuBarMode) {
    createFrame();
    g_menuBarMode = 0;
    // Alt, Left from File highlights Help.
    key(VK_MENU, false);
    EXPECT_EQ(g_menuBarMode.load(), 1);
    key(VK_MENU, true);
    EXPECT_EQ(menuBarHotItem(), 0);
    key(VK_LEFT, false);
    EXPECT_EQ(menuBarHotItem(), 3);
    EXPECT_EQ(SendMessageW(g_frame.menuBar, TB_GETHOTITEM, 0, 0), 3);
    key(VK_ESCAPE, false);
    EXPECT_EQ(g_menuBarMode.load(), 0);
    EXPECT_EQ(menuBarHotItem(), -1);

    // Alt, Right, Right, Enter opens Tools.
    key(VK_MENU, false);
    key(VK_MENU, true);
    key(VK_RIGHT, false);
    key(VK_RIGHT, false);
    EXPECT_EQ(menuBarHotItem(), 2);
    g_seenMenuOpen = 0;
    SetTimer(frame, 77, 50, closeMenuTimer);
    key(VK_RETURN, false);
    EXPECT_EQ(g_seenMenuOpen, cmd::MenuTools);
    EXPECT_EQ(g_menuOpen.load(), 0);
    EXPECT_EQ(g_menuBarMode.load(), 0);

    // The letter keys open their menu directly; the modal flag silences the hook.
    key(VK_MENU, false);
    key(VK_MENU, true);
    g_seenMenuOpen = 0;
    SetTimer(frame, 77, 50, closeMenuTimer);
    key('H', false);
    EXPECT_EQ(g_seenMenuOpen, cmd::MenuHelp);
    g_modalFlag = 1;
    key(VK_MENU, false);
    EXPECT_EQ(g_menuBarMode.load(), 0);
    g_modalFlag = 0;
}

TEST_F(FrameWindow, PaneCodesOpenMenus) {
    createFrame();
    g_seenMenuOpen = 0;
    SetTimer(frame, 77, 50, closeMenuTimer);
    PostMessageW(frame, kCrossThreadMessage, CodeContextMenu, MAKELPARAM(200, 200));
    pump();
    EXPECT_EQ(g_seenMenuOpen, kMenuOpenThumbContext);
    g_seenMenuOpen = 0;
    SetTimer(frame, 77, 50, closeMenuTimer);
    PostMessageW(frame, kCrossThreadMessage, CodeMenuView, 1);
    pump();
    EXPECT_EQ(g_seenMenuOpen, cmd::MenuView);
    g_seenMenuOpen = 0;
    SetTimer(frame, 77, 50, closeMenuTimer);
    onFrameCommand(cmd::ColumnButton, 0);
    EXPECT_EQ(g_seenMenuOpen, cmd::ColumnButton);
}

namespace {
std::vector<std::wstring> g_boxes;
int g_boxAnswer = IDYES;
int recordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
    g_boxes.push_back(std::wstring(caption) + L"|" + text);
    return g_boxAnswer;
}
void click(HWND dlg, int id) {
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    pump();
}
void selectRow(HWND dlg, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageW(dlg, 2250, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}
void selectKey(HWND dlg, uint8_t vk) {
    for (int i = 0; i < kSelectableKeyCount; ++i)
        if (kSelectableKeys[i] == vk) SendDlgItemMessageW(dlg, 2221, LB_SETCURSEL, WPARAM(i), 0);
}
std::wstring rowKey(HWND dlg, int row) {
    wchar_t buf[64] = {};
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = buf;
    item.cchTextMax = 64;
    SendDlgItemMessageW(dlg, 2250, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    return buf;
}
}  // namespace

TEST_F(FrameWindow, KeyDialogRefusalsAssignmentAndReset) {
    createFrame();
    auto savedBox = g_keyDialogMessageBox;
    g_keyDialogMessageBox = recordBox;
    g_boxes.clear();
    AcceleratorTable copy = liveAccelerators();
    KeyDialogSession session;
    session.table = &copy;
    HWND dlg = createKeyCustomisationDialog(frame, session);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(dlg, 2250, LVM_GETITEMCOUNT, 0, 0), 56);
    EXPECT_EQ(SendDlgItemMessageW(dlg, 2221, LB_GETCOUNT, 0, 0), 90);
    EXPECT_EQ(rowKey(dlg, 6), L"Ctrl+A");

    click(dlg, 2230);  // no row
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0], L"未選択|コマンドが選択されていません。");
    click(dlg, 2231);
    EXPECT_EQ(g_boxes.size(), 2u);

    // Ctrl+A is held by "すべて選択": refused for another row and for its own row.
    selectRow(dlg, 0);
    selectKey(dlg, 'A');
    CheckDlgButton(dlg, 2240, BST_CHECKED);
    click(dlg, 2230);
    ASSERT_EQ(g_boxes.size(), 3u);
    EXPECT_EQ(g_boxes[2], L"登録済み|選択されたキーは既に登録済みです。\n別のキーを選択してください。");
    selectRow(dlg, 6);
    click(dlg, 2230);
    EXPECT_EQ(g_boxes.size(), 4u);
    EXPECT_FALSE(session.changed);
    EXPECT_EQ(copy.entries[0].key, 0);

    // Shift makes it another shortcut.
    selectRow(dlg, 0);
    CheckDlgButton(dlg, 2241, BST_CHECKED);
    click(dlg, 2230);
    EXPECT_EQ(g_boxes.size(), 4u);
    EXPECT_TRUE(session.changed);
    EXPECT_EQ(copy.entries[0].key, 'A');
    EXPECT_EQ(copy.entries[0].fVirt, FVIRTKEY | FCONTROL | FSHIFT);
    EXPECT_EQ(rowKey(dlg, 0), L"Ctrl+Shift+A");
    // Nothing reaches the live table before the options dialog is confirmed.
    EXPECT_EQ(liveAccelerators().entries[0].key, 0);

    selectRow(dlg, 4);  // "ファイル削除" loses Delete
    click(dlg, 2231);
    EXPECT_EQ(copy.entries[4].key, 0);
    EXPECT_EQ(rowKey(dlg, 4), L"");

    g_boxAnswer = IDNO;
    click(dlg, 2232);
    EXPECT_EQ(copy.entries[4].key, 0);
    g_boxAnswer = IDYES;
    click(dlg, 2232);
    EXPECT_EQ(g_boxes.back(), L"初期化|すべての値を初期設定に戻しますか？");
    EXPECT_EQ(copy.entries[4].key, VK_DELETE);
    EXPECT_EQ(copy.entries[0].key, 0);
    EXPECT_EQ(rowKey(dlg, 4), L"Delete");
    EXPECT_EQ(rowKey(dlg, 0), L"");

    click(dlg, 2233);
    EXPECT_FALSE(IsWindow(dlg));
    g_keyDialogMessageBox = savedBox;
}

TEST_F(FrameWindow, ApplyingAcceleratorsRebuildsMenus) {
    createFrame();
    AcceleratorTable t = liveAccelerators();
    t.entries[commandIndex(cmd::Exit)].key = 'Q';
    t.entries[commandIndex(cmd::Exit)].fVirt = FVIRTKEY | FCONTROL;
    applyAccelerators(t);
    std::wstring text, shortcut;
    ASSERT_TRUE(menuItemTexts(popupMenu(MenuPosFile), 12, text, shortcut));
    EXPECT_EQ(text, L"終了(&X)");
    EXPECT_EQ(shortcut, L"Ctrl+Q");
    ASSERT_NE(acceleratorHandle(), nullptr);
    ACCEL live[kCommandCount];
    EXPECT_EQ(CopyAcceleratorTableW(acceleratorHandle(), live, kCommandCount), kCommandCount);
    EXPECT_EQ(live[commandIndex(cmd::Exit)].key, 'Q');

    // Saving writes the record; loading it back gives the same table.
    saveAccelerators(ini.c_str());
    EXPECT_EQ(acceleratorHandle(), nullptr);
    loadAccelerators(ini.c_str());
    EXPECT_EQ(liveAccelerators().entries[commandIndex(cmd::Exit)].key, 'Q');

    AcceleratorTable defaults;
    fillDefaultAccelerators(defaults);
    applyAccelerators(defaults);
    ASSERT_TRUE(menuItemTexts(popupMenu(MenuPosFile), 12, text, shortcut));
    EXPECT_EQ(shortcut, L"");
}

// The pane threads translate shortcuts with the live table and send the command to the main
// window. A table that is replaced stays valid until shutdown (a pane may be translating with
// it right then), and Exit arriving in such a send only posts the close: a shutdown run inside
// the send would wait for the pane thread that waits for the send.
TEST_F(FrameWindow, ShortcutsStaySafeForThePaneThreads) {
    createFrame();
    const HACCEL first = acceleratorHandle();
    ASSERT_NE(first, nullptr);
    const size_t retiredBefore = retiredAcceleratorTables();
    AcceleratorTable t = liveAccelerators();
    applyAccelerators(t);
    applyAccelerators(t);
    EXPECT_EQ(retiredAcceleratorTables(), retiredBefore + 2);
    ACCEL entries[kCommandCount];
    EXPECT_EQ(CopyAcceleratorTableW(first, entries, kCommandCount), kCommandCount) << "a replaced table was destroyed";

    SendMessageW(frame, WM_COMMAND, MAKEWPARAM(cmd::Exit, 1), 0);
    EXPECT_FALSE(mainWindowClosing());
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, frame, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "Exit posts the close";

    saveAccelerators(ini.c_str());  // shutdown, after the pane threads: every table goes
    EXPECT_EQ(retiredAcceleratorTables(), 0u);
}

namespace {
// Inside the File menu: the pointer moves onto the View button, which must close File and open
// View; the second menu is noted and closed.
int g_hotTrackStep = 0;
void CALLBACK hotTrackTimer(HWND w, UINT, UINT_PTR id, DWORD) {
    if (g_hotTrackStep++ == 0) {
        RECT rc{};
        SendMessageW(g_frame.menuBar, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&rc));
        MapWindowPoints(g_frame.menuBar, nullptr, reinterpret_cast<POINT*>(&rc), 2);
        MOUSEHOOKSTRUCT mh{};
        mh.pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        g_mainWindowActive = 1;
        EXPECT_EQ(mainMouseHook(HC_ACTION, WM_MOUSEMOVE, reinterpret_cast<LPARAM>(&mh)), 1);  // swallowed
        return;
    }
    KillTimer(w, id);
    g_seenMenuOpen = g_menuOpen.load();
    EndMenu();
}
}  // namespace

TEST_F(FrameWindow, PointerOnAnotherMenuBarButtonSwitchesMenus) {
    createFrame();
    g_hotTrackStep = 0;
    g_seenMenuOpen = 0;
    SetTimer(frame, 79, 50, hotTrackTimer);
    PostMessageW(frame, kCrossThreadMessage, CodeMenuFile, 0);
    pump();
    EXPECT_EQ(g_hotTrackStep, 2);
    EXPECT_EQ(g_seenMenuOpen, cmd::MenuView);
    EXPECT_EQ(g_menuOpen.load(), 0);
    // A button press ends the keyboard menu-bar mode.
    g_menuBarMode = 1;
    MOUSEHOOKSTRUCT mh{};
    mainMouseHook(HC_ACTION, WM_LBUTTONDOWN, reinterpret_cast<LPARAM>(&mh));
    EXPECT_EQ(g_menuBarMode.load(), 0);
}

TEST_F(FrameWindow, MnemonicsOfOwnerDrawnItems) {
    createFrame();
    HMENU file = popupMenu(MenuPosFile);
    prepareMenu(file);  // no pane: only 終了 is enabled
    EXPECT_EQ(menuChar(L'x', file), MAKELRESULT(12, MNC_EXECUTE));
    EXPECT_EQ(HIWORD(menuChar(L'd', file)), MNC_IGNORE);  // ファイル削除 is disabled
    HMENU view = popupMenu(MenuPosView);
    prepareMenu(view);
    EXPECT_EQ(menuChar(L'T', view), MAKELRESULT(2, MNC_EXECUTE));  // the thumbnail submenu
}
