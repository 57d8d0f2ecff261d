// The message box of the message table.
#include "base/messages.h"

void showErrorBox(HWND owner, const wchar_t* text) {
    MessageBoxW(owner, text, kMessageCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void showMessage(HWND owner, int id) { showErrorBox(owner, messageText(id)); }
