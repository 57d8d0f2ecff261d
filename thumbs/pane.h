// The two thumbnail panes (ThumbnailWindow): their state and the thread that runs each.
// Windows only. Pane 2 is pane 1 with its own windows, state, class names and codes.
#pragma once

#include <windows.h>

#include "app/settings.h"
#include "thumbs/thumbnail_item.h"

struct ThumbnailPane {
    int index = 0;                // 0 = pane 1, 1 = pane 2
    HWND outerWindow = nullptr;   // "Pravel_bswin1_class" / "Pravel_bswin2_class"
    HWND baseWindow = nullptr;    // "Pravel_base1_class" / "Pravel_base2_class"
    HWND statusBar = nullptr;
    HWND fileList = nullptr;      // hidden sorted list box of the folder's image names
    HHOOK mouseHook = nullptr;    // thread-local hooks of the pane's thread
    HHOOK keyboardHook = nullptr;
    wchar_t folder[kPathCapacity] = {};  // set by the main thread before it asks for a load
    ThumbnailItem* items = nullptr;      // one zero-filled block of at most kMaxPaneItems
    int itemCount = 0;
    int selectedCount = 0;
    int anchor = 0;
    int firstVisible = 0;
    POINT lastPointer = {0, 0};
};
// g_panes[0] is pane 1, g_panes[1] pane 2. The busy states are g_paneBusy (app/app_state.h).
extern ThumbnailPane g_panes[2];

// Thread bodies, started by the application at start-up with no argument. Each installs its
// thread's hooks, creates the pane's windows as children of the client window, posts code
// 100 / 101 with its outer window to the main window, runs its message loop (offering every
// message to the shared accelerator table unless the modal flag is set) and ends when its
// outer window is destroyed (code 206).
DWORD WINAPI paneThread1(LPVOID);
DWORD WINAPI paneThread2(LPVOID);

// Releases a pane's item array and every item's pixels (shutdown, after its thread ended).
void freePaneItems(ThumbnailPane& pane);
