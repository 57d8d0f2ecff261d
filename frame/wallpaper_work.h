// The parts of the wallpaper command below its dialog, for the command itself and its tests.
// Main thread only.
#pragma once

#include <windows.h>

#include <string>

enum class WallpaperPlacement : int { None = -1, Centre = 0, Stretch = 1, Tile = 2 };

// The placement that the desktop's values describe. A missing, empty or non-numeric value
// counts as 0 (as the system reads it); a non-zero "TileWallpaper" means tiled; otherwise
// "WallpaperStyle" 0 is centred and every other style (stretch, fit, fill, span) stretched.
WallpaperPlacement placementFromValues(const wchar_t* tileWallpaper, const wchar_t* wallpaperStyle);
// Reads "Control Panel\Desktop" of the current user; None when the key cannot be opened.
WallpaperPlacement readWallpaperPlacement();
// Writes "TileWallpaper" and "WallpaperStyle" for the placement (None is written as
// Stretch). False when the key cannot be opened for writing (nothing is written then).
bool writeWallpaperPlacement(WallpaperPlacement placement);

// "save_wp.bmp" in the folder of the settings file.
std::wstring wallpaperFilePath();

// Decodes imagePath aimed at targetWidth x targetHeight (a JPEG at its smallest reduced
// scale that still covers it, other formats at full size), writes it as a 24-bit bitmap to
// a temporary file, copies that over wallpaperFilePath() and, when setDesktop, makes it the
// desktop wallpaper. Failures are reported to owner; a failed decode silently. True when
// the wallpaper file was replaced.
bool makeWallpaperFile(HWND owner, const wchar_t* imagePath, int targetWidth, int targetHeight, bool setDesktop);
