// A thumbnail pane's windows: outer window, status bar, base window with its grid of cells,
// the cells' painting and the text lines under each thumbnail. Runs on the pane's thread.
//
// Cell windows are kept only for the items in view (plus spares): a folder of 50,000 files
// would otherwise need 100,000 windows, far beyond what a process may hold. A cell keeps the
// control id 10000 + its item index, so painting and input find the item the same way.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "base/text_utils.h"
#include "base/win_handles.h"
#include "base/win_state.h"
#include "thumbs/pane.h"

namespace {

constexpr int kCellIdBase = 10000;
constexpr int kSpareCellId = kCellIdBase - 1;
constexpr int kTextAreaWindowHeight = 56;
constexpr int kStatusEdges[4] = {36, 70, 134, -1};

COLORREF backgroundColour(const ThumbnailPane& pane) {
    return g_activePane.load() == pane.index ? RGB(204, 204, 212) : RGB(156, 156, 164);
}
COLORREF selectedColour(const ThumbnailPane& pane) {
    return g_activePane.load() == pane.index ? RGB(paneSettings().focusRed, paneSettings().focusGreen, paneSettings().focusBlue)
                                             : RGB(204, 204, 212);
}

void fill(HDC dc, int l, int t, int r, int b, COLORREF colour) {
    if (r <= l || b <= t) return;
    RECT rc{l, t, r, b};
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}

void paintCell(ThumbnailPane& pane, HWND window) {
    const PaintScope paint(window);
    const HDC dc = paint.dc();
    const int cw = paneSettings().thumbWidth, ch = paneSettings().thumbHeight;
    const COLORREF back = backgroundColour(pane);
    const int i = itemOfWindow(pane, window);
    const ThumbnailItem* item = i >= 0 ? &pane.items[i] : nullptr;
    if (!item || !item->pixels) {
        fill(dc, 0, 0, cw, ch, back);
    } else {
        const int dw = item->displayWidth, dh = item->displayHeight;
        const int x = dw < cw ? (cw - dw) / 2 : 0;
        const int y = dh < ch ? (ch - dh) / 2 : 0;
        fill(dc, 0, 0, x, ch, back);
        fill(dc, x + dw, 0, cw, ch, back);
        fill(dc, x, 0, x + dw, y, back);
        fill(dc, x, y + dh, x + dw, ch, back);
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, x, y, dw, dh, 0, 0, item->thumbWidth, item->thumbHeight, item->pixels,
                      reinterpret_cast<const BITMAPINFO*>(&item->bitmapInfo), DIB_RGB_COLORS, SRCCOPY);
        if (item->isSelected()) {
            const OwnedBrush frame(CreateSolidBrush(selectedColour(pane)));
            RECT r{0, 0, cw, ch};
            FrameRect(dc, &r, frame.get());
        }
    }
}

void paintText(ThumbnailPane& pane, HWND window) {
    const PaintScope paint(window);
    const HDC dc = paint.dc();
    RECT client;
    GetClientRect(window, &client);
    const int i = itemOfWindow(pane, window);
    const ThumbnailItem* item = i >= 0 ? &pane.items[i] : nullptr;
    fill(dc, 0, 0, client.right, client.bottom,
         item && item->isSelected() ? selectedColour(pane) : RGB(240, 240, 248));
    if (item && item->hasThumbnail()) {
        SetBkMode(dc, TRANSPARENT);
        const SelectedObject font(dc, g_uiFont);
        int line = 0;
        auto draw = [&](const std::wstring& text) {
            RECT band{0, kTextLineHeight * line, client.right, kTextLineHeight * (line + 1)};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &band,
                      DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_WORD_ELLIPSIS | DT_NOPREFIX | DT_NOCLIP);
            ++line;
        };
        if (paneSettings().infoName) draw(item->name);
        if (paneSettings().infoSize) draw(sizeLine(*item));
        if (paneSettings().infoDepth) draw(depthLine(*item));
        if (paneSettings().infoDate) {
            // The conversion keeps no shared state: no lock, so that a long cache write of
            // the other pane never holds up this one's painting.
            wchar_t date[64] = {};
            formatFileDate(item->facts.lastWriteTime, date, 64);
            draw(date);
        }
    }
}

SCROLLINFO scrollInfo(UINT mask) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = mask;
    return si;
}

ThumbnailPane& paneOf(int index) { return g_panes[index == 1 ? 1 : 0]; }

