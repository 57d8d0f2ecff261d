// The theme library's functions are looked up at run time: its documentation names a newer
// system as the minimum than the oldest one the program runs on, and a missing import would
// stop the program at load. Without the library there are no visual styles to remove.
#include "base/visual_style.h"

namespace {

using SetWindowThemeProc = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
using EnableThemeDialogTextureProc = HRESULT(WINAPI*)(HWND, DWORD);

FARPROC themeFunction(const char* name) {
    static HMODULE module = [] {
        HMODULE m = GetModuleHandleW(L"uxtheme.dll");
        return m ? m : LoadLibraryW(L"uxtheme.dll");  // kept for the process's lifetime
    }();
    return module ? GetProcAddress(module, name) : nullptr;
}

SetWindowThemeProc setWindowThemeProc() {
    static SetWindowThemeProc proc =
        reinterpret_cast<SetWindowThemeProc>(reinterpret_cast<void*>(themeFunction("SetWindowTheme")));
    return proc;
}

EnableThemeDialogTextureProc enableThemeDialogTextureProc() {
    static EnableThemeDialogTextureProc proc = reinterpret_cast<EnableThemeDialogTextureProc>(
        reinterpret_cast<void*>(themeFunction("EnableThemeDialogTexture")));
    return proc;
}

}  // namespace

void removeVisualStyle(HWND window) {
    if (SetWindowThemeProc proc = setWindowThemeProc()) proc(window, L"", L"");
}

void enableTabPageTexture(HWND page) {
    // ETDT_ENABLETAB: the tab control's themed background behind the page.
    if (EnableThemeDialogTextureProc proc = enableThemeDialogTextureProc()) proc(page, 0x00000006);
}
