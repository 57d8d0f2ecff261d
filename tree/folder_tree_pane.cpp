#include "tree/folder_tree_pane.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windowsx.h>

#include <cwchar>
#include <string>

#include "base/win_state.h"
#include "base/messages.h"
#include "base/settings.h"
#include "base/text_utils.h"
#include "base/win_handles.h"
#include "frame/command_lines.h"
#include "frame/command_table.h"
#include "frame/external_programs.h"
#include "frame/file_operations.h"
#include "frame/frame_layout.h"
#include "frame/frame_state.h"
#include "frame/main_window.h"
#include "frame/menus.h"
#include "frame/tree_pane_frame.h"
#include "thumbs/pane.h"
#include "thumbs/pane_access.h"
#include "tree/folder_tree_model.h"
#include "tree/tree_access.h"

FolderTreePaneState g_treePane;

namespace {

// Items that a longer operation notes before it collapses parts of the tree; the delete
// notification clears whichever of them goes away, so no stale handle is ever used.
constexpr int kWatchSlots = 4;
HTREEITEM* g_watched[kWatchSlots] = {};

struct WatchScope {
    int slot;
    explicit WatchScope(HTREEITEM* item) : slot(-1) {
        for (int i = 0; i < kWatchSlots; ++i)
            if (!g_watched[i]) {
                g_watched[i] = item;
                slot = i;
                return;
            }
    }
    ~WatchScope() {
        if (slot >= 0) g_watched[slot] = nullptr;
    }
    WatchScope(const WatchScope&) = delete;
    WatchScope& operator=(const WatchScope&) = delete;
};

HWND tree() { return g_treePane.tree; }
bool shiftDown() { return GetKeyState(VK_SHIFT) < 0; }

LRESULT treeSend(UINT msg, WPARAM wp, LPARAM lp) { return tree() ? SendMessageW(tree(), msg, wp, lp) : 0; }
HTREEITEM caretItem() { return reinterpret_cast<HTREEITEM>(treeSend(TVM_GETNEXTITEM, TVGN_CARET, 0)); }
HTREEITEM parentOf(HTREEITEM item) {
    return item ? reinterpret_cast<HTREEITEM>(treeSend(TVM_GETNEXTITEM, TVGN_PARENT, LPARAM(item))) : nullptr;
}
HTREEITEM nextVisible(HTREEITEM item) {
    return item ? reinterpret_cast<HTREEITEM>(treeSend(TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, LPARAM(item))) : nullptr;
}
HTREEITEM previousVisible(HTREEITEM item) {
    return item ? reinterpret_cast<HTREEITEM>(treeSend(TVM_GETNEXTITEM, TVGN_PREVIOUSVISIBLE, LPARAM(item)))
                : nullptr;
}
bool hasChild(HTREEITEM item) { return treeSend(TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(item)) != 0; }
void setDropHighlight(HTREEITEM item) { treeSend(TVM_SELECTITEM, TVGN_DROPHILITE, LPARAM(item)); }
void expandItem(HTREEITEM item) { treeSend(TVM_EXPAND, TVE_EXPAND, LPARAM(item)); }
void collapseReset(HTREEITEM item) { treeSend(TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, LPARAM(item)); }

void selectSuppressed(HTREEITEM item) {
    const bool was = g_treePane.suppressSelection;
    g_treePane.suppressSelection = true;
    treeSend(TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
    g_treePane.suppressSelection = was;
}

bool equalPath(const wchar_t* a, const wchar_t* b) { return samePath(a, b); }

// A pane shows `folder` or a folder inside it.
bool paneShowsInside(int pane, const wchar_t* folder) {
    const std::wstring shown = paneFolder(pane);
    return !shown.empty() && folderContains(folder, shown.c_str()) >= 0;
}
bool busyPaneShowsInside(const wchar_t* folder) {
    for (int i = 0; i < 2; ++i)
        if (g_paneBusy[i].load() != PaneIdle && paneShowsInside(i, folder)) return true;
    return false;
}

// Folders that are never renamed or deleted from the tree: a volume root (a drive, a share,
// a mounted volume), a system folder, and any folder that is or holds one of the shell's
// special folders (the profile, its documents and pictures, the system's own folders).
bool protectedFolder(const wchar_t* path) {
    if (PathIsRootW(path) || PathIsSystemFolderW(path, 0)) return true;
    wchar_t volume[kPathCapacity] = {};
    if (GetVolumePathNameW(path, volume, kPathCapacity) && samePath(volume, path)) return true;
    static const int kSpecial[] = {
        CSIDL_PROFILE,         CSIDL_DESKTOPDIRECTORY,        CSIDL_PERSONAL,         CSIDL_MYPICTURES,
        CSIDL_MYMUSIC,         CSIDL_MYVIDEO,                 CSIDL_FAVORITES,        CSIDL_APPDATA,
        CSIDL_LOCAL_APPDATA,   CSIDL_STARTMENU,               CSIDL_SENDTO,           CSIDL_TEMPLATES,
        CSIDL_WINDOWS,         CSIDL_SYSTEM,                  CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILES_COMMON,
        CSIDL_COMMON_APPDATA,  CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS, CSIDL_FONTS,
    };
    for (int csidl : kSpecial) {
        wchar_t special[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, special)) && special[0] &&
            folderContains(path, special) >= 0)
            return true;
    }
    return false;
}

