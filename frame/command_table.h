// The command table: one row per command id with its menu text, its tool-bar tooltip, where
// it appears in the menus and the rule that enables or checks it; the fixed order of the 56
// commands that can carry a shortcut; and the label tables that turn an accelerator into
// "Ctrl+" / "A" texts. The menus, the tool bars and the key dialog all read from here.
#pragma once

#include <cstdint>

#include "base/command_ids.h"
#include "base/settings.h"
#include "thumbs/pane_access.h"
#include "tree/tree_access.h"

// Control ids of the frame.
namespace ctl {
constexpr int Rebar = 200, MenuBar = 201, CommandBar = 202;
constexpr int LabelW = 210, LabelH = 211, FieldW = 220, FieldH = 221, SpinW = 230, SpinH = 231;
constexpr int Filter = 240, Client = 310;
}  // namespace ctl

// Accelerator flag bits (the values of FVIRTKEY, FSHIFT and FCONTROL).
constexpr uint8_t kAccVirt = 1, kAccShift = 4, kAccCtrl = 8;

constexpr int kCommandCount = 56;

// The popup menus inside the hidden holder menu, by position.
enum MenuPosition : int {
    MenuPosFile = 0,
    MenuPosView = 1,
    MenuPosTools = 2,
    MenuPosHelp = 3,
    MenuPosColumns = 4,
    MenuPosThumbContext = 5,
    MenuPosTreeContext = 6,
    MenuPosCount = 7
};
constexpr uint8_t menuBit(int position) { return uint8_t(1u << position); }

// What decides whether a command's menu item is enabled and whether it (or its tool-bar
// button) is checked. `c` is the active pane's selected count, `t` its item count.
enum class CommandRule : uint8_t {
    None,                // always enabled, never checked: no rule touches the item
    OneSelected,         // c = 1
    OneWithComment,      // c = 1 and the item is a PNG or JPEG file
    OneWithText,         // c = 1 and the item carries text data
    SelectionUnblocked,  // c >= 1, the active pane not busy, nor the other on the same folder
    OneUnblocked,        // the same with c = 1
    SelectAll,           // an item list and the active pane not busy; checked when c = t
    AnySelected,         // c >= 1
    Viewer,              // the companion viewer's program exists
    SlideShow,           // the viewer exists, the active pane has an item list and is not busy
    ViewerHelp,          // the viewer's help file exists
    AnyTool,             // at least one tool has a program path
    NoPaneBusy,          // neither pane is busy
    TreeRegister,        // as the folder tree reports for its selection
    TreeUnregister,
    TreeRegisterOrUnregister,
    TreeFolderNotBusy,   // a file-system folder (no system folder) not shown by a busy pane
    CheckAutoTree,       // checked while "AutoTree" is on
    CheckPane1,          // checked for split mode pane 1 alone
    CheckPane2,          // checked for split mode pane 2 alone
    CheckBothPanes,      // checked for any other split mode
    CheckTextArea,       // checked while "TxtArea" is on
    CheckHiddenShown,    // checked while hidden folders and files are listed ("Hidden" 0)
};

// A tooltip that is the command's menu text, ampersand included.
extern const wchar_t kTooltipIsMenuText[];

struct CommandInfo {
    CommandId id;
    const wchar_t* menuText;     // text in the menus (nullptr for tool items, built from the name)
    const wchar_t* displayName;  // text in the key customisation list (nullptr: no shortcut)
    uint8_t defaultFlags;
    uint16_t defaultKey;         // 0 = no default shortcut
    CommandRule rule = CommandRule::None;
    uint8_t menus = 0;           // menuBit of every popup (or its submenu) that shows the command
    const wchar_t* tooltip = nullptr;  // tool-bar tooltip, or kTooltipIsMenuText
};

// The 56 shortcut-capable commands in their fixed order.
extern const CommandInfo kCommands[kCommandCount];
// The row of any command id (shortcut-capable or not), or nullptr.
const CommandInfo* commandInfo(CommandId id);

// Index of a command in kCommands, or -1.
int commandIndex(CommandId id);

// The menu text of a command ("" when it has none) and its tool-bar tooltip (nullptr for none).
const wchar_t* commandMenuText(CommandId id);
const wchar_t* commandTooltip(CommandId id);

// Everything the enabling rules look at, taken at one moment.
struct CommandStateSnapshot {
    PaneSnapshot active;
    bool activeBusy = false;
    bool otherBusy = false;
    bool sameFolder = false;  // both panes show the same folder
    bool viewerExists = false;
    bool viewerHelpExists = false;
    bool anyTool = false;
    bool autoTree = false;
    SplitMode split = SplitMode::Pane1;
    bool textArea = true;
    int hiddenMask = 2;
    TreeMenuState tree;
};
// The view settings part of a snapshot (AutoTree, split, text area, hidden mask).
void takeViewSettings(const AppSettings& settings, CommandStateSnapshot& snapshot);

struct CommandItemState {
    bool enabled;
    bool checked;
};
CommandItemState commandState(CommandRule rule, const CommandStateSnapshot& in);

// Label of the modifier flags (0..15) and of a virtual-key code (0..255); "" when not listed.
const wchar_t* modifierLabel(unsigned flags);
const wchar_t* keyLabel(unsigned vk);

// The 90 keys offered by the key customisation dialog, in their list order.
constexpr int kSelectableKeyCount = 90;
extern const uint8_t kSelectableKeys[kSelectableKeyCount];

// The menu-bar buttons in their order (their texts are their menu texts) and the filter names.
extern const CommandId kMenuBarIds[4];
extern const wchar_t* const kFilterNames[6];
