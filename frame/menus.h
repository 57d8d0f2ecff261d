// The seven owner-drawn popup menus of the main window, inside one hidden holder menu, with the
// shortcut labels of the accelerator table, and the rules that enable and check their items.
#pragma once

#include <windows.h>

#include <string>

#include "frame/command_table.h"

// Builds the holder and the popup menus from the live accelerator table and the tools.
void buildMenus();
void destroyMenus();
// After key customisation: destroy and build again (no-op before the first build).
void rebuildMenus();
// After the tools ("APP0".., "AN0"..) changed: empties and refills both tools submenus.
void rebuildToolSubmenus();
HMENU popupMenu(int position);
HMENU holderMenu();

// Drawing objects and the menu font (start-up; the colours and font again on WM_SETTINGCHANGE).
void createMenuDrawingObjects();
void refreshMenuMetrics();
void deleteMenuDrawingObjects();
HBRUSH selectionBrush();
HPEN selectionPen();
HBRUSH checkBrush();
HPEN checkPen();
HBRUSH barBrush();
constexpr COLORREF kBarColour = RGB(236, 236, 240);

// Owner-draw handlers for WM_MEASUREITEM / WM_DRAWITEM of ODT_MENU items, and WM_MENUCHAR.
void menuMeasureItem(MEASUREITEMSTRUCT* mis);
void menuDrawItem(const DRAWITEMSTRUCT* dis);
LRESULT menuChar(wchar_t ch, HMENU menu);

// The text and shortcut label ("Ctrl+A") of an owner-drawn item, by position; false for a
// separator or a foreign item.
bool menuItemTexts(HMENU menu, int position, std::wstring& text, std::wstring& shortcut);

// The state of item `id` in the popup at `position` by its command's rule; false when the
// command has no rule or does not appear in that popup.
bool menuItemState(int position, CommandId id, const CommandStateSnapshot& in, CommandItemState& out);
// The rule inputs from the program's current state.
CommandStateSnapshot currentCommandState();
// WM_INITMENUPOPUP: sets the states of every item of `menu` (one of the seven popups).
void prepareMenu(HMENU menu);
// Same with explicit inputs (tests).
void prepareMenuWith(HMENU menu, const CommandStateSnapshot& in);
