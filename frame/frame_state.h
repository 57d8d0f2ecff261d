// The frame's own window handles and the menu-bar highlight (the flags that the pane threads
// and the folder tree read without a lock are in base/app_state.h).
#pragma once

#include <windows.h>
#include <atomic>

#include "base/app_state.h"  // the flags the pane threads read

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
