// System code page conversions for the texts stored in image files.
#include <windows.h>

#include "image/ansi_text.h"

std::wstring ansiToWide(const char* bytes, size_t size) {
    size_t n = 0;
    while (n < size && bytes[n] != 0) ++n;
    if (n == 0 || n > 0x7FFFFFFF) return std::wstring();
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes, int(n), nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring text(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, int(n), &text[0], units);
    return text;
}

bool wideToAnsiExact(const wchar_t* text, size_t size, std::string& out) {
    out.clear();
    size_t n = 0;
    while (n < size && text[n] != 0) ++n;
    if (n == 0) return true;
    if (n > 0x7FFFFFFF) return false;
    // A UTF-8 system code page holds every character, and refuses the "default used" question.
    const UINT codePage = GetACP();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, flags, text, int(n), nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
    if (bytes <= 0 || usedDefault) return false;
    out.assign(size_t(bytes), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text, int(n), &out[0], bytes, nullptr, utf8 ? nullptr : &usedDefault) != bytes ||
        usedDefault) {
        out.clear();
        return false;
    }
    // The way back must give the same text: a code page may map a character to a look-alike
    // without reporting it.
    if (ansiToWide(out.data(), out.size()) != std::wstring(text, n)) {
        out.clear();
        return false;
    }
    return true;
}
