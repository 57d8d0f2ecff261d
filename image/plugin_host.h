// Image plug-ins ("*.spi" import filters) in the plug-in folder. Windows only: every call
// loads the modules it needs and unloads them before it returns.
#pragma once

#include <string>
#include <vector>

enum class PluginListMode { Names, Patterns };

// Walks "*.spi" in `folder`, keeping at most 100 import filters. Names: their file names in
// listing order. Patterns: their file patterns ("*.pic"), lower-cased, without duplicates and
// without the patterns of the built-in decoders.
std::vector<std::wstring> listPlugins(const wchar_t* folder, PluginListMode mode);

// The patterns of one plug-in joined by ";" and its descriptions joined by "/", each at most
// 259 characters. False when the module cannot be loaded or is no import filter.
struct PluginSummary {
    std::wstring patterns;
    std::wstring descriptions;
};
bool pluginSummary(const wchar_t* pluginPath, PluginSummary& out);

// Shows the plug-in's own settings dialog (its "ConfigurationDlg") owned by `parentWindow`
// (an HWND); does nothing for a module without one.
void configurePlugin(const wchar_t* pluginPath, void* parentWindow);

struct DecodedImage;
struct DecodeCounters;

// The loader dispatch's fall-back (load image): offers path to the import filters of
// pluginFolder in listing order, first with the file's first bytes and then with them 128
// bytes further on, and decodes it with the first one that accepts it. A filter exporting
// the wide-character entry points gets the full UTF-16 path, the others the narrow one.
// Its bitmap is read as convertPluginBitmap (plugin_bitmap.h) describes. Returns the
// plug-in record (format 0, pixels in a zero-filled page block of the full image size,
// handed to the caller) or null; counters get the image size. Every module and memory
// handle of the plug-in is released before it returns. Caller holds the image lock.
DecodedImage* loadPluginImage(const wchar_t* pluginFolder, const wchar_t* path, DecodeCounters& counters);

// True when the plug-in folder setting is usable: not empty and an existing folder.
bool pluginFolderUsable(const wchar_t* pluginFolder);

// The narrow path a plug-in receives for path: the system code page conversion, or the
// short 8.3 form when the long name does not survive the code page (and one exists).
std::string pluginNarrowPath(const wchar_t* path);
