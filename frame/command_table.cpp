#include "frame/command_table.h"

namespace {
constexpr uint8_t V = kAccVirt;
constexpr uint8_t VC = kAccVirt | kAccCtrl;
// Where a command appears: File, View, Tools, Help, the column menu, the thumbnail context and
// the folder-tree context menu (a submenu counts as its popup).
constexpr uint8_t F = menuBit(MenuPosFile), Vw = menuBit(MenuPosView), T = menuBit(MenuPosTools);
constexpr uint8_t H = menuBit(MenuPosHelp), C = menuBit(MenuPosColumns), X = menuBit(MenuPosThumbContext);
constexpr uint8_t R = menuBit(MenuPosTreeContext);
using Rule = CommandRule;
constexpr const wchar_t* Same = kTooltipIsMenuText;
}  // namespace

const wchar_t kTooltipIsMenuText[] = L"";

const CommandInfo kCommands[kCommandCount] = {
    {5010, L"ファイル情報表示(&I)", L"ファイル - ファイル情報表示", V, 0, Rule::OneSelected, F | X},
    {5011, L"コメント表示/編集(&C)...", L"ファイル - コメント表示/編集", V, 0, Rule::OneWithComment, F | X},
    {5012, L"テキストデータ表示(&E)", L"ファイル - テキストデータ表示", V, 0, Rule::OneWithText, F | X},
    {5013, L"プロパティ(&P)...", L"ファイル - プロパティ", V, 0, Rule::OneSelected, F},
    {5020, L"ファイル削除(&D)", L"ファイル - ファイル削除", V, 46, Rule::SelectionUnblocked, F | X},
    {5030, L"ファイル名変更(&M)", L"ファイル - ファイル名変更", V, 0, Rule::OneUnblocked, F | X},
    {5040, L"すべて選択(&L)", L"ファイル - すべて選択", VC, 'A', Rule::SelectAll, F | X},
    {5050, L"壁紙に設定(&W)...", L"ファイル - 壁紙に設定", V, 0, Rule::OneSelected, F},
    {5060, L"終了(&X)", L"ファイル - 終了", V, 0, Rule::None, F},
    {5110, L"フォルダツリー自動表示(&A)", L"表示 - フォルダツリー自動表示", V, 0, Rule::CheckAutoTree, Vw,
     L"フォルダツリー自動表示"},
    {5121, L"ウィンドウ1(&F)", L"表示 - サムネイル - ウィンドウ1", V, 0, Rule::CheckPane1, Vw,
     L"サムネイルウィンドウ1"},
    {5122, L"ウィンドウ2(&S)", L"表示 - サムネイル - ウィンドウ2", V, 0, Rule::CheckPane2, Vw,
     L"サムネイルウィンドウ2"},
    {5123, L"ウィンドウを並べて表示(&H)", L"表示 - サムネイル - ウィンドウを並べて表示", V, 0, Rule::CheckBothPanes, Vw,
     L"サムネイルウィンドウを並べて表示"},
    {5130, L"情報領域表示(&D)", L"表示 - 情報領域表示", V, 0, Rule::CheckTextArea, Vw, Same},
    {5140, L"表示情報設定(&C)", L"表示 - 表示情報設定", V, 0, Rule::None, Vw, Same},
    {5160, L"サムネイル更新(&R)", L"表示 - サムネイル更新", V, 116, Rule::None, Vw, Same},
    {5161, L"中止/消去(&S)", L"表示 - 中止/消去", V, 27, Rule::None, Vw, Same},
    {5170, L"隠し属性表示(&H)", L"表示 - 隠し属性表示", V, 0, Rule::CheckHiddenShown, Vw | R},
    {5210, L"Dorna 起動(&V)", L"ツール - Dorna 起動", V, 0, Rule::Viewer, T | X},
    {5211, L"編集/保存(&S)", L"ツール - 編集/保存", V, 0, Rule::Viewer, T | X},
    {5212, L"全画面表示(&F)", L"ツール - 全画面表示", V, 0, Rule::Viewer, T | X},
    {5213, L"スライドショー(&A)", L"ツール - スライドショー", V, 0, Rule::SlideShow, T},
    {5220, L"関連付け実行(&B)", L"ツール - 関連付け実行", V, 0, Rule::AnySelected, T | X},
    {5231, nullptr, L"ツール - 登録ツール1", V, 0, Rule::None, T | X},
    {5232, nullptr, L"ツール - 登録ツール2", V, 0, Rule::None, T | X},
    {5233, nullptr, L"ツール - 登録ツール3", V, 0, Rule::None, T | X},
    {5234, nullptr, L"ツール - 登録ツール4", V, 0, Rule::None, T | X},
    {5235, nullptr, L"ツール - 登録ツール5", V, 0, Rule::None, T | X},
    {5236, nullptr, L"ツール - 登録ツール6", V, 0, Rule::None, T | X},
    {5237, nullptr, L"ツール - 登録ツール7", V, 0, Rule::None, T | X},
    {5238, nullptr, L"ツール - 登録ツール8", V, 0, Rule::None, T | X},
    {5240, L"オプション(&O)...", L"ツール - オプション", V, 0, Rule::NoPaneBusy, T},
    {5250, L"Dorna オプション(&U)...", L"ツール - Dornaオプション", V, 0, Rule::Viewer, T},
    {5310, L"Pravelヘルプ(&H)", L"ヘルプ - Pravel ヘルプ", V, 0, Rule::None, H},
    {5320, L"Dorna ヘルプ(&S)", L"ヘルプ - Dorna ヘルプ", V, 0, Rule::ViewerHelp, H},
    {5330, L"バージョン情報(&V)...", L"ヘルプ - バージョン情報", V, 0, Rule::None, H},
    {5402, L"2 列(&2)", L"表示列数 - 2 列", V, 0, Rule::None, C},
    {5403, L"3 列(&3)", L"表示列数 - 3 列", V, 0, Rule::None, C},
    {5404, L"4 列(&4)", L"表示列数 - 4 列", V, 0, Rule::None, C},
    {5406, L"6 列(&6)", L"表示列数 - 6 列", V, 0, Rule::None, C},
    {5408, L"8 列(&8)", L"表示列数 - 8 列", V, 0, Rule::None, C},
    {5412, L"12 列(&D)", L"表示列数 - 12 列", V, 0, Rule::None, C},
    {5420, L"20 列(&T)", L"表示列数 - 20 列", V, 0, Rule::None, C},
    {5700, L"フィルタ/ALL", L"フィルタ/ALL", V, 0},
    {5701, L"フィルタ/BMP", L"フィルタ/BMP", V, 0},
    {5702, L"フィルタ/PNG", L"フィルタ/PNG", V, 0},
    {5703, L"フィルタ/JPEG", L"フィルタ/JPEG", V, 0},
    {5704, L"フィルタ/TIFF", L"フィルタ/TIFF", V, 0},
    {5705, L"フィルタ/GIF", L"フィルタ/GIF", V, 0},
    {5710, L"スクロール（最上部へ）", L"スクロール（最上部へ）", V, 36},
    {5711, L"スクロール（最下部へ）", L"スクロール（最下部へ）", V, 35},
    {5712, L"スクロール（1ページ上へ）", L"スクロール（1ページ上へ）", V, 33},
    {5713, L"スクロール（1ページ下へ）", L"スクロール（1ページ下へ）", V, 34},
    {5714, L"スクロール（上へ）", L"スクロール（上へ）", V, 38},
    {5715, L"スクロール（下へ）", L"スクロール（下へ）", V, 40},
    {5720, L"アクティブウィンドウ切替（2画面表示）", L"アクティブウィンドウ切替（2画面表示）", V, 9},
};