// Rename and delete: an existing directory that is not the Desktop, not protected, and not
// shown (itself or inside) by a busy pane.
bool mayChangeFolder(HTREEITEM item, wchar_t* path) {
    if (!item || item == g_treeModel.desktop || !treePathOfItem(item, path)) return false;
    if (protectedFolder(path)) return false;
    return !busyPaneShowsInside(path);
}

void hideAutoTree() {
    if (g_settings.autoTree && g_treePaneShown.load()) showTreePane(false);
}

void openInPane(int pane, HTREEITEM item, const wchar_t* path) {
    g_treePane.paneItem[pane] = item;
    paneOpenFolder(pane, path);
    hideAutoTree();
}

void resetPane(int pane) {
    g_treePane.paneItem[pane] = g_treeModel.registeredRoot;
    if (pane == activePane()) selectSuppressed(g_treeModel.registeredRoot);
    paneOpenFolder(pane, L"");
}

void reselectIfActive(int pane) {
    if (pane == activePane() && g_treePane.paneItem[pane]) selectSuppressed(g_treePane.paneItem[pane]);
}

void updateButtons() {
    HTREEITEM item = caretItem();
    if (g_treePane.addButton) EnableWindow(g_treePane.addButton, item && treeIsAddable(item));
    if (g_treePane.removeButton) EnableWindow(g_treePane.removeButton, item && treeIsRegistered(item));
}

void addRegistered(HTREEITEM item) {
    wchar_t path[kPathCapacity];
    if (!item || !treeIsAddable(item) || !treeRawPathOfItem(item, path)) return;
    HTREEITEM added = nullptr;
    if (treeAddRegisteredFolder(path, &added) == AddResult::ListFull) MessageBeep(MB_ICONWARNING);
    updateButtons();
}

void removeWithPaneFixUp(HTREEITEM x) {
    if (!x) return;
    bool affected[2] = {false, false};
    for (int n = 0; n < 2; ++n) {
        const FolderNode* node = treeNodeOf(g_treePane.paneItem[n]);
        if (!node || node->kind != NodePath) continue;
        for (HTREEITEM a = g_treePane.paneItem[n]; a; a = parentOf(a))
            if (a == x) affected[n] = true;
    }
    if (!treeRemoveRegisteredFolder(x)) return;
    for (int n = 0; n < 2; ++n) {
        if (affected[n]) resetPane(n);
        else reselectIfActive(n);
    }
    updateButtons();
}

void showInPane(int pane, HTREEITEM item) {
    wchar_t path[kPathCapacity];
    if (!item || !treePathOfItem(item, path)) return;
    if (pane == activePane()) selectSuppressed(item);
    if (equalPath(path, paneFolder(pane).c_str())) return;
    openInPane(pane, item, path);
}

void explore(HTREEITEM item) {
    const FolderNode* node = treeNodeOf(item);
    if (!node || (node->kind == NodePath && node->role == RoleRegisteredRoot)) return;
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_FLAG_DDEWAIT;
    sei.lpVerb = L"explore";
    sei.nShow = SW_SHOW;
    if (node->kind == NodeShell) {
        sei.fMask |= SEE_MASK_IDLIST;
        sei.lpIDList = node->absolute;
    } else {
        sei.lpFile = node->path;
    }
    BOOL ok;
    {
        ModalScope modal;
        ok = ShellExecuteExW(&sei);
    }
    if (!ok) showMessage(g_mainWindow, MsgRunFailed);
}

void deleteFolder(HTREEITEM x) {
    wchar_t path[kPathCapacity];
    if (!mayChangeFolder(x, path)) return;
    std::wstring list(path);
    list.push_back(L'\0');
    list.push_back(L'\0');
    {
        ModalScope modal;
        recycleList(g_mainWindow, list);
    }
    // Done only when the folder is really gone: a shell may report success for a folder it
    // could not remove, and a cancel part-way may have removed it all the same.
    if (pathExists(path)) return;
    selectSuppressed(nullptr);
    HTREEITEM item = nextVisible(g_treeModel.desktop);
    for (int guard = 0; item && guard < 1000000; ++guard) {
        wchar_t p[kPathCapacity];
        if (!treeRawPathOfItem(item, p) || !equalPath(p, path)) {
            item = nextVisible(item);
            continue;
        }
        HTREEITEM before = previousVisible(item);
        if (treeIsRegistered(item)) {
            treeRemoveRegisteredFolder(item);
        } else {
            HTREEITEM parent = parentOf(item);
            WatchScope watch(&parent);
            treeSend(TVM_DELETEITEM, 0, LPARAM(item));
            if (parent && !hasChild(parent)) treeResetChildren(parent, 0);
        }
        item = nextVisible(before);
    }
    bool reset[2] = {false, false};
    for (int n = 0; n < 2; ++n)
        if (paneShowsInside(n, path)) {
            resetPane(n);
            reset[n] = true;
        }
    for (int n = 0; n < 2; ++n)
        if (!reset[n]) reselectIfActive(n);
    updateButtons();
}

