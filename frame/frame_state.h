// State of the main frame that the pane threads and the folder tree read without a lock, and the
// frame's own window handles.
#pragma once

#include <windows.h>
#include <atomic>

// File-type filter of the pane listings: 0 all, 1 BMP, 2 PNG, 3 JPEG, 4 TIFF, 5 GIF.
extern std::atomic<int> g_fileFilter;
// Set from the main window's activation message.
extern std::atomic<int> g_mainWindowActive;
// The menu-bar keyboard mode (Alt pressed alone) is on.
extern std::atomic<int> g_menuBarMode;
// The folder tree pane is currently shown.
extern std::atomic<int> g_treePaneShown;
// Which menu is open: 0 none, 5000/5100/5200/5300 a menu-bar menu, 5610 the column menu,
// 1 the thumbnail context menu, 2 the folder-tree context menu.
extern std::atomic<int> g_menuOpen;
constexpr int kMenuOpenThumbContext = 1, kMenuOpenTreeContext = 2;

// Windows of the frame (main thread creates them; 0 until then).
struct FrameWindows {
    HWND frame, rebar, menuBar, commandBar, client, treePane;
    HWND fieldW, fieldH, spinW, spinH, filter, labelW, labelH;
};
extern FrameWindows g_frame;

// Menu-bar highlight, callable from any thread (the pane hooks clear it): -1 removes it.
void setMenuBarHotItem(int index);
// Ends the keyboard menu-bar mode and removes its highlight (any thread).
void leaveMenuBarMode();
