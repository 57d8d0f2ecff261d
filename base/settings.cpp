// The settings record, its table and its pure rules; the INI file side is in app/.
#include "base/settings.h"

namespace {

constexpr wchar_t kMwin[] = L"Mwin";
constexpr wchar_t kPath[] = L"Path";

// The save writes the rows in this order; the loader reads every row.
constexpr SettingRow kRows[] = {
    {.section = kMwin, .key = L"Max", .kind = SettingKind::Flag, .fallback = 0, .small = &AppSettings::maximized},
    {.section = kMwin, .key = L"x", .kind = SettingKind::Placement, .placement = 0},
    {.section = kMwin, .key = L"y", .kind = SettingKind::Placement, .placement = 1},
    {.section = kMwin, .key = L"w", .kind = SettingKind::Placement, .placement = 2},
    {.section = kMwin, .key = L"h", .kind = SettingKind::Placement, .placement = 3},
    {.section = kMwin, .key = L"TreeW", .kind = SettingKind::Number, .fallback = 150, .number = &AppSettings::treeWidth},
    {.section = kMwin, .key = L"AutoTree", .kind = SettingKind::Flag, .fallback = 0, .small = &AppSettings::autoTree},
    {.section = kMwin, .key = L"Hidden", .kind = SettingKind::Number, .fallback = 2, .number = &AppSettings::hiddenMask},
    {.section = kMwin, .key = L"SubClose", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::subClose},
    {.section = kPath, .key = L"Dorna", .kind = SettingKind::ViewerPath, .text = &AppSettings::viewerPath},
    {.section = kPath, .key = L"SPI", .kind = SettingKind::PluginFolder, .text = &AppSettings::pluginFolder},
    {.section = kPath, .key = L"APP", .kind = SettingKind::Tools, .nameKey = L"AN"},
    {.section = L"FolderList", .key = L"", .kind = SettingKind::FolderList},
    {.section = kMwin, .key = L"ThImgW", .kind = SettingKind::Number, .fallback = 148, .min = kThumbSizeMin,
     .max = kThumbSizeMax, .number = &AppSettings::thumbWidth},
    {.section = kMwin, .key = L"ThImgH", .kind = SettingKind::Number, .fallback = 111, .min = kThumbSizeMin,
     .max = kThumbSizeMax, .number = &AppSettings::thumbHeight},
    {.section = kMwin, .key = L"InfoName", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::infoName},
    {.section = kMwin, .key = L"InfoSize", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::infoSize},
    {.section = kMwin, .key = L"InfoDate", .kind = SettingKind::Flag, .fallback = 0, .small = &AppSettings::infoDate},
    {.section = kMwin, .key = L"InfoDepth", .kind = SettingKind::Flag, .fallback = 0, .small = &AppSettings::infoDepth},
    {.section = kMwin, .key = L"TxtArea", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::textArea},
    {.section = kMwin, .key = L"FocusR", .kind = SettingKind::Byte, .fallback = 255, .small = &AppSettings::focusRed},
    {.section = kMwin, .key = L"FocusG", .kind = SettingKind::Byte, .fallback = 160, .small = &AppSettings::focusGreen},
    {.section = kMwin, .key = L"FocusB", .kind = SettingKind::Byte, .fallback = 255, .small = &AppSettings::focusBlue},
    {.section = kMwin, .key = L"DblClick", .kind = SettingKind::Number, .fallback = 3,
     .number = &AppSettings::doubleClickAction},
    {.section = kMwin, .key = L"ThSplit", .kind = SettingKind::Split, .fallback = 1, .split = &AppSettings::thumbSplit},
    {.section = kMwin, .key = L"UseCache", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::useCache},
    {.section = kMwin, .key = L"DTExpand", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::expandDesktop},
    {.section = kMwin, .key = L"CacheOpt", .kind = SettingKind::Flag, .fallback = 1, .small = &AppSettings::cacheOptimise},
    {.section = kMwin, .key = L"NoRecycMsg", .kind = SettingKind::Flag, .fallback = 0,
     .small = &AppSettings::noRecycleConfirm},
};

}  // namespace

const SettingRow* settingRows() { return kRows; }
int settingRowCount() { return int(sizeof(kRows) / sizeof(kRows[0])); }

AppSettings::AppSettings() {
    for (const SettingRow& row : kRows) {
        if (row.small) this->*row.small = uint8_t(row.fallback);
        if (row.number) this->*row.number = row.fallback;
        if (row.split) this->*row.split = SplitMode(row.fallback);
    }
    updateTextAreaHeight(*this);
}

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

int initialActivePane(const AppSettings& s) { return s.thumbSplit == SplitMode::Pane2 ? 1 : 0; }
