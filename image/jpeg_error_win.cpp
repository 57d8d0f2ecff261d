// The Win32 half of JPEG error reporting: the message box for a failed JPEG operation.
#include <windows.h>

#include "image/jpeg_codec.h"

void showJpegError(void* ownerWindow, int32_t errorCode) {
    switch (errorCode) {
    case 1: case 3: case 4: case 5: case 7:
        showImageError(ownerWindow, errorCode);
        return;
    default:
        break;
    }
    // Anything else came from the library itself: show its own words.
    const wchar_t* message = jpegLibraryMessage();
    if (message && message[0])
        MessageBoxW(static_cast<HWND>(ownerWindow), message, L"JPEG Library Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
