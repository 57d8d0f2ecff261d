// Native folder listing and list-box name order (see directory_list.h).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cwctype>

#include "base/directory_list.h"
#include "base/platform.h"

namespace {

wchar_t foldCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return wchar_t(c + 32);
    if (c < 0x80) return c;
    return wchar_t(std::towlower(wint_t(c)));
}

// '*' and '?' over whole names, case folded like the Windows file system.
bool matchPattern(const wchar_t* p, const wchar_t* s) {
    const wchar_t* starP = nullptr;
    const wchar_t* starS = nullptr;
    while (*s) {
        if (*p == L'*') {
            starP = ++p;
            starS = s;
        } else if (*p == L'?' || (*p && foldCase(*p) == foldCase(*s))) {
            ++p;
            ++s;
        } else if (starP) {
            p = starP;
            s = ++starS;
        } else {
            return false;
        }
    }
    while (*p == L'*') ++p;
    return *p == 0;
}

// Primary weight classes of the list-box order: punctuation and symbols, digits, letters,
// everything beyond ASCII (kana and kanji sort after Latin letters).
int weightClass(wchar_t c) {
    if (c >= L'0' && c <= L'9') return 2;
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return 3;
    if (c < 0x80) return 1;
    return 4;
}

bool ignoredFirst(wchar_t c) { return c == L'-' || c == L'\''; }

int comparePrimary(const std::wstring& a, const std::wstring& b, bool skipHyphens) {
    size_t i = 0, j = 0;
    for (;;) {
        if (skipHyphens) {
            while (i < a.size() && ignoredFirst(a[i])) ++i;
            while (j < b.size() && ignoredFirst(b[j])) ++j;
        }
        if (i == a.size() || j == b.size()) return (i == a.size() ? 0 : 1) - (j == b.size() ? 0 : 1);
        const wchar_t ca = foldCase(a[i]), cb = foldCase(b[j]);
        const int ka = weightClass(ca), kb = weightClass(cb);
        if (ka != kb) return ka < kb ? -1 : 1;
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
}

}  // namespace

bool listDirectory(const wchar_t* folder, const wchar_t* pattern, std::vector<DirectoryEntry>& entries) {
    std::string nativeFolder = folder && *folder ? wideToUtf8(folder) : std::string("./");
    DIR* dir = opendir(nativeFolder.c_str());
    if (!dir) return false;
    if (nativeFolder.back() != '/') nativeFolder += '/';
    const std::wstring wideFolder = utf8ToWide(nativeFolder);
    while (dirent* e = readdir(dir)) {
        const std::string nativeName = e->d_name;
        if (nativeName == "." || nativeName == "..") continue;
        std::wstring name = utf8ToWide(nativeName);
        // A name that is not valid UTF-8 cannot be reached again through a wide path.
        if (wideToUtf8(name) != nativeName) continue;
        if (!matchPattern(pattern, name.c_str())) continue;
        DirectoryEntry entry;
        entry.name = std::move(name);
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            directory = stat((nativeFolder + nativeName).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entry.attributes = directory ? kAttributeDirectory : kAttributeArchive;
        getLastWriteTime((wideFolder + entry.name).c_str(), entry.lastWriteTime);
        if (nativeName[0] == '.') entry.attributes |= kAttributeHidden;
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    return true;
}

int compareListNames(const std::wstring& a, const std::wstring& b) {
    if (int r = comparePrimary(a, b, true)) return r;
    if (int r = comparePrimary(a, b, false)) return r;
    return a < b ? -1 : a == b ? 0 : 1;
}

void sortByListName(std::vector<DirectoryEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const DirectoryEntry& a, const DirectoryEntry& b) { return compareListNames(a.name, b.name) < 0; });
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'/' || last == L'\\') return folder + name;
    return folder + L'/' + name;
}
