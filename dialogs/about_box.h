// The about box. Main thread only.
#pragma once

#include <windows.h>

// Shows the about box (command About); false when it could not be created.
bool showAboutBox(HWND owner);

// The open box's window, or nullptr when none is open.
HWND aboutBoxWindow();
