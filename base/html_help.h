// HTML Help, loaded at run time from hhctrl.ocx so that the program starts where it is
// missing; help then simply does not open.
#pragma once

#include <windows.h>

// Start-up: loads the module and sends its initialise command (keeps the cookie).
void initHtmlHelp();
// Exit: the uninitialise command with the cookie, then the module is released.
void uninitHtmlHelp();
// HtmlHelpW(caller, file, command, data); null when HTML Help is not available.
HWND callHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);
bool htmlHelpAvailable();
