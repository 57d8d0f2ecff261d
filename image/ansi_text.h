// Texts stored in image files (comments, PNG text, Exif strings) are bytes in the system
// (ANSI) code page; the user interface is UTF-16. The Windows build converts with the real
// code page (ansi_text_win.cpp); the portable helpers here keep the bytes as they are
// (each byte one code unit), which is what tools and native tests use.
#pragma once

#include <cstddef>
#include <string>

// Turns up to size bytes (stopping at the first 0) into UTF-16.
using AnsiDecoder = std::wstring (*)(const char* bytes, size_t size);

inline std::wstring bytesAsWide(const char* bytes, size_t size) {
    std::wstring text;
    for (size_t i = 0; i < size && bytes[i] != 0; ++i) text += wchar_t(static_cast<unsigned char>(bytes[i]));
    return text;
}

// The reverse of bytesAsWide: units above 0xFF become '?'; stops at the first 0.
inline std::string wideAsBytes(const wchar_t* text, size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size && text[i] != 0; ++i) bytes += text[i] <= 0xFF ? char(text[i]) : '?';
    return bytes;
}

#ifdef _WIN32
// The system code page (CP_ACP) conversions. Both stop at the first 0 within size.
std::wstring ansiToWide(const char* bytes, size_t size);
// UTF-16 to the system code page, losing nothing: false (and an empty out) when any character of the
// text would not come back unchanged from the code page (no default character, no look-alike).
bool wideToAnsiExact(const wchar_t* text, size_t size, std::string& out);
#endif
