#include "frame/key_dialog.h"

#include <commctrl.h>

#include "base/app_state.h"

namespace {

constexpr int kList = 2250, kKeyList = 2221, kCtrl = 2240, kShift = 2241;
constexpr int kAssign = 2230, kClear = 2231, kReset = 2232, kClose = 2233;
constexpr wchar_t kSessionProp[] = L"PravelKeyDialogSession";
constexpr wchar_t kOldProcProp[] = L"PravelKeyDialogListProc";

int defaultMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return MessageBoxW(owner, text, caption, type);
}

KeyDialogSession* sessionOf(HWND dlg) { return static_cast<KeyDialogSession*>(GetPropW(dlg, kSessionProp)); }

// Repaints the whole list when a scroll ends (partial repaints leave stale grid lines).
LRESULT CALLBACK listProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto old = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kOldProcProp));
    LRESULT r = CallWindowProcW(old, hwnd, msg, wParam, lParam);
    if ((msg == WM_VSCROLL || msg == WM_HSCROLL) && LOWORD(wParam) == SB_ENDSCROLL) InvalidateRect(hwnd, nullptr, TRUE);
    return r;
}

void setRowKeyText(HWND list, int row, const ACCEL& entry) {
    std::wstring text = shortcutText(entry);
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

void fillRows(HWND dlg, const AcceleratorTable& table) {
    HWND list = GetDlgItem(dlg, kList);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < kCommandCount; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(kCommands[i].displayName);
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        setRowKeyText(list, i, table.entries[i]);
    }
}

int selectedRow(HWND dlg) {
    return int(SendMessageW(GetDlgItem(dlg, kList), LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
}

void refuseNoRow(HWND dlg) {
    g_keyDialogMessageBox(dlg, L"コマンドが選択されていません。", L"未選択", MB_OK | MB_ICONERROR);
}

void assignKey(HWND dlg, KeyDialogSession& s) {
    const int row = selectedRow(dlg);
    if (row < 0 || row >= kCommandCount) {
        refuseNoRow(dlg);
        return;
    }
    const int keyIndex = int(SendDlgItemMessageW(dlg, kKeyList, LB_GETCURSEL, 0, 0));
    if (keyIndex < 0 || keyIndex >= kSelectableKeyCount) return;
    const WORD key = kSelectableKeys[keyIndex];
    const bool ctrl = IsDlgButtonChecked(dlg, kCtrl) == BST_CHECKED;
    const bool shift = IsDlgButtonChecked(dlg, kShift) == BST_CHECKED;
    for (const ACCEL& e : s.table->entries) {
        if (e.key == key && ((e.fVirt & kAccCtrl) != 0) == ctrl && ((e.fVirt & kAccShift) != 0) == shift) {
            g_keyDialogMessageBox(dlg, L"選択されたキーは既に登録済みです。\n別のキーを選択してください。", L"登録済み",
                                  MB_OK | MB_ICONERROR);
            return;
        }
    }
    ACCEL& entry = s.table->entries[row];
    entry.key = key;
    entry.fVirt = BYTE(kAccVirt | (ctrl ? kAccCtrl : 0) | (shift ? kAccShift : 0));
    setRowKeyText(GetDlgItem(dlg, kList), row, entry);
    s.changed = true;
}

void clearKey(HWND dlg, KeyDialogSession& s) {
    const int row = selectedRow(dlg);
    if (row < 0 || row >= kCommandCount) {
        refuseNoRow(dlg);
        return;
    }
    ACCEL& entry = s.table->entries[row];
    entry.key = 0;
    entry.fVirt = kAccVirt;
    setRowKeyText(GetDlgItem(dlg, kList), row, entry);
    s.changed = true;
}

void resetAll(HWND dlg, KeyDialogSession& s) {
    if (g_keyDialogMessageBox(dlg, L"すべての値を初期設定に戻しますか？", L"初期化", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    fillDefaultAccelerators(*s.table);
    HWND list = GetDlgItem(dlg, kList);
    for (int i = 0; i < kCommandCount; ++i) setRowKeyText(list, i, s.table->entries[i]);
    s.changed = true;
}

void closeDialog(HWND dlg, KeyDialogSession& s) {
    HWND list = GetDlgItem(dlg, kList);
    if (auto old = reinterpret_cast<WNDPROC>(GetPropW(list, kOldProcProp))) {
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropW(list, kOldProcProp);
    }
    RemovePropW(dlg, kSessionProp);
    if (s.modeless) DestroyWindow(dlg);
    else EndDialog(dlg, IDOK);
}

INT_PTR CALLBACK keyDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        auto* s = reinterpret_cast<KeyDialogSession*>(lParam);
        SetPropW(dlg, kSessionProp, s);
        HWND list = GetDlgItem(dlg, kList);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.cx = 211;
        col.pszText = const_cast<wchar_t*>(L"コマンド");
        SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
        col.cx = 80;
        col.pszText = const_cast<wchar_t*>(L"設定キー");
        SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
        fillRows(dlg, *s->table);
        SetPropW(list, kOldProcProp,
                 reinterpret_cast<HANDLE>(SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&listProc))));
        for (uint8_t key : kSelectableKeys)
            SendDlgItemMessageW(dlg, kKeyList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(keyLabel(key)));
        return TRUE;
    }
    case WM_COMMAND: {
        KeyDialogSession* s = sessionOf(dlg);
        if (!s || HIWORD(wParam) != BN_CLICKED) break;
        switch (LOWORD(wParam)) {
        case kAssign: assignKey(dlg, *s); return TRUE;
        case kClear: clearKey(dlg, *s); return TRUE;
        case kReset: resetAll(dlg, *s); return TRUE;
        case kClose:
        case IDCANCEL: closeDialog(dlg, *s); return TRUE;
        default: break;
        }
        break;
    }
    case WM_CLOSE:
        if (KeyDialogSession* s = sessionOf(dlg)) closeDialog(dlg, *s);
        return TRUE;
    default: break;
    }
    return FALSE;
}

}  // namespace

int (*g_keyDialogMessageBox)(HWND, const wchar_t*, const wchar_t*, UINT) = &defaultMessageBox;

void runKeyCustomisationDialog(HWND owner, KeyDialogSession& session) {
    if (!session.table) return;
    session.modeless = false;
    ModalScope modal;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kKeyDialogId), owner, keyDialogProc,
                    reinterpret_cast<LPARAM>(&session));
}

HWND createKeyCustomisationDialog(HWND owner, KeyDialogSession& session) {
    if (!session.table) return nullptr;
    session.modeless = true;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kKeyDialogId), owner, keyDialogProc,
                              reinterpret_cast<LPARAM>(&session));
}
