// The main frame: placement, the rebar and client window, pane layout, the command dispatch and
// the messages that tie the frame to the application core (second-instance hand-over, pane
// handshake, shutdown) and to the pane threads.
#include "frame/main_window.h"

#include <shellapi.h>
#include <windowsx.h>

#include "base/messages.h"
#include "base/settings.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "dialogs/about_box.h"
#include "dialogs/display_info_dialog.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/options_dialog.h"
#include "frame/command_table.h"
#include "frame/external_programs.h"
#include "frame/file_operations.h"
#include "frame/frame_layout.h"
#include "frame/frame_state.h"
#include "frame/handover.h"
#include "frame/key_table.h"
#include "frame/menus.h"
#include "frame/toolbars.h"
#include "frame/tree_pane_frame.h"
#include "frame/wallpaper.h"
#include "thumbs/pane_access.h"
#include "thumbs/pane_settings.h"
#include "tree/tree_access.h"


namespace {

bool (*g_closeHandler)(HWND) = nullptr;
bool g_closing = false;


void postToPane(int pane, unsigned code, LPARAM arg) {
    if (pane >= 0 && pane < 2 && g_paneWindows[pane]) PostMessageW(g_paneWindows[pane], kCrossThreadMessage, code, arg);
}

void placeClientWindow(HWND frame) {
    if (!g_clientWindow) return;
    RECT r;
    GetClientRect(frame, &r);
    const int top = rebarHeight();
    SetWindowPos(g_clientWindow, nullptr, 0, top, r.right, r.bottom > top ? r.bottom - top : 0,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void clientSize(int& w, int& h) {
    RECT r{};
    if (g_clientWindow) GetClientRect(g_clientWindow, &r);
    w = r.right;
    h = r.bottom;
}

void placeTreeAndPanes() {
    int w, h;
    clientSize(w, h);
    placeTreePane(h);
    layoutPanes(w, h);
}

void repaintClientNow() {
    if (g_clientWindow)
        RedrawWindow(g_clientWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The panes take their cell size (the edge, "ThImgW", "ThImgH" and the text-area height) from
// the settings themselves whenever their base window is sized and whenever they list a folder,
// so a changed cell size reaches them through this size message or through a refresh.
void postSizeToBases() {
    for (int i = 0; i < 2; ++i) {
        HWND base = paneBaseWindow(i);
        if (!base) continue;
        RECT r;
        GetClientRect(base, &r);
        PostMessageW(base, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.right, r.bottom));
    }
}

void runModal(void (*dialog)(HWND)) {
    ModalScope modal;
    dialog(g_mainWindow);
}

void scrollActivePane(int code) {
    HWND base = paneBaseWindow(activePane());
    if (!base) return;
    PostMessageW(base, WM_VSCROLL, MAKEWPARAM(code, 0), 0);
    PostMessageW(base, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
}

void applyFilter(int index) {
    if (index < 0 || index > 5 || index == g_fileFilter.load()) return;
    selectFilterEntry(index);
    g_fileFilter.store(index);
    refreshPane(true, activePane(), false);
}

}  // namespace

// ---------------------------------------------------------------- placement and layout

bool registerFrameWindowClasses(HINSTANCE instance) {
    bool ok = registerWindowClass(instance, ClassMain, mainWindowProc);
    ok = registerWindowClass(instance, ClassClient, clientWindowProc) && ok;
    return registerWindowClass(instance, ClassTreeBase, treePaneBaseProc) && ok;
}

void setMainWindowCloseHandler(bool (*handler)(HWND mainWindow)) { g_closeHandler = handler; }

bool mainWindowClosing() { return g_closing; }

RECT mainWorkArea() {
    RECT work = {0, 0, 800, 600};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

HWND createMainWindow(int showCommand, const MainPlacement& p) {
    const RECT work = mainWorkArea();
    const FrameBox box = openingFrameRect(work, p.x, p.y, p.w, p.h, systemNearestWorkArea);
    HWND frame = CreateWindowExW(WS_EX_APPWINDOW, windowClassName(ClassMain), L"Pravel",
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, box.x, box.y, box.w, box.h, nullptr, nullptr,
                                 g_instance ? g_instance : GetModuleHandleW(nullptr), nullptr);
    if (!frame) return nullptr;
    ShowWindow(frame, frameShowCommand(showCommand, g_settings.maximized != 0));
    UpdateWindow(frame);
    return frame;
}

void layoutPanes(int clientWidth, int clientHeight) {
    const PaneLayout layout = computePaneLayout(clientWidth, clientHeight, g_settings.thumbSplit,
                                                g_settings.autoTree != 0, g_settings.treeWidth, g_sizeFrameX);
    if (!layout.valid) return;
    for (int i = 0; i < 2; ++i) {
        HWND pane = g_paneWindows[i];
        if (!pane) continue;
        const PanePlace& p = layout.pane[i];
        // The panes belong to their own threads: never wait for them here.
        SetWindowPos(pane, nullptr, p.x, p.y, p.w, p.h,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS | (p.shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    }
}

void layoutClientArea() {
    if (!g_clientWindow) return;
    RECT r;
    GetClientRect(g_clientWindow, &r);
    layoutPanes(r.right, r.bottom);
}

void setSplit(SplitMode mode) {
    if (mode == g_settings.thumbSplit) return;
    g_settings.thumbSplit = mode;
    placeTreeAndPanes();
    if (mode == SplitMode::Pane1) postToPane(0, CodeActivate, 0);
    else if (mode == SplitMode::Pane2) postToPane(1, CodeActivate, 0);
    refreshToolBarChecks();
}

void toggleAutoTree() {
    g_settings.autoTree = g_settings.autoTree ? 0 : 1;
    showTreePane(!g_settings.autoTree);
    refreshToolBarChecks();
    placeTreeAndPanes();
    repaintClientNow();
}

void refreshPane(bool reset, int pane, bool both) {
    if (g_settings.autoTree) showTreePane(false);
    bool sizeChanged = false;
    if (g_pendingThumbWidth != g_settings.thumbWidth || g_pendingThumbHeight != g_settings.thumbHeight) {
        g_settings.thumbWidth = clampThumbSize(g_pendingThumbWidth);
        g_settings.thumbHeight = clampThumbSize(g_pendingThumbHeight);
        sizeChanged = true;
    }
    auto one = [reset](int p) { paneRefresh(p, reset); };
    one(pane);
    if (both || sizeChanged) one(1 - pane);
}

void applyColumnCount(int columns) {
    int width = 0;
    if (HWND base = paneBaseWindow(activePane())) {
        RECT r;
        GetClientRect(base, &r);
        width = r.right;
    }
    int w, h;
    columnThumbSize(width, columns, w, h);
    setSizeFields(w, h);
    refreshPane(false, activePane(), false);
}

void freeFrameResources() {
    destroyMenus();
    deleteMenuDrawingObjects();
    destroyToolBarResources();
}

// ---------------------------------------------------------------- commands

void onFrameCommand(int id, int code) {
    const int pane = activePane();
    PaneSnapshot snap;
    switch (id) {
    case cmd::FileInfo:
        queryPaneSnapshot(pane, snap);
        if (snap.selected == 1) runModal(showFileInfoDialog);
        return;
    case cmd::Comment: runModal(showCommentDialog); return;
    case cmd::TextData: runModal(showTextDataDialog); return;
    case cmd::Properties: showFileProperties(g_mainWindow); return;
    case cmd::Delete: deleteSelectedFiles(g_mainWindow); return;
    case cmd::Rename: runModal(renameSelectedFile); return;
    case cmd::SelectAll:
        queryPaneSnapshot(pane, snap);
        if (snap.hasItems && g_paneBusy[pane].load() == PaneIdle) postToPane(pane, CodeSelectAll, 0);
        return;
    case cmd::Wallpaper: runModal(showWallpaperDialog); return;
    // Posted: a shortcut pressed in a pane arrives as a message sent by that pane's thread,
    // and a shutdown run inside that send would wait for the very thread that waits for it.
    case cmd::Exit: PostMessageW(g_mainWindow, WM_CLOSE, 0, 0); return;
    case cmd::AutoTree: toggleAutoTree(); return;
    case cmd::Pane1: setSplit(SplitMode::Pane1); return;
    case cmd::Pane2: setSplit(SplitMode::Pane2); return;
    case cmd::BothPanes: setSplit(SplitMode::Both); return;
    case cmd::TextArea:
        g_settings.textArea = g_settings.textArea ? 0 : 1;
        refreshToolBarChecks();
        updateTextAreaHeight(g_settings);
        postSizeToBases();
        return;
    case cmd::InfoSettings: {
        bool ok;
        {
            ModalScope modal;
            ok = showDisplayInfoDialog(g_mainWindow);
        }
        if (ok) {
            updateTextAreaHeight(g_settings);
            postSizeToBases();
            postToPane(0, CodeRepaint, 0);
            postToPane(1, CodeRepaint, 0);
        }
        return;
    }
    case cmd::Refresh: refreshPane(false, pane, true); return;
    case cmd::StopClear:
        postToPane(0, CodeClear, 0);
        postToPane(1, CodeClear, 0);
        return;
    case cmd::Hidden: g_settings.hiddenMask = g_settings.hiddenMask ? 0 : 2; return;
    case cmd::ViewerOpen: openSelectionInViewer(g_mainWindow, L"/v"); return;
    case cmd::ViewerEdit: openSelectionInViewer(g_mainWindow, L"/s"); return;
    case cmd::ViewerFull: openSelectionInViewer(g_mainWindow, L"/f"); return;
    case cmd::SlideShow: startSlideShow(g_mainWindow); return;
    case cmd::Associated: openSelectionWithAssociation(g_mainWindow); return;
    case cmd::Options:
        if (!anyPaneBusy()) runModal(showOptionsDialog);
        return;
    case cmd::ViewerOptions: showViewerOptions(g_mainWindow); return;
    case cmd::Help: showProgramHelp(g_mainWindow); return;
    case cmd::ViewerHelp: showViewerHelp(g_mainWindow); return;
    case cmd::About:
        // The box stays open after this returns and keeps the modal flag set until it closes.
        if (!showAboutBox(g_mainWindow)) showMessage(g_mainWindow, 0);
        return;
    case cmd::ColumnButton: openColumnMenu(); return;
    case cmd::ScrollTop: scrollActivePane(SB_TOP); return;
    case cmd::ScrollBottom: scrollActivePane(SB_BOTTOM); return;
    case cmd::ScrollPageUp: scrollActivePane(SB_PAGEUP); return;
    case cmd::ScrollPageDown: scrollActivePane(SB_PAGEDOWN); return;
    case cmd::ScrollUp: scrollActivePane(SB_LINEUP); return;
    case cmd::ScrollDown: scrollActivePane(SB_LINEDOWN); return;
    case cmd::SwitchPane:
        setSplit(SplitMode::Both);
        postToPane(1 - pane, CodeActivate, 0);
        return;
    case ctl::FieldW:
    case ctl::FieldH: onSizeFieldCommand(id, code); return;
    case ctl::Filter:
        if (code == CBN_SELCHANGE) applyFilter(filterListSelection());
        return;
    default: break;
    }
    if (id >= cmd::Tool1 && id <= cmd::Tool8) {
        runExternalTool(g_mainWindow, id - cmd::Tool1);
    } else if (id >= cmd::Columns2 && id <= cmd::Columns20 && commandIndex(CommandId(id)) >= 0) {
        applyColumnCount(id - cmd::ColumnsBase);
    } else if (id >= cmd::FilterAll && id <= cmd::FilterGif) {
        applyFilter(id - cmd::FilterAll);
    } else if (id >= cmd::TreeShowIn1 && id <= cmd::TreeExplorer) {
        folderTreeCommand(id);
    }
}

// ---------------------------------------------------------------- cross-thread codes

void onFrameCode(unsigned code, LPARAM arg) {
    switch (code) {
    case CodePane1Ready:
    case CodePane2Ready:
        if (onPaneReady(code == CodePane1Ready ? 0 : 1, reinterpret_cast<HWND>(arg))) {
            layoutClientArea();
            openCommandLinePath();
        }
        return;
    case CodeMenuOpenHot:
    case CodeMenuHotLeft:
    case CodeMenuHotRight:
    case CodeMenuFile:
    case CodeMenuView:
    case CodeMenuTools:
    case CodeMenuHelp:
    case CodeMenuReopen: onMenuBarCode(code, arg); return;
    case CodeContextMenu:
        openContextMenu(MenuPosThumbContext, GET_X_LPARAM(arg), GET_Y_LPARAM(arg));
        return;
    case CodeDoubleClick: runDoubleClickAction(g_mainWindow, arg == 1 ? 1 : 0); return;
    case CodeFilesDropped: openDroppedPath(g_mainWindow, reinterpret_cast<HDROP>(arg)); return;
    case CodeToolbarStates: refreshToolBarChecks(); return;
    case CodeRefreshTitle: refreshWindowTitle(); return;
    case CodeShowTree:
        // Only the automatic tree pane follows the pointer; a pinned one stays.
        if (g_settings.autoTree) showTreePane(arg == 1);
        return;
    case CodeActivePaneChanged:
        folderTreeSelectActivePaneFolder();
        refreshWindowTitle();
        return;
    case CodeFileDragBegins: {
        const bool wasOn = g_settings.autoTree != 0;
        folderTreeDragBegins(wasOn);
        if (wasOn) toggleAutoTree();
        return;
    }
    case CodeShowMessage: onShowMessage(arg); return;
    case CodeOpenHeldPath: openHeldPath(); return;
    default: return;
    }
}

// ---------------------------------------------------------------- window procedures

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        g_closing = false;
        g_mainWindow = window;
        g_frame.frame = window;
        createMenuDrawingObjects();
        buildMenus();
        createToolBars(window);
        g_clientWindow = CreateWindowExW(0, windowClassName(ClassClient), L"",
                                         WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, window,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(ctl::Client)),
                                         GetModuleHandleW(nullptr), nullptr);
        g_frame.client = g_clientWindow;
        placeClientWindow(window);
        createTreePaneBase(g_clientWindow);
        placeTreeAndPanes();
        refreshWindowTitle();
        if (!g_settings.autoTree) showTreePane(true);
        return 0;
    }
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            layoutRebar(LOWORD(lParam));
            placeClientWindow(window);
            if (wParam == SIZE_MAXIMIZED) g_settings.maximized = 1;
            else if (wParam == SIZE_RESTORED) g_settings.maximized = 0;
        }
        return 0;
    case WM_ACTIVATE:
        g_mainWindowActive.store(LOWORD(wParam) != WA_INACTIVE ? 1 : 0);
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        SetFocus(window);
        break;
    case WM_COMMAND:
        // While the shutdown waits for the panes it still answers their sends, shortcuts too.
        if (!g_closing) onFrameCommand(LOWORD(wParam), HIWORD(wParam));
        // A command may have changed settings the panes draw with (view flags, split, sizes).
        publishPaneSettings(g_settings);
        return 0;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (handleToolBarNotify(reinterpret_cast<const NMHDR*>(lParam), &result)) return result;
        break;
    }
    case WM_INITMENUPOPUP:
        prepareMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_MEASUREITEM: {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (mis && mis->CtlType == ODT_MENU) {
            menuMeasureItem(mis);
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (dis && dis->CtlType == ODT_MENU) {
            menuDrawItem(dis);
            return TRUE;
        }
        break;
    }
    case WM_MENUCHAR:
        if (HIWORD(wParam) & MF_POPUP) return menuChar(wchar_t(LOWORD(wParam)), reinterpret_cast<HMENU>(lParam));
        break;
    case WM_COPYDATA: return onCopyData(window, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_APP:
        onFrameCode(unsigned(wParam), lParam);
        return 0;
    case WM_SETTINGCHANGE:
        readSystemMetrics();
        refreshMenuMetrics();
        break;
    case WM_CLOSE:
        g_closing = true;
        if (g_closeHandler && !g_closeHandler(window)) return 0;  // a close that arrives while shutting down
        break;  // the default handling destroys the window
    case WM_DESTROY:
        g_clientWindow = nullptr;
        g_frame = FrameWindows{};
        g_mainWindow = nullptr;
        PostQuitMessage(0);
        return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK clientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_SIZE:
        placeTreePane(HIWORD(lParam));
        layoutPanes(LOWORD(lParam), HIWORD(lParam));
        return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