void newOrRenameFolder(int command, HTREEITEM item) {
    wchar_t path[kPathCapacity];
    if (!item) return;
    if (command == cmd::TreeNewFolder) {
        if (!(treeIsAddable(item) || treeIsRegistered(item)) || !treePathOfItem(item, path)) return;
    } else if (!mayChangeFolder(item, path)) {
        return;
    }
    ModalScope modal;
    runNameDialog(g_mainWindow, command, activePane(), path);
}

// ---------------------------------------------------------------- file drags

HCURSOR dragCursor(int mode) { return mode == 1 ? g_appCursors[1] : g_appCursors[0]; }
HCURSOR noDropCursor() { return g_notAllowedCursor ? g_notAllowedCursor : LoadCursorW(nullptr, IDC_NO); }

bool pointInWindow(HWND window, POINT screen) {
    if (!window || !IsWindowVisible(window)) return false;
    RECT r;
    GetWindowRect(window, &r);
    return PtInRect(&r, screen) != 0;
}

HWND paneWindow(int pane) {
    HWND w = g_paneWindows[pane];
    return w ? w : g_panes[pane].outerWindow;
}

// The item under a point of the tree's client area (null outside it); *flags, when asked,
// receives the hit-test flags.
HTREEITEM itemAt(POINT client, UINT* flags = nullptr) {
    RECT rc;
    GetClientRect(tree(), &rc);
    if (!PtInRect(&rc, client)) return nullptr;
    TVHITTESTINFO hit{};
    hit.pt = client;
    treeSend(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (flags) *flags = hit.flags;
    return hit.hItem;
}

void killExpandTimer() {
    if (g_treePane.timerItem && g_treePane.pane) KillTimer(g_treePane.pane, kTreeExpandTimer);
    g_treePane.timerItem = nullptr;
}

void finishFileDrag() {
    killExpandTimer();
    setDropHighlight(nullptr);
    g_treePane.contextItem = nullptr;
    if (GetCapture() == tree()) ReleaseCapture();
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    if (g_treePane.autoShowRestore) {
        g_treePane.autoShowRestore = false;
        if (!g_settings.autoTree) toggleAutoTree();
    }
    g_pointerButtonState.store(0);
    g_treePane.fileDrag = false;
}

// ---------------------------------------------------------------- notifications

void onSelectionChanged(HTREEITEM item) {
    if (!g_treePane.suppressSelection && item) {
        wchar_t path[kPathCapacity];
        if (treePathOfItem(item, path)) {
            const int target = shiftDown() ? 1 - activePane() : activePane();
            if (!equalPath(path, paneFolder(target).c_str())) openInPane(target, item, path);
        }
    }
    if (item) treeSend(TVM_ENSUREVISIBLE, 0, LPARAM(item));
    updateButtons();
}

void onItemDeleted(HTREEITEM item, LPARAM param) {
    treeFreeNode(reinterpret_cast<FolderNode*>(param));
    for (int n = 0; n < 2; ++n)
        if (g_treePane.paneItem[n] == item)
            g_treePane.paneItem[n] = item == g_treeModel.registeredRoot ? nullptr : g_treeModel.registeredRoot;
    if (g_treePane.contextItem == item) g_treePane.contextItem = nullptr;
    if (g_treePane.timerItem == item) killExpandTimer();
    for (HTREEITEM* w : g_watched)
        if (w && *w == item) *w = nullptr;
    if (item == g_treeModel.registeredRoot) g_treeModel.registeredRoot = nullptr;
    if (item == g_treeModel.desktop) g_treeModel.desktop = nullptr;
}

bool g_inExpanding = false;

LRESULT onTreeNotify(NMHDR* hdr) {
    switch (hdr->code) {
    case TVN_DELETEITEMW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        onItemDeleted(nm->itemOld.hItem, nm->itemOld.lParam);
        return 0;
    }
    case TVN_ITEMEXPANDINGW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        HTREEITEM item = nm->itemNew.hItem;
        if (g_inExpanding || !item) return 0;
        g_inExpanding = true;
        LRESULT result = 0;
        if ((nm->action & 3) == TVE_COLLAPSE) {
            collapseReset(item);
            result = TRUE;  // already collapsed, children discarded
        } else if ((nm->action & 3) == TVE_EXPAND && !hasChild(item)) {
            treePopulate(item);
        }
        g_inExpanding = false;
        return result;
    }
    case TVN_GETDISPINFOW: {
        auto* di = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        if (di->item.mask & TVIF_CHILDREN) {
            di->item.cChildren = treeChildrenOnDemand(reinterpret_cast<const FolderNode*>(di->item.lParam));
            di->item.mask |= TVIF_DI_SETITEM;
        }
        return 0;
    }
    case TVN_SELCHANGEDW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        onSelectionChanged(nm->itemNew.hItem);
        return 0;
    }
    case TVN_BEGINDRAGW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (g_treePane.fileDrag) return 0;
        g_treePane.contextItem = nm->itemNew.hItem;
        g_treePane.folderDrag = true;
        setDropHighlight(nm->itemNew.hItem);
        SetCursor(dragCursor(1));
        SetCapture(g_treePane.pane);
        return 0;
    }
    default: return 0;
    }
}

