// The Exif view's copy button: the clipboard text as CF_UNICODETEXT.
#include <windows.h>

#include <cstring>

#include "image/exif_format.h"

bool copyTextToClipboard(void* ownerWindow, const std::wstring& text) {
    if (!OpenClipboard(static_cast<HWND>(ownerWindow))) return false;
    EmptyClipboard();
    bool handedOver = false;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)) {
        if (void* p = GlobalLock(memory)) {
            std::memcpy(p, text.c_str(), bytes);
            GlobalUnlock(memory);
            // Once the clipboard has taken the memory it is no longer ours to free.
            handedOver = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!handedOver) GlobalFree(memory);
    }
    CloseClipboard();
    return handedOver;
}
