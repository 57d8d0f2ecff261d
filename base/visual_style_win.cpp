// The theme library's functions are looked up at run time: its documentation names a newer
// system as the minimum than the oldest one the program runs on, and a missing import would
// stop the program at load. Without the library there are no visual styles to remove.
#include "base/visual_style.h"

namespace {

using SetWindowThemeProc = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);

SetWindowThemeProc setWindowThemeProc() {
    static SetWindowThemeProc proc = [] {
        HMODULE module = GetModuleHandleW(L"uxtheme.dll");
        if (!module) module = LoadLibraryW(L"uxtheme.dll");  // kept for the process's lifetime
        if (!module) return SetWindowThemeProc(nullptr);
        return reinterpret_cast<SetWindowThemeProc>(reinterpret_cast<void*>(GetProcAddress(module, "SetWindowTheme")));
    }();
    return proc;
}

}  // namespace

void removeVisualStyle(HWND window) {
    if (SetWindowThemeProc proc = setWindowThemeProc()) proc(window, L"", L"");
}
