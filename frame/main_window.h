// The main frame ("Pravel_main_class") and its client window ("Pravel_client_class").
#pragma once

#include <windows.h>

#include "base/settings.h"
#include "base/win_state.h"  // g_clientWindow

// Registers the frame's window classes (main, client, tree pane base) with their procedures.
bool registerFrameWindowClasses(HINSTANCE instance);
// The work area of the primary monitor (the stored placement is relative to it).
RECT mainWorkArea();
// Places the frame at the stored placement (kept inside the nearest work area), creates and
// shows it for the given show request; returns it (null on failure).
HWND createMainWindow(int showCommand, const MainPlacement& placement);
// WM_CLOSE calls handler (the application's shutdown sequence) before the window is destroyed;
// it returns false to keep the window (a shutdown is already under way). Without one the
// window is simply destroyed.
void setMainWindowCloseHandler(bool (*handler)(HWND mainWindow));
// True once the main window has received its close message: while the shutdown waits for the
// panes it still answers their sends, shortcuts too, and runs no command for them.
bool mainWindowClosing();
// Lays out the thumbnail panes for a client area of W x H.
void layoutPanes(int clientWidth, int clientHeight);
// Lays out for the client window's current size.
void layoutClientArea();
// Shutdown: frees the menus and GDI objects of the frame (after the accelerators are saved).
void freeFrameResources();

// "ThSplit" n (1, 2 or 0 for both): nothing when it is already n; otherwise lays out again and
// activates the pane that is now alone.
void setSplit(SplitMode mode);
// Inverts "AutoTree": pins and shows the tree pane, or hides it.
void toggleAutoTree();
// Lists a pane again (takes over the size fields first); `both` also refreshes the other pane.
void refreshPane(bool reset, int pane, bool both);
// Column-count command: thumbnail size for n columns of the active pane, then a refresh.
void applyColumnCount(int columns);

// The command handler (menu, tool bar, accelerator and control notifications).
void onFrameCommand(int id, int code);
// The cross-thread codes (WM_APP) posted to the main window.
void onFrameCode(unsigned code, LPARAM arg);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK clientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
