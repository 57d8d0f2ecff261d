// Pure arithmetic of the main frame: where it opens, how the client window is divided between the
// folder tree pane and the thumbnail panes, and the thumbnail-size rules of the tool bar.
// Everything here takes its inputs explicitly so it can be checked without windows.
#pragma once

#include <windows.h>

#include "base/settings.h"

struct FrameBox {
    int x, y, w, h;
};

// Looks up the work area of the monitor nearest to a rectangle; false when unknown.
using NearestWorkAreaFn = bool (*)(const RECT& rect, RECT& work);

// Default stored offsets of the frame inside the primary work area.
int defaultFrameX(const RECT& primaryWork);
int defaultFrameY(const RECT& primaryWork);

// The opening rectangle: stored x/y are relative to the primary work area; the result is moved
// and shrunk into the work area of the nearest monitor when it is not wholly inside it.
FrameBox openingFrameRect(const RECT& primaryWork, int x, int y, int w, int h, NearestWorkAreaFn nearest);
// The system's answer for nearestWorkArea (MonitorFromRect + GetMonitorInfo).
bool systemNearestWorkArea(const RECT& rect, RECT& work);

// The show request actually used for the frame.
int frameShowCommand(int requested, bool maximised);

struct PanePlace {
    int x, y, w, h;
    bool shown;
};
struct PaneLayout {
    bool valid;  // false for an unknown split: the panes stay as they are
    PanePlace pane[2];
};
PaneLayout computePaneLayout(int clientW, int clientH, SplitMode split, bool autoTree, int treeW, int fx);

// Rectangle of the folder tree pane window so that only its right sizing border lies inside
// the client window.
FrameBox treePaneRect(int clientH, int treeW, int fx, int fy);

constexpr int kTreePaneMinWidth = 44, kTreePaneMaxWidth = 400;
constexpr int kTreePaneToolsHeight = 46;  // below the tree control: the pane's own controls

// Width and height fields for a column count over a base window of the given client width.
void columnThumbSize(int baseClientWidth, int columns, int& w, int& h);
