// Pravel.ini through the private-profile functions: where it lives, how every key is read
// with its default and range, and the order in which everything is written back.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "app/settings.h"
#include "base/text_utils.h"
#include "base/win_state.h"

namespace {

const wchar_t kMwin[] = L"Mwin";
const wchar_t kPath[] = L"Path";
const wchar_t kFolderList[] = L"FolderList";

bool fileExists(const wchar_t* path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const wchar_t* path) {
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether the settings file is there for reading. An unreadable file counts as missing,
// so that it yields the first-start defaults.
bool settingsReadable(const wchar_t* ini) {
    HANDLE h = CreateFileW(ini, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

int32_t readInt(const wchar_t* ini, const wchar_t* section, const wchar_t* key, int32_t fallback) {
    return int32_t(GetPrivateProfileIntW(section, key, fallback, ini));
}
uint8_t readFlag(const wchar_t* ini, const wchar_t* section, const wchar_t* key, int32_t fallback) {
    return uint8_t(readInt(ini, section, key, fallback) & 1);
}
uint8_t readByte(const wchar_t* ini, const wchar_t* section, const wchar_t* key, int32_t fallback) {
    return uint8_t(readInt(ini, section, key, fallback) & 0xFF);
}
// Reads a string into a buffer of kPathCapacity units. Returns false when the stored value
// is longer than 259 characters: out then holds its first 259, which are no use as a path.
bool readString(const wchar_t* ini, const wchar_t* section, const wchar_t* key, wchar_t* out) {
    wchar_t wide[4 * kPathCapacity];
    DWORD n = GetPrivateProfileStringW(section, key, L"", wide, DWORD(std::size(wide)), ini);
    if (n >= DWORD(std::size(wide))) n = DWORD(std::size(wide)) - 1;
    wide[n] = L'\0';
    size_t keep = n < DWORD(kPathCapacity) ? n : size_t(kPathCapacity) - 1;
    std::wmemcpy(out, wide, keep);
    out[keep] = L'\0';
    return n < DWORD(kPathCapacity);
}

void writeInt(const wchar_t* ini, const wchar_t* section, const wchar_t* key, int32_t value) {
    wchar_t text[kNumberBufferSize];
    formatNumber(value, text);
    WritePrivateProfileStringW(section, key, text, ini);
}
void writeFlag(const wchar_t* ini, const wchar_t* section, const wchar_t* key, uint8_t value) {
    writeInt(ini, section, key, value ? 1 : 0);
}

const AppSettings& defaultSettings() {
    static const AppSettings defaults;
    return defaults;
}

}  // namespace

// ---------------------------------------------------------------- locating

bool locateSettingsFileFor(const wchar_t* programPath, const wchar_t* appDataFolder, wchar_t* out) {
    out[0] = L'\0';
    if (!programPath || std::wcslen(programPath) >= size_t(kPathCapacity)) return false;
    const wchar_t* slash = std::wcsrchr(programPath, L'\\');
    const wchar_t* fileName = slash ? slash + 1 : programPath;
    if (lstrcmpiW(fileName, L"Pravel.exe") != 0) return false;

    wchar_t folder[kPathCapacity];
    folderOf(programPath, folder, kPathCapacity);
    wchar_t candidate[kPathCapacity];
    if (!joinText(candidate, kPathCapacity, folder, L"Pravel" L".ini")) return false;
    if (fileExists(candidate) || !appDataFolder || !appDataFolder[0]) return copyText(out, kPathCapacity, candidate);

    wchar_t dataFolder[kPathCapacity];
    size_t length = std::wcslen(appDataFolder);
    bool hasSlash = length > 0 && appDataFolder[length - 1] == L'\\';
    if (!joinText(dataFolder, kPathCapacity, appDataFolder, hasSlash ? L"Pravel" : L"\\Pravel")) {
        return copyText(out, kPathCapacity, candidate);
    }
    wchar_t path[kPathCapacity];
    if (!joinText(path, kPathCapacity, dataFolder, L"\\Pravel" L".ini")) return copyText(out, kPathCapacity, candidate);
    if (!directoryExists(dataFolder)) CreateDirectoryW(dataFolder, nullptr);  // failure is ignored
    return copyText(out, kPathCapacity, path);
}

bool locateSettingsFile() {
    wchar_t program[kPathCapacity + 1];
    DWORD n = GetModuleFileNameW(nullptr, program, kPathCapacity + 1);
    if (n == 0 || n >= DWORD(kPathCapacity)) return false;
    program[n] = L'\0';

    wchar_t appData[MAX_PATH] = {};
    const wchar_t* appDataFolder = SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData)) ? appData : nullptr;
    wchar_t ini[kPathCapacity];
    if (!locateSettingsFileFor(program, appDataFolder, ini)) return false;
    setSettingsFilePath(ini);
    return true;
}

// ---------------------------------------------------------------- loading

void loadSettingsFrom(const wchar_t* ini, const wchar_t* programFolder, AppSettings& s) {
    s = defaultSettings();
    bool exists = settingsReadable(ini);

    s.maximized = readFlag(ini, kMwin, L"Max", 0);
    s.treeWidth = readInt(ini, kMwin, L"TreeW", 150);
    s.autoTree = readFlag(ini, kMwin, L"AutoTree", 0);
    s.hiddenMask = readInt(ini, kMwin, L"Hidden", 2);
    s.subClose = readFlag(ini, kMwin, L"SubClose", 1);

    bool whole = readString(ini, kPath, L"Dorna", s.viewerPath);
    if (!whole || !s.viewerPath[0] || !fileExists(s.viewerPath)) {
        joinText(s.viewerPath, kPathCapacity, programFolder ? programFolder : L"", L"Dorna.exe");
    }
    readString(ini, kPath, L"SPI", s.pluginFolder);
    for (int i = 0; i < kToolCount; ++i) {
        wchar_t key[16];
        wchar_t number[kNumberBufferSize];
        formatNumber(i, number);
        joinText(key, std::size(key), L"APP", number);  // keys are short; joinText bounds them anyway
        readString(ini, kPath, key, s.toolPaths[i]);
        joinText(key, std::size(key), L"AN", number);
        readString(ini, kPath, key, s.toolNames[i]);
    }

    if (!exists) {
        wchar_t pictures[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures))) {
            copyText(s.folders.paths[0], kPathCapacity, pictures);
        }
    } else {
        int used = 0;
        for (int key = 0; key < kRegisteredFolderMax; ++key) {
            wchar_t name[kNumberBufferSize];
            formatNumber(key, name);
            wchar_t value[kPathCapacity];
            bool whole = readString(ini, kFolderList, name, value);
            if (!value[0]) break;
            if (whole && directoryExists(value)) copyText(s.folders.paths[used++], kPathCapacity, value);
        }
    }

    s.thumbWidth = clampThumbSize(readInt(ini, kMwin, L"ThImgW", 148));
    s.thumbHeight = clampThumbSize(readInt(ini, kMwin, L"ThImgH", 111));
    s.infoName = readFlag(ini, kMwin, L"InfoName", 1);
    s.infoSize = readFlag(ini, kMwin, L"InfoSize", 1);
    s.infoDate = readFlag(ini, kMwin, L"InfoDate", 0);
    s.infoDepth = readFlag(ini, kMwin, L"InfoDepth", 0);
    s.textArea = readFlag(ini, kMwin, L"TxtArea", 1);
    s.focusRed = readByte(ini, kMwin, L"FocusR", 255);
    s.focusGreen = readByte(ini, kMwin, L"FocusG", 160);
    s.focusBlue = readByte(ini, kMwin, L"FocusB", 255);
    s.doubleClickAction = readInt(ini, kMwin, L"DblClick", 3);
    s.thumbSplit = readInt(ini, kMwin, L"ThSplit", 1);
    s.useCache = readFlag(ini, kMwin, L"UseCache", 1);
    s.expandDesktop = readFlag(ini, kMwin, L"DTExpand", 1);
    s.cacheOptimise = readFlag(ini, kMwin, L"CacheOpt", 1);
    s.noRecycleConfirm = readFlag(ini, kMwin, L"NoRecycMsg", 0);

    updateTextAreaHeight(s);
}

