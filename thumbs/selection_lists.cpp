// Path lists of a pane's selected items.
#include "thumbs/selection_lists.h"

#include <cwchar>

namespace {

void appendPath(std::wstring& out, const wchar_t* folder, const wchar_t* name) {
    size_t length = std::wcslen(folder);
    out.append(folder, length);
    if (length == 0 || folder[length - 1] != L'\\') out.push_back(L'\\');
    out.append(name, ::wcsnlen(name, 260));
}

}  // namespace

int firstSelectedItem(const ThumbnailItem* items, int count) {
    if (!items) return -1;
    for (int i = 0; i < count; ++i) {
        if (items[i].isSelected()) return i;
    }
    return -1;
}

std::wstring selectionZeroList(const wchar_t* folder, const ThumbnailItem* items, int count) {
    std::wstring out;
    if (items) {
        for (int i = 0; i < count; ++i) {
            if (!items[i].isSelected()) continue;
            appendPath(out, folder, items[i].name);
            out.push_back(L'\0');
        }
    }
    out.push_back(L'\0');
    return out;
}

std::wstring selectionQuotedList(const wchar_t* folder, const ThumbnailItem* items, int count) {
    std::wstring out;
    if (!items) return out;
    for (int i = 0; i < count; ++i) {
        if (!items[i].isSelected()) continue;
        if (!out.empty()) out.push_back(L' ');
        out.push_back(L'"');
        appendPath(out, folder, items[i].name);
        out.push_back(L'"');
    }
    return out;
}
