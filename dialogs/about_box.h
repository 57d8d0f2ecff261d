// The about box (showAboutBox is declared in frame/pending_commands.h). Main thread only.
#pragma once

#include <windows.h>

// The open box's window, or nullptr when none is open.
HWND aboutBoxWindow();
