#include "frame/pending_commands.h"

#include <cwchar>

#include "base/app_state.h"

#include "frame/file_operations.h"
#include "frame/wallpaper.h"
#include "image/plugin_host.h"
#include "tree/tree_access.h"

// Placeholders: each owner replaces its bodies when its subsystem lands.

void setPaneCellSize(int, int) {}


void showFileProperties(HWND) {}
void deleteSelectedFiles(HWND) {}
void renameSelectedFile(HWND) {}
void showOptionsDialog(HWND) {}
void openSelectionInViewer(HWND, const wchar_t*) {}
void startSlideShow(HWND) {}
void openSelectionWithAssociation(HWND) {}
void runExternalTool(HWND, int) {}
void showViewerOptions(HWND) {}
void showProgramHelp(HWND) {}
void showViewerHelp(HWND) {}
void runDoubleClickAction(HWND, int) {}



INT_PTR runNameDialog(HWND, int, int, const wchar_t*) { return 0; }
bool recycleList(HWND, const std::wstring&) { return false; }
bool recycleListSilently(const std::wstring&) { return false; }

std::vector<std::wstring> listPlugins(const wchar_t*, PluginListMode) { return {}; }
bool pluginSummary(const wchar_t*, PluginSummary& out) {
    out = PluginSummary{};
    return false;
}
void configurePlugin(const wchar_t*, void*) {}
