// The frame's tables and arithmetic without windows: accelerator defaults, the stored record
// and its INI form, shortcut labels, layout and opening-position arithmetic, column sizes and
// the menu enabling rules.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <set>
#include <string>

#include "frame/command_table.h"
#include "frame/frame_layout.h"
#include "frame/key_table.h"
#include "frame/menus.h"

namespace {

const ACCEL& entryFor(const AcceleratorTable& t, CommandId id) {
    int i = commandIndex(id);
    EXPECT_GE(i, 0);
    return t.entries[i < 0 ? 0 : i];
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::wstring tempIni(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    DeleteFileW(path.c_str());
    return path;
}

}  // namespace

TEST(FrameCommandTable, FixedOrderAndUniqueIds) {
    std::set<CommandId> ids;
    for (const CommandInfo& c : kCommands) ids.insert(c.id);
    EXPECT_EQ(ids.size(), size_t(kCommandCount));
    // A few anchors of the fixed order that the stored record relies on.
    EXPECT_EQ(kCommands[0].id, 5010);
    EXPECT_EQ(kCommands[23].id, 5231);
    EXPECT_EQ(kCommands[36].id, 5402);
    EXPECT_EQ(kCommands[43].id, 5700);
    EXPECT_EQ(kCommands[55].id, 5720);
    EXPECT_STREQ(kCommands[33].displayName, L"ヘルプ - Pravel ヘルプ");
}

TEST(FrameCommandTable, DefaultShortcutsAndLabels) {
    AcceleratorTable t;
    fillDefaultAccelerators(t);
    EXPECT_EQ(shortcutText(entryFor(t, cmd::Delete)), L"Delete");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::SelectAll)), L"Ctrl+A");
    EXPECT_EQ(entryFor(t, cmd::SelectAll).fVirt, FVIRTKEY | FCONTROL);
    EXPECT_EQ(shortcutText(entryFor(t, cmd::Refresh)), L"F5");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::StopClear)), L"Esc");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollTop)), L"Home");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollBottom)), L"End");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollPageUp)), L"PageUp");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollPageDown)), L"PageDown");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollUp)), L"↑");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::ScrollDown)), L"↓");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::SwitchPane)), L"Tab");
    EXPECT_EQ(shortcutText(entryFor(t, cmd::FileInfo)), L"");
    int withKey = 0;
    for (const ACCEL& a : t.entries) {
        EXPECT_TRUE(a.fVirt & FVIRTKEY);
        if (a.key) ++withKey;
    }
    EXPECT_EQ(withKey, 11);

    EXPECT_STREQ(modifierLabel(FVIRTKEY | FSHIFT), L"Shift+");
    EXPECT_STREQ(modifierLabel(FVIRTKEY | FCONTROL), L"Ctrl+");
    EXPECT_STREQ(modifierLabel(FVIRTKEY | FCONTROL | FSHIFT), L"Ctrl+Shift+");
    EXPECT_STREQ(modifierLabel(FVIRTKEY), L"");
    EXPECT_STREQ(keyLabel(96), L"[Num] 0 ");
    EXPECT_STREQ(keyLabel(186), L":");
    EXPECT_STREQ(keyLabel(226), L"_");
    EXPECT_STREQ(keyLabel(18), L"");  // Alt has no text and is not selectable
    EXPECT_STREQ(keyLabel(300), L"");
    for (uint8_t k : kSelectableKeys) {
        EXPECT_NE(k, VK_MENU);
        EXPECT_STRNE(keyLabel(k), L"") << int(k);
    }
    // A modifier without a key shows nothing at all.
    ACCEL dangling{BYTE(FVIRTKEY | FCONTROL), 0, 5010};
    EXPECT_EQ(shortcutText(dangling), L"");
}

