#include "image/png_text.h"

#include <cstring>

#include "image/decoded_image.h"
#include "image/metadata_walk.h"

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr size_t kLookedAt = 1103;

// Copies bytes, dropping ESC, until limit bytes are stored.
void copyWithoutEsc(const uint8_t* from, size_t n, char* to, size_t limit) {
    size_t stored = 0;
    for (size_t i = 0; i < n && stored < limit; ++i)
        if (from[i] != kEsc) to[stored++] = char(from[i]);
}

}  // namespace

bool readPngTextsFromMemory(const uint8_t* data, size_t size, PngTextList& list, int32_t* errorCode) {
    std::memset(&list, 0, sizeof list);
    if (errorCode) *errorCode = 0;
    meta::PngChunkWalker walker(data, size);
    meta::PngChunk chunk;
    int count = 0;
    for (;;) {
        const meta::WalkStep step = walker.next(chunk);
        if (step == meta::WalkStep::End) break;
        if (step == meta::WalkStep::Error) {
            if (errorCode) *errorCode = ErrRead;
            break;
        }
        if (!meta::pngTextQualifies(data, chunk)) continue;
        const uint8_t* text = data + chunk.dataStart;
        const size_t looked = chunk.length < kLookedAt ? chunk.length : kLookedAt;
        const size_t keywordReach = looked < kPngKeywordMax + 1 ? looked : kPngKeywordMax + 1;
        const void* zero = std::memchr(text, 0, keywordReach);
        if (!zero) continue;
        const size_t keywordLength = size_t(static_cast<const uint8_t*>(zero) - text);
        PngTextEntry& entry = list.entries[count];
        copyWithoutEsc(text, keywordLength, entry.keyword, kPngKeywordMax);
        if (entry.keyword[0] == 0) continue;  // a keyword of ESC bytes only would end the list
        copyWithoutEsc(text + keywordLength + 1, looked - keywordLength - 1, entry.text, kPngTextMax);
        if (++count == kPngTextMaxEntries) break;
    }
    return count > 0;
}

bool readPngTexts(const wchar_t* path, PngTextList& list, int32_t* errorCode) {
    std::memset(&list, 0, sizeof list);
    DecoderInput input;
    int32_t code = 0;
    if (mapImageFile(path, input, code) == 0) {
        if (errorCode) *errorCode = code ? code : ErrRead;
        return false;
    }
    const bool ok = readPngTextsFromMemory(input.file.data, input.file.size, list, errorCode);
    unmapImageFile(input);
    return ok;
}
