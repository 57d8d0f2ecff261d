// The four information dialogs. Each looks at the one selected item of the active pane (a
// copy taken when the command starts), reads what it shows from the file while holding the
// image lock, and closes at once when there is nothing to show.
#include "dialogs/info_dialogs.h"

#include <commctrl.h>

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "base/app_state.h"
#include "base/directory_list.h"
#include "base/win_state.h"
#include "base/image_lock.h"
#include "base/platform.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "image/ansi_text.h"
#include "image/exif_format.h"
#include "image/image_comment.h"
#include "image/png_text.h"
#include "thumbs/pane_access.h"
#include "thumbs/pane_geometry.h"

namespace {

// The working record of an open dialog: where the file is and the facts the pane knew.
struct SelectedFile {
    int pane = 0;
    int index = -1;
    ThumbnailItem item;
    std::wstring folder;
    std::wstring path;
};


// The one selected item of the active pane; false when the pane has no items or not
// exactly one is selected.
bool takeSelectedFile(SelectedFile& out) {
    out.pane = activePane();
    // The cheap look first: a selection of thousands is not copied only to be refused.
    PaneSnapshot snapshot;
    if (!queryPaneSnapshot(out.pane, snapshot) || !snapshot.hasItems || snapshot.selected != 1) return false;
    PaneSelection selection;
    if (!queryPaneSelection(out.pane, selection)) return false;
    if (!selection.hasItems || selection.selected.size() != 1) return false;
    out.index = selection.selected[0].index;
    out.item = selection.selected[0].item;
    out.item.name[259] = L'\0';
    out.folder = selection.folder;
    out.path = joinPath(out.folder, out.item.name);
    return true;
}

HINSTANCE instance() { return g_instance ? g_instance : GetModuleHandleW(nullptr); }

std::wstring number(long long value) { return std::to_wstring(value); }

// ---------------------------------------------------------------- list views

void addColumn(HWND list, int index, const wchar_t* title, int width) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width;
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void addRow(HWND list, const std::wstring& label, const std::wstring& value) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(label.c_str());
    const int row = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) return;
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = const_cast<wchar_t*>(value.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
}

// Report view with grid lines and two columns.
HWND prepareList(HWND dialog, int id, const wchar_t* first, int firstWidth, const wchar_t* second,
                 int secondWidth) {
    HWND list = GetDlgItem(dialog, id);
    if (!list) return nullptr;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
    addColumn(list, 0, first, firstWidth);
    addColumn(list, 1, second, secondWidth);
    return list;
}

