// The main window's side of start-up: hand-over from a second instance, the pane threads'
// handshake, the command-line path and the window title.
#include "frame/handover.h"

#include <cwchar>

#include "base/messages.h"
#include "base/text_utils.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/pane_access.h"
#include "tree/tree_access.h"

namespace {

wchar_t g_commandLinePath[kPathCapacity];
wchar_t g_heldPath[kPathCapacity];  // handed over while a modal dialog was open
bool g_paneReported[2];
bool g_commandLineOpened = false;

}  // namespace

void setCommandLinePath(const wchar_t* path) {
    if (!copyText(g_commandLinePath, kPathCapacity, path ? path : L"")) g_commandLinePath[0] = L'\0';
}

LRESULT onCopyData(HWND mainWindow, const COPYDATASTRUCT* data) {
    if (!data || data->dwData != 0 || !data->lpData || data->cbData < sizeof(wchar_t)) return FALSE;
    if (anyPaneBusy()) return TRUE;  // a hand-over while a pane loads or writes is ignored
    wchar_t path[kPathCapacity];
    if (!handedOverPath(static_cast<const uint8_t*>(data->lpData), data->cbData, path)) return FALSE;
    openPath(path);
    return TRUE;
}

bool onPaneReady(int paneIndex, HWND paneWindow) {
    if (paneIndex < 0 || paneIndex > 1) return false;
    g_paneWindows[paneIndex] = paneWindow;
    g_paneReported[paneIndex] = true;
    if (!g_paneReported[0] || !g_paneReported[1] || g_commandLineOpened) return false;
    g_commandLineOpened = true;
    return true;
}

void openCommandLinePath() {
    if (g_commandLinePath[0]) openPath(g_commandLinePath);
}

void openPath(const wchar_t* path) {
    if (!path || !path[0] || std::wcslen(path) >= size_t(kPathCapacity)) return;
    if (g_modalFlag.load()) {
        copyText(g_heldPath, kPathCapacity, path);
        return;
    }
    treeOpenPath(path);
    refreshWindowTitle();
}

void onModalStateEnded() {
    if (g_heldPath[0] && g_mainWindow) PostMessageW(g_mainWindow, kCrossThreadMessage, CodeOpenHeldPath, 0);
}

void openHeldPath() {
    if (!g_heldPath[0] || g_modalFlag.load()) return;
    wchar_t path[kPathCapacity];
    std::wmemcpy(path, g_heldPath, kPathCapacity);
    g_heldPath[0] = L'\0';
    if (anyPaneBusy()) return;
    openPath(path);
}

void refreshWindowTitle() {
    if (!g_mainWindow) return;
    int active = activePane();
    wchar_t title[kPathCapacity + 8];
    formatWindowTitle(active + 1, paneFolder(active).c_str(), title, sizeof(title) / sizeof(title[0]));
    SetWindowTextW(g_mainWindow, title);
}

void onShowMessage(LPARAM id) {
    ModalScope modal;
    showMessage(g_mainWindow, int(id));
}
