// The wallpaper command and the wallpaper file kept beside the settings. Main thread only.
#pragma once

#include <windows.h>

// The Wallpaper command: the placement dialog for the active pane's one selected image (the
// caller sets the modal flag).
void showWallpaperDialog(HWND owner);

// Deletes "save_wp.bmp" beside the settings file. On success disables `deleteButton` (when
// given); on failure shows the "delete failed" message. True when the file is gone.
bool deleteWallpaperFile(HWND owner, HWND deleteButton);
// Whether "save_wp.bmp" exists beside the settings file.
bool wallpaperFileExists();
