// What an import filter answers to "GetPluginInfo", through the host's reading of it: the
// version check, the file patterns the folder listing adds and the summary the options page
// shows. The input is the filter's answers, one per line ('\n'); the first byte of a line
// says what the filter returns besides writing the rest of the line into the buffer (at most
// the size it is given, as any filter must): 0 the count written, 1 the buffer's size, 2 a
// count larger than the buffer, 3 a negative count, 4 nothing written but a count. A first
// line starting with '*' makes the filter answer its last line to every index after the
// input's end (a filter that never says it is done).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "image/decoded_image.h"
#include "image/plugin_info.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void lowerInPlace(std::wstring& text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(std::wint_t(c)));
}

std::wstring lowered(std::wstring text) {
    lowerInPlace(text);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') lines.emplace_back();
        else lines.back() += char(data[i]);
    }
    const bool endless = !lines[0].empty() && lines[0][0] == '*';
    long calls = 0;

    PluginInfoSource source;
    source.call = [&](int index, char* buffer, int bufferSize) -> int {
        ++calls;
        check(index >= 0 && index <= kMaxPluginInfoIndex + 1 && bufferSize > 0);
        size_t line = size_t(index);
        if (line >= lines.size()) {
            if (!endless) return 0;
            line = lines.size() - 1;
        }
        const std::string& answer = lines[line];
        const int mode = answer.empty() ? 0 : (uint8_t(answer[0]) % 5);
        const std::string text = answer.empty() ? std::string() : answer.substr(1);
        const int written = int(text.size() < size_t(bufferSize) ? text.size() : size_t(bufferSize));
        if (mode != 4) std::memcpy(buffer, text.data(), size_t(written));
        switch (mode) {
            case 1: return bufferSize;
            case 2: return bufferSize + 1 + int(text.size());
            case 3: return -1 - written;
            default: return written;  // 0, and 4 (nothing written)
        }
    };
    // Byte for character, as a single-byte code page converts.
    source.widen = [](const std::string& text) {
        std::wstring wide;
        for (char c : text) wide += wchar_t(uint8_t(c));
        return wide;
    };
    source.lower = lowerInPlace;
    // Without allocating: the pattern walk compares every piece with every pattern kept.
    source.sameIgnoringCase = [](const std::wstring& a, const std::wstring& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::towlower(std::wint_t(a[i])) != std::towlower(std::wint_t(b[i]))) return false;
        return true;
    };

    for (int index = 0; index < 4; ++index) check(pluginInfoText(source, index).size() <= size_t(kPluginInfoBytes));
    isImportFilterInfo(source);

    // Two filters giving the same answers: the second adds nothing.
    std::vector<std::wstring> patterns;
    const bool room = collectPluginPatterns(source, patterns);
    const size_t first = patterns.size();
    check(room == (first < kMaxPluginPatterns));
    check(!room || collectPluginPatterns(source, patterns));
    check(patterns.size() == first);
    for (size_t i = 0; i < patterns.size(); ++i) {
        check(!patterns[i].empty() && patterns[i] == lowered(patterns[i]));
        check(patterns[i].find(L';') == std::wstring::npos);
        check(formatFromExtension(patterns[i].c_str()) == FormatUnknown);
        for (size_t j = 0; j < i; ++j) check(patterns[j] != patterns[i]);
    }

    std::wstring summaryPatterns, descriptions;
    summarizePluginInfo(source, summaryPatterns, descriptions);
    check(summaryPatterns.size() <= kPluginSummaryLimit && descriptions.size() <= kPluginSummaryLimit);
    // The walks end however the filter answers.
    check(calls <= 8 + 3L * (kMaxPluginInfoIndex + 2));
    return 0;
}
