// The paths of the settings file, its folder, the cache folder and the program folder, set
// once at start-up and read by every layer.
#include <windows.h>

#include "base/settings.h"
#include "base/text_utils.h"

namespace {

wchar_t g_iniPath[kPathCapacity];
wchar_t g_settingsFolder[kPathCapacity];
wchar_t g_cacheFolder[kPathCapacity];
wchar_t g_programFolder[kPathCapacity];

}  // namespace

void setSettingsFilePath(const wchar_t* iniPath) {
    if (!copyText(g_iniPath, kPathCapacity, iniPath)) {
        g_settingsFolder[0] = g_cacheFolder[0] = L'\0';
        return;
    }
    folderOf(g_iniPath, g_settingsFolder, kPathCapacity);
    joinText(g_cacheFolder, kPathCapacity, g_settingsFolder, L"cache\\");
    if (!g_programFolder[0]) {
        wchar_t program[kPathCapacity + 1];
        DWORD n = GetModuleFileNameW(nullptr, program, kPathCapacity + 1);
        if (n > 0 && n < DWORD(kPathCapacity)) {
            program[n] = L'\0';
            folderOf(program, g_programFolder, kPathCapacity);
        }
    }
}

const wchar_t* settingsFilePath() { return g_iniPath; }
const wchar_t* settingsFolderPath() { return g_settingsFolder; }
const wchar_t* cacheFolderPath() { return g_cacheFolder; }
const wchar_t* programFolderPath() { return g_programFolder; }
