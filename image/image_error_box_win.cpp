// The Win32 half of image error reporting: the message box for an image error code.
#include <windows.h>

#include "image/decoded_image.h"

void showImageError(void* ownerWindow, int32_t code) {
    const wchar_t* text = imageErrorMessage(code);
    if (!text) return;  // 0 and unknown codes show nothing
    MessageBoxW(static_cast<HWND>(ownerWindow), text, L"Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
