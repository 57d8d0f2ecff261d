// Starting other programs: the companion viewer, the registered tools, the associated
// programs, property sheets and help files; and the path dropped on a pane. Main thread only.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The companion viewer counts as present exactly when its program file exists.
bool viewerPresent();

// The pane-taking forms behind the commands (which use the active pane) and code 122.
void startViewer(int pane, const wchar_t* viewerSwitch);
void startSlideShowOf(int pane);
void openWithAssociation(int pane);
void runTool(int pane, int toolIndex);
// "DblClick" 0..11 on `pane`; without the viewer every action opens the associated program.
void doubleClickAction(int pane);

// Code 130: the first dropped path (shorter than 260 characters) is opened as a command-line
// argument is (the folder tree's Open path); the drop handle is released in every case.
void openDroppedPath(HWND mainWindow, HDROP drop);
