#include "dialogs/cache_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/image_lock.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "thumbs/pane_geometry.h"
#include "thumbs/thumbnail_cache.h"

namespace {

constexpr int kList = 1530, kTickAll = 1520, kTickNone = 1521, kDelete = 1522;

struct CacheDialogState {
    CacheLocation location;  // the cache folder
    CacheIndex index;        // the records listed, in the index's order
    WNDPROC oldListProc = nullptr;
    bool modeless = false;
};

// One dialog at a time; the list's window procedure reaches it through here.
CacheDialogState* g_state = nullptr;

void defaultMessage(HWND owner, int id) { showMessage(owner, id); }

// The thumbnail count and byte size of a data file whose 8-byte header is valid: the mark,
// and a count within bounds.
bool dataFileSummary(const std::wstring& path, uint32_t& thumbnails, uint64_t& bytes) {
    BinaryFile file;
    uint8_t header[kCacheHeaderSize];
    if (!file.open(path.c_str(), BinaryFile::ReadOnly)) return false;
    bytes = file.size();
    if (bytes < kCacheHeaderSize || !file.read(header, sizeof header) || readLe32(header) != kCacheFormatMark)
        return false;
    thumbnails = readLe32(header + 4);
    return thumbnails <= kCacheMaxCount;
}

struct ColumnSpec {
    int index;
    const wchar_t* heading;
    int width;
    int format;
    bool fitContent;
};
constexpr ColumnSpec kColumns[] = {
    {0, L"ファイル名", 80, LVCFMT_LEFT, true}, {1, L"フォルダ", 360, LVCFMT_LEFT, false},
    {2, L"W x H", 60, LVCFMT_CENTER, true},   {3, L"Count", 45, LVCFMT_RIGHT, true},
    {4, L"KB", 50, LVCFMT_RIGHT, true},
};

// Widens a column to its widest text and its heading, never below the stated width; returns
// the width set.
int fitColumn(HWND list, const ColumnSpec& c) {
    constexpr int kHeadingMargin = 14;  // the header's text padding on both sides
    SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(c.index), LVSCW_AUTOSIZE);
    int width = int(SendMessageW(list, LVM_GETCOLUMNWIDTH, WPARAM(c.index), 0));
    const int heading = int(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(c.heading))) + kHeadingMargin;
    if (width < heading) width = heading;
    if (width < c.width) width = c.width;
    SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(c.index), MAKELPARAM(width, 0));
    return width;
}

void setCell(HWND list, int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

// Empties the list and adds one row per in-memory record. Caller holds the image lock (the
// data-file headers are read here).
void fillRows(HWND dlg, const CacheDialogState& s) {
    HWND list = GetDlgItem(dlg, kList);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    const CacheIndex& index = s.index;
    SendMessageW(list, LVM_SETITEMCOUNT, WPARAM(index.count()), 0);
    for (uint32_t i = 0; i < index.count(); ++i) {
        const uint32_t number = index.number(i);
        const std::wstring numberText = std::to_wstring(number);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(i);
        item.pszText = const_cast<wchar_t*>(numberText.c_str());
        const int row = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) break;
        setCell(list, row, 1, index.folder(i));
        setCell(list, row, 2, std::to_wstring(index.cellWidth(i)) + L"x" + std::to_wstring(index.cellHeight(i)));
        uint32_t thumbnails = 0;
        uint64_t bytes = 0;
        if (dataFileSummary(cacheDataPath(s.location, number), thumbnails, bytes)) {
            setCell(list, row, 3, groupThousands(std::to_wstring(thumbnails)));
            setCell(list, row, 4, groupThousands(std::to_wstring((bytes + 1023) / 1024)));
        }
    }
    // The stated widths suit the system's UI font; where the font is wider, the number, size
    // and count columns grow so that their texts are never cut, and the folder column gives
    // up that room as far as its own texts allow, so that all five stay in view.
    int growth = 0;
    for (const ColumnSpec& c : kColumns) {
        if (c.fitContent) growth += fitColumn(list, c) - c.width;
    }
    const ColumnSpec& folders = kColumns[1];
    SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(folders.index), LVSCW_AUTOSIZE);
    const int widest = int(SendMessageW(list, LVM_GETCOLUMNWIDTH, WPARAM(folders.index), 0));
    const int folderWidth = std::min(folders.width, std::max(folders.width - growth, widest));
    SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(folders.index), MAKELPARAM(folderWidth, 0));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