void endFolderDrag(POINT paneClient) {
    g_treePane.folderDrag = false;
    if (GetCapture() == g_treePane.pane) ReleaseCapture();
    setDropHighlight(nullptr);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    HTREEITEM item = g_treePane.contextItem;
    wchar_t path[kPathCapacity];
    if (item && treePathOfItem(item, path) && g_clientWindow) {
        POINT pt = paneClient;
        MapWindowPoints(g_treePane.pane, g_clientWindow, &pt, 1);
        HWND child = ChildWindowFromPointEx(g_clientWindow, pt, CWP_SKIPINVISIBLE);
        for (int n = 0; n < 2; ++n) {
            if (!child || child != paneWindow(n)) continue;
            if (n == activePane()) selectSuppressed(item);
            if (!equalPath(path, paneFolder(n).c_str())) openInPane(n, item, path);
        }
    }
    g_treePane.contextItem = nullptr;
}

// A file drag runs from code 142 until its button comes up; a drag whose release never
// reached the tree (the pointer was not handed over) ends with the pane's own release.
bool fileDragRunning() {
    if (g_treePane.fileDrag && g_pointerButtonState.load() == 0) g_treePane.fileDrag = false;
    return g_treePane.fileDrag;
}

void openContextMenuAt(POINT screen) {
    if (fileDragRunning() || !tree()) return;
    if (screen.x == -1 && screen.y == -1) GetCursorPos(&screen);
    POINT client = screen;
    ScreenToClient(tree(), &client);
    HTREEITEM item = itemAt(client);
    if (!item || item == g_treeModel.registeredRoot) return;
    HMENU menu = popupMenu(MenuPosTreeContext);
    if (!menu) return;
    g_treePane.contextItem = item;
    setDropHighlight(item);
    int command = 0;
    {
        const OpenMenuScope open(kMenuOpenTreeContext);
        command = int(TrackPopupMenuEx(menu, TPM_NOANIMATION | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON |
                                                 TPM_RETURNCMD,
                                       screen.x, screen.y, g_treePane.pane, nullptr));
    }
    setDropHighlight(nullptr);
    if (command) folderTreeRunCommand(command, g_treePane.contextItem);
    g_treePane.contextItem = nullptr;
}

void setPaneTargetCursor() {
    const int target = shiftDown() ? 1 - activePane() : activePane();
    SetCursor(g_appCursors[2 + target]);
}

bool cursorOverTree() {
    POINT pt;
    return GetCursorPos(&pt) && WindowFromPoint(pt) == tree();
}

// A file-drag pointer move / button release over the tree (client coordinates).
void treeFileDragMove(POINT client);
void treeFileDrop(POINT client);

// The bands at the tree's top and bottom edges where a file drag scrolls, for a control of
// client height `height`.
void noteTreeHeight(int height) {
    g_treePane.itemHeight = int(treeSend(TVM_GETITEMHEIGHT, 0, 0));
    g_treePane.lowerBand = height - g_treePane.itemHeight - GetSystemMetrics(SM_CXHSCROLL);
}

