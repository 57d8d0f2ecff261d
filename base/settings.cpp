// The settings record and its pure rules; the INI file side is in settings_win.cpp.
#include "base/settings.h"

AppSettings g_settings;

int RegisteredFolderList::count() const {
    int n = 0;
    while (n < kRegisteredFolderMax && paths[n][0] != L'\0') ++n;
    return n;
}

int32_t clampThumbSize(int32_t value) {
    if (value < kThumbSizeMin) return kThumbSizeMin;
    if (value > kThumbSizeMax) return kThumbSizeMax;
    return value;
}

int32_t textAreaHeightFor(const AppSettings& s) {
    if (!s.textArea) return 0;
    int lines = (s.infoName ? 1 : 0) + (s.infoSize ? 1 : 0) + (s.infoDepth ? 1 : 0) + (s.infoDate ? 1 : 0);
    return kTextLineHeight * (lines == 0 ? 1 : lines);
}

void updateTextAreaHeight(AppSettings& s) { s.textAreaHeight = textAreaHeightFor(s); }

int initialActivePane(const AppSettings& s) { return s.thumbSplit == 2 ? 1 : 0; }