template <int I>
LRESULT CALLBACK cellProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ThumbnailPane& pane = paneOf(I);
    if (message == WM_PAINT) {
        paintCell(pane, window);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    if (cellInput(pane, window, false, message, wParam, lParam)) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

template <int I>
LRESULT CALLBACK textProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ThumbnailPane& pane = paneOf(I);
    if (message == WM_PAINT) {
        paintText(pane, window);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    if (cellInput(pane, window, true, message, wParam, lParam)) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void onBaseScroll(ThumbnailPane& pane, int request, int track16) {
    SCROLLINFO si = scrollInfo(SIF_ALL);
    GetScrollInfo(pane.baseWindow, SB_VERT, &si);
    // The message carries only 16 bits of the track position, which wraps in a large folder:
    // then the bar's own 32-bit one is used.
    const int track = si.nMax > 0xFFFF ? si.nTrackPos : track16;
    const int p = scrollTarget(pane.grid, request, si.nPos, track);
    if (request == SB_THUMBTRACK || request == SB_THUMBPOSITION) {
        if (p != si.nPos) {
            setPaneScrollInfo(pane, p);
            layoutCells(pane, p);
        }
    } else if (request == SB_ENDSCROLL) {
        layoutCells(pane, si.nPos);
        UpdateWindow(pane.baseWindow);
    } else {
        setPaneScrollInfo(pane, p);
    }
}

template <int I>
LRESULT CALLBACK baseProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ThumbnailPane& pane = paneOf(I);
    switch (message) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(window, &r);
        fill(reinterpret_cast<HDC>(wParam), 0, 0, r.right, r.bottom, backgroundColour(pane));
        return 1;
    }
    case WM_SIZE: {
        if (pane.baseWindow != window) return 0;
        refreshPanePitch(pane);
        const int w = LOWORD(lParam), h = HIWORD(lParam);
        if (w > 0) pane.grid.setClient(w, h);
        reflowPane(pane);
        return 0;
    }
    case WM_VSCROLL:
        onBaseScroll(pane, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        onBaseScroll(pane, GET_WHEEL_DELTA_WPARAM(wParam) <= 0 ? SB_LINEDOWN : SB_LINEUP, 0);
        SendMessageW(window, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
        return 0;
    default: break;
    }
    LRESULT result = 0;
    if (baseInput(pane, window, message, wParam, lParam, &result)) return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

// A new cell is made where it is shown and with its item's id: under Wine every extra move
// of a fresh window is another server round trip, and a folder's first screen of cells is made
// while the load has not yet begun to answer messages.
HWND makeCell(ThumbnailPane& pane, int id, int x, int y) {
    const bool two = pane.index == 1;
    HWND cell = CreateWindowExW(WS_EX_STATICEDGE, windowClassName(two ? ClassPaneCell2 : ClassPaneCell1), L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y, pane.grid.pitchWidth,
                                pane.grid.pitchHeight, pane.baseWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                g_instance, nullptr);
    if (!cell) return nullptr;
    CreateWindowExW(0, windowClassName(two ? ClassPaneText2 : ClassPaneText1), L"",
                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, paneSettings().thumbHeight, paneSettings().thumbWidth,
                    kTextAreaWindowHeight, cell, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance,
                    nullptr);
    return cell;
}

void releaseCell(ThumbnailPane& pane, int i) {
    ThumbnailItem& item = pane.items[i];
    if (!item.imageWindow) return;
    HWND cell = static_cast<HWND>(item.imageWindow);
    ShowWindow(cell, SW_HIDE);
    // A spare answers to no item until it is handed out again.
    SetWindowLongPtrW(cell, GWLP_ID, kSpareCellId);
    if (item.textWindow) SetWindowLongPtrW(static_cast<HWND>(item.textWindow), GWLP_ID, kSpareCellId);
    pane.cellPool.push_back(cell);
    item.imageWindow = nullptr;
    item.textWindow = nullptr;
    item.shown = 0;
}

}  // namespace

bool registerPaneInnerClasses(HINSTANCE instance) {
    bool ok = registerWindowClass(instance, ClassPaneBase1, baseProc<0>);
    ok = registerWindowClass(instance, ClassPaneBase2, baseProc<1>) && ok;
    ok = registerWindowClass(instance, ClassPaneCell1, cellProc<0>) && ok;
    ok = registerWindowClass(instance, ClassPaneCell2, cellProc<1>) && ok;
    ok = registerWindowClass(instance, ClassPaneText1, textProc<0>) && ok;
    return registerWindowClass(instance, ClassPaneText2, textProc<1>) && ok;
}

int itemOfWindow(const ThumbnailPane& pane, HWND window) {
    const int i = GetDlgCtrlID(window) - kCellIdBase;
    if (!pane.items || i < 0 || i >= pane.itemCount) return -1;
    return i;
}

void refreshPanePitch(ThumbnailPane& pane) {
    pane.grid.pitchWidth = std::max(1, paneSettings().thumbWidth + GetSystemMetrics(SM_CXEDGE));
    pane.grid.pitchHeight =
        std::max(1, paneSettings().thumbHeight + paneSettings().textAreaHeight + GetSystemMetrics(SM_CYEDGE));
}

bool createPaneWindows(ThumbnailPane& pane, HWND parent) {
    const bool two = pane.index == 1;
    // The pane's number + 1 rides in the creation parameters, so that the messages of the
    // outer window's own creation already reach this pane. The parent belongs to the main
    // thread: no notification of this window's creation or end is sent across to it, so the
    // pane can end while the main thread waits for it.
    pane.outerWindow = CreateWindowExW(WS_EX_NOPARENTNOTIFY, windowClassName(two ? ClassPaneOuter2 : ClassPaneOuter1),
                                       L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(500 + pane.index)), g_instance,
                                       reinterpret_cast<LPVOID>(static_cast<INT_PTR>(pane.index + 1)));
    if (!pane.outerWindow) return false;
    pane.fileList = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_SORT, 0, 0, 0, 0, pane.outerWindow,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(530 + pane.index)), g_instance,
                                    nullptr);
    pane.statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_TOOLTIPS, 0, 0, 0, 0,
                                     pane.outerWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(510 + pane.index)),
                                     g_instance, nullptr);
    if (pane.statusBar) {
        if (g_uiFont) SendMessageW(pane.statusBar, WM_SETFONT, reinterpret_cast<WPARAM>(g_uiFont), FALSE);
        int edges[4];
        std::copy(std::begin(kStatusEdges), std::end(kStatusEdges), edges);
        SendMessageW(pane.statusBar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
        SendMessageW(pane.statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L" 更新  "));
        SendMessageW(pane.statusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"消去  "));
        SendMessageW(pane.statusBar, SB_SETTIPTEXTW, 0, reinterpret_cast<LPARAM>(L"クリックでサムネイル更新"));
        SendMessageW(pane.statusBar, SB_SETTIPTEXTW, 1, reinterpret_cast<LPARAM>(L"クリックでサムネイル消去"));
    }
    pane.baseWindow = CreateWindowExW(WS_EX_STATICEDGE | WS_EX_ACCEPTFILES,
                                      windowClassName(two ? ClassPaneBase2 : ClassPaneBase1), L"",
                                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VSCROLL, 0, 0, 0,
                                      0, pane.outerWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(520)),
                                      g_instance, nullptr);
    refreshPanePitch(pane);
    if (pane.baseWindow) {
        SCROLLINFO si = scrollInfo(SIF_ALL | SIF_DISABLENOSCROLL);
        SetScrollInfo(pane.baseWindow, SB_VERT, &si, FALSE);
    }
    return pane.baseWindow != nullptr;
}

