// The rebar at the top of the frame with its two bands: the menu bar (a tool bar of four
// drop-down text buttons, with its keyboard mode) and the command tool bar with the size
// fields and the filter list.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Creates the rebar, both tool bars, the child controls and the tooltips (frame creation).
void createToolBars(HWND frame);
// Shutdown: the image list of the command bar.
void destroyToolBarResources();
// Presses or releases the check buttons (AutoTree, Pane1, Pane2, BothPanes, TextArea) by their
// commands' rules, to match "AutoTree", "ThSplit" and "TxtArea".
void refreshToolBarChecks();
// Height of the rebar window.
int rebarHeight();
// Frame size change: resizes the rebar and, when it has one row, maximises the command band.
void layoutRebar(int frameClientWidth);

// WM_NOTIFY from the tool bars, their tooltips and the rebar; true when handled (*result set).
bool handleToolBarNotify(const NMHDR* hdr, LRESULT* result);

// Thumbnail size typed into the fields, taken over at the next refresh.
extern int g_pendingThumbWidth;
extern int g_pendingThumbHeight;
// Size-field notifications (ids 220, 221): EN_CHANGE stores the clamped value, EN_KILLFOCUS
// writes the pending value back into the field.
void onSizeFieldCommand(int id, int code);
// Sets the width and height fields (column-count commands).
void setSizeFields(int w, int h);
// Selects a filter entry in list 240.
void selectFilterEntry(int index);
int filterListSelection();

// ---- menu bar
// Opens the menu of button 0..3 under it (runs the menu loop).
void openMenuBarMenu(int index);
// Opens a popup of the holder at a screen point (context menus).
void openContextMenu(int position, int x, int y);
// Opens the column menu under the column button.
void openColumnMenu();
// Codes 110..116 and 120 (from a pane thread or the main thread's own keyboard hook).
void onMenuBarCode(unsigned code, LPARAM arg);
// The highlighted menu-bar button, -1 for none.
int menuBarHotItem();

// Main-thread hooks: the keyboard menu-bar mode and the mouse rules.
LRESULT CALLBACK mainKeyboardHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK mainMouseHook(int code, WPARAM wParam, LPARAM lParam);

// The user-interface font (the application's, or a stand-in when it has none yet).
HFONT frameUiFont();