LRESULT CALLBACK treeSubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    const WNDPROC original = g_treePane.treeProc;
    switch (msg) {
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && !fileDragRunning()) {
            setPaneTargetCursor();
            return TRUE;
        }
        break;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        const LRESULT r = CallWindowProcW(original, window, msg, wParam, lParam);
        if (wParam == VK_SHIFT && !fileDragRunning() && cursorOverTree()) setPaneTargetCursor();
        return r;
    }
    case WM_SIZE: {
        const LRESULT r = CallWindowProcW(original, window, msg, wParam, lParam);
        noteTreeHeight(HIWORD(lParam));
        return r;
    }
    case WM_MOUSEMOVE: {
        const int mode = g_pointerButtonState.load();
        if ((mode == 1 && (wParam & MK_LBUTTON)) || (mode == 2 && (wParam & MK_RBUTTON))) {
            treeFileDragMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        }
        break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: {
        // The button that started a file drag ends it here; the control never saw its press.
        const int mode = g_pointerButtonState.load();
        if ((msg == WM_LBUTTONUP && mode == 1) || (msg == WM_RBUTTONUP && mode == 2)) {
            treeFileDrop(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        }
        break;
    }
    case WM_CAPTURECHANGED:
        if (g_treePane.fileDrag && reinterpret_cast<HWND>(lParam) != window && g_pointerButtonState.load() == 0)
            finishFileDrag();
        break;
    case WM_DROPFILES: {
        auto drop = reinterpret_cast<HDROP>(wParam);
        // The frame's own drop handling, which refuses a path too long to come back whole.
        if (anyPaneBusy()) DragFinish(drop);
        else openDroppedPath(g_mainWindow, drop);
        return 0;
    }
    case WM_DESTROY:
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        return CallWindowProcW(original, window, msg, wParam, lParam);
    default: break;
    }
    return CallWindowProcW(original, window, msg, wParam, lParam);
}

HWND createControl(DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
                   HWND parent, int id) {
    HWND c = CreateWindowExW(exStyle, cls, text, style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    HFONT font = g_uiFont ? g_uiFont : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    if (c) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return c;
}

// The label's text in the shared font, or in the largest smaller size of the same face that
// fits its fixed 62 pixels (faces with wider kana would otherwise cut it).
HFONT g_labelFont = nullptr;
void fitLabelFont(HWND label) {
    if (!label) return;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    if (!font || !GetObjectW(font, sizeof lf, &lf)) return;
    RECT rc;
    GetClientRect(label, &rc);
    wchar_t text[32] = {};
    GetWindowTextW(label, text, 32);
    const WindowDC dc(label);
    if (!dc) return;
    const int height = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
    for (int h = height; h >= 9; --h) {
        lf.lfHeight = -h;
        lf.lfWidth = 0;
        // A smaller face made here is deleted unless the label keeps it.
        OwnedFont made(h == height ? nullptr : CreateFontIndirectW(&lf));
        const HFONT candidate = h == height ? font : made.get();
        if (!candidate) break;
        SIZE size{};
        {
            const SelectedObject measured(dc.get(), candidate);
            GetTextExtentPoint32W(dc.get(), text, int(std::wcslen(text)), &size);
        }
        if (size.cx <= rc.right || h == 9) {
            if (made) {
                SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(candidate), FALSE);
                if (g_labelFont) DeleteObject(g_labelFont);
                g_labelFont = made.release();
            }
            break;
        }
    }
}

// ---------------------------------------------------------------- file drags onto the tree

void treeFileDragMove(POINT client) {
    if (!tree()) return;
    const int mode = g_pointerButtonState.load();
    g_treePane.fileDrag = true;
    UINT flags = 0;
    HTREEITEM item = itemAt(client, &flags);
    if (item && (flags & TVHT_ONITEMBUTTON)) {
        if (g_treePane.timerItem != item) {
            SetTimer(g_treePane.pane, kTreeExpandTimer, 800, nullptr);
            g_treePane.timerItem = item;
        }
    } else {
        killExpandTimer();
    }
    if (item) {
        if (item != g_treePane.contextItem) {
            treeSend(TVM_ENSUREVISIBLE, 0, LPARAM(item));
            if (client.y < g_treePane.itemHeight) {
                if (HTREEITEM p = previousVisible(item)) treeSend(TVM_ENSUREVISIBLE, 0, LPARAM(p));
            } else if (client.y > g_treePane.lowerBand) {
                if (HTREEITEM n = nextVisible(item)) treeSend(TVM_ENSUREVISIBLE, 0, LPARAM(n));
            }
            setDropHighlight(item);
            g_treePane.contextItem = item;
        }
    } else {
        killExpandTimer();
        setDropHighlight(nullptr);
        g_treePane.contextItem = nullptr;
    }

    const int source = activePane();
    const std::wstring sourceFolder = paneFolder(source);
    bool allowed = false;
    if (item) {
        wchar_t path[kPathCapacity];
        allowed = item != g_treeModel.registeredRoot && treePathOfItem(item, path) &&
                  !equalPath(path, sourceFolder.c_str());
    } else {
        POINT screen = client;
        ClientToScreen(tree(), &screen);
        const std::wstring other = paneFolder(1 - source);
        allowed = pointInWindow(paneWindow(source), screen) ||
                  (pointInWindow(paneWindow(1 - source), screen) && !other.empty() && !samePath(other.c_str(), sourceFolder.c_str()));
    }
    SetCursor(allowed ? dragCursor(mode) : noDropCursor());
}

