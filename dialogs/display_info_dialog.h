// The display-information dialog (2300): which lines the text area under each thumbnail
// shows. Main thread only.
#pragma once

#include <windows.h>

// Runs the dialog modally under its tool-bar button; true when closed with OK (the settings
// then hold the new lines).
bool showDisplayInfoDialog(HWND owner);
