#include "frame/pending_commands.h"

#include <cwchar>

#include "base/app_state.h"

#include "frame/file_operations.h"
#include "frame/wallpaper.h"
#include "image/plugin_host.h"
#include "tree/tree_access.h"

// Placeholders: each owner replaces its bodies when its subsystem lands.

void setPaneCellSize(int, int) {}

bool queryTreeMenuState(TreeMenuState& out) {
    out = TreeMenuState{};
    return false;
}
void folderTreeCommand(int) {}
void folderTreeSelectActivePaneFolder() {}
void folderTreeDragBegins(bool) {}

void showOptionsDialog(HWND) {}

void createFolderTreeContents(HWND) {}
void layoutFolderTreeContents(HWND, int, int, int) {}
bool folderTreePaneMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) { return false; }

// Until the folder tree lands: list the folder (or a file's folder) in the active pane.
void treeOpenPath(const wchar_t* path) {
    wchar_t folder[kPathCapacity];
    if (!path || std::wcslen(path) >= size_t(kPathCapacity)) return;
    std::wmemcpy(folder, path, std::wcslen(path) + 1);
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        wchar_t* slash = std::wcsrchr(folder, L'\\');
        if (!slash) return;
        if (slash > folder && slash[-1] == L':') slash[1] = L'\0';  // keep "C:\"
        else *slash = L'\0';
    }
    paneOpenFolder(g_activePane.load() == 1 ? 1 : 0, folder);
}
void treeAfterRename(const wchar_t*, const wchar_t*) {}
void treeAfterNewFolder(const wchar_t*) {}


std::vector<std::wstring> listPlugins(const wchar_t*, PluginListMode) { return {}; }
bool pluginSummary(const wchar_t*, PluginSummary& out) {
    out = PluginSummary{};
    return false;
}
void configurePlugin(const wchar_t*, void*) {}
