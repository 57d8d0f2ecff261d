// The wallpaper command: the placement dialog, the desktop registry values, the bitmap file
// "save_wp.bmp" beside the settings file, and the system call that shows it.
#include "frame/wallpaper.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/win_state.h"
#include "base/image_lock.h"
#include "base/messages.h"
#include "base/platform.h"
#include "base/settings.h"
#include "frame/command_lines.h"
#include "frame/wallpaper_work.h"
#include "image/bmp_codec.h"
#include "image/decoded_image.h"
#include "thumbs/pane_access.h"

namespace {

constexpr int kDialogId = 2100;
constexpr int kCentreButton = 2110, kStretchButton = 2111, kTileButton = 2112;
constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";

// A registry value as the system reads it: a number, 0 when absent or not a number.
long valueNumber(const wchar_t* text) {
    if (!text) return 0;
    while (*text == L' ' || *text == L'\t') ++text;
    long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > 100000) break;
    }
    return value;
}

// The value's text; empty when it is missing or of a type that holds no number.
std::wstring readValue(HKEY key, const wchar_t* name) {
    wchar_t buffer[64] = {};
    DWORD type = 0;
    DWORD bytes = sizeof buffer - sizeof(wchar_t);  // room for a terminator of our own
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS)
        return std::wstring();
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, buffer, sizeof number);
        return std::to_wstring(number);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    return buffer;
}

bool writeDigit(HKEY key, const wchar_t* name, wchar_t digit) {
    const wchar_t data[2] = {digit, L'\0'};
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data) == ERROR_SUCCESS;
}

WallpaperPlacement checkedPlacement(HWND dialog) {
    if (IsDlgButtonChecked(dialog, kCentreButton) == BST_CHECKED) return WallpaperPlacement::Centre;
    if (IsDlgButtonChecked(dialog, kTileButton) == BST_CHECKED) return WallpaperPlacement::Tile;
    if (IsDlgButtonChecked(dialog, kStretchButton) == BST_CHECKED) return WallpaperPlacement::Stretch;
    return WallpaperPlacement::None;
}

INT_PTR CALLBACK placementProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        int button = 0;
        switch (readWallpaperPlacement()) {
        case WallpaperPlacement::Centre: button = kCentreButton; break;
        case WallpaperPlacement::Stretch: button = kStretchButton; break;
        case WallpaperPlacement::Tile: button = kTileButton; break;
        case WallpaperPlacement::None: break;
        }
        if (button) CheckRadioButton(dialog, kCentreButton, kTileButton, button);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            writeWallpaperPlacement(checkedPlacement(dialog));
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

WallpaperPlacement placementFromValues(const wchar_t* tileWallpaper, const wchar_t* wallpaperStyle) {
    if (valueNumber(tileWallpaper) != 0) return WallpaperPlacement::Tile;
    return valueNumber(wallpaperStyle) == 0 ? WallpaperPlacement::Centre : WallpaperPlacement::Stretch;
}

WallpaperPlacement readWallpaperPlacement() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return WallpaperPlacement::None;
    const std::wstring tile = readValue(key, L"TileWallpaper");
    const std::wstring style = readValue(key, L"WallpaperStyle");
    RegCloseKey(key);
    return placementFromValues(tile.c_str(), style.c_str());
}

bool writeWallpaperPlacement(WallpaperPlacement placement) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    wchar_t tile = L'0', style = L'2';
    if (placement == WallpaperPlacement::Centre) style = L'0';
    if (placement == WallpaperPlacement::Tile) tile = L'1', style = L'0';
    const bool ok = writeDigit(key, L"TileWallpaper", tile) && writeDigit(key, L"WallpaperStyle", style);
    RegCloseKey(key);
    return ok;
}

std::wstring wallpaperFilePath() {
    std::wstring path = settingsFolderPath() ? settingsFolderPath() : L"";
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + L"save_wp.bmp";
}

bool makeWallpaperFile(HWND owner, const wchar_t* imagePath, int targetWidth, int targetHeight, bool setDesktop) {
    // Messages wait until the lock is released: a message box pumps messages.
    std::vector<int> messages;
    int32_t writerError = 0;
    bool replaced = false;
    {
        ImageLockGuard lock;
        ImageDecoder decoder;
        LoadInfo loaded;
        if (!loadImage(decoder, imagePath, targetWidth, targetHeight, g_settings.pluginFolder, loaded)) return false;
        DecodedImage* image = loaded.current;
        wchar_t folder[MAX_PATH + 1] = {};
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD folderLength = GetTempPathW(MAX_PATH, folder);
        if (folderLength == 0 || folderLength > MAX_PATH || GetTempFileNameW(folder, L"tmp", 0, temp) == 0) {
            messages.push_back(MsgTempCreateFailed);
        } else {
            DepthConversion conversion;
            conversion.width = loaded.width;
            conversion.height = loaded.height;
            conversion.sourceDepth = 24;
            conversion.targetDepth = 24;
            conversion.xPelsPerMeter = 0;
            conversion.yPelsPerMeter = 0;
            if (image && image->pixels && conversion.width > 0 && conversion.height > 0 &&
                writeBmp(temp, conversion, image->pixels)) {
                const std::wstring target = wallpaperFilePath();
                if (CopyFileW(temp, target.c_str(), FALSE)) {
                    replaced = true;
                    if (setDesktop)
                        SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(target.c_str()),
                                              SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
                } else {
                    messages.push_back(MsgCreateFailed);
                }
            } else {
                writerError = conversion.errorCode ? conversion.errorCode : 7;
            }
            // The temporary file never outlives the command, also when the writer failed.
            if (!DeleteFileW(temp) && GetFileAttributesW(temp) != INVALID_FILE_ATTRIBUTES)
                messages.push_back(MsgTempDeleteFailed);
        }
        if (image && image->pixels) {
            pageFree(image->pixels);
            image->pixels = nullptr;
        }
    }
    if (writerError) showImageError(owner, writerError);
    for (int id : messages) showMessage(owner, id);
    return replaced;
}

void showWallpaperDialog(HWND owner) {
    const int pane = activePane();
    PaneSnapshot snapshot;
    if (!queryPaneSnapshot(pane, snapshot) || !snapshot.hasItems || snapshot.selected != 1) return;
    PaneSelection selection;
    if (!queryPaneSelection(pane, selection) || !selection.hasItems || selection.selected.size() != 1) return;
    if (DialogBoxParamW(g_instance ? g_instance : GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogId), owner,
                        placementProc, 0) != 1)
        return;
    const std::wstring path = joinFolderAndName(selection.folder, selection.selected[0].item.name);
    makeWallpaperFile(owner, path.c_str(), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), true);
}

bool wallpaperFileExists() { return isFile(wallpaperFilePath().c_str()); }

bool deleteWallpaperFile(HWND owner, HWND deleteButton) {
    const std::wstring path = wallpaperFilePath();
    if (!isFile(path.c_str())) {
        if (deleteButton) EnableWindow(deleteButton, FALSE);
        return true;
    }
    if (!DeleteFileW(path.c_str())) {
        showMessage(owner, MsgDeleteFailed2);
        return false;
    }
    if (deleteButton) EnableWindow(deleteButton, FALSE);
    return true;
}