// The label column is at least as wide as the design asks, and wide enough for its longest
// label in the font this system actually has; the list then takes exactly its columns and
// the dialog follows it (buttons to the right of the list's middle move with its right edge).
void fitListAndDialog(HWND dialog, HWND list, int labelMinWidth) {
    if (!list) return;
    const int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int labelWidth = labelMinWidth;
    wchar_t text[128];
    for (int i = 0; i < rows; ++i) {
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = 128;
        text[0] = 0;
        SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        const int width = int(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text))) + 14;
        if (width > labelWidth) labelWidth = width;
    }
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, labelWidth);
    const int columns = labelWidth + int(SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0));
    RECT client{}, outer{};
    GetClientRect(list, &client);
    GetWindowRect(list, &outer);
    // The client area excludes the border and a vertical scroll bar, if the rows need one.
    const int delta = columns - client.right;
    if (delta == 0) return;
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&outer), 2);
    const int middle = (outer.left + outer.right) / 2;
    SetWindowPos(list, nullptr, 0, 0, outer.right - outer.left + delta, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == list) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        if (r.left > middle) SetWindowPos(child, nullptr, r.left + delta, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT box;
    GetWindowRect(dialog, &box);
    SetWindowPos(dialog, nullptr, box.left - delta / 2, box.top, box.right - box.left + delta, box.bottom - box.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR closeOnCommand(HWND dialog, WPARAM wParam) {
    const int id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- 1600 file information

INT_PTR CALLBACK fileInfoProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const SelectedFile& file = *reinterpret_cast<const SelectedFile*>(lParam);
        const ThumbnailItem& item = file.item;
        HWND list = prepareList(dialog, infodlg::FileInfoList, L"項目", 74, L"データ", 187);
        if (!list) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        wchar_t date[64] = {};
        formatFileDate(item.facts.lastWriteTime, date, 64);
        addRow(list, L"ファイル名", item.name);
        addRow(list, L"ファイル形式", formatNameText(item));
        addRow(list, L"ビット深度", number(item.facts.sourceDepth) + L" bit");
        addRow(list, L"イメージ幅", number(item.facts.fileWidth) + L" pixel");
        addRow(list, L"イメージ高さ", number(item.facts.fileHeight) + L" pixel");
        addRow(list, L"ファイルサイズ", fileSizeText(item.facts.fileSize));
        addRow(list, L"更新日時", date);
        if (item.facts.format == FormatPng) addRow(list, L"文字情報", item.facts.metaCount != 0 ? L"有" : L"無");
        if (item.facts.format == FormatJpeg) {
            addRow(list, L"文字情報", item.facts.commentCount != 0 ? L"有" : L"無");
            addRow(list, L"Exif 情報", item.facts.metaCount != 0 ? L"有" : L"無");
        }
        fitListAndDialog(dialog, list, 74);
        return TRUE;
    }
    case WM_COMMAND: return closeOnCommand(dialog, wParam);
    default: return FALSE;
    }
}

// ---------------------------------------------------------------- 1700 comment

struct CommentWork {
    SelectedFile file;
    std::wstring shown;  // the comment as the dialog first showed it
    bool saved = false;  // the file now holds the edited comment
};

