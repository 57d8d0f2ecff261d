// What the main thread may know of a thumbnail pane and ask of it. Each pane's thread owns
// its item array, folder, selection and scroll position; every other thread goes through
// these calls and never touches g_panes[...] fields directly. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/settings.h"
#include "thumbs/thumbnail_item.h"

// What the menus and tool bar need to know about a pane.
struct PaneSnapshot {
    bool hasItems = false;         // the pane has an item array
    int selected = 0;              // selected count
    int total = 0;                 // item count
    int32_t selectedFormat = 0;    // ImageFormat of the one selected item (when selected == 1)
    bool selectedHasText = false;  // the one selected item carries text data (Exif / PNG text)
    wchar_t folder[kPathCapacity] = {};  // a copy of the folder shown, "" for none
};
// Fills `out` for pane 0 or 1; false (and a cleared record) when the pane is not known.
bool queryPaneSnapshot(int pane, PaneSnapshot& out);

// A copy of one item: its windows and pixels are cleared (never owned by the copy).
struct PaneItemCopy {
    int index = -1;
    ThumbnailItem item;
};

// The selection of a pane, copied at the moment of the call.
struct PaneSelection {
    std::wstring folder;                // the folder shown, "" for none
    bool hasItems = false;              // the pane has an item array
    int total = 0;                      // item count
    std::wstring firstItemName;         // the item at index 0, selected or not ("" when none)
    std::vector<PaneItemCopy> selected; // every selected item, in list order
};
// False (and a cleared record) when the pane is not known or does not answer. A pane that
// does not answer within the query wait (5 s) is reported to the user (message 8, shown by the
// main window after the calling command), and the caller then acts as if nothing were selected:
// a command never runs on part of a selection.
bool queryPaneSelection(int pane, PaneSelection& out);

// A copy of the pane's folder ("" for none).
std::wstring paneFolder(int pane);
// The pane's base (scrolling) window, or nullptr before the pane exists.
HWND paneBaseWindow(int pane);

// Requests to a pane. The pane carries them out on its own thread.
// Shows `folder` in the pane from the top: the pane takes the folder, stops and clears
// (205), then loads (204 with the new-folder flag). An empty folder clears the pane.
void paneOpenFolder(int pane, const wchar_t* folder);
// Reloads the pane's own folder (205 then 204); `reset` starts at the top again.
void paneRefresh(int pane, bool reset);
// Removes the selected items (203), after a delete.
void paneRemoveSelected(int pane);
// Every item named `oldName` takes `newName` and is repainted; waits for the pane.
// False when the pane did not answer in time (the caller then lists the folder again); a pane
// that still comes to the question renames the items, as long as it shows the same folder.
bool paneRenameItems(int pane, const wchar_t* oldName, const wchar_t* newName);
// Repaints one item (after its file changed, e.g. a comment was saved).
void paneRepaintItem(int pane, int index);
// Repaints the whole pane (202), e.g. after the selection colour changed.
void paneRepaint(int pane);
// After a comment was written into an item's file: adds the changes to the item's comment
// and text counts (never below 0) and takes the file's new size and date, when the item at
// `index` is still the file `name` of the same folder; the cell is repainted. False when the
// pane did not answer in time, as for a rename.
bool paneItemRewritten(int pane, int index, const wchar_t* name, int commentDelta, int metaDelta, uint32_t fileSize,
                       const FileTime& lastWriteTime);

// The longest wait for a pane's answer (5000 ms; tests shorten it).
void setPaneQueryWait(uint32_t milliseconds);
// Question blocks not yet freed: asked and still waiting, or given up on and not yet answered.
int paneQueriesAlive();
