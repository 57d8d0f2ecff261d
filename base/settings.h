// AppSettings: the process-wide settings record, filled once at start-up from Pravel.ini
// and written back once at shutdown. Every part of the program reads the fields directly;
// a writer (options dialog, menu command) changes a field and then asks the affected
// windows to lay out or repaint again. There is no change notification and no lock.
//
// The record itself and its pure rules (defaults, clamps, derived values) are portable; the
// paths of the settings file and the cache are set once at start-up (settings_paths_win.cpp).
// Reading and writing the INI file is the application's (app/settings.h).
#pragma once

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

struct AppSettings {
    // section "Mwin" (first block)
    uint8_t maximized = 0;   // "Max"
    int32_t treeWidth = 150; // "TreeW"
    uint8_t autoTree = 0;    // "AutoTree"
    int32_t hiddenMask = 2;  // "Hidden" (HiddenMask: 2 = leave hidden files and folders out, 0 = show them)
    uint8_t subClose = 1;    // "SubClose": close the companion viewer's windows at exit

    // section "Path"
    wchar_t viewerPath[kPathCapacity] = {};               // "Dorna" (ExternalViewer program)
    wchar_t pluginFolder[kPathCapacity] = {};             // "SPI"
    wchar_t toolPaths[kToolCount][kPathCapacity] = {};    // "APP0".."APP7"
    wchar_t toolNames[kToolCount][kPathCapacity] = {};    // "AN0".."AN7"

    // section "FolderList"
    RegisteredFolderList folders;

    // section "Mwin" (second block)
    int32_t thumbWidth = 148;   // "ThImgW", 32..800
    int32_t thumbHeight = 111;  // "ThImgH", 32..800
    uint8_t infoName = 1;       // "InfoName"
    uint8_t infoSize = 1;       // "InfoSize"
    uint8_t infoDate = 0;       // "InfoDate"
    uint8_t infoDepth = 0;      // "InfoDepth"
    uint8_t textArea = 1;       // "TxtArea"
    uint8_t focusRed = 255;     // "FocusR"
    uint8_t focusGreen = 160;   // "FocusG"
    uint8_t focusBlue = 255;    // "FocusB"
    int32_t doubleClickAction = 3;  // "DblClick", 0..11; users of it treat other values as their default
    int32_t thumbSplit = 1;         // "ThSplit": 1 pane 1, 2 pane 2, 0 both side by side
    uint8_t useCache = 1;           // "UseCache"
    uint8_t expandDesktop = 1;      // "DTExpand"
    uint8_t cacheOptimise = 1;      // "CacheOpt"
    uint8_t noRecycleConfirm = 0;   // "NoRecycMsg"

    // derived, not stored
    int32_t textAreaHeight = 2 * kTextLineHeight;  // see updateTextAreaHeight
    uint32_t customColours[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                  0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
};

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

// The main window's normal placement in work-area coordinates ("Mwin" "x", "y", "w", "h").
struct MainPlacement {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 800;
    int32_t h = 600;
};
