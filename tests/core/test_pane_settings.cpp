// The pane threads' copy of the settings: a record a reader holds never changes under it, a
// reader on another thread sees only whole records, and publishing the same values twice
// makes no new copy.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "base/platform_threads.h"
#include "thumbs/pane_settings.h"

namespace {

TEST(PaneSettings, AHeldRecordStaysAsItWasWhenOthersArePublished) {
    AppSettings settings;
    settings.thumbWidth = 200;
    std::wcscpy(settings.pluginFolder, L"C:\\spi");
    publishPaneSettings(settings);
    const PaneSettings& held = paneSettings();
    EXPECT_EQ(held.thumbWidth, 200);
    EXPECT_EQ(std::wstring(held.pluginFolder), L"C:\\spi");

    // The same values again: the reader keeps the very record it had.
    publishPaneSettings(settings);
    EXPECT_EQ(&paneSettings(), &held);

    settings.thumbWidth = 300;
    settings.pluginFolder[0] = L'\0';
    publishPaneSettings(settings);
    EXPECT_EQ(paneSettings().thumbWidth, 300);
    EXPECT_EQ(held.thumbWidth, 200) << "a published record was changed in place";
    EXPECT_EQ(std::wstring(held.pluginFolder), L"C:\\spi");
}

// A writer publishes records whose width and height are always equal while a reader checks
// them: a torn record (fields of two publications) would show as a difference.
struct Reader {
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    static void run(void* self) {
        auto& r = *static_cast<Reader*>(self);
        while (!r.stop.load()) {
            const PaneSettings& s = paneSettings();
            if (s.thumbWidth != s.thumbHeight || s.hiddenMask != s.thumbWidth) ++r.torn;
            ++r.reads;
        }
    }
};

TEST(PaneSettings, AReaderOnAnotherThreadSeesOnlyWholeRecords) {
    AppSettings settings;
    settings.thumbWidth = settings.thumbHeight = settings.hiddenMask = 32;
    publishPaneSettings(settings);
    Reader reader;
    WorkerThread thread;
    ASSERT_TRUE(thread.start(&Reader::run, &reader));
    for (int32_t n = 33; n < 33 + 400; ++n) {
        settings.thumbWidth = settings.thumbHeight = settings.hiddenMask = n;
        publishPaneSettings(settings);
    }
    while (reader.reads.load() < 1000) {
    }
    reader.stop = true;
    thread.join();
    EXPECT_EQ(reader.torn.load(), 0);
    EXPECT_EQ(paneSettings().thumbWidth, 432);
}

}  // namespace
