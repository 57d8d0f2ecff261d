// The folder tree pane: a label, the buttons "追加" and "除外" and the tree control inside the
// frame's base window; it opens tree folders in the thumbnail panes, runs the tree's context
// commands and both kinds of drag. Main thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

constexpr int kTreeLabelId = 410, kTreeAddButtonId = 411, kTreeRemoveButtonId = 412, kTreeControlId = 401;
constexpr UINT_PTR kTreeExpandTimer = 6100;
constexpr int kTreeTop = 36;  // the tree control's y inside the pane

struct FolderTreePaneState {
    HWND pane = nullptr, tree = nullptr, label = nullptr, addButton = nullptr, removeButton = nullptr;
    HTREEITEM paneItem[2] = {};   // the item that stands for each thumbnail pane's folder
    HTREEITEM contextItem = nullptr;
    bool suppressSelection = false;
    int itemHeight = 16, lowerBand = 0;
    bool autoShowRestore = false;
    bool fileDrag = false;        // a file drag from a pane is running (142 seen)
    bool folderDrag = false;      // a tree item is being dragged onto a pane
    HTREEITEM timerItem = nullptr;
    WNDPROC treeProc = nullptr;
};
extern FolderTreePaneState g_treePane;

// Runs a context command for `item` as the context menu would (tests, and the menu itself).
void folderTreeRunCommand(int commandId, HTREEITEM item);
