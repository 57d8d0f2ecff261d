// Process-wide Windows state owned by the application core, and the calls that the main
// window and the other subsystems make into it. Main-thread state unless noted.
#pragma once

#include <windows.h>

#include "app/app_state.h"
#include "app/settings.h"

// ---------------------------------------------------------------- process state
extern HINSTANCE g_instance;
extern HFONT g_uiFont;             // "MS UI Gothic", height -12, weight 400, Shift-JIS
extern HWND g_mainWindow;
extern HACCEL g_accelerators;      // the live accelerator table (shared by all three loops)
extern HDC g_scalingDC;            // memory DC compatible with the screen (thumbnail scaling)
extern HCURSOR g_appCursors[4];    // resources 110..113 (tree x2, pane 1 / pane 2 target marks)
extern HCURSOR g_notAllowedCursor; // the shared system "not allowed" cursor
extern int g_sizeFrameX;           // SM_CXSIZEFRAME / SM_CYSIZEFRAME (splitters)
extern int g_sizeFrameY;
extern HHOOK g_mainMouseHook;
extern HHOOK g_mainKeyboardHook;
extern HANDLE g_paneThreads[2];
extern HWND g_paneWindows[2];      // each pane's outer window, as reported by code 100/101

// Re-reads the sizing-frame metrics and the "not allowed" cursor (start-up and
// WM_SETTINGCHANGE).
void readSystemMetrics();

// ---------------------------------------------------------------- hooks for other subsystems
// Each pointer starts empty (constant-initialised) and is set by its owner, either by a
// static initialiser in the owner's file or before start-up reaches the call. An empty
// pointer gets the stated fallback.

// Builds g_accelerators from the stored record (key customisation). Fallback: the
// built-in default table.
extern void (*g_loadAcceleratorsHook)();
// Saves the live table to section "Akey" and destroys it. Fallback: destroys it only.
extern void (*g_saveAcceleratorsHook)();
// Main-thread mouse and keyboard hook procedures (menu-bar keyboard mode, focus rules).
// Fallback: pass everything on.
extern HOOKPROC g_mainMouseHookProc;
extern HOOKPROC g_mainKeyboardHookProc;

// The window classes registered at start-up. Owners fill their procedure into
// g_windowClassProcs[...]; an empty entry registers the class with DefWindowProcW.
enum WindowClassId : int {
    ClassMain = 0,       // "Pravel_main_class"
    ClassClient,         // "Pravel_client_class"
    ClassTreeBase,       // "Pravel_trbase_class"
    ClassPaneOuter1,     // "Pravel_bswin1_class"
    ClassPaneOuter2,     // "Pravel_bswin2_class"
    ClassPaneBase1,      // "Pravel_base1_class"
    ClassPaneBase2,      // "Pravel_base2_class"
    ClassPaneCell1,      // "Pravel_thimg1_class"
    ClassPaneCell2,      // "Pravel_thimg2_class"
    ClassPaneText1,      // "Pravel_thtxt1_class"
    ClassPaneText2,      // "Pravel_thtxt2_class"
    WindowClassCount
};
extern WNDPROC g_windowClassProcs[WindowClassCount];
const wchar_t* windowClassName(WindowClassId id);
bool registerWindowClasses(HINSTANCE instance);

// The built-in accelerator table (the default shortcuts of the 56 commands).
HACCEL createDefaultAccelerators();

// ---------------------------------------------------------------- calls from the main window
// WM_COPYDATA from a second instance: opens the handed path unless a pane is busy.
// Returns the value the window procedure should return.
LRESULT onCopyData(HWND mainWindow, const COPYDATASTRUCT* data);
// Code 100 / 101: records the pane's outer window; returns true when both panes have now
// reported (the caller then lays out its client area and calls openCommandLinePath()).
bool onPaneReady(int paneIndex, HWND paneWindow);
// Opens the folder named by this instance's command line, if any.
void openCommandLinePath();
// Opens a path as a command-line argument is opened (WM_COPYDATA, dropped files).
void openPath(const wchar_t* path);
// WM_CLOSE: runs the whole shutdown sequence. Returns true when the caller should now let
// DefWindowProcW destroy the window; false when a shutdown is already under way (a close
// message that arrived while it waits), which the caller then swallows.
bool shutdownApplication(HWND mainWindow);
// Sets the main window title: "-1- " or "-2- " and the active pane's folder, or "Pravel".
void refreshWindowTitle();
// Shows message id of the table with the main window as owner (code 150 from a pane).
void onShowMessage(LPARAM id);

// ---------------------------------------------------------------- shutdown pieces (tests use them)
// Sends 206 to a pane window, waits up to waitMs for its thread, and when it still runs
// removes that pane's mouse hook and terminates it; closes the handle. Returns true when
// the thread had to be terminated.
// The stop is posted (after the pane's stop request) and the wait answers sent messages.
bool stopPaneThread(HWND paneWindow, HANDLE thread, HHOOK* mouseHook, DWORD waitMs);
// How many threads the process had to terminate so far (tests check it stays 0).
int terminatedThreadCount();
// How long the last shutdown sequence took, from the close message to the saved settings.
DWORD shutdownSequenceMs();
// True from the start of the shutdown sequence on: the main window then runs no command
// that a pane's shortcut may still send while the main thread waits for the panes.
bool shutdownInProgress();
// Sends the close message to every window of the companion viewer's two classes until none
// is left. Gives up after a bounded number of rounds so a viewer that refuses to close
// cannot hang the exit. Returns the number of close messages sent.
int closeViewerWindows();

// The main loop: until WM_QUIT, offering messages to g_accelerators (unless modal).
int runMessageLoop();

// The whole program (wWinMain calls it).
int runApplication(HINSTANCE instance, int showCommand);