TEST(FrameAcceleratorRecord, PackAndMergeRoundTripWithClampsAndUnknownCommands) {
    AcceleratorTable t;
    fillDefaultAccelerators(t);
    t.entries[commandIndex(cmd::Comment)].key = 'C';
    t.entries[commandIndex(cmd::Comment)].fVirt = FVIRTKEY | FSHIFT;
    uint8_t record[kAccelRecordSize];
    packAcceleratorRecord(t, record);
    // Layout: 12-byte entries, flags / key / command, little-endian 32-bit.
    EXPECT_EQ(record[12 + 0], FVIRTKEY | FSHIFT);
    EXPECT_EQ(record[12 + 4], 'C');
    EXPECT_EQ(record[12 + 8] | (record[12 + 9] << 8), 5011);
    EXPECT_EQ(record[12 + 1] | record[12 + 2] | record[12 + 3], 0);

    // Entry 2 (5012): key 300 becomes no key; entry 3 (5013): flags 99 become a plain key.
    putLe32(record + 2 * 12 + 4, 300);
    putLe32(record + 3 * 12 + 0, 99);
    putLe32(record + 3 * 12 + 4, 'P');
    // Entry 4 claims an unknown command with key F9; it must change nothing.
    putLe32(record + 4 * 12 + 8, 5999);
    putLe32(record + 4 * 12 + 4, VK_F9);
    // A command in the high 16 bits does not match the low-16 table id.
    putLe32(record + 5 * 12 + 8, 0x10000u + 5030);
    putLe32(record + 5 * 12 + 4, 'R');

    AcceleratorTable back;
    fillDefaultAccelerators(back);
    ASSERT_TRUE(mergeAcceleratorRecord(back, record, sizeof record));
    EXPECT_EQ(shortcutText(entryFor(back, cmd::Comment)), L"Shift+C");
    EXPECT_EQ(entryFor(back, cmd::TextData).key, 0);
    EXPECT_EQ(entryFor(back, cmd::Properties).fVirt, 1);
    EXPECT_EQ(entryFor(back, cmd::Properties).key, 'P');
    EXPECT_EQ(entryFor(back, cmd::Delete).key, VK_DELETE);  // its stored slot was overwritten
    EXPECT_EQ(entryFor(back, cmd::Rename).key, 0);
    for (const ACCEL& a : back.entries) EXPECT_NE(a.key, VK_F9);

    AcceleratorTable untouched;
    fillDefaultAccelerators(untouched);
    EXPECT_FALSE(mergeAcceleratorRecord(untouched, record, sizeof record - 1));
    EXPECT_EQ(entryFor(untouched, cmd::Comment).key, 0);
}

TEST(FrameAcceleratorRecord, IniRoundTripAndBadRecordsLeaveDefaults) {
    const std::wstring ini = tempIni(L"pravel_frame_keys.ini");
    AcceleratorTable t;
    fillDefaultAccelerators(t);
    t.entries[commandIndex(cmd::Exit)].key = 'Q';
    t.entries[commandIndex(cmd::Exit)].fVirt = FVIRTKEY | FCONTROL;
    t.entries[commandIndex(cmd::Delete)].key = 0;
    ASSERT_TRUE(writeAcceleratorRecord(ini.c_str(), t));

    AcceleratorTable back;
    EXPECT_TRUE(readAcceleratorRecord(ini.c_str(), back));
    EXPECT_EQ(std::memcmp(back.entries, t.entries, sizeof t.entries), 0);

    // Writing again replaces the whole section, leaving one key.
    wchar_t keys[256] = {};
    GetPrivateProfileStringW(L"Akey", nullptr, L"", keys, 256, ini.c_str());
    EXPECT_STREQ(keys, L"SaveKey");

    auto expectDefaults = [&](const char* what) {
        AcceleratorTable d;
        EXPECT_FALSE(readAcceleratorRecord(ini.c_str(), d)) << what;
        EXPECT_EQ(shortcutText(entryFor(d, cmd::Delete)), L"Delete") << what;
        EXPECT_EQ(entryFor(d, cmd::Exit).key, 0) << what;
    };
    // Corrupt checksum: flip one hex digit of the stored text.
    wchar_t text[2048] = {};
    GetPrivateProfileStringW(L"Akey", L"SaveKey", L"", text, 2048, ini.c_str());
    ASSERT_EQ(wcslen(text), (kAccelRecordSize + 1) * 2);
    std::wstring corrupt(text);
    corrupt[10] = corrupt[10] == L'0' ? L'1' : L'0';
    WritePrivateProfileStringW(L"Akey", L"SaveKey", corrupt.c_str(), ini.c_str());
    expectDefaults("bad checksum");
    // Wrong size: a valid record of 671 bytes.
    uint8_t shortRecord[kAccelRecordSize - 1] = {};
    WritePrivateProfileStructW(L"Akey", L"SaveKey", shortRecord, sizeof shortRecord, ini.c_str());
    expectDefaults("wrong size");
    WritePrivateProfileStringW(L"Akey", L"SaveKey", L"zz", ini.c_str());
    expectDefaults("garbage");
    DeleteFileW(ini.c_str());
    expectDefaults("missing file");
}

