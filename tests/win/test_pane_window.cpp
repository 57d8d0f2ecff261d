// A live pane: grid, scroll bar and re-flow, selection by the mouse, removal of the selected
// items, and the cap on cell windows.
#include "test_pane_support.h"

#include <windowsx.h>

using namespace panetest;

namespace {

class PaneWindow : public PaneFixture {
protected:
    std::wstring folder;
    void SetUp() override {
        PaneFixture::SetUp();
        folder = tempFolder(L"grid");
        removeFolder(folder);
        folder = tempFolder(L"grid");
    }
    void TearDown() override {
        PaneFixture::TearDown();
        removeFolder(folder);
    }
    void loadImages(int n) {
        makeImages(folder, n);
        load(folder);
        ASSERT_EQ(pane.itemCount, n);
    }
};

TEST_F(PaneWindow, TenItemsInThreeColumnsScrollToTwoPitches) {
    loadImages(10);
    const int ph = pitchH();
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(pane.baseWindow, SB_VERT, &si);
    EXPECT_EQ(si.nMin, 0);
    EXPECT_EQ(si.nMax, 4 * ph - 1);
    EXPECT_EQ(int(si.nPage), 2 * ph);
    scroll(SB_BOTTOM);
    EXPECT_EQ(scrollPos(), 2 * ph);
    EXPECT_EQ(pane.firstVisible, 6);
    // Rows 2 and 3 are in view: items 6..9 at the top-left rows of the base window.
    RECT r;
    GetWindowRect(cell(6), &r);
    MapWindowPoints(nullptr, pane.baseWindow, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_TRUE(IsWindowVisible(cell(9)));
    EXPECT_EQ(cell(0), nullptr) << "items scrolled out of view hold no window";
    scroll(SB_LINEDOWN);
    EXPECT_EQ(scrollPos(), 2 * ph) << "line down at the end stays";
    scroll(SB_TOP);
    EXPECT_EQ(scrollPos(), 0);
    EXPECT_EQ(pane.firstVisible, 0);
    // Wheel: one line down per notch, laid out at once.
    SendMessageW(pane.baseWindow, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(scrollPos(), ph);
    EXPECT_EQ(pane.firstVisible, 3);
}

TEST_F(PaneWindow, NarrowAndLowBaseStillShowsOneColumnAndRow) {
    sizeBase(pitchW() / 2, pitchH() / 2);
    loadImages(3);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(pane.baseWindow, SB_VERT, &si);
    EXPECT_EQ(si.nMax, 3 * pitchH() - 1);
    EXPECT_EQ(int(si.nPage), pitchH());
}

TEST_F(PaneWindow, ThumbTrackSnapsToTheNearestRow) {
    // 84 + two text lines + the edge = 114; 85 gives 115.
    for (int height : {84, 85}) {
        g_settings.thumbHeight = height;
        const int ph = pitchH();
        sizeBase(3 * pitchW(), 2 * ph);
        loadImages(30);
        const int below = ph == 114 ? 56 : 57;
        scroll(SB_THUMBTRACK, below);
        EXPECT_EQ(scrollPos(), 0) << "pitch " << ph;
        scroll(SB_THUMBTRACK, below + 1);
        EXPECT_EQ(scrollPos(), ph) << "pitch " << ph;
        EXPECT_EQ(pane.firstVisible, 3) << "thumb tracking lays the cells out at once";
        scroll(SB_TOP);
    }
}

TEST_F(PaneWindow, WideningFromThreeToFourColumnsKeepsTheRowOfTheFirstVisibleItem) {
    loadImages(100);
    scroll(SB_THUMBPOSITION, 3 * pitchH());
    ASSERT_EQ(pane.firstVisible, 9);
    sizeBase(4 * pitchW(), 2 * pitchH());
    EXPECT_EQ(scrollPos(), 2 * pitchH());
    EXPECT_EQ(pane.firstVisible, 8);
    RECT r;
    GetWindowRect(cell(8), &r);
    MapWindowPoints(nullptr, pane.baseWindow, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.left, 0);
    // About one screen of cells plus spares, not one per item.
    EXPECT_LE(cellWindowCount(), 4 * 3 + 5);
}

TEST_F(PaneWindow, ClickSelectionRules) {
    loadImages(6);
    // Shift with nothing selected: only the clicked item, which becomes the anchor.
    mouse(4, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(selectedItems(), std::vector<int>({4}));
    mouse(1, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(selectedItems(), std::vector<int>({1, 2, 3, 4}));
    EXPECT_EQ(pane.selectedCount, 4);
    EXPECT_EQ(statusText(2), L"4/6");
    // A plain press on a selected item keeps the group (for a drag or a menu).
    mouse(2, WM_LBUTTONDOWN, MK_LBUTTON);
    EXPECT_EQ(pane.selectedCount, 4);
    // A plain press elsewhere selects only that item.
    mouse(5, WM_LBUTTONDOWN, MK_LBUTTON);
    EXPECT_EQ(selectedItems(), std::vector<int>({5}));
    // Ctrl toggles, middle button too.
    mouse(0, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL);
    mouse(5, WM_MBUTTONDOWN, MK_MBUTTON);
    EXPECT_EQ(selectedItems(), std::vector<int>({0}));
    // Shift with Ctrl is no selection gesture.
    mouse(3, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL | MK_SHIFT);
    EXPECT_EQ(selectedItems(), std::vector<int>({0}));
    // Clicking the background deselects all.
    SendMessageW(pane.baseWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3 * pitchW() - 2, 5));
    EXPECT_EQ(pane.selectedCount, 0);
    EXPECT_EQ(statusText(2), L"0/6");
}

TEST_F(PaneWindow, CtrlClickWhileTheOtherPaneLoadsOnlyActivates) {
    loadImages(4);
    g_activePane = 1;
    g_paneBusy[1] = PaneLoading;
    const int activations = count(CodeActivePaneChanged);
    mouse(2, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL);
    mouse(2, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT);
    g_paneBusy[1] = PaneIdle;
    EXPECT_EQ(pane.selectedCount, 0);
    EXPECT_EQ(g_activePane.load(), 0);
    EXPECT_EQ(count(CodeActivePaneChanged), activations + 2);
}

TEST_F(PaneWindow, RightClickSelectsOnPressAndAsksForTheMenuOnRelease) {
    loadImages(4);
    mouse(3, WM_RBUTTONDOWN, MK_RBUTTON);
    EXPECT_EQ(selectedItems(), std::vector<int>({3}));
    EXPECT_EQ(g_pointerButtonState.load(), 2);
    EXPECT_EQ(count(CodeContextMenu), 0);
    mouse(3, WM_RBUTTONUP, 0, 7, 9);
    ASSERT_EQ(count(CodeContextMenu), 1);
    EXPECT_EQ(g_pointerButtonState.load(), 0);
    POINT pt{7, 9};
    ClientToScreen(cell(3), &pt);
    const LPARAM at = posted().back().arg;
    EXPECT_EQ(GET_X_LPARAM(at), pt.x);
    EXPECT_EQ(GET_Y_LPARAM(at), pt.y);
    // Over an unselected item the release asks for nothing.
    mouse(1, WM_RBUTTONUP, 0);
    EXPECT_EQ(count(CodeContextMenu), 1);
}

TEST_F(PaneWindow, DragStartsAfterMoreThanFourPixelsBetweenTwoMoves) {
    loadImages(2);
    mouse(0, WM_LBUTTONDOWN, MK_LBUTTON, 10, 10);
    mouse(0, WM_MOUSEMOVE, MK_LBUTTON, 12, 12);
    EXPECT_EQ(count(CodeFileDragBegins), 0) << "2 + 2";
    mouse(0, WM_MOUSEMOVE, MK_LBUTTON, 15, 14);
    EXPECT_EQ(count(CodeFileDragBegins), 1) << "3 + 2";
    // Measured from the previous message, not from the press; no drag without the state.
    mouse(0, WM_LBUTTONUP, 0);
    mouse(0, WM_MOUSEMOVE, MK_LBUTTON, 40, 40);
    EXPECT_EQ(count(CodeFileDragBegins), 1);
}

TEST_F(PaneWindow, DoubleClicks) {
    loadImages(3);
    mouse(1, WM_LBUTTONDBLCLK, MK_LBUTTON);
    EXPECT_EQ(selectedItems(), std::vector<int>({1}));
    ASSERT_EQ(count(CodeDoubleClick), 1);
    EXPECT_EQ(posted().back().arg, 0);
    SendMessageW(GetWindow(cell(2), GW_CHILD), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 3));
    pump();
    EXPECT_EQ(commands(), std::vector<int>({5030})) << "a text area opens the rename command";
    EXPECT_EQ(count(CodeDoubleClick), 1);
}

TEST_F(PaneWindow, CopiesShownAheadOfTheLoadTakeNeitherClickNorDoubleClick) {
    loadImages(4);
    // A load's state with two items filled and the decoding threads' copies already shown in
    // the next two cells: a copy may still move on when a file before it fails.
    pane.loading = true;
    pane.filledCount = 2;
    mouse(3, WM_LBUTTONDBLCLK, MK_LBUTTON);
    mouse(2, WM_LBUTTONDOWN, MK_LBUTTON);
    EXPECT_EQ(pane.selectedCount, 0);
    EXPECT_EQ(count(CodeDoubleClick), 0);
    mouse(1, WM_LBUTTONDBLCLK, MK_LBUTTON);
    EXPECT_EQ(selectedItems(), std::vector<int>({1}));
    EXPECT_EQ(count(CodeDoubleClick), 1);
    pane.loading = false;  // the pane's own state again before it is stopped
    pane.filledCount = 4;
}

TEST_F(PaneWindow, RemovingSelectedItemsKeepsOrderAndRenumbersCells) {
    loadImages(6);
    mouse(1, WM_LBUTTONDOWN, MK_LBUTTON);
    mouse(3, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL);
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeRemoveSelected, 0);
    flush();
    const wchar_t* expected[] = {L"img00000.bmp", L"img00002.bmp", L"img00004.bmp", L"img00005.bmp"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(pane.items[i].name, expected[i]);
        ASSERT_NE(cell(i), nullptr);
        EXPECT_EQ(pane.items[i].imageWindow, cell(i)) << "cell of item " << i << " carries id 10000 + " << i;
        EXPECT_NE(pane.items[i].pixels, nullptr);
    }
    EXPECT_EQ(cell(4), nullptr);
    EXPECT_EQ(pane.selectedCount, 0);
    EXPECT_EQ(statusText(2), L"0/4");
    // Removing everything clears the pane.
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeSelectAll, 0);
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeRemoveSelected, 0);
    flush();
    EXPECT_EQ(pane.items, nullptr);
    EXPECT_EQ(pane.itemCount, 0);
}

TEST_F(PaneWindow, StatusBarPartsAndTexts) {
    loadImages(2);
    int edges[4] = {};
    ASSERT_EQ(SendMessageW(pane.statusBar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 4);
    EXPECT_EQ(edges[0], 36);
    EXPECT_EQ(edges[1], 70);
    EXPECT_EQ(edges[2], 134);
    EXPECT_EQ(statusText(0), L" 更新  ");
    EXPECT_EQ(statusText(1), L"消去  ");
    EXPECT_EQ(statusText(2), L"0/2");
    EXPECT_EQ(statusText(3), folder);
    EXPECT_EQ(GetDlgCtrlID(pane.statusBar), 510);
    EXPECT_EQ(GetDlgCtrlID(pane.baseWindow), 520);
    EXPECT_EQ(GetDlgCtrlID(pane.outerWindow), 500);
}

}  // namespace
