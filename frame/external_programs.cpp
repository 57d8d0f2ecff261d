// Every program this one starts goes through ShellExecuteExW with no owner, no working folder,
// SW_SHOW and no shell error UI; a failed start shows message 8 (property sheets excepted).
#include "frame/external_programs.h"

#include <shlwapi.h>
#include <htmlhelp.h>

#include <string>

#include "base/win_state.h"
#include "base/html_help.h"
#include "base/messages.h"
#include "base/platform.h"
#include "frame/command_lines.h"
#include "frame/handover.h"

namespace {


bool shellStart(const wchar_t* file, const wchar_t* verb, const wchar_t* parameters, ULONG extraMask) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | extraMask;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters && *parameters ? parameters : nullptr;
    info.nShow = SW_SHOW;
    ModalScope modal;
    return ShellExecuteExW(&info) != FALSE;
}

// A start whose failure the user hears about.
void startOrTell(const wchar_t* program, const std::wstring& parameters) {
    // A command line longer than the system takes would be cut or refused by the shell; the
    // program must never get a part of the list as if it were the whole.
    if (!commandLineFits(program, parameters) || !shellStart(program, nullptr, parameters.c_str(), 0)) {
        ModalScope modal;
        showMessage(g_mainWindow, MsgRunFailed);
    }
}

void openHelpBeside(const wchar_t* programPath) {
    wchar_t help[kPathCapacity];
    if (!programPath || !*programPath || lstrlenW(programPath) >= kPathCapacity) return;
    lstrcpynW(help, programPath, kPathCapacity);
    if (!PathRenameExtensionW(help, L".chm") || !isFile(help)) return;
    callHtmlHelp(nullptr, help, HH_DISPLAY_TOPIC, 0);
}

}  // namespace

bool viewerPresent() { return isFile(g_settings.viewerPath); }

void startViewer(int pane, const wchar_t* viewerSwitch) {
    if (!viewerPresent()) return;
    // An unanswered question (already told to the user) starts nothing: never the viewer
    // without its files.
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection)) return;
    startOrTell(g_settings.viewerPath, viewerParameters(viewerSwitch, selection, g_settings.pluginFolder));
}

void startSlideShowOf(int pane) {
    if (!viewerPresent() || g_paneBusy[pane].load() != PaneIdle) return;
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection)) return;
    const std::wstring parameters = slideShowParameters(selection, g_settings.pluginFolder);
    if (parameters.empty()) return;
    startOrTell(g_settings.viewerPath, parameters);
}

void openWithAssociation(int pane) {
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection) || selection.selected.empty()) return;
    const wchar_t* name = selection.selected.front().item.name;
    if (!name[0]) return;
    // lpFile is one path, not a command line: it goes in unquoted.
    const std::wstring path = joinFolderAndName(selection.folder, name);
    if (!shellStart(path.c_str(), nullptr, nullptr, 0)) {
        ModalScope modal;
        showMessage(g_mainWindow, MsgRunFailed);
    }
}

void runTool(int pane, int toolIndex) {
    if (toolIndex < 0 || toolIndex >= kToolCount) return;
    const wchar_t* program = g_settings.toolPaths[toolIndex];
    if (!program[0]) return;  // no tool registered there
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection)) return;  // as the viewer above
    startOrTell(program, selectionQuotedList(selection));
}

void doubleClickAction(int pane) {
    int action = g_settings.doubleClickAction;
    if (action < 0 || action > 11) action = 3;
    if (!viewerPresent()) action = 3;
    switch (action) {
    case 0: startViewer(pane, L"/v"); return;
    case 1: startViewer(pane, L"/s"); return;
    case 2: startViewer(pane, L"/f"); return;
    case 3: openWithAssociation(pane); return;
    default: runTool(pane, action - 4); return;
    }
}

void openDroppedPath(HWND mainWindow, HDROP drop) {
    if (!drop) return;
    wchar_t path[kPathCapacity] = {};
    // A longer path would come back cut, naming another place: such a drop is ignored.
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    const bool usable = length > 0 && length < UINT(kPathCapacity) && DragQueryFileW(drop, 0, path, kPathCapacity) == length;
    DragFinish(drop);
    if (!usable) return;
    if (mainWindow) SetForegroundWindow(mainWindow);
    openPath(path);
}

// ---------------------------------------------------------------- the commands

void openSelectionInViewer(HWND, const wchar_t* option) { startViewer(activePane(), option); }
void startSlideShow(HWND) { startSlideShowOf(activePane()); }
void openSelectionWithAssociation(HWND) { openWithAssociation(activePane()); }
void runExternalTool(HWND, int toolIndex) { runTool(activePane(), toolIndex); }
void showViewerOptions(HWND) { startViewer(activePane(), L"/o"); }
void runDoubleClickAction(HWND, int pane) { doubleClickAction(pane == 1 ? 1 : 0); }

void showFileProperties(HWND) {
    PaneSelection selection;
    if (!queryPaneSelection(activePane(), selection) || selection.selected.size() != 1) return;
    const std::wstring path = joinFolderAndName(selection.folder, selection.selected.front().item.name);
    shellStart(path.c_str(), L"properties", nullptr, SEE_MASK_INVOKEIDLIST);  // no message on failure
}

void showProgramHelp(HWND) {
    wchar_t self[kPathCapacity] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, kPathCapacity);
    if (length == 0 || length >= DWORD(kPathCapacity)) return;
    openHelpBeside(self);
}

void showViewerHelp(HWND) { openHelpBeside(g_settings.viewerPath); }
