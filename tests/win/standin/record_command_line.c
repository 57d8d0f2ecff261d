/* A stand-in for the companion viewer, the tools and an associated program in the tests:
   writes its own command line (UTF-16) to "<its own path>.txt" and ends. The text goes to a
   side file first and is then moved into place, so a reader never sees half of it. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
    (void)instance; (void)previous; (void)arguments; (void)show;
    wchar_t self[MAX_PATH + 8], side[MAX_PATH + 16], done[MAX_PATH + 16];
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    lstrcpyW(side, self);
    lstrcatW(side, L".part");
    lstrcpyW(done, self);
    lstrcatW(done, L".txt");
    const wchar_t* line = GetCommandLineW();
    HANDLE f = CreateFileW(side, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(f, line, (DWORD)(lstrlenW(line) * sizeof(wchar_t)), &written, NULL);
    CloseHandle(f);
    return MoveFileExW(side, done, MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
