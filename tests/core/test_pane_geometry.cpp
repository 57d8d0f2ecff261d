// Grid, scroll and text-line rules of a thumbnail pane.
#include <gtest/gtest.h>

#include "thumbs/pane_geometry.h"

namespace {

PaneGrid grid(int pitchW, int pitchH, int clientW, int clientH, int items) {
    PaneGrid g;
    g.pitchWidth = pitchW;
    g.pitchHeight = pitchH;
    g.setClient(clientW, clientH);
    g.itemCount = items;
    return g;
}

TEST(PaneGrid, ScrollRangeClampAndViewOfTenItemsInThreeColumns) {
    const PaneGrid g = grid(150, 143, 450, 286, 10);
    EXPECT_EQ(g.maximum(), 4 * 143 - 1);
    EXPECT_EQ(g.page(), 2 * 143);
    EXPECT_EQ(g.clamp(100000), 2 * 143);
    EXPECT_EQ(g.clamp(-5), 0);
    EXPECT_EQ(g.firstFor(2 * 143), 6);
    EXPECT_EQ(g.endFor(2 * 143), 10);
    // A client height that is not a whole number of pitches shows a partial row too.
    const PaneGrid partial = grid(150, 143, 450, 300, 10);
    EXPECT_EQ(partial.endFor(0), 9);
}

TEST(PaneGrid, TinyClientStillHasOneColumnAndRowAndAnEmptyGridNoRange) {
    const PaneGrid g = grid(150, 143, 20, 10, 5);
    EXPECT_EQ(g.columns, 1);
    EXPECT_EQ(g.visibleRows, 1);
    const PaneGrid empty = grid(150, 143, 450, 286, 0);
    EXPECT_EQ(empty.rows(), 0);
    EXPECT_EQ(empty.clamp(500), 0);
    EXPECT_EQ(empty.positionKeeping(9), 0);
}

TEST(PaneGrid, SnapAndScrollRequests) {
    PaneGrid g = grid(150, 114, 450, 228, 30);
    EXPECT_EQ(g.snap(56), 0);
    EXPECT_EQ(g.snap(57), 114);
    g.pitchHeight = 115;
    EXPECT_EQ(g.snap(57), 0);
    EXPECT_EQ(g.snap(58), 115);
    EXPECT_EQ(scrollTarget(g, 1 /*line down*/, 0, 0), 115);
    EXPECT_EQ(scrollTarget(g, 3 /*page down*/, 0, 0), g.page());
    EXPECT_EQ(scrollTarget(g, 7 /*bottom*/, 0, 0), g.maximum() + 1 - g.page());
    EXPECT_EQ(scrollTarget(g, 0 /*line up*/, 0, 0), 0);
    EXPECT_EQ(scrollTarget(g, 8 /*end*/, 230, 0), 230);
}

TEST(PaneGrid, ReflowKeepsTheRowOfTheFirstVisibleItem) {
    PaneGrid g = grid(150, 143, 600, 286, 100);  // 4 columns
    EXPECT_EQ(g.positionKeeping(9), 2 * 143);
    EXPECT_EQ(g.firstFor(g.positionKeeping(9)), 8);
    // Near the end the position stops where the last rows fill the view.
    EXPECT_EQ(g.positionKeeping(99), 143 * (25 - 2));
}

TEST(PaneText, GroupThousands) {
    EXPECT_EQ(groupThousands(L"0"), L"0");
    EXPECT_EQ(groupThousands(L"999"), L"999");
    EXPECT_EQ(groupThousands(L"1234"), L"1,234");
    EXPECT_EQ(groupThousands(L"123456"), L"123,456");
    EXPECT_EQ(groupThousands(L"1234567"), L"1,234,567");
    EXPECT_EQ(groupThousands(std::wstring(400, L'9')).size(), 255u);
}

TEST(PaneText, SizeLineRoundsKilobytesUp) {
    ThumbnailItem item;
    item.facts.fileWidth = 1024;
    item.facts.fileHeight = 768;
    item.facts.fileSize = 1263616;  // 1234 KB exactly
    EXPECT_EQ(sizeLine(item), L"1024x768 (1,234KB)");
    item.facts.fileSize = 1025;
    EXPECT_EQ(sizeLine(item), L"1024x768 (2KB)");
    item.facts.fileSize = 0xFFFFFFFFu;  // no overflow in the rounding
    EXPECT_EQ(sizeLine(item), L"1024x768 (4,194,304KB)");
}

TEST(PaneText, DepthLineMarksPerFormat) {
    ThumbnailItem item;
    item.facts.sourceDepth = 24;
    item.facts.format = FormatJpeg;
    item.facts.interlaced = 1;
    item.facts.metaCount = 1;
    item.facts.commentCount = 2;
    EXPECT_EQ(depthLine(item), L"24bit  P  Exif  C");
    item.facts.format = FormatPng;
    EXPECT_EQ(depthLine(item), L"24bit  I  Text");
    item.facts.format = FormatGif;
    EXPECT_EQ(depthLine(item), L"24bit  I  C");
    item.facts.format = FormatTiff;
    EXPECT_EQ(depthLine(item), L"24bit  C");
    item.facts.format = FormatBmp;
    EXPECT_EQ(depthLine(item), L"24bit");
    item.facts.format = FormatUnknown;  // plug-in image
    EXPECT_EQ(depthLine(item), L"24bit");
}

}  // namespace
