// The Win32 half of JPEG error reporting: message boxes for a failed JPEG operation.
#include <windows.h>

#include "image/jpeg_codec.h"

void showJpegError(void* ownerWindow, int32_t errorCode) {
    HWND owner = static_cast<HWND>(ownerWindow);
    const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
    switch (errorCode) {
    case 1: case 3: case 4: case 5: case 7:
        if (const wchar_t* text = imageErrorMessage(errorCode)) {
            MessageBoxW(owner, text, L"Error", style);
        }
        return;
    default:
        break;
    }
    const wchar_t* message = jpegLibraryMessage();
    if (message && message[0]) MessageBoxW(owner, message, L"JPEG Library Error", style);
}
