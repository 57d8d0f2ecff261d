// The about box: a small top-level window of its own classes (not a dialog resource), made
// modal by disabling the main window while it is open. It sets the modal flag itself and
// clears it when it closes, so the main loop goes on running while it is shown.
#include "dialogs/about_box.h"

#include <shellapi.h>

#include <atomic>
#include <cwchar>
#include <initializer_list>
#include <new>

#include "base/app_state.h"
#include "base/version_info.h"
#include "base/win_handles.h"
#include "base/win_state.h"

namespace {

constexpr const wchar_t* kBoxClass = L"ver_parent_class";
constexpr const wchar_t* kLinkClass = L"ver_child_class";
constexpr const wchar_t* kProductName = L"Pravel";
constexpr const wchar_t* kSecondLine = L"画像ファイルブラウザ";
constexpr const wchar_t* kLinkText = L"http://pravel.test";

struct AboutBox {
    HINSTANCE instance = nullptr;
    HWND owner = nullptr;
    std::atomic<int>* modalFlag = nullptr;
    wchar_t productLine[64] = {};
    const wchar_t* secondLine = kSecondLine;
    const wchar_t* link = kLinkText;
    int linkLength = 0;
    WNDPROC okProc = nullptr;
    HWND window = nullptr;
    HWND okButton = nullptr;
};

AboutBox* g_box = nullptr;

// "Pravel  version " and the file version of the module's own version resource, so that the
// box and the file's properties never tell two versions; the bare name without one.
void makeProductLine(HMODULE module, wchar_t (&out)[64]) {
    std::swprintf(out, 64, L"%ls", kProductName);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* block = loaded ? LockResource(loaded) : nullptr;
    uint16_t parts[4];
    if (!block || !readFileVersion(static_cast<const uint8_t*>(block), SizeofResource(module, found), parts)) return;
    wchar_t version[24];
    formatFileVersion(parts, version, 24);
    std::swprintf(out, 64, L"%ls  version %ls", kProductName, version);
}

HFONT uiFont() { return g_uiFont ? g_uiFont : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

bool isCloseKey(WPARAM key) { return key == VK_RETURN || key == VK_ESCAPE; }

void closeBox() {
    if (g_box && g_box->window) PostMessageW(g_box->window, WM_CLOSE, 0, 0);
}

// Enter or Esc on the button closes the box like a click.
LRESULT CALLBACK okButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_box) return DefWindowProcW(button, message, wParam, lParam);
    if ((message == WM_KEYDOWN && isCloseKey(wParam))) {
        SendMessageW(g_box->window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (message == WM_CHAR && (wParam == L'\r' || wParam == 27)) return 0;  // no beep
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS | CallWindowProcW(g_box->okProc, button, message, wParam, lParam);
    return CallWindowProcW(g_box->okProc, button, message, wParam, lParam);
}

LRESULT CALLBACK linkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        const PaintScope paint(link);
        if (g_box) {
            const HDC dc = paint.dc();
            const SelectedObject font(dc, GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(0, 0, 255));
            TextOutW(dc, 1, 1, g_box->link, g_box->linkLength);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (g_box) {
            SHELLEXECUTEINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = SEE_MASK_FLAG_NO_UI;
            info.hwnd = g_box->window;
            info.lpFile = g_box->link;
            info.nShow = SW_SHOW;
            ShellExecuteExW(&info);
        }
        return 0;
    case WM_KEYDOWN:
        if (isCloseKey(wParam)) {
            closeBox();
            return 0;
        }
        break;
    default: break;
    }
    return DefWindowProcW(link, message, wParam, lParam);
}

HWND makeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y, int w, int h) {
    HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_box->instance, nullptr);
    if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont()), FALSE);
    return child;
}

void unregisterClasses(HINSTANCE instance) {
    UnregisterClassW(kLinkClass, instance);
    UnregisterClassW(kBoxClass, instance);
}

