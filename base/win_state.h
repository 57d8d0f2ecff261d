// Process-wide Windows state: handles made once at start-up and read by every layer (the pane
// threads included), and the program's window classes. Main-thread state unless noted.
#pragma once

#include <windows.h>

#include "base/app_state.h"
#include "base/settings.h"

extern HINSTANCE g_instance;
extern HFONT g_uiFont;             // "MS UI Gothic", height -12, weight 400, Shift-JIS
extern HWND g_mainWindow;
extern HWND g_clientWindow;        // id 310, child of the frame, parent of the tree pane and the panes
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
