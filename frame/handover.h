// The main window's side of start-up: the path handed over by a second instance or named on
// the command line, the pane threads' handshake, and the window title.
#pragma once

#include <windows.h>

// Start-up hands over this instance's command-line path (expanded), before the panes report.
void setCommandLinePath(const wchar_t* path);
// WM_COPYDATA from a second instance: opens the handed path unless a pane is busy.
// Returns the value the window procedure should return.
LRESULT onCopyData(HWND mainWindow, const COPYDATASTRUCT* data);
// Code 100 / 101: records the pane's outer window; returns true when both panes have now
// reported (the caller then lays out its client area and calls openCommandLinePath()).
bool onPaneReady(int paneIndex, HWND paneWindow);
// Opens the folder named by this instance's command line, if any.
void openCommandLinePath();
// Opens a path as a command-line argument is opened (WM_COPYDATA, dropped files). While a
// modal dialog is open the path is held instead (a later one replaces it) and opened when
// the modal state ends: a dialog works on what the panes show when it opened.
void openPath(const wchar_t* path);
// The modal state ended (the handler given to setModalEndedHandler): posts code 160 when a
// path is held.
void onModalStateEnded();
// Code 160: opens the held path, unless a dialog is open again (its end posts anew) or a pane
// is busy, where a hand-over is ignored.
void openHeldPath();
// Sets the main window title: "-1- " or "-2- " and the active pane's folder, or "Pravel".
void refreshWindowTitle();
// Shows message id of the table with the main window as owner (code 150 from a pane).
void onShowMessage(LPARAM id);
