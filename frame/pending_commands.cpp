#include "frame/pending_commands.h"

// Placeholders: each owner replaces its bodies when its subsystem lands.

void setPaneCellSize(int, int) {}

bool queryTreeMenuState(TreeMenuState& out) {
    out = TreeMenuState{};
    return false;
}
void folderTreeCommand(int) {}
void folderTreeSelectActivePaneFolder() {}
void folderTreeDragBegins(bool) {}

void showFileInfoDialog(HWND) {}
void showCommentDialog(HWND) {}
void showTextDataDialog(HWND) {}
void showFileProperties(HWND) {}
void deleteSelectedFiles(HWND) {}
void renameSelectedFile(HWND) {}
void showWallpaperDialog(HWND) {}
void showOptionsDialog(HWND) {}
bool showAboutBox(HWND) { return true; }
void openSelectionInViewer(HWND, const wchar_t*) {}
void startSlideShow(HWND) {}
void openSelectionWithAssociation(HWND) {}
void runExternalTool(HWND, int) {}
void showViewerOptions(HWND) {}
void showProgramHelp(HWND) {}
void showViewerHelp(HWND) {}
void runDoubleClickAction(HWND, int) {}

void createFolderTreeContents(HWND) {}
void layoutFolderTreeContents(HWND, int, int, int) {}
bool folderTreePaneMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) { return false; }
