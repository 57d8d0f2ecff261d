// Command identifiers of the main window. Every command, whether it comes from a menu, a
// tool-bar button, a shortcut or a thumbnail pane, reaches the main window's command handler
// as one of these. The texts, tooltips and enabling rules of each command are in the frame's
// command table; this header is the id list alone, so that the panes can name a command too.
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
// Column counts: the id less ColumnsBase is the number of columns.
constexpr CommandId ColumnsBase = 5400;
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