std::wstring normalizedFolder(std::wstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

// Saving rewrites the file: not while its own pane loads or writes its cache, nor while the
// other pane does so in the same folder.
bool saveRefused(const SelectedFile& file) {
    if (g_paneBusy[file.pane].load() != PaneIdle) return true;
    const int other = 1 - file.pane;
    if (g_paneBusy[other].load() == PaneIdle) return false;
    const std::wstring otherFolder = normalizedFolder(paneFolder(other));
    return !otherFolder.empty() && samePath(otherFolder.c_str(), normalizedFolder(file.folder).c_str());
}

constexpr UINT_PTR kBusyTimer = 1;

std::wstring editText(HWND edit) {
    const int length = GetWindowTextLengthW(edit);
    std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
    GetWindowTextW(edit, &text[0], int(text.size()));
    text.resize(wcslen(text.c_str()));
    if (text.size() > size_t(infodlg::kCommentMaxUnits)) text.resize(infodlg::kCommentMaxUnits);
    return text;
}

// Whether the dialog may close: false when the text was refused (it stays for the user to
// change it).
bool saveCommentNow(HWND dialog, CommentWork& work) {
    const std::wstring text = editText(GetDlgItem(dialog, infodlg::CommentEdit));
    // The same text as shown: nothing to write, and the file keeps its bytes and its date.
    if (text == work.shown) return true;
    CommentSaveOutcome outcome;
    {
        ImageLockGuard lock;
        outcome = saveCommentToFile(work.file.path.c_str(), ImageFormat(work.file.item.facts.format), text.c_str());
    }
    // Messages only after the lock is released: a message box pumps.
    if (!outcome.message.empty()) showErrorBox(dialog, outcome.message.c_str());
    if (outcome.unmappable) {
        SetFocus(GetDlgItem(dialog, infodlg::CommentEdit));
        return false;
    }
    if (outcome.changed) {
        const int metaDelta = work.file.item.facts.format == FormatPng ? outcome.count : 0;
        // The cell shows the file as it now is: its size and date changed with the rewrite.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        uint32_t size = work.file.item.facts.fileSize;
        FileTime written = work.file.item.facts.lastWriteTime;
        if (GetFileAttributesExW(work.file.path.c_str(), GetFileExInfoStandard, &data)) {
            size = data.nFileSizeHigh ? 0xFFFFFFFFu : data.nFileSizeLow;
            written = FileTime{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime};
        }
        // A pane that did not take the new facts in time shows them after listing the folder again.
        if (!paneItemRewritten(work.file.pane, work.file.index, work.file.item.name, outcome.count, metaDelta, size,
                               written))
            paneRefresh(work.file.pane, false);
        work.saved = true;
    }
    return true;
}

INT_PTR CALLBACK commentProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* work = reinterpret_cast<CommentWork*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const ImageFormat format = ImageFormat(work->file.item.facts.format);
        if (format != FormatPng && format != FormatJpeg) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        std::string bytes;
        {
            ImageLockGuard lock;
            bytes = readComment(work->file.path.c_str(), format);
        }
        std::wstring text = ansiToWide(bytes.data(), bytes.size());
        if (text.size() > size_t(infodlg::kCommentMaxUnits)) text.resize(infodlg::kCommentMaxUnits);
        HWND edit = GetDlgItem(dialog, infodlg::CommentEdit);
        SendMessageW(edit, EM_SETLIMITTEXT, infodlg::kCommentMaxUnits, 0);
        SetWindowTextW(edit, text.c_str());
        work->shown = editText(edit);
        EnableWindow(GetDlgItem(dialog, infodlg::CommentSave), !saveRefused(work->file));
        // A load may start or end in either pane while the dialog is open.
        SetTimer(dialog, kBusyTimer, 250, nullptr);
        // The caret at the start, nothing selected: a first key press must not replace it all.
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, 0);
        return FALSE;
    }
    case WM_TIMER: {
        auto* work = reinterpret_cast<CommentWork*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (work && wParam == kBusyTimer) {
            HWND save = GetDlgItem(dialog, infodlg::CommentSave);
            const BOOL enable = !saveRefused(work->file);
            if (bool(IsWindowEnabled(save)) != bool(enable)) EnableWindow(save, enable);
        }
        return TRUE;
    }
    case WM_COMMAND: {
        auto* work = reinterpret_cast<CommentWork*>(GetWindowLongPtrW(dialog, DWLP_USER));
        const int id = LOWORD(wParam);
        if (id == infodlg::CommentSave && work) {
            if (!saveRefused(work->file) && !saveCommentNow(dialog, *work)) return TRUE;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DESTROY: KillTimer(dialog, kBusyTimer); return FALSE;
    default: return FALSE;
    }
}

// ---------------------------------------------------------------- 1800 PNG text

struct PngTextWork {
    SelectedFile file;
    PngTextList list;
};

INT_PTR CALLBACK pngTextProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* work = reinterpret_cast<PngTextWork*>(lParam);
        if (work->file.item.facts.metaCount == 0) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        bool ok;
        {
            ImageLockGuard lock;
            ok = readPngTexts(work->file.path.c_str(), work->list);
        }
        if (!ok) {
            showMessage(dialog, MsgReadFailed);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        HWND list = prepareList(dialog, infodlg::PngTextList, L"キーワード", 74, L"テキスト", 197);
        const int count = work->list.count();
        for (int i = 0; list && i < count && i < infodlg::kPngTextRows; ++i) {
            const PngTextEntry& entry = work->list.entries[i];
            std::wstring keyword = ansiToWide(entry.keyword, kPngKeywordMax);
            std::wstring text = ansiToWide(entry.text, kPngTextMax);
            if (keyword.size() > kPngKeywordMax) keyword.resize(kPngKeywordMax);
            if (text.size() > kPngTextMax) text.resize(kPngTextMax);
            addRow(list, keyword, text);
        }
        fitListAndDialog(dialog, list, 74);
        return TRUE;
    }
    case WM_COMMAND: return closeOnCommand(dialog, wParam);
    default: return FALSE;
    }
}

// ---------------------------------------------------------------- 1900 Exif

