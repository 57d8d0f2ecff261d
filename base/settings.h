// AppSettings: the process-wide settings record, filled once at start-up from Pravel.ini
// and written back once at shutdown. Every part of the program reads the fields directly;
// a writer (options dialog, menu command) changes a field and then asks the affected
// windows to lay out or repaint again. There is no change notification and no lock.
//
// The record itself, its pure rules (defaults, clamps, derived values) and the loader's rules
// over any source of stored values (loadSettingsFromSource) are portable; the paths of the
// settings file and the cache are set once at start-up (settings_paths_win.cpp). Reading and
// writing the INI file itself is the application's (app/settings.h).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kPathCapacity = 260;        // every path buffer at the platform boundary
constexpr int kRegisteredFolderMax = 100;  // slots of RegisteredFolderList
constexpr int kToolCount = 8;              // external tools "APP0".."APP7"
constexpr int kThumbSizeMin = 32;
constexpr int kThumbSizeMax = 800;
constexpr int kTextLineHeight = 14;        // one line of the text area under a thumbnail

// The folder tree's registered folders: filled from slot 0, the first empty slot ends the list.
struct RegisteredFolderList {
    wchar_t paths[kRegisteredFolderMax][kPathCapacity] = {};
    int count() const;  // number of slots before the first empty one
};

// Which thumbnail panes are shown ("ThSplit"); the values are the stored numbers. A stored
// number outside these is kept as it is: the layout then leaves the panes where they are and
// the menus check "both".
enum class SplitMode : int32_t { Both = 0, Pane1 = 1, Pane2 = 2 };

// Every stored field starts at the default of its row in the settings table below; the
// table also names its section and key, its range and the order of the save.
struct AppSettings {
    AppSettings();

    uint8_t maximized = 0;
    int32_t treeWidth = 0;    // folder tree pane width
    uint8_t autoTree = 0;     // the tree pane shows itself only while the pointer is over it
    int32_t hiddenMask = 0;   // HiddenMask: 2 = leave hidden files and folders out, 0 = show them
    uint8_t subClose = 0;     // close the companion viewer's windows at exit

    wchar_t viewerPath[kPathCapacity] = {};               // ExternalViewer program
    wchar_t pluginFolder[kPathCapacity] = {};            // image plug-ins ("SPI", or the one found below)
    wchar_t toolPaths[kToolCount][kPathCapacity] = {};    // external tools
    wchar_t toolNames[kToolCount][kPathCapacity] = {};

    RegisteredFolderList folders;

    int32_t thumbWidth = 0;   // image cell, kThumbSizeMin..kThumbSizeMax
    int32_t thumbHeight = 0;
    uint8_t infoName = 0;     // lines of the text area under each thumbnail
    uint8_t infoSize = 0;
    uint8_t infoDate = 0;
    uint8_t infoDepth = 0;
    uint8_t textArea = 0;     // the text area is shown at all
    uint8_t focusRed = 0;     // focus frame colour
    uint8_t focusGreen = 0;
    uint8_t focusBlue = 0;
    int32_t doubleClickAction = 0;  // 0..11; users of it treat other values as their default
    SplitMode thumbSplit = SplitMode::Both;
    uint8_t useCache = 0;
    uint8_t expandDesktop = 0;
    uint8_t cacheOptimise = 0;
    uint8_t noRecycleConfirm = 0;

