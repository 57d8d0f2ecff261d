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

std::string wideToAnsi(const wchar_t* text, size_t size) {
    size_t n = 0;
    while (n < size && text[n] != 0) ++n;
    if (n == 0 || n > 0x7FFFFFFF) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, int(n), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string result(size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, int(n), &result[0], bytes, nullptr, nullptr);
    return result;
}