// Gives the main window back: enabled, in front, shortcuts on again.
void releaseOwner(AboutBox& box) {
    if (box.okButton && box.okProc) {
        SetWindowLongPtrW(box.okButton, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(box.okProc));
        box.okProc = nullptr;
    }
    if (box.owner) {
        EnableWindow(box.owner, TRUE);
        SetForegroundWindow(box.owner);
    }
    if (box.modalFlag == &g_modalFlag) endModalState();  // a hand-over held meanwhile follows
    else if (box.modalFlag) box.modalFlag->store(0);
}

LRESULT CALLBACK boxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        if (!g_box) return -1;
        g_box->window = window;
        const DWORD textStyle = SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS;
        makeChild(window, L"STATIC", g_box->productLine, textStyle, 102, 10, 10, 160, 12);
        makeChild(window, L"STATIC", g_box->secondLine, textStyle, 103, 28, 30, 195, 12);
        makeChild(window, kLinkClass, g_box->link, 0, 100, 45, 51, 120, 14);
        HWND ok = makeChild(window, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 101, 139, 75, 88, 21);
        if (ok) {
            g_box->okButton = ok;
            g_box->okProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(ok, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(okButtonProc)));
            SetFocus(ok);
        }
        HMENU system = GetSystemMenu(window, FALSE);
        for (UINT entry : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) DeleteMenu(system, entry, MF_BYCOMMAND);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && g_box && g_box->okButton) SetFocus(g_box->okButton);
        return 0;
    case WM_KEYDOWN:
        if (isCloseKey(wParam)) {
            SendMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == 101) {
            SendMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE: {
        if (!g_box) break;
        const HINSTANCE instance = g_box->instance;
        releaseOwner(*g_box);
        DestroyWindow(window);
        // The box and its link are gone now, so their classes can go too.
        unregisterClasses(instance);
        return 0;
    }
    case WM_NCDESTROY:
        if (g_box && g_box->window == window) {
            releaseOwner(*g_box);  // also when the box goes with its owner
            delete g_box;
            g_box = nullptr;
        }
        break;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc, LPCWSTR cursor, HBRUSH background) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, cursor);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    // A box that went with its owner could not unregister its class; reuse it then.
    return RegisterClassW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND aboutBoxWindow() { return g_box ? g_box->window : nullptr; }

bool showAboutBox(HWND owner) {
    if (g_box) {  // already open: a posted command can still reach the disabled owner
        SetForegroundWindow(g_box->window);
        return true;
    }
    g_box = new (std::nothrow) AboutBox;
    if (!g_box) return false;
    g_box->instance = g_instance ? g_instance : GetModuleHandleW(nullptr);
    makeProductLine(g_box->instance, g_box->productLine);
    g_box->owner = owner;
    g_box->modalFlag = &g_modalFlag;
    g_box->linkLength = int(std::wcslen(g_box->link));
    if (!registerClass(g_box->instance, kBoxClass, boxProc, MAKEINTRESOURCEW(32512) /* IDC_ARROW */,
                       reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)) ||
        !registerClass(g_box->instance, kLinkClass, linkProc, MAKEINTRESOURCEW(32649) /* IDC_HAND */,
                       reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
        unregisterClasses(g_box->instance);
        delete g_box;
        g_box = nullptr;
        return false;
    }

    const int frameX = GetSystemMetrics(SM_CXDLGFRAME), frameY = GetSystemMetrics(SM_CYDLGFRAME);
    const int width = 235 + 2 * frameX;
    const int height = GetSystemMetrics(SM_CYCAPTION) + 2 * frameY + 104;
    RECT ownerRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner) GetWindowRect(owner, &ownerRect);
    const int x = ownerRect.left + (ownerRect.right - ownerRect.left - width) / 2;
    const int y = ownerRect.top + (ownerRect.bottom - ownerRect.top - height) / 2;

    if (owner) EnableWindow(owner, FALSE);
    g_modalFlag.store(1);
    HWND box = CreateWindowExW(WS_EX_DLGMODALFRAME, kBoxClass, L"バージョン情報",
                               WS_VISIBLE | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU, x, y, width, height, owner,
                               nullptr, g_box->instance, nullptr);
    if (!box) {
        if (g_box) {
            const HINSTANCE instance = g_box->instance;
            releaseOwner(*g_box);
            delete g_box;
            g_box = nullptr;
            unregisterClasses(instance);
        }
        return false;
    }
    return true;
}
