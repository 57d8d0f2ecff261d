#include "image/plugin_info.h"

#include <cstring>

#include "image/decoded_image.h"

std::string pluginInfoText(const PluginInfoSource& source, int index) {
    // One byte more than the filter is told, so a filter that fills the buffer without a
    // terminator is still cut at the size it was given.
    char buffer[kPluginInfoBytes + 1] = {};
    const int n = source.call(index, buffer, kPluginInfoBytes);
    if (n <= 0) return {};
    buffer[n < kPluginInfoBytes ? n : kPluginInfoBytes] = 0;
    return buffer;
}

bool isImportFilterInfo(const PluginInfoSource& source) {
    char version[9] = {};
    if (source.call(0, version, 8) <= 0) return false;
    return std::memcmp(version, "00IN", 4) == 0;
}

bool collectPluginPatterns(const PluginInfoSource& source, std::vector<std::wstring>& patterns) {
    if (patterns.size() >= kMaxPluginPatterns) return false;
    for (int index = 2; index <= kMaxPluginInfoIndex; index += 2) {
        const std::string text = pluginInfoText(source, index);
        if (text.empty()) return true;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            std::wstring piece = source.widen(text.substr(start, end - start));
            start = end + 1;
            if (piece.empty()) continue;
            source.lower(piece);
            if (formatFromExtension(piece.c_str()) != FormatUnknown) continue;
            bool seen = false;
            for (const std::wstring& p : patterns) seen = seen || source.sameIgnoringCase(p, piece);
            if (seen) continue;
            patterns.push_back(std::move(piece));
            if (patterns.size() >= kMaxPluginPatterns) return false;
        }
    }
    return true;
}

void summarizePluginInfo(const PluginInfoSource& source, std::wstring& patterns, std::wstring& descriptions) {
    patterns = source.widen(pluginInfoText(source, 2)).substr(0, kPluginSummaryLimit);
    descriptions = source.widen(pluginInfoText(source, 3)).substr(0, kPluginSummaryLimit);
    for (int index = 4; index <= kMaxPluginInfoIndex; index += 2) {
        const std::wstring pattern = source.widen(pluginInfoText(source, index));
        if (pattern.empty() || patterns.size() + 1 + pattern.size() > kPluginSummaryLimit) break;
        patterns += L";" + pattern;
        const std::wstring description = source.widen(pluginInfoText(source, index + 1));
        if (description.empty() || descriptions.size() + 1 + description.size() > kPluginSummaryLimit) break;
        descriptions += L"/" + description;
    }
}