bool rowTicked(HWND list, int row) {
    const UINT state = UINT(SendMessageW(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void tickAll(HWND dlg, bool on) {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
    SendDlgItemMessageW(dlg, kList, LVM_SETITEMSTATE, WPARAM(-1), reinterpret_cast<LPARAM>(&item));
}

// "キャッシュファイル削除": removes the ticked rows' records from the index and then deletes
// their data files. The index is read again under the image lock first: a pane load may
// have added a record since the list was filled, and rewriting the list's copy would drop
// it and orphan that folder's data file. The messages of failed steps are shown afterwards.
void deleteTicked(HWND dlg, CacheDialogState& s) {
    HWND list = GetDlgItem(dlg, kList);
    const int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<CacheRecordKey> doomed;
    for (uint32_t i = 0; i < s.index.count(); ++i) {
        if (int(i) < rows && rowTicked(list, int(i))) doomed.push_back({s.index.number(i), s.index.folder(i)});
    }
    if (doomed.empty()) return;

    std::vector<int> messages;
    {
        ImageLockGuard lock;
        int notDeleted = 0;
        CacheIndex now;
        if (deleteFolderRecords(s.location, doomed, now, &notDeleted)) {
            s.index = std::move(now);
            messages.assign(size_t(notDeleted), MsgDeleteFailed);
        } else {
            // Nothing was deleted: the index and every data file are as they were. The list
            // shows the index as it is now, when it can still be read.
            messages.push_back(MsgCacheAccessFailed);
            CacheIndex current;
            if (readCacheIndex(s.location, current) == IndexState::Read) s.index = std::move(current);
        }
        fillRows(dlg, s);
    }
    for (int id : messages) g_cacheDialogMessage(dlg, id);
}

// Repaints the whole list when a scroll ends, so that the check boxes are drawn whole.
LRESULT CALLBACK listProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC old = g_state ? g_state->oldListProc : nullptr;
    LRESULT r = old ? CallWindowProcW(old, hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
    if ((msg == WM_VSCROLL || msg == WM_HSCROLL) && LOWORD(wParam) == SB_ENDSCROLL) {
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
    }
    return r;
}

void addColumn(HWND list, int index, const wchar_t* heading, int width, int format) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.fmt = format;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(heading);
    SendMessageW(list, LVM_INSERTCOLUMNW, WPARAM(index), reinterpret_cast<LPARAM>(&col));
}

void dropState() {
    if (!g_state) return;
    delete g_state;
    g_state = nullptr;
}

void closeDialog(HWND dlg) {
    if (g_state && g_state->modeless)
        DestroyWindow(dlg);
    else
        EndDialog(dlg, 0);
}

INT_PTR CALLBACK cacheDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        CacheDialogState* s = g_state;
        HWND list = GetDlgItem(dlg, kList);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        for (const ColumnSpec& c : kColumns) addColumn(list, c.index, c.heading, c.width, c.format);
        s->oldListProc =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&listProc)));
        ImageLockGuard lock;
        fillRows(dlg, *s);
        return TRUE;
    }
    case WM_COMMAND: {
        if (!g_state || HIWORD(wParam) != BN_CLICKED) break;
        switch (LOWORD(wParam)) {
        case kTickAll: tickAll(dlg, true); return TRUE;
        case kTickNone: tickAll(dlg, false); return TRUE;
        case kDelete: deleteTicked(dlg, *g_state); return TRUE;
        case IDOK:
        case IDCANCEL: closeDialog(dlg); return TRUE;
        default: break;
        }
        break;
    }
    case WM_CLOSE: closeDialog(dlg); return TRUE;
    case WM_DESTROY:
        // However the dialog ends: the list gets its own procedure back first.
        if (g_state && g_state->oldListProc) {
            SetWindowLongPtrW(GetDlgItem(dlg, kList), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_state->oldListProc));
            g_state->oldListProc = nullptr;
        }
        return FALSE;
    case WM_NCDESTROY: dropState(); return FALSE;
    default: break;
    }
    return FALSE;
}

// Reads the index for a new dialog; shows message 10 and returns null when it cannot.
CacheDialogState* openState(HWND owner, bool modeless) {
    if (g_state) return nullptr;
    auto* s = new (std::nothrow) CacheDialogState;
    if (!s) {
        g_cacheDialogMessage(owner, MsgCacheAccessFailed);
        return nullptr;
    }
    s->location.folder = cacheFolderPath();
    s->modeless = modeless;
    bool read;
    {
        ImageLockGuard lock;
        read = readCacheIndex(s->location, s->index) == IndexState::Read;
    }
    if (!read) {
        delete s;
        g_cacheDialogMessage(owner, MsgCacheAccessFailed);
        return nullptr;
    }
    g_state = s;
    return s;
}

}  // namespace

void (*g_cacheDialogMessage)(HWND, int) = &defaultMessage;

INT_PTR runCacheDialog(HWND owner) {
    if (!openState(owner, false)) return 0;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kCacheDialogId), owner, cacheDialogProc, 0);
    dropState();  // when the dialog could not be created
    return 0;
}

HWND createCacheDialog(HWND owner) {
    if (!openState(owner, true)) return nullptr;
    HWND dlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kCacheDialogId), owner, cacheDialogProc, 0);
    if (!dlg) dropState();
    return dlg;
}
