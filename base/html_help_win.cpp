// Dynamic HTML Help.
#include "base/html_help.h"

namespace {

using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
constexpr UINT kHelpInitialize = 0x001C;    // HH_INITIALIZE
constexpr UINT kHelpUninitialize = 0x001D;  // HH_UNINITIALIZE

HMODULE g_module = nullptr;
HtmlHelpProc g_htmlHelp = nullptr;
DWORD_PTR g_cookie = 0;

}  // namespace

void initHtmlHelp() {
    if (g_module) return;
    g_module = LoadLibraryW(L"hhctrl.ocx");
    if (!g_module) return;
    g_htmlHelp = reinterpret_cast<HtmlHelpProc>(reinterpret_cast<void*>(GetProcAddress(g_module, "HtmlHelpW")));
    if (!g_htmlHelp) {
        FreeLibrary(g_module);
        g_module = nullptr;
        return;
    }
    g_htmlHelp(nullptr, nullptr, kHelpInitialize, reinterpret_cast<DWORD_PTR>(&g_cookie));
}

void uninitHtmlHelp() {
    if (!g_module) return;
    if (g_htmlHelp) g_htmlHelp(nullptr, nullptr, kHelpUninitialize, g_cookie);
    FreeLibrary(g_module);
    g_module = nullptr;
    g_htmlHelp = nullptr;
    g_cookie = 0;
}

HWND callHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) {
    return g_htmlHelp ? g_htmlHelp(caller, file, command, data) : nullptr;
}

bool htmlHelpAvailable() { return g_htmlHelp != nullptr; }
