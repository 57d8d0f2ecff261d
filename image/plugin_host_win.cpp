// The image plug-in host: "*.spi" import filters loaded from the plug-in folder for one
// operation at a time and unloaded again; nothing is cached between operations.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/directory_list.h"
#include "base/platform.h"
#include "base/win_handles.h"
#include "image/decoded_image.h"
#include "image/plugin_bitmap.h"
#include "image/plugin_host.h"
#include "image/plugin_info.h"

namespace {

constexpr size_t kMaxPlugins = 100;
constexpr DWORD kHeadBytes = 2176;  // 2 KB for the plug-in, after an optional 128-byte header
constexpr LONG_PTR kHeaderSkip = 128;

// The picture information record as plug-ins fill it (packed; 26 bytes in the 32-bit build,
// where the text handle is 4 bytes).
#pragma pack(push, 1)
struct PictureInfo {
    LONG left;
    LONG top;
    LONG width;
    LONG height;
    WORD xDensity;
    WORD yDensity;
    SHORT colorDepth;
    HLOCAL textInfo;
};
#pragma pack(pop)

using GetPluginInfoFn = int(WINAPI*)(int index, LPSTR buffer, int bufferSize);
using IsSupportedFn = int(WINAPI*)(LPCSTR fileName, DWORD_PTR data);
using GetPictureInfoFn = int(WINAPI*)(LPCSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info);
using ProgressFn = int(WINAPI*)(int done, int total, LONG_PTR data);
using GetPictureFn = int(WINAPI*)(LPCSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                                  ProgressFn progress, LONG_PTR data);
using ConfigurationDlgFn = int(WINAPI*)(HWND parent, int request);
// The wide-character forms some filters export: the same calls with a UTF-16 file name, so a
// name the code page cannot hold reaches them as it is.
using IsSupportedWFn = int(WINAPI*)(LPCWSTR fileName, DWORD_PTR data);
using GetPictureInfoWFn = int(WINAPI*)(LPCWSTR fileName, LONG_PTR offset, unsigned int flag, PictureInfo* info);
using GetPictureWFn = int(WINAPI*)(LPCWSTR fileName, LONG_PTR offset, unsigned int flag, HANDLE* info, HANDLE* bits,
                                   ProgressFn progress, LONG_PTR data);

template <typename Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loads a plug-in without the system's error boxes (a file that is no DLL, or one built
// for the other architecture, is simply passed over); a plug-in's own DLLs are looked for
// beside it.
HMODULE loadModule(const std::wstring& path) {
    // The altered search order needs a full path.
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    const wchar_t* name = n > 0 && n < MAX_PATH ? full : path.c_str();
    const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetErrorMode(old | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(old);
    return module;
}

class Module {
public:
    explicit Module(const std::wstring& path) : handle_(loadModule(path)) {}
    ~Module() { release(); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return handle_; }
    void release() {
        if (handle_) FreeLibrary(handle_);
        handle_ = nullptr;
    }
    void keep() { handle_ = nullptr; }  // the caller unloads it

private:
    HMODULE handle_;
};

std::wstring ansiToWideText(const std::string& text);

// The filter's answers as the portable reader takes them, in the system code page.
PluginInfoSource infoSource(GetPluginInfoFn info) {
    PluginInfoSource source;
    source.call = [info](int index, char* buffer, int size) { return info(index, buffer, size); };
    source.widen = ansiToWideText;
    source.lower = [](std::wstring& text) { CharLowerBuffW(text.data(), DWORD(text.size())); };
    source.sameIgnoringCase = [](const std::wstring& a, const std::wstring& b) {
        return lstrcmpiW(a.c_str(), b.c_str()) == 0;
    };
    return source;
}

// The export "GetPluginInfo" of an import filter ("00IN"), or null.
GetPluginInfoFn importFilterInfo(HMODULE module) {
    if (!module) return nullptr;
    const GetPluginInfoFn info = exported<GetPluginInfoFn>(module, "GetPluginInfo");
    if (!info) return nullptr;
    return isImportFilterInfo(infoSource(info)) ? info : nullptr;
}

std::wstring ansiToWideText(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

// Code-page conversion that must come back unchanged; fits the plug-ins' 260-byte paths.
bool toAnsiExactly(const wchar_t* text, std::string& out) {
    char buffer[MAX_PATH];
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, MAX_PATH, nullptr, nullptr);
    if (n <= 0) return false;
    wchar_t back[MAX_PATH];
    const int m = MultiByteToWideChar(CP_ACP, 0, buffer, -1, back, MAX_PATH);
    if (m <= 0 || std::wcscmp(back, text) != 0) return false;
    out.assign(buffer);
    return true;
}

bool hasSpiExtension(const std::wstring& name) {
    return name.size() > 4 && CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str() + name.size() - 4, 4,
                                             L".spi", 4) == CSTR_EQUAL;
}

int WINAPI progressCallback(int, int, LONG_PTR) { return 0; }

// The module of one plug-in load, unloaded on every path. The memory handles of its picture
// are released by takePluginPicture before the load returns.
struct PluginLoad {
    HMODULE module = nullptr;
    LONG_PTR offset = 0;
    ~PluginLoad() {
        if (module) FreeLibrary(module);
    }
};

// The hand-back's handles are local memory (global memory handles answer the same calls).
class LocalMemory final : public PluginMemory {
public:
    size_t size(void* handle) override { return LocalSize(handle); }
    const void* lock(void* handle) override { return LocalLock(handle); }
    void unlock(void* handle) override { LocalUnlock(handle); }
    void release(void* handle) override { LocalFree(handle); }
};

DecodedImage g_pluginRecord;

enum class Walk { Next, Stop, Keep };

// Loads the "*.spi" modules of folder one after the other in listing order and calls
// visit(file name, module, its GetPluginInfo) for each import filter, at most 100 of them.
// Every module is unloaded after its visit, except one for which visit answers Keep: the
// walk then ends and returns that module (the caller unloads it). Stop ends the walk.
template <typename Visit>
HMODULE walkImportFilters(const wchar_t* folder, Visit visit) {
    if (!folder || !folder[0]) return nullptr;
    std::vector<DirectoryEntry> entries;
    listDirectory(folder, L"*.spi", entries);
    size_t accepted = 0;
    for (const DirectoryEntry& entry : entries) {
        // "*.spi" also finds long names whose short form ends in .SPI ("x.spiold").
        if ((entry.attributes & kAttributeDirectory) || !hasSpiExtension(entry.name)) continue;
        Module module(joinPath(folder, entry.name));
        const GetPluginInfoFn info = importFilterInfo(module.get());
        if (!info) continue;
        const Walk next = visit(entry.name, module.get(), info);
        if (next == Walk::Keep) {
            const HMODULE kept = module.get();
            module.keep();
            return kept;
        }
        if (next == Walk::Stop || ++accepted >= kMaxPlugins) break;
    }
    return nullptr;
}

}  // namespace