namespace {
// Menu items, buttons and submenus that cannot carry a shortcut.
constexpr CommandInfo kOtherCommands[] = {
    {cmd::MenuFile, L"ファイル(&F)", nullptr, 0, 0},
    {cmd::MenuView, L"表示(&V)", nullptr, 0, 0},
    {cmd::MenuTools, L"ツール(&T)", nullptr, 0, 0},
    {cmd::MenuHelp, L"ヘルプ(&H)", nullptr, 0, 0},
    {cmd::ThumbSubmenu, L"サムネイル(&T)", nullptr, 0, 0, Rule::None, Vw},
    {cmd::ToolsSubmenu, L"登録ツール(&T)", nullptr, 0, 0, Rule::AnyTool, T | X},
    {cmd::TreeShowIn1, L"サムネイルウィンドウ1に表示(&F)", nullptr, 0, 0, Rule::None, R},
    {cmd::TreeShowIn2, L"サムネイルウィンドウ2に表示(&S)", nullptr, 0, 0, Rule::None, R},
    {cmd::TreeRegister, L"登録フォルダに追加(&A)", nullptr, 0, 0, Rule::TreeRegister, R},
    {cmd::TreeUnregister, L"登録フォルダから除外(&D)", nullptr, 0, 0, Rule::TreeUnregister, R},
    {cmd::TreeNewFolder, L"フォルダ作成 (実フォルダ)(&N)", nullptr, 0, 0, Rule::TreeRegisterOrUnregister, R},
    {cmd::TreeRenameFolder, L"フォルダ名変更 (実フォルダ)(&M)", nullptr, 0, 0, Rule::TreeFolderNotBusy, R},
    {cmd::TreeDeleteFolder, L"フォルダ削除 (実フォルダ)(&R)", nullptr, 0, 0, Rule::TreeFolderNotBusy, R},
    {cmd::TreeExplorer, L"エクスプローラで開く(&X)", nullptr, 0, 0, Rule::None, R},
    {cmd::ColumnButton, nullptr, nullptr, 0, 0, Rule::None, 0, L"表示列数"},
};
}  // namespace

