// Start-up, the main loop and shutdown of the application. The process-wide Windows state they
// set up is in base/win_state.h; the main window's side of start-up (second-instance hand-over,
// pane handshake, command-line path) is in frame/handover.h.
#pragma once

#include <windows.h>

#include "app/settings.h"
#include "base/win_state.h"

// Registers every window class of the program (frame, tree pane base, thumbnail panes).
bool registerProgramWindowClasses(HINSTANCE instance);

// WM_CLOSE of the main window: runs the whole shutdown sequence. Returns true when the caller
// should now let DefWindowProcW destroy the window; false when a shutdown is already under way
// (a close message that arrived while it waits), which the caller then swallows, and when a
// pane thread was left behind (its windows cannot be destroyed from here: the quit message is
// posted instead and the process ends without destroying them).
bool shutdownApplication(HWND mainWindow);

// ---------------------------------------------------------------- shutdown pieces (tests use them)
// Posts 206 to a pane window and waits up to waitMs for its thread (answering what is sent to
// this thread meanwhile); closes the handle. Returns true when the thread ended by itself; one
// that did not is left running, never terminated, and counted.
bool stopPaneThread(HWND paneWindow, HANDLE thread, DWORD waitMs);
// How many threads the shutdown left behind so far (stuck in a call that never returns).
int abandonedThreadCount();
// How long the last shutdown sequence took, from the close message to the saved settings.
DWORD shutdownSequenceMs();
// Sends the close message to every window of the companion viewer's two classes until none
// is left. Gives up after a bounded number of rounds so a viewer that refuses to close
// cannot hang the exit. Returns the number of close messages sent.
int closeViewerWindows();

// The main loop: until WM_QUIT, offering messages to g_accelerators (unless modal).
int runMessageLoop();

// The whole program (wWinMain calls it).
int runApplication(HINSTANCE instance, int showCommand);
// After runApplication: when the shutdown left a thread behind, ends the process at once with
// exitCode (the settings are saved by then); otherwise returns and the caller returns normally.
void leaveProcess(int exitCode);