void treeFileDrop(POINT client) {
    const int mode = g_pointerButtonState.load();
    const int source = activePane(), other = 1 - source;
    killExpandTimer();
    HTREEITEM item = tree() ? itemAt(client) : nullptr;
    const std::wstring sourceFolder = paneFolder(source);
    const std::wstring otherFolder = paneFolder(other);
    if (item) {
        wchar_t path[kPathCapacity];
        if (item != g_treeModel.registeredRoot && treePathOfItem(item, path) && !equalPath(path, sourceFolder.c_str())) {
            copyOrMoveSelection(g_mainWindow, mode, source, path);
        }
        setDropHighlight(nullptr);
        g_treePane.contextItem = nullptr;
    } else if (tree()) {
        POINT screen = client;
        ClientToScreen(tree(), &screen);
        if (g_settings.thumbSplit == SplitMode::Both && !otherFolder.empty() && !equalPath(otherFolder.c_str(), sourceFolder.c_str()) &&
            pointInWindow(paneWindow(other), screen)) {
            copyOrMoveSelection(g_mainWindow, mode, source, otherFolder.c_str());
        }
    }
    finishFileDrag();
}

}  // namespace

// ---------------------------------------------------------------- commands

void folderTreeRunCommand(int commandId, HTREEITEM item) {
    g_treePane.contextItem = item;
    switch (commandId) {
    case kTreeAddButtonId:
    case cmd::TreeRegister: addRegistered(item); break;
    case kTreeRemoveButtonId:
    case cmd::TreeUnregister: removeWithPaneFixUp(item); break;
    case cmd::TreeShowIn1: showInPane(0, item); break;
    case cmd::TreeShowIn2: showInPane(1, item); break;
    case cmd::TreeNewFolder:
    case cmd::TreeRenameFolder: newOrRenameFolder(commandId, item); break;
    case cmd::TreeDeleteFolder: deleteFolder(item); break;
    case cmd::Hidden: g_settings.hiddenMask = g_settings.hiddenMask == 0 ? 2 : 0; break;
    case cmd::TreeExplorer: explore(item); break;
    default: break;
    }
    g_treePane.contextItem = nullptr;
}

// ---------------------------------------------------------------- entry points of the frame

void createFolderTreeContents(HWND pane) {
    g_treePane = FolderTreePaneState{};
    g_treePane.pane = pane;
    RECT rc{};
    GetClientRect(pane, &rc);
    g_treePane.label = createControl(0, L"STATIC", L"登録フォルダ",
                                     WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_ENDELLIPSIS, 6, 17, 62, 19, pane,
                                     kTreeLabelId);
    fitLabelFont(g_treePane.label);
    g_treePane.addButton = createControl(0, L"BUTTON", L"追加", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
                                         69, 12, 40, 22, pane, kTreeAddButtonId);
    g_treePane.removeButton = createControl(0, L"BUTTON", L"除外",
                                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_PUSHBUTTON, 109, 12, 40, 22,
                                            pane, kTreeRemoveButtonId);
    const int h = rc.bottom > kTreePaneToolsHeight ? rc.bottom - kTreePaneToolsHeight : 0;
    g_treePane.tree = createControl(WS_EX_STATICEDGE | WS_EX_ACCEPTFILES, WC_TREEVIEWW, L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TVS_HASBUTTONS | TVS_HASLINES |
                                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                    0, kTreeTop, rc.right, h, pane, kTreeControlId);
    if (!g_treePane.tree) return;
    SendMessageW(g_treePane.tree, TVM_SETUNICODEFORMAT, TRUE, 0);
    g_treePane.treeProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_treePane.tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(treeSubclassProc)));
    noteTreeHeight(h);

    treeInitialise(g_treePane.tree);
    HTREEITEM root = treeInsertRegisteredRoot();
    g_treePane.paneItem[0] = g_treePane.paneItem[1] = root;
    selectSuppressed(root);
    if (g_settings.expandDesktop && g_treeModel.desktop) expandItem(g_treeModel.desktop);
    if (g_treePane.paneItem[0]) expandItem(g_treePane.paneItem[0]);
    updateButtons();
}