TEST(FrameLayout, PaneArithmetic) {
    // Tree pinned, 150 wide, sizing frame 4: A = 847, panes 422 wide at 154 and 578.
    PaneLayout l = computePaneLayout(1001, 500, SplitMode::Both, false, 150, 4);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.pane[0].x, 154);
    EXPECT_EQ(l.pane[0].w, 422);
    EXPECT_EQ(l.pane[1].x, 578);
    EXPECT_EQ(l.pane[1].w, 422);
    EXPECT_TRUE(l.pane[0].shown && l.pane[1].shown);
    EXPECT_EQ(l.pane[0].h, 500);

    l = computePaneLayout(1000, 300, SplitMode::Both, true, 150, 4);  // even A, automatic tree
    EXPECT_EQ(l.pane[0].x, 0);
    EXPECT_EQ(l.pane[0].w, 499);
    EXPECT_EQ(l.pane[1].x, 500);

    l = computePaneLayout(800, 300, SplitMode::Pane1, false, 150, 4);
    EXPECT_EQ(l.pane[0].x, 154);
    EXPECT_EQ(l.pane[0].w, 646);
    EXPECT_TRUE(l.pane[0].shown);
    EXPECT_FALSE(l.pane[1].shown);

    l = computePaneLayout(800, 300, SplitMode::Pane2, true, 150, 4);
    EXPECT_EQ(l.pane[1].x, 0);
    EXPECT_EQ(l.pane[1].w, 800);
    EXPECT_TRUE(l.pane[1].shown);
    EXPECT_FALSE(l.pane[0].shown);

    EXPECT_FALSE(computePaneLayout(800, 300, SplitMode(7), false, 150, 4).valid);

    const FrameBox tree = treePaneRect(500, 150, 4, 4);
    EXPECT_EQ(tree.x, -4);
    EXPECT_EQ(tree.y, -14);
    EXPECT_EQ(tree.w, 158);
    EXPECT_EQ(tree.h, 528);
}

namespace {
RECT g_fakeWork;
bool fakeNearest(const RECT&, RECT& work) {
    work = g_fakeWork;
    return true;
}
bool noMonitor(const RECT&, RECT&) { return false; }
}  // namespace

TEST(FrameLayout, OpeningPosition) {
    const RECT primary{0, 0, 1280, 1000};
    g_fakeWork = primary;
    FrameBox r = openingFrameRect(primary, defaultFrameX(primary), defaultFrameY(primary), 800, 600, fakeNearest);
    EXPECT_EQ(r.x, 240);
    EXPECT_EQ(r.y, 200);
    EXPECT_EQ(r.w, 800);

    r = openingFrameRect(primary, -500, 100, 800, 600, fakeNearest);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 100);

    r = openingFrameRect(primary, 100, 50, 2000, 600, fakeNearest);
    EXPECT_EQ(r.w, 1280);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 50);

    r = openingFrameRect(primary, 900, 700, 800, 600, fakeNearest);  // off the bottom right
    EXPECT_EQ(r.x, 480);
    EXPECT_EQ(r.y, 400);

    // A second monitor right of the primary one whose work area starts at 1280, 100.
    g_fakeWork = RECT{1280, 100, 2560, 1000};
    r = openingFrameRect(primary, 2000, 50, 800, 600, fakeNearest);
    EXPECT_EQ(r.x, 1760);
    EXPECT_EQ(r.y, 100);

    // The primary work area's origin is added; without monitor information nothing is clamped.
    r = openingFrameRect(RECT{0, 40, 1280, 1000}, -500, 10, 800, 600, noMonitor);
    EXPECT_EQ(r.x, -500);
    EXPECT_EQ(r.y, 50);

    EXPECT_EQ(frameShowCommand(SW_SHOWNORMAL, true), SW_SHOWMAXIMIZED);
    EXPECT_EQ(frameShowCommand(SW_SHOW, false), SW_SHOWNORMAL);
    EXPECT_EQ(frameShowCommand(SW_SHOWMINNOACTIVE, true), SW_SHOWMINNOACTIVE);
}

TEST(FrameLayout, ColumnCountSizes) {
    int w, h;
    columnThumbSize(600, 4, w, h);
    EXPECT_EQ(w, 148);
    EXPECT_EQ(h, 111);
    columnThumbSize(100, 12, w, h);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 32);
    columnThumbSize(5000, 2, w, h);  // capped at 800
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    columnThumbSize(68, 2, w, h);  // 34 -> 32, 3*32 < 128
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 32);
    columnThumbSize(0, 3, w, h);
    EXPECT_EQ(w, 32);
}

