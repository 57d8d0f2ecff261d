// "%d" numbers, date texts, folder containment and the window title.
#include "base/text_utils.h"

#include <cwchar>

#include "base/byte_order.h"
#include "base/settings.h"

namespace {

// Appends text to out[*used..] without passing capacity (which counts the terminator).
void append(wchar_t* out, size_t capacity, size_t* used, const wchar_t* text) {
    while (*text && *used + 1 < capacity) out[(*used)++] = *text++;
    out[*used] = L'\0';
}

void appendTwoDigits(wchar_t* out, size_t capacity, size_t* used, int value) {
    wchar_t digits[kNumberBufferSize];
    if (value >= 0 && value < 10) {
        digits[0] = L'0';
        digits[1] = wchar_t(L'0' + value);
        digits[2] = L'\0';
    } else {
        formatNumber(value, digits);
    }
    append(out, capacity, used, digits);
}

}  // namespace

int formatNumber(int32_t value, wchar_t* out) {
    // Built by hand rather than through swprintf so that INT32_MIN and every build behave alike.
    wchar_t reversed[16];
    int n = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        reversed[n++] = wchar_t(L'0' + int(v % 10));
        v /= 10;
    } while (v != 0);
    int length = 0;
    if (negative) out[length++] = L'-';
    while (n > 0) out[length++] = reversed[--n];
    out[length] = L'\0';
    return length;
}

void formatDateText(const CivilTime& time, wchar_t* out, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    out[0] = L'\0';
    wchar_t year[kNumberBufferSize];
    formatNumber(time.year, year);
    append(out, capacity, &used, year);
    append(out, capacity, &used, L"/");
    appendTwoDigits(out, capacity, &used, time.month);
    append(out, capacity, &used, L"/");
    appendTwoDigits(out, capacity, &used, time.day);
    append(out, capacity, &used, L" ");
    appendTwoDigits(out, capacity, &used, time.hour);
    append(out, capacity, &used, L":");
    appendTwoDigits(out, capacity, &used, time.minute);
    append(out, capacity, &used, L":");
    appendTwoDigits(out, capacity, &used, time.second);
}

bool formatFileDate(const FileTime& utc, wchar_t* out, size_t capacity) {
    CivilTime local;
    if (!fileTimeToLocalCivil(utc, local)) {
        if (capacity) out[0] = L'\0';
        return false;
    }
    formatDateText(local, out, capacity);
    return true;
}

wchar_t foldPathUnit(wchar_t c) {
    const unsigned u = unsigned(c);
    if (u < 0x80) return u >= 'a' && u <= 'z' ? wchar_t(u - 0x20) : c;
    // Latin-1 letters (not the division sign), and y with diaeresis whose capital lies elsewhere.
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return wchar_t(u - 0x20);
    if (u == 0xFF) return wchar_t(0x178);
    // Latin Extended-A pairs: capital at the even code in two runs, at the odd code in the others.
    if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) return wchar_t(u & ~1u);
    if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) return (u & 1u) ? c : wchar_t(u - 1);
    // Greek, Cyrillic and the full-width Latin letters that Japanese names often carry.
    if (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) return wchar_t(u - 0x20);
    if (u >= 0x430 && u <= 0x44F) return wchar_t(u - 0x20);
    if (u >= 0x450 && u <= 0x45F) return wchar_t(u - 0x50);
    if (u >= 0xFF41 && u <= 0xFF5A) return wchar_t(u - 0x20);
    return c;
}

namespace {

// The length of a path without the backslashes that end it; a drive root keeps its own.
size_t comparedLength(const wchar_t* p) {
    size_t n = std::wcslen(p);
    while (n > 0 && p[n - 1] == L'\\' && !(n == 3 && p[1] == L':')) --n;
    return n;
}

bool sameUnits(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (foldPathUnit(a[i]) != foldPathUnit(b[i])) return false;
    return true;
}

}  // namespace

bool samePath(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return false;
    const size_t n = comparedLength(a);
    return n == comparedLength(b) && sameUnits(a, b, n);
}

int folderContains(const wchar_t* a, const wchar_t* b) {
    if (samePath(a, b)) return 0;
    const size_t length = std::wcslen(a), total = std::wcslen(b);
    if (length == 0) return -1;
    const bool endsInSlash = a[length - 1] == L'\\';
    // Every occurrence of a that is followed by a backslash (or ends in one itself).
    for (size_t at = 0; at + length <= total; ++at) {
        if (!sameUnits(b + at, a, length)) continue;
        if (endsInSlash || b[at + length] == L'\\') return 1;
    }
    return -1;
}

void formatWindowTitle(int paneNumber, const wchar_t* folder, wchar_t* out, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    out[0] = L'\0';
    append(out, capacity, &used, paneNumber == 2 ? L"-2- " : L"-1- ");
    append(out, capacity, &used, folder && folder[0] ? folder : L"Pravel");
}

bool copyText(wchar_t* out, size_t capacity, const wchar_t* text) {
    size_t length = std::wcslen(text);
    if (length + 1 > capacity) {
        if (capacity) out[0] = L'\0';
        return false;
    }
    std::wmemmove(out, text, length + 1);
    return true;
}

bool joinText(wchar_t* out, size_t capacity, const wchar_t* first, const wchar_t* second) {
    size_t a = std::wcslen(first);
    size_t b = std::wcslen(second);
    if (a + b + 1 > capacity) {
        if (capacity) out[0] = L'\0';
        return false;
    }
    // memmove: out may be first itself, and second may lie inside out.
    std::wmemmove(out + a, second, b + 1);
    std::wmemmove(out, first, a);
    return true;
}

void folderOf(const wchar_t* path, wchar_t* out, size_t capacity) {
    if (!capacity) return;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    size_t length = slash ? size_t(slash - path) + 1 : 0;
    if (length >= capacity) length = 0;
    std::wmemmove(out, path, length);
    out[length] = L'\0';
}

bool handedOverPath(const uint8_t* bytes, size_t size, wchar_t* out) {
    out[0] = L'\0';
    if (!bytes) return false;
    size_t units = size / 2;
    if (units > size_t(kPathCapacity)) units = kPathCapacity;
    for (size_t i = 0; i < units; ++i) {
        out[i] = wchar_t(readLe16(bytes + 2 * i));
        if (out[i] == L'\0') return true;
    }
    out[0] = L'\0';
    return false;
}

bool cutToContainingFolder(wchar_t* path) {
    wchar_t* slash = std::wcsrchr(path, L'\\');
    if (!slash) return false;
    if (slash > path && slash[-1] == L':') slash[1] = L'\0';
    else *slash = L'\0';
    return true;
}
