// What the rest of the main thread asks of the folder tree pane. Main thread only.
#pragma once

#include <windows.h>

// Opens a path the way a command-line argument is opened: a shell link is followed, a file is
// cut to its folder, the folder is registered and selected, and so listed in the active pane.
void treeOpenPath(const wchar_t* path);

// Called by the name dialog after it renamed the tree folder `oldPath` to `newPath`.
void treeAfterRename(const wchar_t* oldPath, const wchar_t* newPath);
// Called by the name dialog after it created a folder inside `parentFolder`.
void treeAfterNewFolder(const wchar_t* parentFolder);
