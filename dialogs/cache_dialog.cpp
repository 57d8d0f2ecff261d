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
constexpr wchar_t kTempPrefix[] = L"tmp";

struct CacheDialogState {
    CacheLocation location;       // the cache folder
    uint8_t* records = nullptr;   // count index records of 532 bytes, in the index's order
    uint32_t count = 0;
    WNDPROC oldListProc = nullptr;
    bool modeless = false;
};

// One dialog at a time; the list's window procedure reaches it through here.
CacheDialogState* g_state = nullptr;

void defaultMessage(HWND owner, int id) { showMessage(owner, id); }

void releaseRecords(CacheDialogState& s) {
    pageFree(s.records);
    s.records = nullptr;
    s.count = 0;
}

// Opens a cache file and checks its 8-byte header: the mark and a count within bounds.
// Leaves the file after the header; size is the whole file's.
bool openCacheFile(const std::wstring& path, BinaryFile& file, uint64_t& size, uint32_t& count) {
    uint8_t header[kCacheHeaderSize];
    if (!file.open(path.c_str(), BinaryFile::ReadOnly)) return false;
    size = file.size();
    if (size < kCacheHeaderSize || !file.read(header, sizeof header) || readLe32(header) != kCacheFormatMark)
        return false;
    count = readLe32(header + 4);
    return count <= kCacheMaxCount;
}

// Reads the index into s.records. Records cut off at the end of the file are not records
// (the cache's own index update reads it the same way), so only the complete ones count.
// Caller holds the image lock.
bool readIndex(CacheDialogState& s) {
    releaseRecords(s);
    BinaryFile file;
    uint64_t size = 0;
    uint32_t count = 0;
    bool ok = false;
    if (openCacheFile(cacheIndexPath(s.location), file, size, count)) {
        const uint64_t complete = (size - kCacheHeaderSize) / kIndexRecordSize;
        const uint32_t n = complete < count ? uint32_t(complete) : count;
        const uint64_t bytes = uint64_t(n) * kIndexRecordSize;
        if (n == 0) {
            ok = true;
        } else if (bytes <= SIZE_MAX) {
            s.records = static_cast<uint8_t*>(pageAlloc(size_t(bytes)));
            ok = s.records && file.read(s.records, size_t(bytes));
        }
        if (ok) s.count = n;
    }
    if (!ok) releaseRecords(s);
    return ok;
}

const uint8_t* recordAt(const CacheDialogState& s, uint32_t i) { return s.records + size_t(i) * kIndexRecordSize; }
uint32_t recordNumber(const CacheDialogState& s, uint32_t i) { return readLe32(recordAt(s, i) + kIndexNumberOffset); }

// The thumbnail count and byte size of a data file whose 8-byte header is valid.
bool dataFileSummary(const std::wstring& path, uint32_t& thumbnails, uint64_t& bytes) {
    BinaryFile file;
    return openCacheFile(path, file, bytes, thumbnails);
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
    SendMessageW(list, LVM_SETITEMCOUNT, WPARAM(s.count), 0);
    for (uint32_t i = 0; i < s.count; ++i) {
        const uint8_t* r = recordAt(s, i);
        const uint32_t number = readLe32(r + kIndexNumberOffset);
        const std::wstring numberText = std::to_wstring(number);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(i);
        item.pszText = const_cast<wchar_t*>(numberText.c_str());
        const int row = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) break;
        setCell(list, row, 1, decodeCacheName(r));
        setCell(list, row, 2,
                std::to_wstring(int32_t(readLe32(r + kIndexCellWidthOffset))) + L"x" +
                    std::to_wstring(int32_t(readLe32(r + kIndexCellHeightOffset))));
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

bool writeAll(HANDLE file, const uint8_t* data, uint64_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? DWORD(1u << 30) : DWORD(size);
        DWORD put = 0;
        if (!WriteFile(file, data, chunk, &put, nullptr) || put != chunk) return false;
        data += put;
        size -= put;
    }
    return true;
}

// Writes a new index of the kept records (those with a non-zero number, in order) to a
// temporary file and copies it over "index.dat". Failures add their message ids; false
// when "index.dat" was not replaced.
bool rewriteIndex(const CacheDialogState& s, const std::vector<uint32_t>& kept, std::vector<int>& messages) {
    wchar_t tempFolder[MAX_PATH + 1] = {};
    wchar_t tempPath[MAX_PATH + 1] = {};
    const DWORD folderLength = GetTempPathW(MAX_PATH + 1, tempFolder);
    if (folderLength == 0 || folderLength > MAX_PATH || GetTempFileNameW(tempFolder, kTempPrefix, 0, tempPath) == 0) {
        messages.push_back(MsgTempCreateFailed);
        return false;
    }
    FileHandle file(CreateFileW(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        messages.push_back(MsgReadFailed);
        if (!DeleteFileW(tempPath)) messages.push_back(MsgTempDeleteFailed);
        return false;
    }
    uint8_t header[kCacheHeaderSize];
    writeLe32(header, kCacheFormatMark);
    writeLe32(header + 4, uint32_t(kept.size()));
    bool written = writeAll(file.get(), header, sizeof header);
    for (size_t k = 0; written && k < kept.size(); ++k)
        written = writeAll(file.get(), recordAt(s, kept[k]), kIndexRecordSize);
    // Closed before the copy, which opens it again; the close is the write's last chance to fail.
    if (!file.close()) written = false;
    // A temporary index that could not be written whole never replaces the real one.
    bool replaced = false;
    if (!written)
        messages.push_back(MsgCacheAccessFailed);
    else if (!CopyFileW(tempPath, cacheIndexPath(s.location).c_str(), FALSE))
        messages.push_back(MsgCacheAccessFailed);
    else
        replaced = true;
    if (!DeleteFileW(tempPath)) messages.push_back(MsgTempDeleteFailed);
    return replaced;
}

// "キャッシュファイル削除": deletes the data files of the ticked rows and rewrites the index
// without their records. The file work runs under the image lock; the messages of failed
// steps are shown afterwards, in the order the steps failed.
void deleteTicked(HWND dlg, CacheDialogState& s) {
    HWND list = GetDlgItem(dlg, kList);
    const int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<uint32_t> kept;
    std::vector<uint32_t> ticked;
    for (uint32_t i = 0; i < s.count; ++i) {
        if (int(i) < rows && rowTicked(list, int(i)))
            ticked.push_back(i);
        else
            kept.push_back(i);
    }
    if (ticked.empty()) return;

    std::vector<int> messages;
    {
        ImageLockGuard lock;
        for (uint32_t i : ticked) {
            if (!DeleteFileW(cacheDataPath(s.location, recordNumber(s, i)).c_str())) messages.push_back(MsgDeleteFailed);
        }
        if (kept.empty()) {
            if (DeleteFileW(cacheIndexPath(s.location).c_str())) {
                releaseRecords(s);
            } else {
                messages.push_back(MsgDeleteFailed);
            }
        } else if (rewriteIndex(s, kept, messages)) {
            // The kept records move up, in order, into the places of the removed ones.
            for (uint32_t k = 0; k < kept.size(); ++k) {
                if (kept[k] != k) std::memmove(s.records + size_t(k) * kIndexRecordSize, recordAt(s, kept[k]), kIndexRecordSize);
            }
            s.count = uint32_t(kept.size());
        }
        // When the index could not be replaced the table still mirrors the files: the rows stay,
        // and those whose data file is gone now show no count and size.
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
    releaseRecords(*g_state);
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
        read = readIndex(*s);
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
