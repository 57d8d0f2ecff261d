// Arithmetic of a thumbnail pane's grid, scroll bar and text lines. Portable, so that the
// rules can be checked without windows; the pane windows (pane_window_win.cpp) use it.
#pragma once

#include <cstdint>
#include <string>

#include "thumbs/thumbnail_item.h"

// Sizes of one pane's grid. pitchWidth/pitchHeight are a whole cell window (image area, text
// area and the static edge).
struct PaneGrid {
    int pitchWidth = 1;
    int pitchHeight = 1;
    int columns = 1;       // base client width / pitch width, at least 1
    int visibleRows = 1;   // base client height / pitch height, at least 1
    int clientHeight = 0;  // base client height
    int itemCount = 0;

    // Recomputes columns, visible rows and client height from a client size.
    void setClient(int width, int height);
    // ceil(item count / columns)
    int rows() const;
    // Scroll bar range and page: 0 .. maximum(), page().
    int maximum() const { return pitchHeight * rows() - 1; }
    int page() const { return pitchHeight * visibleRows; }
    // Clamps a position to 0 .. maximum + 1 - page.
    int clamp(int position) const;
    // First item and the end of the items in view (cells that show at least partly) for a
    // scroll position.
    int firstFor(int position) const;
    int endFor(int position) const;
    // The position that keeps the row of item first at the top after a re-flow.
    int positionKeeping(int first) const;
    // Thumb tracking snaps to the nearest row boundary.
    int snap(int trackPosition) const;
};

// Scroll requests of the base window (the SB_* codes).
int scrollTarget(const PaneGrid& grid, int request, int current, int track);

// "1234" -> "1,234"; shorter than 4 digits unchanged; cut at 255 characters.
std::wstring groupThousands(const std::wstring& digits);

// The text lines under a thumbnail.
std::wstring sizeLine(const ThumbnailItem& item);   // 1024x768 (1,234KB)
std::wstring depthLine(const ThumbnailItem& item);  // 24bit  P  Exif  C
