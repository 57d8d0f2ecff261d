// Pravel.ini through the private-profile functions: where it lives, how every key is read
// with its default and range, and the order in which everything is written back.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>

#include "app/settings.h"
#include "base/platform.h"
#include "base/text_utils.h"
#include "base/win_handles.h"
#include "base/win_state.h"

namespace {

// Whether the settings file is there for reading. An unreadable file counts as missing,
// so that it yields the first-start defaults.
bool settingsReadable(const wchar_t* ini) {
    FileHandle h(CreateFileW(ini, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return bool(h);
}

// The settings file's values through the private-profile functions.
class ProfileSource final : public SettingsSource {
public:
    explicit ProfileSource(const wchar_t* ini) : ini_(ini) {}
    int32_t number(const wchar_t* section, const wchar_t* key, int32_t fallback) override {
        return int32_t(GetPrivateProfileIntW(section, key, fallback, ini_));
    }
    size_t text(const wchar_t* section, const wchar_t* key, wchar_t* out, size_t capacity) override {
        return GetPrivateProfileStringW(section, key, L"", out, DWORD(capacity), ini_);
    }

private:
    const wchar_t* ini_;
};

void writeInt(const wchar_t* ini, const wchar_t* section, const wchar_t* key, int32_t value) {
    wchar_t text[kNumberBufferSize];
    formatNumber(value, text);
    WritePrivateProfileStringW(section, key, text, ini);
}
void writeFlag(const wchar_t* ini, const wchar_t* section, const wchar_t* key, uint8_t value) {
    writeInt(ini, section, key, value ? 1 : 0);
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
    if (isFile(candidate) || !appDataFolder || !appDataFolder[0]) return copyText(out, kPathCapacity, candidate);

    wchar_t dataFolder[kPathCapacity];
    size_t length = std::wcslen(appDataFolder);
    bool hasSlash = length > 0 && appDataFolder[length - 1] == L'\\';
    if (!joinText(dataFolder, kPathCapacity, appDataFolder, hasSlash ? L"Pravel" : L"\\Pravel")) {
        return copyText(out, kPathCapacity, candidate);
    }
    wchar_t path[kPathCapacity];
    if (!joinText(path, kPathCapacity, dataFolder, L"\\Pravel" L".ini")) return copyText(out, kPathCapacity, candidate);
    if (!isDirectory(dataFolder)) CreateDirectoryW(dataFolder, nullptr);  // failure is ignored
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
    const bool exists = settingsReadable(ini);
    // Without a file the registered folders start as the user's pictures folder.
    wchar_t pictures[MAX_PATH] = {};
    const bool havePictures = !exists && SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures));
    ProfileSource source(ini);
    loadSettingsFromSource(source, exists, havePictures ? pictures : nullptr, programFolder, s);
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
    ProfileSource source(ini);
    return readMainPlacementFromSource(source, workWidth, workHeight);
}

MainPlacement readMainPlacement(int32_t workWidth, int32_t workHeight) {
    return readMainPlacementFrom(settingsFilePath(), workWidth, workHeight);
}

// ---------------------------------------------------------------- saving

void saveSettingsTo(const wchar_t* ini, const AppSettings& s, const MainPlacement& placement) {
    // Sections of earlier versions of the file first, then every section of the table.
    const SettingRow* rows = settingRows();
    for (const wchar_t* section : {L"Awin", L"Tree", L"Thumb", L"List"})
        WritePrivateProfileStringW(section, nullptr, nullptr, ini);
    for (int r = 0; r < settingRowCount(); ++r) {
        bool first = true;
        for (int e = 0; e < r && first; ++e) first = lstrcmpW(rows[e].section, rows[r].section) != 0;
        if (first) WritePrivateProfileStringW(rows[r].section, nullptr, nullptr, ini);
    }

    const int32_t placed[4] = {placement.x, placement.y, placement.w, placement.h};
    for (int r = 0; r < settingRowCount(); ++r) {
        const SettingRow& row = rows[r];
        switch (row.kind) {
        case SettingKind::Flag: writeFlag(ini, row.section, row.key, s.*row.small); break;
        case SettingKind::Byte: writeInt(ini, row.section, row.key, s.*row.small); break;
        case SettingKind::Number: writeInt(ini, row.section, row.key, s.*row.number); break;
        case SettingKind::Split: writeInt(ini, row.section, row.key, int32_t(s.*row.split)); break;
        case SettingKind::Text:
        case SettingKind::ViewerPath: WritePrivateProfileStringW(row.section, row.key, s.*row.text, ini); break;
        case SettingKind::PluginFolder: {
            // The folder found beside the program stays unwritten until the user names one.
            const wchar_t* folder = s.*row.text;
            const bool found = s.pluginFolderBeside[0] && lstrcmpiW(folder, s.pluginFolderBeside) == 0;
            WritePrivateProfileStringW(row.section, row.key, found ? L"" : folder, ini);
            break;
        }
        case SettingKind::Tools:
            for (int i = 0; i < kToolCount; ++i) {
                wchar_t key[16];
                settingToolKey(row.key, i, key);
                WritePrivateProfileStringW(row.section, key, s.toolPaths[i], ini);
                settingToolKey(row.nameKey, i, key);
                WritePrivateProfileStringW(row.section, key, s.toolNames[i], ini);
            }
            break;
        case SettingKind::FolderList: {
            int written = 0;
            for (int i = 0; i < kRegisteredFolderMax && s.folders.paths[i][0]; ++i) {
                wchar_t path[kPathCapacity];
                if (!copyText(path, kPathCapacity, s.folders.paths[i]) || !isDirectory(path)) continue;
                wchar_t key[kNumberBufferSize];
                formatNumber(written++, key);
                WritePrivateProfileStringW(row.section, key, path, ini);
            }
            break;
        }
        case SettingKind::Placement:
            if (row.placement >= 0 && row.placement < 4) writeInt(ini, row.section, row.key, placed[row.placement]);
            break;
        }
    }

    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini);  // flush the profile cache
}

void saveSettings(const MainPlacement& placement) { saveSettingsTo(settingsFilePath(), g_settings, placement); }
