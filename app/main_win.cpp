// Program entry.
#include <windows.h>

#include "app/app_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    const int code = runApplication(instance, showCommand);
    leaveProcess(code);
    return code;
}
