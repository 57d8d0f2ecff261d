// The settings record, its table and its pure rules; the INI file side is in app/.
#include "base/settings.h"

#include <cwchar>
#include <iterator>

#include "base/platform.h"
#include "base/text_utils.h"

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

void settingToolKey(const wchar_t* prefix, int index, wchar_t (&out)[16]) {
    wchar_t number[kNumberBufferSize];
    formatNumber(index, number);
    joinText(out, std::size(out), prefix, number);
}

// ---------------------------------------------------------------- loading

namespace {

uint8_t readFlag(SettingsSource& source, const SettingRow& row) {
    return uint8_t(source.number(row.section, row.key, row.fallback) & 1);
}
uint8_t readByte(SettingsSource& source, const SettingRow& row) {
    return uint8_t(source.number(row.section, row.key, row.fallback) & 0xFF);
}
// Reads a string into a buffer of kPathCapacity units. Returns false when the stored value
// is longer than 259 characters: out then holds its first 259, which are no use as a path.
bool readString(SettingsSource& source, const wchar_t* section, const wchar_t* key, wchar_t* out) {
    wchar_t wide[4 * kPathCapacity];
    size_t n = source.text(section, key, wide, std::size(wide));
    if (n >= std::size(wide)) n = std::size(wide) - 1;
    wide[n] = L'\0';
    size_t keep = n < size_t(kPathCapacity) ? n : size_t(kPathCapacity) - 1;
    std::wmemcpy(out, wide, keep);
    out[keep] = L'\0';
    return n < size_t(kPathCapacity);
}

}  // namespace

void loadSettingsFromSource(SettingsSource& source, bool fileExists, const wchar_t* firstStartFolder,
                            const wchar_t* programFolder, AppSettings& s) {
    s = AppSettings{};
    for (const SettingRow& row : kRows) {
        switch (row.kind) {
        case SettingKind::Flag: s.*row.small = readFlag(source, row); break;
        case SettingKind::Byte: s.*row.small = readByte(source, row); break;
        case SettingKind::Number: {
            int32_t value = source.number(row.section, row.key, row.fallback);
            if (row.min <= row.max) value = value < row.min ? row.min : value > row.max ? row.max : value;
            s.*row.number = value;
            break;
        }
        case SettingKind::Split: s.*row.split = SplitMode(source.number(row.section, row.key, row.fallback)); break;
        case SettingKind::Text: readString(source, row.section, row.key, s.*row.text); break;
        case SettingKind::ViewerPath: {
            wchar_t* path = s.*row.text;
            const bool whole = readString(source, row.section, row.key, path);
            if (!whole || !path[0] || !isFile(path))
                joinText(path, kPathCapacity, programFolder ? programFolder : L"", L"Dorna.exe");
            break;
        }
        case SettingKind::PluginFolder: {
            // An unpacked package finds its own plug-ins without any set-up.
            wchar_t* folder = s.*row.text;
            readString(source, row.section, row.key, folder);
            wchar_t beside[kPathCapacity];
            if (!folder[0] && programFolder && joinText(beside, kPathCapacity, programFolder, L"plugins") &&
                isDirectory(beside)) {
                copyText(folder, kPathCapacity, beside);
                copyText(s.pluginFolderBeside, kPathCapacity, beside);
            }
            break;
        }
        case SettingKind::Tools:
            for (int i = 0; i < kToolCount; ++i) {
                wchar_t key[16];
                settingToolKey(row.key, i, key);
                readString(source, row.section, key, s.toolPaths[i]);
                settingToolKey(row.nameKey, i, key);
                readString(source, row.section, key, s.toolNames[i]);
            }
            break;
        case SettingKind::FolderList:
            if (!fileExists) {
                if (firstStartFolder) copyText(s.folders.paths[0], kPathCapacity, firstStartFolder);
                break;
            }
            for (int key = 0, used = 0; key < kRegisteredFolderMax; ++key) {
                wchar_t name[kNumberBufferSize];
                formatNumber(key, name);
                wchar_t value[kPathCapacity];
                const bool whole = readString(source, row.section, name, value);
                if (!value[0]) break;
                if (whole && isDirectory(value)) copyText(s.folders.paths[used++], kPathCapacity, value);
            }
            break;
        case SettingKind::Placement: break;  // readMainPlacementFromSource
        }
    }
    updateTextAreaHeight(s);
}

MainPlacement readMainPlacementFromSource(SettingsSource& source, int32_t workWidth, int32_t workHeight) {
    MainPlacement p;
    int32_t* fields[4] = {&p.x, &p.y, &p.w, &p.h};
    const int32_t fallbacks[4] = {(workWidth - p.w) / 2, (workHeight - p.h) / 2, p.w, p.h};
    for (const SettingRow& row : kRows) {
        if (row.kind == SettingKind::Placement && row.placement >= 0 && row.placement < 4)
            *fields[row.placement] = source.number(row.section, row.key, fallbacks[row.placement]);
    }
    return p;
}
