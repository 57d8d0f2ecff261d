// Pravel.ini: where it lives, loading it into the settings record at start-up and writing it
// back at shutdown (settings_win.cpp).
#pragma once

#include "base/settings.h"

// ---- the settings file (settings_win.cpp; Windows only)

// Locates Pravel.ini for the running program (fills settingsFilePath() and cacheFolderPath()).
// Fails when the program file is not named "Pravel.exe".
bool locateSettingsFile();
// The same rule for a given program path and application-data folder (null = the shell
// could not give one). Writes the chosen INI path to out (kPathCapacity units); may create
// the "Pravel" folder inside appDataFolder. Returns false for a wrong program name or a
// path that does not fit.
bool locateSettingsFileFor(const wchar_t* programPath, const wchar_t* appDataFolder, wchar_t* out);

// Loads g_settings from settingsFilePath() (and the program's four cursors).
void loadSettings();
// Loads s from iniPath: defaults for a missing file or key, clamps, derived values, and the
// "Dorna" and "FolderList" rules. programFolder (with trailing backslash) serves the "Dorna"
// default. Does not touch any global.
void loadSettingsFrom(const wchar_t* iniPath, const wchar_t* programFolder, AppSettings& s);

// Reads "x", "y", "w", "h" with their defaults for a work area of the given size.
MainPlacement readMainPlacement(int32_t workWidth, int32_t workHeight);
MainPlacement readMainPlacementFrom(const wchar_t* iniPath, int32_t workWidth, int32_t workHeight);

// Saves g_settings to settingsFilePath() (the cache optimisation, when "CacheOpt" is on, is
// run by the caller first; see shutdownApplication). Never touches section "Akey".
void saveSettings(const MainPlacement& placement);
void saveSettingsTo(const wchar_t* iniPath, const AppSettings& s, const MainPlacement& placement);
