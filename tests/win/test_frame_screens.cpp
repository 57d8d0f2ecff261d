// Pictures of the frame and of its four menu-bar menus for a visual check. Runs only when
// PRAVEL_SHOT_DIR names a folder (tools/screenshot-menus.sh sets it and takes the pictures):
// at each step the test writes NAME.ready there and waits for the script's NAME.done.
#include "test_frame_support.h"

#include <cstdlib>
#include <cstring>

#include "frame/key_dialog.h"
#include "frame/menus.h"
#include "frame/toolbars.h"

using namespace frametest;

namespace {

std::wstring g_shotDir;
const wchar_t* g_step = L"";

bool fileThere(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Announces a step and waits (bounded) until the picture has been taken.
void handshake(const wchar_t* name) {
    const std::wstring ready = g_shotDir + L"\\" + name + L".ready";
    const std::wstring done = g_shotDir + L"\\" + name + L".done";
    HANDLE f = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    for (int i = 0; i < 600 && !fileThere(done); ++i) Sleep(100);
}

// First tick: move the selection onto the first item so the picture shows the selection look;
// second tick: picture, then close the menu.
int g_tick = 0;
void CALLBACK shotTimer(HWND w, UINT, UINT_PTR id, DWORD) {
    if (g_tick++ == 0) {
        if (HWND popup = FindWindowW(L"#32768", nullptr)) PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
        return;
    }
    KillTimer(w, id);
    handshake(g_step);
    EndMenu();
}

}  // namespace

class FrameScreens : public FrameFixture {};

TEST_F(FrameScreens, FrameAndMenuBarMenus) {
    const char* dir = std::getenv("PRAVEL_SHOT_DIR");
    if (!dir || !*dir) GTEST_SKIP() << "PRAVEL_SHOT_DIR not set";
    g_shotDir.assign(dir, dir + std::strlen(dir));
    createFrame();
    addStandInPanes();
    SetForegroundWindow(frame);
    for (int i = 0; i < 20; ++i) {
        pump();
        Sleep(20);
    }
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    handshake(L"frame");

    const wchar_t* names[4] = {L"menu-file", L"menu-view", L"menu-tools", L"menu-help"};
    for (int i = 0; i < 4; ++i) {
        g_step = names[i];
        g_tick = 0;
        SetTimer(frame, 78, 400, shotTimer);
        PostMessageW(frame, kCrossThreadMessage, CodeMenuFile + i, i);
        pump();
    }
    // The column menu and the thumbnail context menu, for completeness.
    g_step = L"menu-columns";
    g_tick = 0;
    SetTimer(frame, 78, 400, shotTimer);
    onFrameCommand(5610, 0);
    g_step = L"menu-context";
    g_tick = 0;
    SetTimer(frame, 78, 400, shotTimer);
    PostMessageW(frame, kCrossThreadMessage, CodeContextMenu, MAKELPARAM(500, 400));
    pump();

    // The key customisation dialog over a copy of the live table.
    AcceleratorTable copy = liveAccelerators();
    KeyDialogSession session;
    session.table = &copy;
    HWND dlg = createKeyCustomisationDialog(frame, session);
    ASSERT_NE(dlg, nullptr);
    ShowWindow(dlg, SW_SHOW);
    for (int i = 0; i < 20; ++i) {
        pump();
        Sleep(20);
    }
    handshake(L"key-dialog");
    DestroyWindow(dlg);
}