void layoutFolderTreeContents(int width, int height, int stripHeight) {
    if (!g_treePane.tree) return;
    const int h = height > stripHeight ? height - stripHeight : 0;
    SetWindowPos(g_treePane.tree, nullptr, 0, kTreeTop, width, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool folderTreePaneMessage(HWND pane, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (!hdr || hdr->idFrom != UINT_PTR(kTreeControlId) || hdr->hwndFrom != g_treePane.tree) return false;
        *result = onTreeNotify(hdr);
        return true;
    }
    case WM_CONTEXTMENU:
        openContextMenuAt(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        *result = 0;
        return true;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == kTreeAddButtonId || id == kTreeRemoveButtonId) {
            if (HIWORD(wParam) == BN_CLICKED) folderTreeRunCommand(id, caretItem());
        } else if ((id >= cmd::TreeShowIn1 && id <= cmd::TreeExplorer) || id == cmd::Hidden) {
            folderTreeRunCommand(id, g_treePane.contextItem);
        } else {
            return false;
        }
        *result = 0;
        return true;
    }
    case WM_TIMER:
        if (wParam != kTreeExpandTimer) return false;
        KillTimer(pane, kTreeExpandTimer);
        g_treePane.timerItem = nullptr;
        if (g_treePane.contextItem) expandItem(g_treePane.contextItem);
        *result = 0;
        return true;
    case WM_INITMENUPOPUP:
        prepareMenu(reinterpret_cast<HMENU>(wParam));
        *result = 0;
        return true;
    case WM_MEASUREITEM: {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (!mis || mis->CtlType != ODT_MENU) return false;
        menuMeasureItem(mis);
        *result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (!dis || dis->CtlType != ODT_MENU) return false;
        menuDrawItem(dis);
        *result = TRUE;
        return true;
    }
    case WM_MENUCHAR:
        *result = menuChar(wchar_t(LOWORD(wParam)), reinterpret_cast<HMENU>(lParam));
        return true;
    case WM_MOUSEMOVE:
        if (!g_treePane.folderDrag) return false;
        SetCursor(dragCursor(1));
        *result = 0;
        return true;
    case WM_LBUTTONUP:
        if (!g_treePane.folderDrag) return false;
        endFolderDrag(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        *result = 0;
        return true;
    case WM_CAPTURECHANGED:
        if (g_treePane.folderDrag && reinterpret_cast<HWND>(lParam) != pane) {
            g_treePane.folderDrag = false;
            setDropHighlight(nullptr);
            g_treePane.contextItem = nullptr;
        }
        return false;
    case WM_DESTROY:
        killExpandTimer();
        return false;
    case WM_NCDESTROY:
        treeReleaseModel();
        if (g_labelFont) DeleteObject(g_labelFont);
        g_labelFont = nullptr;
        g_treePane = FolderTreePaneState{};
        return false;
    default: return false;
    }
}

bool queryTreeMenuState(TreeMenuState& out) {
    out = TreeMenuState{};
    HTREEITEM item = g_treePane.contextItem ? g_treePane.contextItem : caretItem();
    if (!item) return false;
    out.canRegister = treeIsAddable(item);
    out.canUnregister = treeIsRegistered(item);
    wchar_t path[kPathCapacity];
    if (item != g_treeModel.desktop && treePathOfItem(item, path) && !protectedFolder(path)) {
        out.selectionIsFileFolder = true;
        out.selectionInBusyPane = busyPaneShowsInside(path);
    }
    return true;
}

void folderTreeCommand(int commandId) {
    HTREEITEM item = g_treePane.contextItem ? g_treePane.contextItem : caretItem();
    folderTreeRunCommand(commandId, item);
}

void folderTreeSelectActivePaneFolder() {
    HTREEITEM item = g_treePane.paneItem[activePane()];
    if (item) selectSuppressed(item);
    updateButtons();
}

void folderTreeDragBegins(bool autoTreeWasOn) {
    g_treePane.autoShowRestore = autoTreeWasOn;
    g_treePane.fileDrag = true;
    g_treePane.contextItem = nullptr;
}

// ---------------------------------------------------------------- tree_access.h

void treeOpenPath(const wchar_t* path) {
    if (!path || !path[0] || std::wcslen(path) >= size_t(kPathCapacity)) return;
    wchar_t folder[kPathCapacity];
    std::wmemcpy(folder, path, std::wcslen(path) + 1);

    SHFILEINFOW sfi{};
    sfi.dwAttributes = SFGAO_LINK;
    if (SHGetFileInfoW(folder, 0, &sfi, sizeof sfi, SHGFI_ATTRIBUTES) && (sfi.dwAttributes & SFGAO_LINK)) {
        wchar_t target[kPathCapacity] = {};
        IShellLinkW* link = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(&link))) &&
            link) {
            IPersistFile* file = nullptr;
            if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) && file) {
                if (SUCCEEDED(file->Load(folder, STGM_READ)))
                    link->GetPath(target, kPathCapacity, nullptr, SLGP_UNCPRIORITY);
                file->Release();
            }
            link->Release();
        }
        target[kPathCapacity - 1] = L'\0';
        std::wmemcpy(folder, target, std::wcslen(target) + 1);
    }
    // A path that names nothing (a vanished shortcut target, a stale argument) opens nothing:
    // cutting it to a parent would register a folder the user never named.
    const DWORD attributes = folder[0] ? GetFileAttributesW(folder) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && !cutToContainingFolder(folder)) return;
    if (!tree()) {
        // No tree pane to register it in (a hand-over before the window exists): the folder
        // is still shown.
        paneOpenFolder(activePane(), folder);
        return;
    }
    HTREEITEM item = nullptr;
    const AddResult added = treeAddRegisteredFolder(folder, &item);
    const int pane = activePane();
    if (!item) {
        // The list is full: the folder is still shown, but not registered.
        if (added == AddResult::ListFull) {
            MessageBeep(MB_ICONWARNING);
            if (PathIsDirectoryW(folder) && !equalPath(folder, paneFolder(pane).c_str()))
                openInPane(pane, g_treeModel.registeredRoot, folder);
        }
        return;
    }
    if (caretItem() == item) {
        // Selecting the caret item again reports no change: open it here instead.
        if (!equalPath(folder, paneFolder(pane).c_str())) openInPane(pane, item, folder);
        return;
    }
    treeSend(TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
}

