// The settings file's values as the loader takes them: the bytes are an INI file, looked up
// key by key the way the private-profile functions answer (first section and first key of
// that name, ignoring case; spaces around names and values dropped; numbers read as decimal
// with an optional sign, wrapping; text cut to the caller's buffer). What comes out must be a
// record the rest of the program can use as it stands.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/settings.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool terminated(const wchar_t* text) { return std::wmemchr(text, L'\0', kPathCapacity) != nullptr; }

struct Entry {
    std::wstring section, key, value;
};

class IniSource final : public SettingsSource {
public:
    IniSource(const uint8_t* data, size_t size) {
        std::wstring text;
        if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
            for (size_t i = 2; i + 1 < size; i += 2) text += wchar_t(data[i] | (data[i + 1] << 8));
        } else {
            for (size_t i = 0; i < size; ++i) text += wchar_t(data[i]);  // one unit per byte, as a code page would
        }
        std::wstring section;
        size_t at = 0;
        while (at <= text.size()) {
            size_t end = text.find(L'\n', at);
            if (end == std::wstring::npos) end = text.size();
            std::wstring line = trim(text.substr(at, end - at));
            at = end + 1;
            if (!line.empty() && line[0] == L'[') {
                const size_t close = line.find(L']');
                section = trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            } else if (const size_t eq = line.find(L'='); eq != std::wstring::npos) {
                entries_.push_back({section, trim(line.substr(0, eq)), trim(line.substr(eq + 1))});
            }
        }
    }

    int32_t number(const wchar_t* section, const wchar_t* key, int32_t fallback) override {
        const std::wstring* value = find(section, key);
        if (!value) return fallback;
        size_t i = 0;
        while (i < value->size() && ((*value)[i] == L' ' || (*value)[i] == L'\t')) ++i;
        const bool negative = i < value->size() && (*value)[i] == L'-';
        if (i < value->size() && ((*value)[i] == L'-' || (*value)[i] == L'+')) ++i;
        uint32_t n = 0;
        for (; i < value->size() && (*value)[i] >= L'0' && (*value)[i] <= L'9'; ++i) n = n * 10 + uint32_t((*value)[i] - L'0');
        return int32_t(negative ? 0u - n : n);
    }

    size_t text(const wchar_t* section, const wchar_t* key, wchar_t* out, size_t capacity) override {
        const std::wstring* value = find(section, key);
        size_t n = value ? value->size() : 0;
        if (n > capacity - 1) n = capacity - 1;
        if (n) std::wmemcpy(out, value->data(), n);
        out[n] = L'\0';
        return n;
    }

private:
    static std::wstring trim(const std::wstring& s) {
        size_t a = 0, b = s.size();
        while (a < b && (s[a] == L' ' || s[a] == L'\t' || s[a] == L'\r')) ++a;
        while (b > a && (s[b - 1] == L' ' || s[b - 1] == L'\t' || s[b - 1] == L'\r')) --b;
        return s.substr(a, b - a);
    }
    static bool same(const std::wstring& a, const wchar_t* b) {
        size_t i = 0;
        for (; i < a.size() && b[i]; ++i)
            if (std::towlower(wint_t(a[i])) != std::towlower(wint_t(b[i]))) return false;
        return i == a.size() && !b[i];
    }
    const std::wstring* find(const wchar_t* section, const wchar_t* key) const {
        for (const Entry& e : entries_)
            if (same(e.section, section) && same(e.key, key)) return &e.value;
        return nullptr;
    }

    std::vector<Entry> entries_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IniSource source(data, size);
    static AppSettings s;  // large: keep it off the stack
    // An empty input stands for a missing file: the first-start folder list.
    const bool exists = size > 0;
    loadSettingsFromSource(source, exists, L"/tmp", L"/nonexistent/", s);

    check(s.thumbWidth >= kThumbSizeMin && s.thumbWidth <= kThumbSizeMax);
    check(s.thumbHeight >= kThumbSizeMin && s.thumbHeight <= kThumbSizeMax);
    for (uint8_t flag : {s.maximized, s.autoTree, s.subClose, s.infoName, s.infoSize, s.infoDate, s.infoDepth,
                         s.textArea, s.useCache, s.expandDesktop, s.cacheOptimise, s.noRecycleConfirm})
        check(flag <= 1);
    check(s.textAreaHeight == textAreaHeightFor(s));
    check(terminated(s.viewerPath) && s.viewerPath[0] && terminated(s.pluginFolder));
    for (int i = 0; i < kToolCount; ++i) check(terminated(s.toolPaths[i]) && terminated(s.toolNames[i]));
    // The registered folders: dense from slot 0, every one an existing folder.
    const int count = s.folders.count();
    for (int i = 0; i < kRegisteredFolderMax; ++i) {
        check(terminated(s.folders.paths[i]));
        if (i < count) check(isDirectory(s.folders.paths[i]));
        else check(s.folders.paths[i][0] == L'\0');
    }
    if (!exists) check(count == 1);

    const MainPlacement placement = readMainPlacementFromSource(source, 1280, 1024);
    (void)placement;
    return 0;
}
