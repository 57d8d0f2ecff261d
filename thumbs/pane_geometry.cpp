#include "thumbs/pane_geometry.h"

#include <algorithm>

namespace {
// SB_* request codes (the same numbers on every system that has the scroll bar).
enum : int { LineUp = 0, LineDown = 1, PageUp = 2, PageDown = 3, ThumbPosition = 4, ThumbTrack = 5, Top = 6,
             Bottom = 7, EndScroll = 8 };
}  // namespace

void PaneGrid::setClient(int width, int height) {
    columns = std::max(1, pitchWidth > 0 ? width / pitchWidth : 1);
    visibleRows = std::max(1, pitchHeight > 0 ? height / pitchHeight : 1);
    clientHeight = std::max(0, height);
}

int PaneGrid::rows() const { return itemCount <= 0 ? 0 : (itemCount + columns - 1) / columns; }

int PaneGrid::clamp(int position) const {
    const int top = maximum() + 1 - page();
    if (position > top) position = top;
    return std::max(0, position);
}

int PaneGrid::firstFor(int position) const { return std::max(0, position / pitchHeight) * columns; }

int PaneGrid::endFor(int position) const {
    const int screenRows = (clientHeight + pitchHeight - 1) / pitchHeight;
    return std::min(itemCount, firstFor(position) + columns * screenRows);
}

int PaneGrid::positionKeeping(int first) const {
    int p = (first / columns) * pitchHeight;
    p = std::min(p, pitchHeight * (rows() - visibleRows));
    return std::max(0, p);
}

int PaneGrid::snap(int trackPosition) const {
    return pitchHeight * ((pitchHeight / 2 + trackPosition) / pitchHeight);
}

int scrollTarget(const PaneGrid& grid, int request, int current, int track) {
    int p = current;
    switch (request) {
    case LineUp: p -= grid.pitchHeight; break;
    case LineDown: p += grid.pitchHeight; break;
    case PageUp: p -= grid.page(); break;
    case PageDown: p += grid.page(); break;
    case Top: p = 0; break;
    case Bottom: p = grid.maximum(); break;
    case ThumbTrack:
    case ThumbPosition: p = grid.snap(track); break;
    default: break;
    }
    return grid.clamp(p);
}

std::wstring groupThousands(const std::wstring& digits) {
    if (digits.size() < 4) return digits;
    std::wstring out;
    const size_t lead = digits.size() % 3;
    size_t i = 0;
    if (lead) {
        out.append(digits, 0, lead);
        i = lead;
    }
    for (; i < digits.size(); i += 3) {
        if (!out.empty()) out += L',';
        out.append(digits, i, 3);
    }
    if (out.size() > 255) out.resize(255);
    return out;
}

std::wstring sizeLine(const ThumbnailItem& item) {
    const uint64_t kb = (uint64_t(item.facts.fileSize) + 1023) / 1024;
    return std::to_wstring(item.facts.fileWidth) + L"x" + std::to_wstring(item.facts.fileHeight) + L" (" +
           groupThousands(std::to_wstring(kb)) + L"KB)";
}

std::wstring depthLine(const ThumbnailItem& item) {
    std::wstring line = std::to_wstring(item.facts.sourceDepth) + L"bit";
    switch (item.facts.format) {
    case FormatPng:
        if (item.facts.interlaced) line += L"  I";
        if (item.facts.metaCount >= 1) line += L"  Text";
        break;
    case FormatJpeg:
        if (item.facts.interlaced == 1) line += L"  P";
        if (item.facts.metaCount > 0) line += L"  Exif";
        if (item.facts.commentCount >= 1) line += L"  C";
        break;
    case FormatTiff:
        if (item.facts.commentCount >= 1) line += L"  C";
        break;
    case FormatGif:
        if (item.facts.interlaced) line += L"  I";
        if (item.facts.commentCount >= 1) line += L"  C";
        break;
    default: break;
    }
    return line;
}
