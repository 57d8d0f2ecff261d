// What the pane threads read of the settings. The main thread owns AppSettings and changes
// its fields at any time (options dialog, view commands); a pane thread never reads them.
// Instead the main thread publishes an immutable copy of the fields the panes use after each
// change, and a pane reads the last copy: a load takes one copy for its whole length, a paint
// reads the copy current at that moment.
#pragma once

#include <cstdint>

#include "base/settings.h"

struct PaneSettings {
    int32_t thumbWidth = 0;      // "ThImgW", "ThImgH"
    int32_t thumbHeight = 0;
    int32_t textAreaHeight = 0;  // derived from the info flags
    uint8_t infoName = 0;
    uint8_t infoSize = 0;
    uint8_t infoDate = 0;
    uint8_t infoDepth = 0;
    uint8_t focusRed = 0;
    uint8_t focusGreen = 0;
    uint8_t focusBlue = 0;
    uint8_t autoTree = 0;
    uint8_t useCache = 0;
    SplitMode thumbSplit = SplitMode::Both;
    int32_t hiddenMask = 0;
    wchar_t pluginFolder[kPathCapacity] = {};

    bool operator==(const PaneSettings&) const = default;
};

PaneSettings paneSettingsOf(const AppSettings& settings);

// The owner of `settings` (the main thread) publishes them; a copy equal to the last one
// published changes nothing. Call after changing a field the panes use, before telling a pane.
void publishPaneSettings(const AppSettings& settings);

// The last copy published (the defaults before the first). Any thread; the record never
// changes and stays valid for the life of the process, so a reference may be kept.
const PaneSettings& paneSettings();