struct ExifWork {
    SelectedFile file;
    ExifSummary summary;
    ExifRows rows;
};

INT_PTR CALLBACK exifProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* work = reinterpret_cast<ExifWork*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        if (work->file.item.facts.metaCount == 0) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        bool ok;
        {
            ImageLockGuard lock;
            ok = readExif(work->file.path.c_str(), work->summary);
        }
        if (!ok) {
            showMessage(dialog, MsgReadFailed);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        work->rows = formatExif(work->summary, ansiToWide);
        HWND list = prepareList(dialog, infodlg::ExifList, L"項目", 70, L"データ", 201);
        for (int i = 0; list && i < kExifRowCount; ++i) addRow(list, kExifLabels[i], work->rows.values[i]);
        fitListAndDialog(dialog, list, 70);
        return TRUE;
    }
    case WM_COMMAND: {
        if (LOWORD(wParam) == infodlg::ExifCopy) {
            auto* work = reinterpret_cast<ExifWork*>(GetWindowLongPtrW(dialog, DWLP_USER));
            if (work) copyTextToClipboard(dialog, exifClipboardText(work->rows));
            return TRUE;
        }
        return closeOnCommand(dialog, wParam);
    }
    default: return FALSE;
    }
}

template <class Work>
void runDialog(HWND owner, int id, DLGPROC proc, Work& work) {
    DialogBoxParamW(instance(), MAKEINTRESOURCEW(id), owner, proc, reinterpret_cast<LPARAM>(&work));
}

}  // namespace

std::wstring fileSizeText(uint32_t bytes) {
    const uint64_t kilobytes = (uint64_t(bytes) + 1023) / 1024;
    return groupThousands(std::to_wstring(kilobytes)) + L" KB (" + groupThousands(std::to_wstring(bytes)) + L" byte)";
}

std::wstring formatNameText(const ThumbnailItem& item) {
    switch (item.facts.format) {
    case FormatBmp: return L"BMP";
    case FormatPng: return item.facts.interlaced ? L"PNG (インターレース)" : L"PNG";
    case FormatJpeg: return item.facts.interlaced ? L"JPEG (プログレッシブ)" : L"JPEG";
    case FormatTiff: return L"TIFF";
    case FormatGif: return L"GIF";
    default: return std::wstring();
    }
}

void showFileInfoDialog(HWND owner) {
    SelectedFile file;
    if (!takeSelectedFile(file)) return;
    runDialog(owner, infodlg::FileInfo, fileInfoProc, file);
}

void showCommentDialog(HWND owner) {
    std::unique_ptr<CommentWork> work(new (std::nothrow) CommentWork);
    if (!work || !takeSelectedFile(work->file)) return;
    if (work->file.item.facts.format != FormatPng && work->file.item.facts.format != FormatJpeg) return;
    if (!isFile(work->file.path.c_str())) {
        showMessage(owner, MsgReadFailed);
        return;
    }
    runDialog(owner, infodlg::Comment, commentProc, *work);
    // A changed comment indicator shows at once where the cell shows that line.
    if (work->saved && g_settings.textArea && g_settings.infoDepth) paneRepaintItem(work->file.pane, work->file.index);
}

void showTextDataDialog(HWND owner) {
    SelectedFile file;
    if (!takeSelectedFile(file) || file.item.facts.metaCount == 0) return;
    if (file.item.facts.format != FormatPng && file.item.facts.format != FormatJpeg) return;
    if (!isFile(file.path.c_str())) {
        showMessage(owner, MsgReadFailed);
        return;
    }
    if (file.item.facts.format == FormatPng) {
        std::unique_ptr<PngTextWork> work(new (std::nothrow) PngTextWork{});
        if (!work) return;
        work->file = file;
        runDialog(owner, infodlg::PngText, pngTextProc, *work);
    } else {
        std::unique_ptr<ExifWork> work(new (std::nothrow) ExifWork{});
        if (!work) return;
        work->file = file;
        runDialog(owner, infodlg::Exif, exifProc, *work);
    }
}
