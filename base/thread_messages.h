// Codes of the cross-thread messages. Every message between the main thread and the pane
// threads is WM_APP (0x8000) with the code in wParam and an argument in lParam.
#pragma once

constexpr unsigned kCrossThreadMessage = 0x8000;  // WM_APP

enum CrossThreadCode : unsigned {
    // pane -> main window (posted)
    CodePane1Ready = 100,       // lParam: pane 1's outer window
    CodePane2Ready = 101,       // lParam: pane 2's outer window
    CodeMenuOpenHot = 110,
    CodeMenuHotLeft = 111,
    CodeMenuHotRight = 112,
    CodeMenuFile = 113,
    CodeMenuView = 114,
    CodeMenuTools = 115,
    CodeMenuHelp = 116,
    CodeMenuReopen = 120,
    CodeContextMenu = 121,      // lParam: screen x low 16 bits, y high 16 bits
    CodeDoubleClick = 122,      // lParam: pane index 0 or 1
    CodeFilesDropped = 130,     // lParam: drop handle
    CodeToolbarStates = 131,
    CodeRefreshTitle = 132,
    CodeShowTree = 140,         // lParam: 1 show, otherwise hide
    CodeActivePaneChanged = 141,
    CodeFileDragBegins = 142,
    CodeShowMessage = 150,      // lParam: message id
    // main thread -> main window (posted when a modal state ends)
    CodeOpenHeldPath = 160,     // open the path handed over while a modal dialog was open
    // main thread -> pane outer window (posted)
    CodeActivate = 200,
    CodeSelectAll = 201,
    CodeRepaint = 202,
    CodeRemoveSelected = 203,
    CodeLoadFolder = 204,       // lParam: reset flag
    CodeClear = 205,
    CodeEndThread = 206,        // shutdown (after the stop request, see requestPaneStop)
    CodeTakeFolder = 207,       // lParam: the folder to show next (postPaneFolder); 205, 204 follow
};
