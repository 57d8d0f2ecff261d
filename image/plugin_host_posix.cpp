// Native builds load no Windows plug-in modules: there are never any plug-ins.
#include "image/decoded_image.h"
#include "image/plugin_host.h"

std::vector<std::wstring> listPlugins(const wchar_t*, PluginListMode) { return {}; }

bool pluginSummary(const wchar_t*, PluginSummary& out) {
    out = PluginSummary{};
    return false;
}

void configurePlugin(const wchar_t*, void*) {}

DecodedImage* loadPluginImage(const wchar_t*, const wchar_t*, DecodeCounters&) { return nullptr; }

bool pluginFolderUsable(const wchar_t*) { return false; }

std::string pluginNarrowPath(const wchar_t* path) {
    std::string narrow;
    for (; path && *path; ++path) narrow += *path < 0x80 ? char(*path) : '?';
    return narrow;
}
