// A live pane keeps pixels only around the view: a cell scrolled away loses them, and when
// it comes back it shows exactly what a visit from the cache shows; a warm visit decodes only
// the cells in view.
#include "test_pane_support.h"

#include <string>

using namespace panetest;

namespace {

class PanePixels : public PaneFixture {
protected:
    // The pixels item i shows once it has them again (pumping meanwhile).
    std::string pixelsOf(int i) {
        EXPECT_TRUE(waitFor([&] { return pane.items && pane.items[i].pixels != nullptr; }, 30000)) << i;
        flush();
        const ThumbnailItem& item = pane.items[i];
        if (!item.pixels) return {};
        const size_t bytes = size_t((item.thumbWidth * 3 + 3) & ~3) * size_t(item.thumbHeight);
        return std::string(reinterpret_cast<const char*>(item.pixels), bytes);
    }
    int withPixels() {
        int n = 0;
        for (int i = 0; i < pane.itemCount; ++i) n += pane.items[i].pixels ? 1 : 0;
        return n;
    }
    void awayAndBack(int last) {
        scroll(SB_BOTTOM);
        flush();
        EXPECT_FALSE(pixelsOf(last).empty());
        EXPECT_EQ(pane.items[0].pixels, nullptr) << "far from the view only the compressed form stays";
        scroll(SB_TOP);
        flush();
    }
};

TEST_F(PanePixels, ACellScrolledAwayAndBackShowsWhatAVisitFromTheCacheShows) {
    constexpr int kFiles = 150;
    const std::wstring folder = tempFolder(L"pixels_back");
    makeImages(folder, kFiles, 300, 225);  // resampled into the cell, then compressed

    load(folder);  // cold: every file decoded, the cache written
    ASSERT_EQ(pane.itemCount, kFiles);
    const std::string decoded = pixelsOf(0);
    awayAndBack(kFiles - 1);
    const std::string coldBack = pixelsOf(0);

    load(folder);  // warm
    ASSERT_EQ(pane.itemCount, kFiles);
    const int view = pane.cellEnd - pane.cellFirst;
    ASSERT_GT(view, 0);
    EXPECT_EQ(pane.items[kFiles - 1].pixels, nullptr) << "a warm visit decodes only what is seen";
    EXPECT_TRUE(pane.items[kFiles - 1].hasThumbnail());
    EXPECT_LE(withPixels(), 3 * view) << "the view and at most one view's worth on each side";
    const std::string visit = pixelsOf(0);
    awayAndBack(kFiles - 1);
    const std::string warmBack = pixelsOf(0);

    ASSERT_FALSE(visit.empty());
    EXPECT_NE(decoded, visit) << "the test images must change under compression, or nothing is shown here";
    EXPECT_TRUE(coldBack == visit) << "after a cold load";
    EXPECT_TRUE(warmBack == visit) << "after a warm visit";
    // The cell shows the facts of every item, with or without pixels.
    EXPECT_EQ(statusText(2), L"0/" + std::to_wstring(kFiles));
}

}  // namespace
