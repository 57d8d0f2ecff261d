// Command identifiers of the main window, the fixed table of the 56 commands that can carry a
// shortcut, and the label tables that turn an accelerator into "Ctrl+" / "A" texts.
#pragma once

#include <cstdint>

using CommandId = uint16_t;

namespace cmd {
// File menu
constexpr CommandId FileInfo = 5010, Comment = 5011, TextData = 5012, Properties = 5013;
constexpr CommandId Delete = 5020, Rename = 5030, SelectAll = 5040, Wallpaper = 5050, Exit = 5060;
// View menu
constexpr CommandId AutoTree = 5110, ThumbSubmenu = 5120, Pane1 = 5121, Pane2 = 5122, BothPanes = 5123;
constexpr CommandId TextArea = 5130, InfoSettings = 5140, Refresh = 5160, StopClear = 5161, Hidden = 5170;
// Tools menu
constexpr CommandId ViewerOpen = 5210, ViewerEdit = 5211, ViewerFull = 5212, SlideShow = 5213;
constexpr CommandId Associated = 5220, ToolsSubmenu = 5230, Tool1 = 5231, Tool8 = 5238;
constexpr CommandId Options = 5240, ViewerOptions = 5250;
// Help menu
constexpr CommandId Help = 5310, ViewerHelp = 5320, About = 5330;
// Column counts (id - 5400 = columns)
constexpr CommandId Columns2 = 5402, Columns3 = 5403, Columns4 = 5404, Columns6 = 5406;
constexpr CommandId Columns8 = 5408, Columns12 = 5412, Columns20 = 5420;
// Folder-tree context menu (carried out by the folder tree)
constexpr CommandId TreeShowIn1 = 5500, TreeShowIn2 = 5501, TreeRegister = 5510, TreeUnregister = 5511;
constexpr CommandId TreeNewFolder = 5520, TreeRenameFolder = 5521, TreeDeleteFolder = 5522, TreeExplorer = 5530;
// Menu-bar buttons, column button, separators
constexpr CommandId MenuFile = 5000, MenuView = 5100, MenuTools = 5200, MenuHelp = 5300;
constexpr CommandId ColumnButton = 5610, Separator = 6010;
// Shortcut-only commands
constexpr CommandId FilterAll = 5700, FilterGif = 5705;
constexpr CommandId ScrollTop = 5710, ScrollBottom = 5711, ScrollPageUp = 5712, ScrollPageDown = 5713;
constexpr CommandId ScrollUp = 5714, ScrollDown = 5715, SwitchPane = 5720;
}  // namespace cmd

// Control ids of the frame.
namespace ctl {
constexpr int Rebar = 200, MenuBar = 201, CommandBar = 202;
constexpr int LabelW = 210, LabelH = 211, FieldW = 220, FieldH = 221, SpinW = 230, SpinH = 231;
constexpr int Filter = 240, Client = 310;
}  // namespace ctl

// Accelerator flag bits (the values of FVIRTKEY, FSHIFT and FCONTROL).
constexpr uint8_t kAccVirt = 1, kAccShift = 4, kAccCtrl = 8;

constexpr int kCommandCount = 56;

struct CommandInfo {
    CommandId id;
    const wchar_t* menuText;     // text in the menus (nullptr for tool items, built from the name)
    const wchar_t* displayName;  // text in the key customisation list
    uint8_t defaultFlags;
    uint16_t defaultKey;         // 0 = no default shortcut
};

// The 56 shortcut-capable commands in their fixed order.
extern const CommandInfo kCommands[kCommandCount];

// Index of a command in kCommands, or -1.
int commandIndex(CommandId id);

// Label of the modifier flags (0..15) and of a virtual-key code (0..255); "" when not listed.
const wchar_t* modifierLabel(unsigned flags);
const wchar_t* keyLabel(unsigned vk);

// The 90 keys offered by the key customisation dialog, in their list order.
constexpr int kSelectableKeyCount = 90;
extern const uint8_t kSelectableKeys[kSelectableKeyCount];

// Menu-bar button texts (ids 5000, 5100, 5200, 5300) and the filter names.
extern const wchar_t* const kMenuBarTexts[4];
extern const CommandId kMenuBarIds[4];
extern const wchar_t* const kFilterNames[6];

// Texts of menu items that are not in kCommands (submenus and the folder-tree context).
const wchar_t* extraMenuText(CommandId id);
