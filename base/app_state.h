// Small process-wide state shared by the main thread and the two pane threads. These are
// plain shared variables by design (no lock): each is a single word written by one side
// and read by the others, so they are atomics with relaxed use in mind.
#pragma once

#include <atomic>

// Set by the main thread while a modal dialog, the about box or a shell operation runs.
// While it is set the message loops translate no accelerators and the input hooks do nothing.
extern std::atomic<int> g_modalFlag;

// Busy state of each pane (index 0 = pane 1), kept by the pane's own thread.
enum PaneBusy : int { PaneIdle = 0, PaneLoading = 1, PaneWritingCache = 2 };
extern std::atomic<int> g_paneBusy[2];
inline bool anyPaneBusy() { return g_paneBusy[0].load() != PaneIdle || g_paneBusy[1].load() != PaneIdle; }

// The active thumbnail pane, 0 (pane 1) or 1 (pane 2).
extern std::atomic<int> g_activePane;
// The active pane as an index (0 or 1), whatever the record holds.
inline int activePane() { return g_activePane.load() == 1 ? 1 : 0; }

// ---- main-frame state read by the pane threads and the folder tree
// File-type filter of the pane listings: 0 all, 1 BMP, 2 PNG, 3 JPEG, 4 TIFF, 5 GIF.
extern std::atomic<int> g_fileFilter;
// Set from the main window's activation message.
extern std::atomic<int> g_mainWindowActive;
// The menu-bar keyboard mode (Alt pressed alone) is on.
extern std::atomic<int> g_menuBarMode;
// The folder tree pane is currently shown.
extern std::atomic<int> g_treePaneShown;
// Which menu is open: 0 none, cmd::MenuFile .. cmd::MenuHelp a menu-bar menu, cmd::ColumnButton
// the column menu, 1 the thumbnail context menu, 2 the folder-tree context menu.
extern std::atomic<int> g_menuOpen;
constexpr int kMenuOpenThumbContext = 1, kMenuOpenTreeContext = 2;

// Called on the main thread each time the modal flag goes back to 0, so that work held while
// a dialog was open (a folder handed over by a second instance, a dropped path) can follow.
// Set once at start-up; none by default.
void setModalEndedHandler(void (*handler)());
// Clears the modal flag and runs the handler above.
void endModalState();

// RAII helper for the modal flag around a modal dialog or a shell operation.
class ModalScope {
public:
    ModalScope() : previous_(g_modalFlag.exchange(1)) {}
    ~ModalScope() {
        if (previous_ == 0) endModalState();
        else g_modalFlag.store(previous_);
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    int previous_;
};

// Platform level from the operating-system version: 1 for 5.1, 2 for any 6.x, 3 for
// major version 7 and above, 0 for everything else (5.0, 5.2, below 5). 0 refuses to run.
int platformLevelFor(unsigned major, unsigned minor);
extern int g_platformLevel;
