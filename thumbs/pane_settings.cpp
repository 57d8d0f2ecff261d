// The published copies of the pane settings (see pane_settings.h).
#include "thumbs/pane_settings.h"

#include <atomic>
#include <cwchar>
#include <new>
#include <vector>

namespace {

// Each copy is published once and never freed: a reader may hold a reference for as long as
// it likes, and a pane thread left behind at exit can still read one. A copy is a few hundred
// bytes and is made only when a field the panes use changed.
std::atomic<const PaneSettings*> g_published{nullptr};

const PaneSettings& defaults() {
    static const PaneSettings record = paneSettingsOf(AppSettings{});
    return record;
}

}  // namespace

PaneSettings paneSettingsOf(const AppSettings& s) {
    PaneSettings p;
    p.thumbWidth = s.thumbWidth;
    p.thumbHeight = s.thumbHeight;
    p.textAreaHeight = s.textAreaHeight;
    p.infoName = s.infoName;
    p.infoSize = s.infoSize;
    p.infoDate = s.infoDate;
    p.infoDepth = s.infoDepth;
    p.focusRed = s.focusRed;
    p.focusGreen = s.focusGreen;
    p.focusBlue = s.focusBlue;
    p.autoTree = s.autoTree;
    p.useCache = s.useCache;
    p.thumbSplit = s.thumbSplit;
    p.hiddenMask = s.hiddenMask;
    std::wmemcpy(p.pluginFolder, s.pluginFolder, kPathCapacity);
    p.pluginFolder[kPathCapacity - 1] = L'\0';
    return p;
}

void publishPaneSettings(const AppSettings& settings) {
    const PaneSettings next = paneSettingsOf(settings);
    if (next == paneSettings()) return;
    // Every copy stays for the life of the process (a reader may hold any of them); the list
    // only keeps them reachable. Published from the main thread alone.
    static auto* kept = new std::vector<const PaneSettings*>;
    const auto* copy = new (std::nothrow) PaneSettings(next);
    if (!copy) return;
    try {
        kept->push_back(copy);
    } catch (...) {
    }
    g_published.store(copy, std::memory_order_release);
}

const PaneSettings& paneSettings() {
    const PaneSettings* p = g_published.load(std::memory_order_acquire);
    return p ? *p : defaults();
}