bool pluginFolderUsable(const wchar_t* pluginFolder) {
    return pluginFolder && pluginFolder[0] && isDirectory(pluginFolder);
}

std::string pluginNarrowPath(const wchar_t* path) {
    std::string narrow;
    if (toAnsiExactly(path, narrow)) return narrow;
    wchar_t shortPath[MAX_PATH];
    const DWORD n = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH && toAnsiExactly(shortPath, narrow)) return narrow;
    // Nothing better: the characters the code page lacks arrive as its default character.
    char buffer[MAX_PATH] = {};
    if (WideCharToMultiByte(CP_ACP, 0, path, -1, buffer, MAX_PATH, nullptr, nullptr) <= 0) buffer[0] = 0;
    buffer[MAX_PATH - 1] = 0;
    return buffer;
}

std::vector<std::wstring> listPlugins(const wchar_t* folder, PluginListMode mode) {
    std::vector<std::wstring> result;
    walkImportFilters(folder, [&](const std::wstring& name, HMODULE, GetPluginInfoFn info) {
        if (mode == PluginListMode::Names) {
            result.push_back(name);
            return Walk::Next;
        }
        return collectPluginPatterns(infoSource(info), result) ? Walk::Next : Walk::Stop;
    });
    return result;
}

bool pluginSummary(const wchar_t* pluginPath, PluginSummary& out) {
    out = PluginSummary{};
    if (!pluginPath) return false;
    Module module(pluginPath);
    const GetPluginInfoFn info = importFilterInfo(module.get());
    if (!info) return false;
    summarizePluginInfo(infoSource(info), out.patterns, out.descriptions);
    return true;
}