void loadSettings() {
    loadSettingsFrom(settingsFilePath(), programFolderPath(), g_settings);
    g_activePane = initialActivePane(g_settings);
    for (int i = 0; i < 4; ++i) {
        g_appCursors[i] = LoadCursorW(g_instance, MAKEINTRESOURCEW(110 + i));
        if (!g_appCursors[i]) g_appCursors[i] = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    }
}

MainPlacement readMainPlacementFrom(const wchar_t* ini, int32_t workWidth, int32_t workHeight) {
    MainPlacement p;
    p.x = readInt(ini, kMwin, L"x", (workWidth - 800) / 2);
    p.y = readInt(ini, kMwin, L"y", (workHeight - 600) / 2);
    p.w = readInt(ini, kMwin, L"w", 800);
    p.h = readInt(ini, kMwin, L"h", 600);
    return p;
}

MainPlacement readMainPlacement(int32_t workWidth, int32_t workHeight) {
    return readMainPlacementFrom(settingsFilePath(), workWidth, workHeight);
}

// ---------------------------------------------------------------- saving

void saveSettingsTo(const wchar_t* ini, const AppSettings& s, const MainPlacement& placement) {
    // Sections of earlier versions of the file first, then the ones written below.
    for (const wchar_t* section : {L"Awin", L"Tree", L"Thumb", L"List", kMwin, kPath, kFolderList}) {
        WritePrivateProfileStringW(section, nullptr, nullptr, ini);
    }

    writeFlag(ini, kMwin, L"Max", s.maximized);
    writeInt(ini, kMwin, L"x", placement.x);
    writeInt(ini, kMwin, L"y", placement.y);
    writeInt(ini, kMwin, L"w", placement.w);
    writeInt(ini, kMwin, L"h", placement.h);
    writeInt(ini, kMwin, L"TreeW", s.treeWidth);
    writeFlag(ini, kMwin, L"AutoTree", s.autoTree);
    writeInt(ini, kMwin, L"Hidden", s.hiddenMask);
    writeFlag(ini, kMwin, L"SubClose", s.subClose);

    WritePrivateProfileStringW(kPath, L"Dorna", s.viewerPath, ini);
    WritePrivateProfileStringW(kPath, L"SPI", s.pluginFolder, ini);
    for (int i = 0; i < kToolCount; ++i) {
        wchar_t key[16];
        wchar_t number[kNumberBufferSize];
        formatNumber(i, number);
        joinText(key, std::size(key), L"APP", number);
        WritePrivateProfileStringW(kPath, key, s.toolPaths[i], ini);
        joinText(key, std::size(key), L"AN", number);
        WritePrivateProfileStringW(kPath, key, s.toolNames[i], ini);
    }

    int written = 0;
    for (int i = 0; i < kRegisteredFolderMax && s.folders.paths[i][0]; ++i) {
        wchar_t path[kPathCapacity];
        if (!copyText(path, kPathCapacity, s.folders.paths[i]) || !directoryExists(path)) continue;
        wchar_t key[kNumberBufferSize];
        formatNumber(written++, key);
        WritePrivateProfileStringW(kFolderList, key, path, ini);
    }

    writeInt(ini, kMwin, L"ThImgW", s.thumbWidth);
    writeInt(ini, kMwin, L"ThImgH", s.thumbHeight);
    writeFlag(ini, kMwin, L"InfoName", s.infoName);
    writeFlag(ini, kMwin, L"InfoSize", s.infoSize);
    writeFlag(ini, kMwin, L"InfoDate", s.infoDate);
    writeFlag(ini, kMwin, L"InfoDepth", s.infoDepth);
    writeFlag(ini, kMwin, L"TxtArea", s.textArea);
    writeInt(ini, kMwin, L"FocusR", s.focusRed);
    writeInt(ini, kMwin, L"FocusG", s.focusGreen);
    writeInt(ini, kMwin, L"FocusB", s.focusBlue);
    writeInt(ini, kMwin, L"DblClick", s.doubleClickAction);
    writeInt(ini, kMwin, L"ThSplit", s.thumbSplit);
    writeFlag(ini, kMwin, L"UseCache", s.useCache);
    writeFlag(ini, kMwin, L"DTExpand", s.expandDesktop);
    writeFlag(ini, kMwin, L"CacheOpt", s.cacheOptimise);
    writeFlag(ini, kMwin, L"NoRecycMsg", s.noRecycleConfirm);

    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini);  // flush the profile cache
}

void saveSettings(const MainPlacement& placement) { saveSettingsTo(settingsFilePath(), g_settings, placement); }
