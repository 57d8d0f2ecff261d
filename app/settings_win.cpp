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

// "<prefix><index>" for the keys of the external tools (16 units are plenty).
void toolKey(const wchar_t* prefix, int index, wchar_t (&out)[16]) {
    wchar_t number[kNumberBufferSize];
    formatNumber(index, number);
    joinText(out, std::size(out), prefix, number);
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
    s = AppSettings{};
    const bool exists = settingsReadable(ini);
    const SettingRow* rows = settingRows();
    for (int r = 0; r < settingRowCount(); ++r) {
        const SettingRow& row = rows[r];
        switch (row.kind) {
        case SettingKind::Flag: s.*row.small = readFlag(ini, row.section, row.key, row.fallback); break;
        case SettingKind::Byte: s.*row.small = readByte(ini, row.section, row.key, row.fallback); break;
        case SettingKind::Number: {
            int32_t value = readInt(ini, row.section, row.key, row.fallback);
            if (row.min <= row.max) value = value < row.min ? row.min : value > row.max ? row.max : value;
            s.*row.number = value;
            break;
        }
        case SettingKind::Split: s.*row.split = SplitMode(readInt(ini, row.section, row.key, row.fallback)); break;
        case SettingKind::Text: readString(ini, row.section, row.key, s.*row.text); break;
        case SettingKind::ViewerPath: {
            wchar_t* path = s.*row.text;
            const bool whole = readString(ini, row.section, row.key, path);
            if (!whole || !path[0] || !isFile(path))
                joinText(path, kPathCapacity, programFolder ? programFolder : L"", L"Dorna.exe");
            break;
        }
        case SettingKind::PluginFolder: {
            // An unpacked package finds its own plug-ins without any set-up.
            wchar_t* folder = s.*row.text;
            readString(ini, row.section, row.key, folder);
            wchar_t beside[kPathCapacity];
            if (!folder[0] && programFolder && joinText(beside, kPathCapacity, programFolder, L"plugins") &&
                isDirectory(beside)) {
                copyText(folder, kPathCapacity, beside);
                copyText(s.pluginFolderBeside, kPathCapacity, beside);
            }
            break;
        }
        case SettingKind::Tools:
            for (int i = 0; i < kToolCount; ++i) {
                wchar_t key[16];
                toolKey(row.key, i, key);
                readString(ini, row.section, key, s.toolPaths[i]);
                toolKey(row.nameKey, i, key);
                readString(ini, row.section, key, s.toolNames[i]);
            }
            break;
        case SettingKind::FolderList:
            if (!exists) {
                wchar_t pictures[MAX_PATH] = {};
                if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures)))
                    copyText(s.folders.paths[0], kPathCapacity, pictures);
                break;
            }
            for (int key = 0, used = 0; key < kRegisteredFolderMax; ++key) {
                wchar_t name[kNumberBufferSize];
                formatNumber(key, name);
                wchar_t value[kPathCapacity];
                const bool whole = readString(ini, row.section, name, value);
                if (!value[0]) break;
                if (whole && isDirectory(value)) copyText(s.folders.paths[used++], kPathCapacity, value);
            }
            break;
        case SettingKind::Placement: break;  // readMainPlacementFrom
        }
    }
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
    int32_t* fields[4] = {&p.x, &p.y, &p.w, &p.h};
    const int32_t fallbacks[4] = {(workWidth - p.w) / 2, (workHeight - p.h) / 2, p.w, p.h};
    const SettingRow* rows = settingRows();
    for (int r = 0; r < settingRowCount(); ++r) {
        const SettingRow& row = rows[r];
        if (row.kind == SettingKind::Placement && row.placement >= 0 && row.placement < 4)
            *fields[row.placement] = readInt(ini, row.section, row.key, fallbacks[row.placement]);
    }
    return p;
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
                toolKey(row.key, i, key);
                WritePrivateProfileStringW(row.section, key, s.toolPaths[i], ini);
                toolKey(row.nameKey, i, key);
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
