// The main frame ("Pravel_main_class") and its client window ("Pravel_client_class").
#pragma once

#include <windows.h>

extern HWND g_clientWindow;  // id 310, child of the frame, parent of the tree pane and the panes

// Places, creates and shows the frame for the given show request; returns it (null on failure).
HWND createMainWindow(int showCommand);
// Places the tree pane and lays out the thumbnail panes for a client area of W x H.
void layoutPanes(int clientWidth, int clientHeight);
// Lays out for the client window's current size.
void layoutClientArea();
// Shutdown: frees the menus and GDI objects of the frame (after the accelerators are saved).
void freeFrameResources();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK clientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