    // derived, not stored
    // The "plugins" folder beside the program, taken as the plug-in folder while "SPI" is
    // empty; the save writes "SPI" empty for as long as pluginFolder still names it.
    wchar_t pluginFolderBeside[kPathCapacity] = {};
    int32_t textAreaHeight = 0;  // see updateTextAreaHeight
    uint32_t customColours[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                  0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
};

// The main window's normal placement in work-area coordinates. Without stored values the
// window is 800 x 600 and centred in the work area.
struct MainPlacement {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 800;
    int32_t h = 600;
};

// ---- the settings table: one row per stored setting, in the order of the save
enum class SettingKind : uint8_t {
    Flag,        // 0/1 (a stored value keeps its lowest bit)
    Byte,        // 0..255 (a stored value keeps its lowest byte)
    Number,      // any int32; clamped to min..max when min <= max
    Split,       // a SplitMode, stored as its number
    Text,        // a path of at most 259 characters
    ViewerPath,  // Text, defaulting to "Dorna.exe" in the program folder unless the file exists
    PluginFolder,  // Text; when empty, the "plugins" folder beside the program if there is one
    Tools,       // kToolCount pairs "<key><n>" (path) and "<nameKey><n>" (name), n = 0..7
    FolderList,  // the registered folders, keys "0".."99" of their own section
    Placement,   // MainPlacement field `placement` (0 x, 1 y, 2 w, 3 h); not in AppSettings
};

struct SettingRow {
    const wchar_t* section;
    const wchar_t* key;
    SettingKind kind;
    const wchar_t* nameKey = nullptr;  // Tools
    int32_t fallback = 0;   // Flag, Byte, Number, Split
    int32_t min = 1, max = 0;  // Number: the clamp when min <= max
    uint8_t AppSettings::*small = nullptr;                   // Flag, Byte
    int32_t AppSettings::*number = nullptr;                  // Number
    SplitMode AppSettings::*split = nullptr;                 // Split
    wchar_t (AppSettings::*text)[kPathCapacity] = nullptr;  // Text, ViewerPath, PluginFolder
    int placement = -1;                                      // Placement
};

// The table and its length.
const SettingRow* settingRows();
int settingRowCount();

// The one process-wide record.
extern AppSettings g_settings;

// ---- pure rules (portable, settings.cpp)
int32_t clampThumbSize(int32_t value);                 // below 32 -> 32, above 800 -> 800
// Text-area height: 14 px per info flag that is on (14 when none is), 0 when "TxtArea" is off.
int32_t textAreaHeightFor(const AppSettings& s);
// Re-applies the rule above to s.textAreaHeight; call after changing the info flags or "TxtArea".
void updateTextAreaHeight(AppSettings& s);
// 0 or 1: pane 2 when "ThSplit" is 2, else pane 1.
int initialActivePane(const AppSettings& s);
// "<prefix><index>": the keys of the external tools ("APP0", "AN7").
void settingToolKey(const wchar_t* prefix, int index, wchar_t (&out)[16]);

// ---- loading (portable; app/settings_win.cpp reads the file through the private-profile functions)

// Where the loader gets the stored values from, one key at a time.
class SettingsSource {
public:
    // The key's value as a number, or fallback when the key is missing.
    virtual int32_t number(const wchar_t* section, const wchar_t* key, int32_t fallback) = 0;
    // The key's value ("" when missing) cut to capacity - 1 units and terminated; returns
    // the number of units copied.
    virtual size_t text(const wchar_t* section, const wchar_t* key, wchar_t* out, size_t capacity) = 0;

protected:
    ~SettingsSource() = default;
};

// Fills s from source: defaults for missing keys, the ranges, the derived values, and the
// "Dorna" and "FolderList" rules. programFolder (with trailing backslash) serves the "Dorna"
// default. Without a settings file (fileExists false) the registered folders are
// firstStartFolder alone (none when it is null or empty).
void loadSettingsFromSource(SettingsSource& source, bool fileExists, const wchar_t* firstStartFolder,
                            const wchar_t* programFolder, AppSettings& s);
// "x", "y", "w", "h" with their defaults for a work area of the given size.
MainPlacement readMainPlacementFromSource(SettingsSource& source, int32_t workWidth, int32_t workHeight);

// ---- process-wide paths (settings_paths_win.cpp; Windows only)

// Set at start-up by locateSettingsFile (or by setSettingsFilePath): the INI file, the folder
// holding it with a trailing backslash, the cache folder ("<that folder>cache\"), and the
// folder of the program file with a trailing backslash.
const wchar_t* settingsFilePath();
const wchar_t* settingsFolderPath();
const wchar_t* cacheFolderPath();
const wchar_t* programFolderPath();
// Points the process at another INI file (tests, tools); derives the folder and cache paths.
void setSettingsFilePath(const wchar_t* iniPath);
