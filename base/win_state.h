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

// Around a popup menu's loop on the main thread: records which menu is open (g_menuOpen) and
// keeps the keyboard focus on a window of this thread meanwhile. The keys go to the thread of
// the focus window; with the focus left in a pane (its own thread) the menu never saw Esc or
// the arrows, and the pane turned them into shortcuts behind the open menu. (A pane has no
// keys of its own, so the focus need not go back: the next pointer move over it takes it.)
class OpenMenuScope {
public:
    explicit OpenMenuScope(int which);
    ~OpenMenuScope();
    OpenMenuScope(const OpenMenuScope&) = delete;
    OpenMenuScope& operator=(const OpenMenuScope&) = delete;
};

// Re-reads the sizing-frame metrics and the "not allowed" cursor (start-up and
// WM_SETTINGCHANGE).
void readSystemMetrics();

// The program's window classes. Each owner registers its own at start-up
// (registerFrameWindowClasses, registerPaneWindowClasses) with the procedure it keeps.
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
const wchar_t* windowClassName(WindowClassId id);
// Registers one class with its procedure; true when it is registered (now or before).
bool registerWindowClass(HINSTANCE instance, WindowClassId id, WNDPROC proc);
