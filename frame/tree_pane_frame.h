// The base window of the folder tree pane ("Pravel_trbase_class"): a child of the client window
// with a sizing border, of which only the right edge lies inside the client window.
#pragma once

#include <windows.h>

// Creates the (hidden) base window inside the client window and lets the folder tree fill it.
HWND createTreePaneBase(HWND client);
// Places the base window for a client area of the given height ("TreeW" wide).
void placeTreePane(int clientHeight);
// Shows or hides the tree pane (on top of the thumbnail panes when shown).
void showTreePane(bool show);

LRESULT CALLBACK treePaneBaseProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
