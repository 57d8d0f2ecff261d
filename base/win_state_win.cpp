// Process-wide Windows state, and the window classes of the main window, the folder tree pane
// and the thumbnail panes.
#include "base/win_state.h"

HINSTANCE g_instance = nullptr;
HFONT g_uiFont = nullptr;
HWND g_mainWindow = nullptr;
HWND g_clientWindow = nullptr;
HACCEL g_accelerators = nullptr;
HDC g_scalingDC = nullptr;
HCURSOR g_appCursors[4] = {};
HCURSOR g_notAllowedCursor = nullptr;
int g_sizeFrameX = 4;
int g_sizeFrameY = 4;
HHOOK g_mainMouseHook = nullptr;
HHOOK g_mainKeyboardHook = nullptr;
HANDLE g_paneThreads[2] = {};
HWND g_paneWindows[2] = {};

namespace {

struct ClassRow {
    const wchar_t* name;
    bool buttonFaceBackground;
    bool applicationIcon;
};

const ClassRow kClasses[WindowClassCount] = {
    {L"Pravel_main_class", true, true},
    {L"Pravel_client_class", false, false},
    {L"Pravel_trbase_class", true, false},
    {L"Pravel_bswin1_class", false, false},
    {L"Pravel_bswin2_class", false, false},
    {L"Pravel_base1_class", false, false},
    {L"Pravel_base2_class", false, false},
    {L"Pravel_thimg1_class", false, false},
    {L"Pravel_thimg2_class", false, false},
    {L"Pravel_thtxt1_class", false, false},
    {L"Pravel_thtxt2_class", false, false},
};

}  // namespace

const wchar_t* windowClassName(WindowClassId id) {
    return id >= 0 && id < WindowClassCount ? kClasses[id].name : L"";
}

bool registerWindowClass(HINSTANCE instance, WindowClassId id, WNDPROC proc) {
    if (id < 0 || id >= WindowClassCount) return false;
    const ClassRow& row = kClasses[id];
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = proc ? proc : DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = row.buttonFaceBackground ? reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1) : nullptr;
    if (row.applicationIcon) {
        wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(100));
        wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(100), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    }
    wc.lpszClassName = row.name;
    return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

OpenMenuScope::OpenMenuScope(int which) {
    g_menuOpen.store(which);
    HWND focus = GetFocus();
    if (g_mainWindow && (!focus || GetWindowThreadProcessId(focus, nullptr) != GetCurrentThreadId()))
        SetFocus(g_mainWindow);
}

OpenMenuScope::~OpenMenuScope() { g_menuOpen.store(0); }

void readSystemMetrics() {
    g_sizeFrameX = GetSystemMetrics(SM_CXSIZEFRAME);
    g_sizeFrameY = GetSystemMetrics(SM_CYSIZEFRAME);
    g_notAllowedCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32648));  // IDC_NO
}
