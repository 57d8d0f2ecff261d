// Starting other programs: the companion viewer, the registered tools, the associated
// programs, property sheets and help files; and the path dropped on a pane. Main thread only.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The commands on the active pane's selection and the help commands.
void showFileProperties(HWND owner);
void openSelectionInViewer(HWND owner, const wchar_t* option);  // "/v", "/s", "/f"
void startSlideShow(HWND owner);
void openSelectionWithAssociation(HWND owner);
void runExternalTool(HWND owner, int toolIndex);  // 0 .. 7
void showViewerOptions(HWND owner);
void showProgramHelp(HWND owner);
void showViewerHelp(HWND owner);
// Code 122: the double-click action on `pane`'s selection.
void runDoubleClickAction(HWND owner, int pane);

// The companion viewer counts as present exactly when its program file exists.
bool viewerPresent();

// The pane-taking forms behind the commands (which use the active pane) and code 122.
void startViewer(int pane, const wchar_t* viewerSwitch);
void startSlideShowOf(int pane);
void openWithAssociation(int pane);
void runTool(int pane, int toolIndex);
// "DblClick" 0..11 on `pane`; without the viewer every action opens the associated program.
void doubleClickAction(int pane);

// Code 130 and a drop on the folder tree: the first dropped path (shorter than 260 characters) is opened as a command-line
// argument is (the folder tree's Open path); the drop handle is released in every case.
void openDroppedPath(HWND mainWindow, HDROP drop);
