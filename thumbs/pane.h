// The two thumbnail panes (ThumbnailWindow): their state and the thread that runs each.
// Windows only. Pane 2 is pane 1 with its own windows, state, class names and codes.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/settings.h"
#include "thumbs/folder_loader.h"
#include "thumbs/pane_geometry.h"
#include "thumbs/pane_pixels.h"
#include "thumbs/pane_settings.h"
#include "thumbs/thumbnail_item.h"

struct ThumbnailPane {
    int index = 0;                // 0 = pane 1, 1 = pane 2
    HWND outerWindow = nullptr;   // "Pravel_bswin1_class" / "Pravel_bswin2_class"
    HWND baseWindow = nullptr;    // "Pravel_base1_class" / "Pravel_base2_class"
    HWND statusBar = nullptr;
    HWND fileList = nullptr;      // hidden sorted list box of the folder's image names
    HHOOK mouseHook = nullptr;    // thread-local hooks of the pane's thread
    HHOOK keyboardHook = nullptr;
    wchar_t folder[kPathCapacity] = {};  // handed over by code 207 before a load is asked for
    ThumbnailItem* items = nullptr;      // one zero-filled block of at most kMaxPaneItems
    int itemCount = 0;
    int itemCapacity = 0;  // items the block has room for: a little more than the count it was made for
    int selectedCount = 0;
    int anchor = 0;
    int firstVisible = 0;
    POINT lastPointer = {0, 0};   // screen position of the last pointer message in a cell

    // Cell windows exist only for the items in view: [cellFirst, cellEnd) hold windows, and
    // hidden spare cells wait in cellPool to be renumbered for the next items scrolled in.
    PaneGrid grid;
    int scrollPosition = 0;
    int cellFirst = 0;
    int cellEnd = 0;
    std::vector<HWND> cellPool;
    int filledCount = 0;          // items filled by the running load
    // The folder's data file while items name its records (ThumbnailItem::cacheRecord).
    std::shared_ptr<FolderCache> records;
    // Decodes compressed thumbnails back to pixels for the cells coming into view
    // (pane_pixels_win.cpp); made on first use, ended with the pane's windows.
    std::unique_ptr<PixelRestorer> restorer;
    uint32_t nextPixelTicket = 0;
    bool memoryReported = false;  // the lack of memory was told for this folder
    bool loading = false;         // inside loadFolder (also during its cache write)
    // A stop (205 or 206) that reached the pane procedure while a load runs (through a nested
    // modal loop, such as the scroll bar's tracking): the load's pump ends with it.
    LoadStop pendingStop = LoadStop::None;
};
// g_panes[0] is pane 1, g_panes[1] pane 2. The busy states are g_paneBusy (base/app_state.h).
extern ThumbnailPane g_panes[2];
// Pointer-button state: 0 none, 1 left, 2 right pressed in a cell (the folder tree's drop
// handling reads it).
extern std::atomic<int> g_pointerButtonState;

// The pane's windows and grid (pane_window_win.cpp); all on the pane's own thread.
bool createPaneWindows(ThumbnailPane& pane, HWND parent);
void createCells(ThumbnailPane& pane);
void layoutCells(ThumbnailPane& pane, int position);
void setPaneScrollInfo(ThumbnailPane& pane, int position);
void reflowPane(ThumbnailPane& pane);  // keeps the row of the first visible item
void repaintPane(ThumbnailPane& pane);
void repaintItem(ThumbnailPane& pane, int item);
void destroyAllCells(ThumbnailPane& pane);
// The cells in view become hidden spares, for the next layout to hand out again: making a
// cell window costs several times what moving a spare does, and a refresh makes them all.
void spareAllCells(ThumbnailPane& pane);
void updateSelectionText(ThumbnailPane& pane);
void setStatusText(ThumbnailPane& pane, int part, const wchar_t* text, bool withTip);
// Current pitch from the settings: cell size plus text area plus the static edge.
void refreshPanePitch(ThumbnailPane& pane);
// Item index of a cell or text-area window (its control id - 10000), -1 when none.
int itemOfWindow(const ThumbnailPane& pane, HWND window);