TEST(FrameMenuRules, SelectionBusyAndViewerRules) {
    CommandStateSnapshot in;
    CommandItemState s;
    in.active.hasItems = true;
    in.active.total = 10;
    in.active.selected = 1;
    in.active.selectedFormat = 3;  // JPEG
    in.active.selectedHasText = false;

    ASSERT_TRUE(menuItemState(MenuPosFile, cmd::FileInfo, in, s));
    EXPECT_TRUE(s.enabled);
    menuItemState(MenuPosFile, cmd::Comment, in, s);
    EXPECT_TRUE(s.enabled);
    menuItemState(MenuPosFile, cmd::TextData, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosFile, cmd::Properties, in, s);
    EXPECT_TRUE(s.enabled);
    EXPECT_FALSE(menuItemState(MenuPosThumbContext, cmd::Properties, in, s));
    menuItemState(MenuPosFile, cmd::SelectAll, in, s);
    EXPECT_TRUE(s.enabled);
    EXPECT_FALSE(s.checked);

    in.active.selectedFormat = 1;  // BMP has no comment
    menuItemState(MenuPosThumbContext, cmd::Comment, in, s);
    EXPECT_FALSE(s.enabled);

    in.active.selected = 10;  // all selected
    menuItemState(MenuPosThumbContext, cmd::SelectAll, in, s);
    EXPECT_TRUE(s.checked);
    menuItemState(MenuPosFile, cmd::FileInfo, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosFile, cmd::Delete, in, s);
    EXPECT_TRUE(s.enabled);
    menuItemState(MenuPosFile, cmd::Rename, in, s);
    EXPECT_FALSE(s.enabled);

    // The other pane busy on the same folder blocks delete; on another folder it does not.
    in.otherBusy = true;
    in.sameFolder = true;
    menuItemState(MenuPosFile, cmd::Delete, in, s);
    EXPECT_FALSE(s.enabled);
    in.sameFolder = false;
    menuItemState(MenuPosFile, cmd::Delete, in, s);
    EXPECT_TRUE(s.enabled);
    menuItemState(MenuPosTools, cmd::Options, in, s);
    EXPECT_FALSE(s.enabled);

    in.activeBusy = true;
    menuItemState(MenuPosFile, cmd::SelectAll, in, s);
    EXPECT_FALSE(s.enabled);
    EXPECT_FALSE(s.checked);

    in = CommandStateSnapshot{};  // no item list, no viewer
    menuItemState(MenuPosFile, cmd::SelectAll, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosTools, cmd::ViewerOpen, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosTools, cmd::SlideShow, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosTools, cmd::ToolsSubmenu, in, s);
    EXPECT_FALSE(s.enabled);
    menuItemState(MenuPosHelp, cmd::ViewerHelp, in, s);
    EXPECT_FALSE(s.enabled);
    in.viewerExists = true;
    in.active.hasItems = true;
    menuItemState(MenuPosTools, cmd::SlideShow, in, s);
    EXPECT_TRUE(s.enabled);
    menuItemState(MenuPosThumbContext, cmd::ViewerFull, in, s);
    EXPECT_TRUE(s.enabled);

    // View checks: exactly one of the three split items.
    in.split = SplitMode::Both;
    int checked = 0;
    for (CommandId id : {cmd::Pane1, cmd::Pane2, cmd::BothPanes}) {
        menuItemState(MenuPosView, id, in, s);
        checked += s.checked;
    }
    EXPECT_EQ(checked, 1);
    menuItemState(MenuPosView, cmd::BothPanes, in, s);
    EXPECT_TRUE(s.checked);
    in.hiddenMask = 0;
    menuItemState(MenuPosTreeContext, cmd::Hidden, in, s);
    EXPECT_TRUE(s.checked);

    // Folder-tree context.
    in.tree.canRegister = false;
    in.tree.canUnregister = false;
    menuItemState(MenuPosTreeContext, cmd::TreeNewFolder, in, s);
    EXPECT_FALSE(s.enabled);
    in.tree.canUnregister = true;
    menuItemState(MenuPosTreeContext, cmd::TreeNewFolder, in, s);
    EXPECT_TRUE(s.enabled);
    in.tree.selectionIsFileFolder = true;
    in.tree.selectionInBusyPane = true;
    menuItemState(MenuPosTreeContext, cmd::TreeDeleteFolder, in, s);
    EXPECT_FALSE(s.enabled);
}