int commandIndex(CommandId id) {
    for (int i = 0; i < kCommandCount; ++i)
        if (kCommands[i].id == id) return i;
    return -1;
}

const CommandInfo* commandInfo(CommandId id) {
    const int index = commandIndex(id);
    if (index >= 0) return &kCommands[index];
    for (const CommandInfo& row : kOtherCommands)
        if (row.id == id) return &row;
    return nullptr;
}

const wchar_t* commandMenuText(CommandId id) {
    const CommandInfo* row = commandInfo(id);
    return row && row->menuText ? row->menuText : L"";
}

const wchar_t* commandTooltip(CommandId id) {
    const CommandInfo* row = commandInfo(id);
    if (!row || !row->tooltip) return nullptr;
    return row->tooltip == kTooltipIsMenuText ? row->menuText : row->tooltip;
}

void takeViewSettings(const AppSettings& settings, CommandStateSnapshot& snapshot) {
    snapshot.autoTree = settings.autoTree != 0;
    snapshot.split = settings.thumbSplit;
    snapshot.textArea = settings.textArea != 0;
    snapshot.hiddenMask = settings.hiddenMask;
}

CommandItemState commandState(CommandRule rule, const CommandStateSnapshot& in) {
    const int c = in.active.selected, t = in.active.total;
    // Changing files of the active pane's folder waits while a pane works on that folder.
    const bool blocked = in.activeBusy || (in.otherBusy && in.sameFolder);
    const bool isJpegOrPng = in.active.selectedFormat == 2 || in.active.selectedFormat == 3;
    switch (rule) {
    case Rule::None: return {true, false};
    case Rule::OneSelected: return {c == 1, false};
    case Rule::OneWithComment: return {c == 1 && isJpegOrPng, false};
    case Rule::OneWithText: return {c == 1 && in.active.selectedHasText, false};
    case Rule::SelectionUnblocked: return {!blocked && c >= 1, false};
    case Rule::OneUnblocked: return {!blocked && c == 1, false};
    case Rule::SelectAll: {
        const bool enabled = in.active.hasItems && !in.activeBusy;
        return {enabled, enabled && c == t};
    }
    case Rule::AnySelected: return {c >= 1, false};
    case Rule::Viewer: return {in.viewerExists, false};
    case Rule::SlideShow: return {in.viewerExists && in.active.hasItems && !in.activeBusy, false};
    case Rule::ViewerHelp: return {in.viewerHelpExists, false};
    case Rule::AnyTool: return {in.anyTool, false};
    case Rule::NoPaneBusy: return {!in.activeBusy && !in.otherBusy, false};
    case Rule::TreeRegister: return {in.tree.canRegister, false};
    case Rule::TreeUnregister: return {in.tree.canUnregister, false};
    case Rule::TreeRegisterOrUnregister: return {in.tree.canRegister || in.tree.canUnregister, false};
    case Rule::TreeFolderNotBusy: return {in.tree.selectionIsFileFolder && !in.tree.selectionInBusyPane, false};
    case Rule::CheckAutoTree: return {true, in.autoTree};
    case Rule::CheckPane1: return {true, in.split == SplitMode::Pane1};
    case Rule::CheckPane2: return {true, in.split == SplitMode::Pane2};
    case Rule::CheckBothPanes: return {true, in.split != SplitMode::Pane1 && in.split != SplitMode::Pane2};
    case Rule::CheckTextArea: return {true, in.textArea};
    case Rule::CheckHiddenShown: return {true, in.hiddenMask == 0};
    }
    return {true, false};
}

