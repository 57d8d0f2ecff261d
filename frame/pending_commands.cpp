#include "frame/pending_commands.h"

#include <cwchar>

#include "base/app_state.h"

#include "frame/file_operations.h"
#include "frame/wallpaper.h"
#include "tree/tree_access.h"

// Placeholders: each owner replaces its bodies when its subsystem lands.

void setPaneCellSize(int, int) {}


void showOptionsDialog(HWND) {}




