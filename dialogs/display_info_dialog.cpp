// The display-information dialog: the four lines of the text area under each thumbnail.
#include "dialogs/display_info_dialog.h"

#include <commctrl.h>

#include "base/command_ids.h"
#include "base/win_state.h"
#include "frame/frame_state.h"

namespace {

constexpr int kDialogId = 2300;
struct Box {
    int id;
    uint8_t AppSettings::*flag;
};
constexpr Box kBoxes[4] = {{2311, &AppSettings::infoName},
                           {2312, &AppSettings::infoSize},
                           {2313, &AppSettings::infoDepth},
                           {2314, &AppSettings::infoDate}};

INT_PTR CALLBACK displayInfoProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        // Opens under its tool-bar button.
        RECT r{};
        if (g_frame.commandBar &&
            SendMessageW(g_frame.commandBar, TB_GETRECT, cmd::InfoSettings, reinterpret_cast<LPARAM>(&r))) {
            POINT pt{r.left, r.bottom};
            ClientToScreen(g_frame.commandBar, &pt);
            SetWindowPos(dialog, nullptr, pt.x, pt.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        for (const Box& box : kBoxes)
            CheckDlgButton(dialog, box.id, g_settings.*box.flag ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            for (const Box& box : kBoxes)
                g_settings.*box.flag = IsDlgButtonChecked(dialog, box.id) == BST_CHECKED ? 1 : 0;
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

bool showDisplayInfoDialog(HWND owner) {
    return DialogBoxParamW(g_instance ? g_instance : GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), owner,
                           displayInfoProc, 0) == 1;
}
