#include "frame/frame_layout.h"

int defaultFrameX(const RECT& work) { return (int(work.right - work.left) - 800) / 2; }
int defaultFrameY(const RECT& work) { return (int(work.bottom - work.top) - 600) / 2; }

FrameBox openingFrameRect(const RECT& primaryWork, int x, int y, int w, int h, NearestWorkAreaFn nearest) {
    FrameBox r{x + int(primaryWork.left), y + int(primaryWork.top), w, h};
    RECT want{r.x, r.y, r.x + r.w, r.y + r.h};
    RECT work;
    if (!nearest || !nearest(want, work)) return r;
    const int L = work.left, T = work.top, R = work.right, B = work.bottom;
    if (r.x < L || r.y < T || r.x > R - r.w || r.y > B - r.h) {
        if (r.w > R - L) r.w = R - L;
        if (r.h > B - T) r.h = B - T;
        if (r.x < L) r.x = L;
        else if (r.x > R - r.w) r.x = R - r.w;
        if (r.y < T) r.y = T;
        else if (r.y > B - r.h) r.y = B - r.h;
    }
    return r;
}

bool systemNearestWorkArea(const RECT& rect, RECT& work) {
    HMONITOR mon = MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
    if (!mon) return false;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(mon, &info)) return false;
    work = info.rcWork;
    return true;
}

int frameShowCommand(int requested, bool maximised) {
    if (requested == SW_SHOWNORMAL || requested == SW_SHOW) return maximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    return requested;
}

PaneLayout computePaneLayout(int W, int H, SplitMode split, bool autoTree, int treeW, int fx) {
    PaneLayout out{};
    const int left = autoTree ? 0 : treeW + fx;
    const int A = W - left;
    switch (split) {
    case SplitMode::Both: {
        const int pw = A / 2 - 1;
        out.pane[0] = {left, 0, pw, H, true};
        out.pane[1] = {W - A / 2, 0, pw, H, true};
        out.valid = true;
        break;
    }
    case SplitMode::Pane1:
        out.pane[0] = {left, 0, A, H, true};
        out.pane[1] = {left, 0, A, H, false};
        out.valid = true;
        break;
    case SplitMode::Pane2:
        out.pane[1] = {left, 0, A, H, true};
        out.pane[0] = {left, 0, A, H, false};
        out.valid = true;
        break;
    default:
        out.valid = false;
        break;
    }
    return out;
}

FrameBox treePaneRect(int clientH, int treeW, int fx, int fy) {
    return FrameBox{-fx, -fy - 10, treeW + 2 * fx, clientH + 2 * fy + 20};
}

void columnThumbSize(int baseClientWidth, int columns, int& w, int& h) {
    if (columns <= 0) columns = 1;
    int cw = baseClientWidth / columns;
    if (cw >= 34) {
        cw -= 2;
        if (cw > 800) cw = 800;
    } else {
        cw = 32;
    }
    w = cw;
    h = 3 * cw >= 128 ? 3 * cw / 4 : 32;
}