const wchar_t* modifierLabel(unsigned flags) {
    switch (flags) {
    case 5: return L"Shift+";
    case 9: return L"Ctrl+";
    case 13: return L"Ctrl+Shift+";
    default: return L"";
    }
}

namespace {
struct KeyLabels {
    const wchar_t* text[256];
    constexpr KeyLabels() : text() {
        for (auto& t : text) t = L"";
        text[8] = L"BackSpace"; text[9] = L"Tab"; text[13] = L"Enter"; text[27] = L"Esc"; text[32] = L"Space";
        text[33] = L"PageUp"; text[34] = L"PageDown"; text[35] = L"End"; text[36] = L"Home";
        text[37] = L"←"; text[38] = L"↑"; text[39] = L"→"; text[40] = L"↓";
        text[45] = L"Insert"; text[46] = L"Delete";
        const wchar_t* digits[10] = {L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9"};
        for (int i = 0; i < 10; ++i) text[48 + i] = digits[i];
        const wchar_t* letters[26] = {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J", L"K", L"L", L"M",
                                      L"N", L"O", L"P", L"Q", L"R", L"S", L"T", L"U", L"V", L"W", L"X", L"Y", L"Z"};
        for (int i = 0; i < 26; ++i) text[65 + i] = letters[i];
        text[96] = L"[Num] 0 ";
        const wchar_t* num[9] = {L"[Num] 1", L"[Num] 2", L"[Num] 3", L"[Num] 4", L"[Num] 5",
                                 L"[Num] 6", L"[Num] 7", L"[Num] 8", L"[Num] 9"};
        for (int i = 0; i < 9; ++i) text[97 + i] = num[i];
        text[106] = L"[Num] *"; text[107] = L"[Num] +"; text[109] = L"[Num] -"; text[110] = L"[Num] .";
        text[111] = L"[Num] /";
        const wchar_t* fkeys[12] = {L"F1", L"F2", L"F3", L"F4", L"F5", L"F6",
                                    L"F7", L"F8", L"F9", L"F10", L"F11", L"F12"};
        for (int i = 0; i < 12; ++i) text[112 + i] = fkeys[i];
        text[186] = L":"; text[187] = L";"; text[188] = L","; text[189] = L"-"; text[190] = L".";
        text[191] = L"/"; text[192] = L"@";
        text[219] = L"["; text[220] = L"\\"; text[221] = L"]"; text[222] = L"^"; text[226] = L"_";
    }
};
constexpr KeyLabels kKeyLabels;
}  // namespace

const wchar_t* keyLabel(unsigned vk) { return vk < 256 ? kKeyLabels.text[vk] : L""; }

const uint8_t kSelectableKeys[kSelectableKeyCount] = {
    8, 9, 13, 27, 32, 33, 34, 35, 36, 37, 38, 39, 40, 45, 46,
    186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 226,
    48, 49, 50, 51, 52, 53, 54, 55, 56, 57,
    65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90,
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123,
    96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 109, 110, 111,
};

const CommandId kMenuBarIds[4] = {cmd::MenuFile, cmd::MenuView, cmd::MenuTools, cmd::MenuHelp};
const wchar_t* const kFilterNames[6] = {L"ALL", L"BMP", L"PNG", L"JPEG", L"TIFF", L"GIF"};
