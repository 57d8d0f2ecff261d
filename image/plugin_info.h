// What an import filter says of itself through "GetPluginInfo": its version entry, its file
// patterns and their descriptions. The filter's text is outside bytes like a file's, so it is
// read the same way on every system; only the call itself and the code-page conversion are
// the host's.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct PluginInfoSource {
    // The filter's GetPluginInfo(index, buffer, size): the count of bytes written, or <= 0.
    std::function<int(int index, char* buffer, int size)> call;
    // Code-page text to UTF-16, letter case lowered, and equality without letter case, as the
    // system has them.
    std::function<std::wstring(const std::string&)> widen;
    std::function<void(std::wstring&)> lower;
    std::function<bool(const std::wstring&, const std::wstring&)> sameIgnoringCase;
};

constexpr int kPluginInfoBytes = 260;
constexpr size_t kMaxPluginPatterns = 100;
// A filter that never answers 0 would keep the pattern walk going for ever.
constexpr int kMaxPluginInfoIndex = 2 + 2 * 1000;
constexpr size_t kPluginSummaryLimit = 259;

// One entry as text: at most kPluginInfoBytes bytes, up to the first NUL or the count the
// filter returned, whichever comes first; empty when it returned <= 0.
std::string pluginInfoText(const PluginInfoSource& source, int index);

// Whether entry 0 names an import filter ("00IN").
bool isImportFilterInfo(const PluginInfoSource& source);

// Adds the filter's patterns (entries 2, 4, ... split at ';', lower-cased, without empty
// pieces, duplicates or the patterns of the built-in decoders) to patterns; false once the
// list holds kMaxPluginPatterns.
bool collectPluginPatterns(const PluginInfoSource& source, std::vector<std::wstring>& patterns);

// The patterns joined by ';' and the descriptions by '/', each at most kPluginSummaryLimit
// characters: an entry that would pass the limit ends the list.
void summarizePluginInfo(const PluginInfoSource& source, std::wstring& patterns, std::wstring& descriptions);
