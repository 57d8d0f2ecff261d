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
