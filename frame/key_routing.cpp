// The main loop's shortcut translation, and the keys it leaves to the control being typed in.
#include "frame/key_routing.h"

#include "base/app_state.h"
#include "base/command_ids.h"
#include "base/win_state.h"
#include "frame/frame_state.h"
#include "frame/toolbars.h"

namespace {

bool isTextControl(HWND window) {
    wchar_t name[16] = {};
    if (!window || !GetClassNameW(window, name, 16)) return false;
    return lstrcmpiW(name, L"Edit") == 0 || lstrcmpiW(name, L"ComboBox") == 0;
}

bool isEditControl(HWND window) {
    wchar_t name[16] = {};
    return window && GetClassNameW(window, name, 16) && lstrcmpiW(name, L"Edit") == 0;
}

bool held(int virtualKey) { return GetKeyState(virtualKey) < 0; }

// Keys that type a character on their own or with Shift.
bool typesCharacter(unsigned vk) {
    return vk == VK_SPACE || (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') ||
           (vk >= VK_NUMPAD0 && vk <= VK_DIVIDE && vk != VK_SEPARATOR) || (vk >= VK_OEM_1 && vk <= VK_OEM_3) ||
           (vk >= VK_OEM_4 && vk <= VK_OEM_8) || vk == VK_OEM_102 || vk == VK_PROCESSKEY;
}

}  // namespace

bool keyEditsText(unsigned vk, bool ctrl, bool shift, bool alt) {
    if (alt) return false;
    switch (vk) {
    case VK_DELETE:
    case VK_BACK:
    case VK_INSERT:
    case VK_HOME:
    case VK_END:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_TAB: return true;  // with Ctrl too: word moves, Ctrl+Home, Ctrl+Insert
    default: break;
    }
    if (ctrl) return !shift && (vk == 'A' || vk == 'C' || vk == 'V' || vk == 'X' || vk == 'Z');
    return typesCharacter(vk);
}

bool translateMainShortcut(MSG& msg) {
    if (g_modalFlag.load() || !g_accelerators || !g_mainWindow) return false;
    if (msg.message == WM_KEYDOWN && isTextControl(msg.hwnd)) {
        const bool ctrl = held(VK_CONTROL), shift = held(VK_SHIFT), alt = held(VK_MENU);
        const unsigned vk = unsigned(msg.wParam);
        if (vk == VK_RETURN && !alt && (msg.hwnd == g_frame.fieldW || msg.hwnd == g_frame.fieldH)) {
            // The fields show the size that takes effect (a typed 5 becomes 32).
            setSizeFields(g_pendingThumbWidth, g_pendingThumbHeight);
            SendMessageW(g_mainWindow, WM_COMMAND, MAKEWPARAM(cmd::Refresh, 0), 0);
            return true;
        }
        if (keyEditsText(vk, ctrl, shift, alt)) {
            // Select-all done here: not every system's edit control knows Ctrl+A.
            if (ctrl && vk == 'A' && isEditControl(msg.hwnd)) {
                SendMessageW(msg.hwnd, EM_SETSEL, 0, -1);
                return true;
            }
            return false;
        }
    }
    return TranslateAcceleratorW(g_mainWindow, g_accelerators, &msg) != 0;
}