// Selection and commands (pane_thread_win.cpp).
void activatePane(ThumbnailPane& pane);
void clearPane(ThumbnailPane& pane);
void removeSelected(ThumbnailPane& pane);
void selectAll(ThumbnailPane& pane, bool on);
LoadStop loadFolder(ThumbnailPane& pane);
LoadStop pumpWhileLoading(ThumbnailPane& pane);
// Input of the cells, text areas and the base window; true when handled with *result.
bool cellInput(ThumbnailPane& pane, HWND window, bool textArea, UINT message, WPARAM wParam, LPARAM lParam);
bool baseInput(ThumbnailPane& pane, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Registers the pane window classes (outer, base, cell and text window of each pane) with
// their procedures; start-up calls it before the pane threads start.
bool registerPaneWindowClasses(HINSTANCE instance);
// The base, cell and text classes (pane_window_win.cpp; part of the call above).
bool registerPaneInnerClasses(HINSTANCE instance);

// The frame's menu-bar keyboard mode, which the pane threads' input hooks take part in: the
// main thread's keyboard hook procedure (the mode behaves the same whichever thread has the
// focus) and the call that ends the mode on a click. Start-up passes them in before the pane
// threads start; without them the hooks pass everything on.
struct PaneMenuBarCalls {
    HOOKPROC keyboardHook = nullptr;
    void (*leaveMode)() = nullptr;
};
void setPaneMenuBarCalls(const PaneMenuBarCalls& calls);

// Thread bodies, started by the application at start-up with no argument. Each installs its
// thread's hooks, creates the pane's windows as children of the client window, posts code
// 100 / 101 with its outer window to the main window, runs its message loop (offering every
// message to the shared accelerator table unless the modal flag is set) and ends when its
// outer window is destroyed (code 206).
DWORD WINAPI paneThread1(LPVOID);
DWORD WINAPI paneThread2(LPVOID);

// Releases a pane's item array and every item's pixels (shutdown, after its thread ended).
void freePaneItems(ThumbnailPane& pane);

// Shutdown: asks pane `index` to end. The pane sees it wherever its load waits (between two
// files, for a decoding thread, for the image lock) and between two records of a cache write
// as well as in its idle loop (code 206 is posted after this); a pane never needs the main
// thread to end.
void requestPaneStop(int index);
// The pane's outer window while its thread runs, from its published snapshot (also before the
// main window heard of it; pane_access_win.cpp).
HWND paneOuterWindow(int index);

// The pane's side of pane_access.h (pane_access_win.cpp), all on the pane's own thread.
// Publishes the pane's current snapshot (counts, the one selected item's kind, folder,
// windows) for the main thread; called after every change of them.
void publishPane(const ThumbnailPane& pane);
// Synchronous questions sent to the outer window: message kPaneQueryMessage, wParam the
// kind, lParam the asker's question block (pane_access_win.cpp), which the pane answers into
// and then releases, whether or not the asker still waits. The pane answers from its idle
// loop, from the pump of a load, while it waits for the image lock and between the records of
// a cache write.
constexpr unsigned kPaneQueryMessage = 0x8000 + 0x40;  // WM_APP + 0x40
// Posted to the outer window by the restorer's threads when decoded pixels wait to be taken.
constexpr unsigned kPanePixelsMessage = 0x8000 + 0x41;

// The pane's pixels (pane_pixels_win.cpp), on the pane's thread. After the view changed:
// drops the pixels of items out of view and margin and asks for those coming into it, the
// view first. Takes the pixels decoded meanwhile into their items and repaints them.
void planPanePixels(ThumbnailPane& pane);
void collectPanePixels(ThumbnailPane& pane);
// Whether slot lies in the view or its margin (a freshly made thumbnail elsewhere keeps only
// its compressed form).
bool keepsPixelsNear(const ThumbnailPane& pane, int slot);
// Before the items are rearranged or released: requests out are forgotten.
void forgetPixelRequests(ThumbnailPane& pane);
// The restorer's threads end (the pane's windows go).
void endPanePixels(ThumbnailPane& pane);
// A file could not be shown for lack of memory: told once per folder (code 150).
void notePaneMemoryShort(ThumbnailPane& pane);
enum PaneQueryKind : unsigned { PaneQuerySelection = 1, PaneQueryRename = 2, PaneQueryAddCounts = 3 };
// Returns 1 (the value the outer window answers) when the query was carried out.
LRESULT answerPaneQuery(ThumbnailPane& pane, WPARAM kind, LPARAM record);
// Code 207: lParam is a folder copy made by postPaneFolder; the pane takes it and frees it.
void takeHandedFolder(ThumbnailPane& pane, LPARAM copy);
// Posts code 207 with a copy of folder to a pane's outer window (false: not posted).
bool postPaneFolder(HWND outerWindow, const wchar_t* folder);