void configurePlugin(const wchar_t* pluginPath, void* parentWindow) {
    if (!pluginPath) return;
    Module module(pluginPath);
    if (!module.get()) return;
    if (const ConfigurationDlgFn dialog = exported<ConfigurationDlgFn>(module.get(), "ConfigurationDlg"))
        dialog(static_cast<HWND>(parentWindow), 1);
}

DecodedImage* loadPluginImage(const wchar_t* pluginFolder, const wchar_t* path, DecodeCounters& counters) {
    DecodedImage& record = g_pluginRecord;
    record = DecodedImage{};
    if (!path || !pluginFolderUsable(pluginFolder)) return nullptr;

    // Selection: the file's first bytes, offered as they are and after a 128-byte header.
    char head[kHeadBytes] = {};
    DWORD got = 0;
    DWORD fileSize = 0;
    {
        FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return nullptr;
        fileSize = GetFileSize(file.get(), nullptr);
        if (!ReadFile(file.get(), head, kHeadBytes, &got, nullptr)) got = 0;
    }
    if (got == 0) return nullptr;
    const std::string narrow = pluginNarrowPath(path);

    // The plug-ins in listing order: the first import filter that accepts the file is kept
    // loaded. One walk both lists and asks them (the same choice as listing first and then
    // asking each listed plug-in, with half the module loads). Each entry point is called in
    // its wide form when the filter exports that.
    PluginLoad load;
    load.module = walkImportFilters(pluginFolder, [&](const std::wstring&, HMODULE module, GetPluginInfoFn) {
        const IsSupportedWFn supportedW = exported<IsSupportedWFn>(module, "IsSupportedW");
        const IsSupportedFn supported = supportedW ? nullptr : exported<IsSupportedFn>(module, "IsSupported");
        if (!supportedW && !supported) return Walk::Next;
        auto ask = [&](const char* data) {
            const DWORD_PTR at = reinterpret_cast<DWORD_PTR>(data);
            return supportedW ? supportedW(path, at) != 0 : supported(narrow.c_str(), at) != 0;
        };
        if (ask(head)) {
            load.offset = 0;
            return Walk::Keep;
        }
        if (ask(head + kHeaderSkip)) {
            load.offset = kHeaderSkip;
            return Walk::Keep;
        }
        return Walk::Next;
    });
    if (!load.module) return nullptr;

    // Decoding.
    int32_t colorDepth = 0;
    {
        const GetPictureInfoWFn pictureInfoW = exported<GetPictureInfoWFn>(load.module, "GetPictureInfoW");
        const GetPictureInfoFn pictureInfo =
            pictureInfoW ? nullptr : exported<GetPictureInfoFn>(load.module, "GetPictureInfo");
        PictureInfo pi;
        std::memset(&pi, 0, sizeof pi);
        const int rc = pictureInfoW  ? pictureInfoW(path, load.offset, 0, &pi)
                       : pictureInfo ? pictureInfo(narrow.c_str(), load.offset, 0, &pi)
                                     : -1;
        if (rc == 0) {
            colorDepth = pi.colorDepth;
            if (pi.textInfo) GlobalFree(pi.textInfo);
        }
    }
    const GetPictureWFn pictureW = exported<GetPictureWFn>(load.module, "GetPictureW");
    const GetPictureFn picture = pictureW ? nullptr : exported<GetPictureFn>(load.module, "GetPicture");
    if (!pictureW && !picture) return nullptr;
    HANDLE infoHandle = nullptr;
    HANDLE bitsHandle = nullptr;
    const int rc = pictureW ? pictureW(path, load.offset, 0, &infoHandle, &bitsHandle, progressCallback, 0)
                            : picture(narrow.c_str(), load.offset, 0, &infoHandle, &bitsHandle, progressCallback, 0);
    LocalMemory memory;
    if (takePluginPicture(memory, rc, infoHandle, bitsHandle, record) != ErrNone) return nullptr;

    // The source depth is the plug-in's own: its stated colour depth, else the bitmap's.
    if (colorDepth != 0) record.sourceDepth = colorDepth;
    record.format = FormatUnknown;
    record.fileSize = fileSize == INVALID_FILE_SIZE ? 0 : fileSize;
    counters = DecodeCounters{};
    counters.fileWidth = record.header.biWidth;
    counters.fileHeight = record.header.biHeight;
    return &record;
}
