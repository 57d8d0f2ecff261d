// Helpers for the options and cache dialog tests: driving the modal dialogs the options dialog
// opens (colour chooser, open-file dialog, key dialog) from a thread timer while their own
// loop runs, and writing cache files by hand.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "test_wine_support.h"
#include "thumbs/thumbnail_cache.h"

namespace optionstest {

inline bool isShownDialog(HWND w) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    return IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0;
}

struct DialogSearch {
    HWND owner;
    HWND found;
    static BOOL CALLBACK visit(HWND w, LPARAM lp) {
        auto* s = reinterpret_cast<DialogSearch*>(lp);
        if (isShownDialog(w) && GetWindow(w, GW_OWNER) == s->owner) {
            s->found = w;
            return FALSE;
        }
        return TRUE;
    }
    // Cancels every shown dialog of the thread but `owner`.
    static BOOL CALLBACK cancel(HWND w, LPARAM owner) {
        if (w != HWND(owner) && isShownDialog(w)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
};

// A visible dialog of this thread owned by `owner` (a common dialog or a modal dialog). A child
// window given as owner stands for its top-level window, as the system treats it.
inline HWND ownedDialog(HWND owner) {
    DialogSearch search{GetAncestor(owner, GA_ROOT), nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &DialogSearch::visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs `action` on the first dialog owned by `owner` that appears while a modal loop runs.
struct ModalDriver {
    static inline HWND owner = nullptr;
    static inline std::function<void(HWND)> action;
    static inline bool ran = false;
    static inline UINT_PTR timer = 0;
    static inline int ticks = 0;
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        HWND dlg = ownedDialog(owner);
        if (!dlg) {
            // A dialog with another owner (a fault under test) would hold its modal loop for
            // ever: after ten seconds any dialog of this thread but the owner is cancelled.
            if (++ticks > 100) {
                EnumThreadWindows(GetCurrentThreadId(), &DialogSearch::cancel,
                                  reinterpret_cast<LPARAM>(GetAncestor(owner, GA_ROOT)));
                disarm();
            }
            return;
        }
        disarm();
        ran = true;
        action(dlg);
    }
    static void arm(HWND dialogOwner, std::function<void(HWND)> what) {
        disarm();
        owner = dialogOwner;
        action = std::move(what);
        ran = false;
        ticks = 0;
        timer = SetTimer(nullptr, 0, 100, &ModalDriver::tick);
    }
    static void disarm() {
        if (timer) KillTimer(nullptr, timer);
        timer = 0;
    }
};

inline void click(HWND parent, int id) {
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(parent, id)));
}

inline std::wstring text(HWND parent, int id) {
    wchar_t buffer[300] = {};
    GetDlgItemTextW(parent, id, buffer, 300);
    return buffer;
}

inline std::wstring cellText(HWND list, int row, int column) {
    wchar_t buffer[300] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 300;
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

inline bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct IndexEntry {
    std::wstring folder;
    uint32_t number;
    int32_t width = 148, height = 111;
};

// An index file: header (mark, count or countField), the records, then cut `cut` bytes off.
inline std::string indexBytes(const std::vector<IndexEntry>& entries, int64_t countField = -1, size_t cut = 0) {
    std::string bytes(kCacheHeaderSize + entries.size() * kIndexRecordSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    writeLe32(p, kCacheFormatMark);
    writeLe32(p + 4, countField >= 0 ? uint32_t(countField) : uint32_t(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* r = p + kCacheHeaderSize + i * kIndexRecordSize;
        encodeCacheName(entries[i].folder, r);
        writeLe32(r + kIndexNumberOffset, entries[i].number);
        writeLe32(r + kIndexCellWidthOffset, uint32_t(entries[i].width));
        writeLe32(r + kIndexCellHeightOffset, uint32_t(entries[i].height));
    }
    bytes.resize(bytes.size() - cut);
    return bytes;
}

// A data file with a header of `count` thumbnails and `size` bytes in all (contents zero).
inline std::string dataBytes(uint32_t count, size_t size, uint32_t mark = kCacheFormatMark) {
    std::string bytes(size < kCacheHeaderSize ? kCacheHeaderSize : size, '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    writeLe32(p, mark);
    writeLe32(p + 4, count);
    return bytes;
}

// The folder paths and numbers of an index file's records, in order (empty when unreadable).
inline std::vector<IndexEntry> readIndex(const std::wstring& path) {
    std::vector<IndexEntry> out;
    const std::string bytes = winetest::readBytes(path);
    if (bytes.size() < kCacheHeaderSize) return out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint32_t count = readLe32(p + 4);
    for (uint32_t i = 0; i < count && kCacheHeaderSize + (i + 1) * kIndexRecordSize <= bytes.size(); ++i) {
        const uint8_t* r = p + kCacheHeaderSize + size_t(i) * kIndexRecordSize;
        out.push_back({decodeCacheName(r), readLe32(r + kIndexNumberOffset), int32_t(readLe32(r + kIndexCellWidthOffset)),
                       int32_t(readLe32(r + kIndexCellHeightOffset))});
    }
    return out;
}

inline std::vector<int>& shownMessages() {
    static std::vector<int> ids;
    return ids;
}
inline void recordMessage(HWND, int id) { shownMessages().push_back(id); }

}  // namespace optionstest