void treeAfterRename(const wchar_t* oldPath, const wchar_t* newPath) {
    if (!tree() || !oldPath || !newPath || !oldPath[0] || std::wcslen(newPath) >= size_t(kPathCapacity)) return;
    selectSuppressed(nullptr);
    HTREEITEM parents[2] = {parentOf(g_treePane.paneItem[0]), parentOf(g_treePane.paneItem[1])};
    HTREEITEM contextParent = parentOf(g_treePane.contextItem);
    WatchScope w0(&parents[0]), w1(&parents[1]), wc(&contextParent);

    // The list itself first: entries whose items are not in the tree (a collapsed
    // "登録フォルダ") and entries inside the renamed folder follow as well.
    treeRenameRegisteredFolders(oldPath, newPath);
    HTREEITEM item = nextVisible(g_treeModel.desktop);
    for (int guard = 0; item && guard < 1000000; ++guard) {
        wchar_t p[kPathCapacity];
        // The renamed folder's items, and a registered entry inside it (its item still holds
        // the old path): their parent is listed again under the new names.
        const bool affected = treeRawPathOfItem(item, p) &&
                              (equalPath(p, oldPath) || (treeIsRegistered(item) && folderContains(oldPath, p) == 1));
        if (!affected) {
            item = nextVisible(item);
            continue;
        }
        HTREEITEM parent = parentOf(item);
        if (!parent) {
            item = nextVisible(item);
            continue;
        }
        collapseReset(parent);
        expandItem(parent);
        item = nextVisible(parent);
    }

    for (int n = 0; n < 2; ++n) {
        const std::wstring folder = paneFolder(n);
        if (equalPath(folder.c_str(), oldPath)) {
            HTREEITEM found = parents[n] ? treeFindChildByPath(newPath, parents[n]) : nullptr;
            if (found) {
                if (n == activePane()) selectSuppressed(found);
                openInPane(n, found, newPath);
            } else {
                resetPane(n);
            }
        } else if (parents[n] && parents[n] == contextParent) {
            HTREEITEM found = treeFindChildByPath(folder.c_str(), parents[n]);
            if (found) {
                if (n == activePane()) selectSuppressed(found);
                openInPane(n, found, folder.c_str());
            } else if (!folder.empty() && folderContains(oldPath, folder.c_str()) == 1) {
                resetPane(n);
            } else {
                reselectIfActive(n);
            }
        } else if (!folder.empty() && folderContains(oldPath, folder.c_str()) == 1) {
            resetPane(n);
        } else {
            reselectIfActive(n);
        }
    }
    updateButtons();
}

void treeAfterNewFolder(const wchar_t* parentFolder) {
    if (!tree() || !parentFolder || !parentFolder[0]) return;
    selectSuppressed(nullptr);
    HTREEITEM folderItem = g_treePane.contextItem;
    WatchScope watch(&folderItem);
    HTREEITEM item = g_treeModel.desktop;
    for (int guard = 0; item && guard < 1000000; ++guard) {
        wchar_t p[kPathCapacity];
        if (treeRawPathOfItem(item, p) && equalPath(p, parentFolder)) {
            if (!folderItem) folderItem = item;
            if (hasChild(item)) collapseReset(item);
            else treeResetChildren(item, 1);
            expandItem(item);
        }
        item = nextVisible(item);
    }
    for (int n = 0; n < 2; ++n) {
        const std::wstring folder = paneFolder(n);
        if (!folder.empty() && folderContains(parentFolder, folder.c_str()) == 1) {
            HTREEITEM found = folderItem ? treeFindChildByPath(folder.c_str(), folderItem) : nullptr;
            if (found) {
                if (n == activePane()) selectSuppressed(found);
                openInPane(n, found, folder.c_str());
            } else {
                resetPane(n);
            }
        } else {
            reselectIfActive(n);
        }
    }
    updateButtons();
}