void setPaneScrollInfo(ThumbnailPane& pane, int position) {
    if (!pane.baseWindow) return;
    SCROLLINFO si = scrollInfo(SIF_ALL | SIF_DISABLENOSCROLL);
    si.nMin = 0;
    si.nMax = std::max(0, pane.grid.maximum());
    si.nPage = static_cast<UINT>(pane.grid.page());
    si.nPos = position;
    SetScrollInfo(pane.baseWindow, SB_VERT, &si, TRUE);
    pane.scrollPosition = position;
}

void layoutCells(ThumbnailPane& pane, int position) {
    if (!pane.baseWindow) return;
    pane.grid.itemCount = pane.itemCount;
    const int first = pane.items ? std::min(pane.grid.firstFor(position), pane.itemCount) : 0;
    const int end = pane.items ? std::max(first, pane.grid.endFor(position)) : 0;
    // Cells that leave the view become spares.
    for (int i = pane.cellFirst; i < pane.cellEnd && i < pane.itemCount; ++i)
        if (i < first || i >= end) releaseCell(pane, i);
    const int cw = paneSettings().thumbWidth;
    const int ch = paneSettings().thumbHeight;
    for (int i = first; i < end; ++i) {
        ThumbnailItem& item = pane.items[i];
        HWND cell = static_cast<HWND>(item.imageWindow);
        const int x = (i % pane.grid.columns) * pane.grid.pitchWidth;
        const int y = ((i - first) / pane.grid.columns) * pane.grid.pitchHeight;
        if (!cell && pane.cellPool.empty()) {
            cell = makeCell(pane, kCellIdBase + i, x, y);
            if (!cell) continue;
            item.imageWindow = cell;
            item.textWindow = GetWindow(cell, GW_CHILD);
            item.shown = 1;
            continue;
        }
        if (!cell) {
            cell = pane.cellPool.back();
            pane.cellPool.pop_back();
            HWND text = GetWindow(cell, GW_CHILD);
            SetWindowLongPtrW(cell, GWLP_ID, kCellIdBase + i);
            if (text) {
                SetWindowLongPtrW(text, GWLP_ID, kCellIdBase + i);
                SetWindowPos(text, nullptr, 0, ch, cw, kTextAreaWindowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
                InvalidateRect(text, nullptr, FALSE);
            }
            InvalidateRect(cell, nullptr, FALSE);
            item.imageWindow = cell;
            item.textWindow = text;
        }
        SetWindowPos(cell, nullptr, x, y, pane.grid.pitchWidth, pane.grid.pitchHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        item.shown = 1;
    }
    pane.cellFirst = first;
    pane.cellEnd = end;
    // Keep about one row of spares; the rest go.
    const size_t spare = static_cast<size_t>(pane.grid.columns) + 1;
    while (pane.cellPool.size() > spare) {
        DestroyWindow(pane.cellPool.back());
        pane.cellPool.pop_back();
    }
    pane.firstVisible = first;
    planPanePixels(pane);
}

void createCells(ThumbnailPane& pane) {
    RECT r{};
    GetClientRect(pane.baseWindow, &r);
    refreshPanePitch(pane);
    pane.grid.setClient(r.right, r.bottom);
    pane.grid.itemCount = pane.itemCount;
    setPaneScrollInfo(pane, 0);
    // The first visible item survives a load, so that a refresh can come back to its row.
    const int keep = pane.firstVisible;
    layoutCells(pane, 0);
    pane.firstVisible = keep;
}

void reflowPane(ThumbnailPane& pane) {
    pane.grid.itemCount = pane.items ? pane.itemCount : 0;
    const int p = pane.grid.positionKeeping(pane.firstVisible);
    setPaneScrollInfo(pane, p);
    layoutCells(pane, p);
    UpdateWindow(pane.baseWindow);
}

void spareAllCells(ThumbnailPane& pane) {
    if (pane.items)
        for (int i = pane.cellFirst; i < pane.cellEnd && i < pane.itemCount; ++i) releaseCell(pane, i);
    pane.cellFirst = pane.cellEnd = 0;
}

void destroyAllCells(ThumbnailPane& pane) {
    if (pane.items)
        for (int i = pane.cellFirst; i < pane.cellEnd && i < pane.itemCount; ++i) {
            if (pane.items[i].imageWindow) DestroyWindow(static_cast<HWND>(pane.items[i].imageWindow));
            pane.items[i].imageWindow = pane.items[i].textWindow = nullptr;
            pane.items[i].shown = 0;
        }
    for (HWND cell : pane.cellPool) DestroyWindow(cell);
    pane.cellPool.clear();
    pane.cellFirst = pane.cellEnd = 0;
}

void repaintItem(ThumbnailPane& pane, int i) {
    if (!pane.items || i < 0 || i >= pane.itemCount) return;
    if (HWND cell = static_cast<HWND>(pane.items[i].imageWindow)) {
        InvalidateRect(cell, nullptr, FALSE);
        if (pane.items[i].textWindow) InvalidateRect(static_cast<HWND>(pane.items[i].textWindow), nullptr, FALSE);
    }
}

void repaintPane(ThumbnailPane& pane) {
    if (!pane.baseWindow) return;
    // The whole pane with its frames: the base window's scroll bar and the status bar too, so
    // that a repaint also mends parts of them that were drawn black (seen under Wine).
    HWND top = pane.outerWindow ? pane.outerWindow : pane.baseWindow;
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void setStatusText(ThumbnailPane& pane, int part, const wchar_t* text, bool withTip) {
    if (!pane.statusBar) return;
    SendMessageW(pane.statusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text));
    if (withTip) SendMessageW(pane.statusBar, SB_SETTIPTEXTW, part, reinterpret_cast<LPARAM>(text));
}

void updateSelectionText(ThumbnailPane& pane) {
    if (g_paneBusy[pane.index].load() != PaneIdle) return;
    std::wstring text;
    if (pane.items && pane.itemCount > 0)
        text = std::to_wstring(pane.selectedCount) + L"/" + std::to_wstring(pane.itemCount);
    setStatusText(pane, 2, text.c_str(), true);
}
