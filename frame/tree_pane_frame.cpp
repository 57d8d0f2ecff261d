#include "frame/tree_pane_frame.h"

#include <commctrl.h>

#include "base/win_state.h"
#include "frame/frame_layout.h"
#include "frame/frame_state.h"
#include "frame/main_window.h"
#include "tree/tree_access.h"

namespace {
constexpr DWORD kTreePaneStyle = WS_CHILD | WS_THICKFRAME | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
constexpr DWORD kTreePaneExStyle = WS_EX_DLGMODALFRAME;
constexpr int kTreePaneChildId = 400;

// Placed by the pane's real sizing border so that its client width stays exactly "TreeW"; with a
// border unlike the system sizing-frame metric the width would otherwise creep on every layout.
// On the systems this is written for both are the same.
FrameBox treePaneBox(int clientHeight) {
    RECT border{0, 0, 0, 0};
    AdjustWindowRectEx(&border, kTreePaneStyle, FALSE, kTreePaneExStyle);
    const int bx = border.left < 0 ? -border.left : g_sizeFrameX;
    const int by = border.top < 0 ? -border.top : g_sizeFrameY;
    return treePaneRect(clientHeight, g_settings.treeWidth, bx, by);
}
}  // namespace

HWND createTreePaneBase(HWND client) {
    RECT rc{};
    GetClientRect(client, &rc);
    // Created at its final size: a sizing-border window is held to its tracking limits when it is
    // created, and its first size message must not overwrite "TreeW".
    const FrameBox r = treePaneBox(rc.bottom);
    HWND pane = CreateWindowExW(kTreePaneExStyle, windowClassName(ClassTreeBase), L"", kTreePaneStyle, r.x, r.y, r.w,
                                r.h, client, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTreePaneChildId)),
                                GetModuleHandleW(nullptr), nullptr);
    g_frame.treePane = pane;
    if (pane) createFolderTreeContents(pane);
    return pane;
}

void placeTreePane(int clientHeight) {
    if (!g_frame.treePane) return;
    const FrameBox r = treePaneBox(clientHeight);
    SetWindowPos(g_frame.treePane, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void showTreePane(bool show) {
    if (!g_frame.treePane) return;
    g_treePaneShown.store(show ? 1 : 0);
    if (show) SetWindowPos(g_frame.treePane, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    else ShowWindow(g_frame.treePane, SW_HIDE);
}

LRESULT CALLBACK treePaneBaseProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_GETMINMAXINFO: {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lParam);
        mm->ptMinTrackSize.x = kTreePaneMinWidth;
        mm->ptMaxTrackSize.x = kTreePaneMaxWidth;
        return 0;
    }
    case WM_SIZE: {
        const int w = LOWORD(lParam), h = HIWORD(lParam);
        if (w > 0) g_settings.treeWidth = w;
        layoutFolderTreeContents(w, h, kTreePaneToolsHeight);
        layoutClientArea();
        if (g_settings.thumbSplit == SplitMode::Both && g_clientWindow) RedrawWindow(g_clientWindow, nullptr, nullptr,
                                                                        RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        if (g_mainWindow) SetFocus(g_mainWindow);
        break;
    default: break;
    }
    LRESULT result = 0;
    if (folderTreePaneMessage(hwnd, msg, wParam, lParam, &result)) return result;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
