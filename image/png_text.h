// The tEXt chunks of a PNG file, as the PNG text view lists them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kPngTextMaxEntries = 16;
constexpr size_t kPngKeywordMax = 79;
constexpr size_t kPngTextMax = 1024;

struct PngTextEntry {
    char keyword[kPngKeywordMax + 1];  // zero-filled; system code page
    char text[kPngTextMax + 1];        // zero-filled; system code page
};

// Up to 16 entries; the first entry with an empty keyword ends the list.
struct PngTextList {
    PngTextEntry entries[kPngTextMaxEntries];
    int count() const {
        int n = 0;
        while (n < kPngTextMaxEntries && entries[n].keyword[0] != 0) ++n;
        return n;
    }
};

// Reads the qualifying tEXt chunks (length of 2 or more, correct CRC, keyword not empty)
// in file order into list (zero-filled first): the keyword is the bytes before the first 0
// within the first 80 data bytes, the text what follows within the first 1103 data bytes;
// ESC bytes (0x1B) are dropped from both. True when at least one entry was read, also when
// the walk met a damaged chunk after it; errorCode (optional) receives 4 when the file
// could not be mapped or its chunks could not be walked to IEND.
bool readPngTexts(const wchar_t* path, PngTextList& list, int32_t* errorCode = nullptr);
bool readPngTextsFromMemory(const uint8_t* data, size_t size, PngTextList& list, int32_t* errorCode = nullptr);
