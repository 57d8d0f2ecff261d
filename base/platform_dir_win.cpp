// Windows folder listing and list-box name order (see directory_list.h).
#include <windows.h>

#include "base/directory_list.h"
#include "base/win_handles.h"

bool listDirectory(const wchar_t* folder, const wchar_t* pattern, std::vector<DirectoryEntry>& entries) {
    const std::wstring query = joinPath(folder ? folder : L"", pattern ? pattern : L"*");
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(query.c_str(), &data));
    if (!find) {
        const DWORD error = GetLastError();
        // No match is an empty listing, not a failure.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    do {
        const wchar_t* n = data.cFileName;
        if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
        DirectoryEntry entry;
        entry.name = n;
        entry.attributes = data.dwFileAttributes;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find.get(), &data));
    return true;
}

int compareListNames(const std::wstring& a, const std::wstring& b) {
    // What a sorted list box does for its items.
    const int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), int(a.size()), b.c_str(), int(b.size()));
    if (r == CSTR_LESS_THAN) return -1;
    if (r == CSTR_GREATER_THAN) return 1;
    if (r == CSTR_EQUAL) return 0;
    return a < b ? -1 : a == b ? 0 : 1;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'/' || last == L'\\') return folder + name;
    return folder + L'\\' + name;
}
