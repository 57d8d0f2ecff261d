// Reading the Exif shooting data of a JPEG file into a fixed summary of twelve values.
// The reader walks the JPEG markers to the first "Exif" APP1 segment, then IFD0 (Make,
// Model, the Exif IFD pointer) and the Exif IFD. Every offset in the file is treated as
// hostile: each read is checked against the end of the file before it is made.
#pragma once

#include <cstddef>
#include <cstdint>

struct ExifSummary {
    char make[64];  // system code page; not zero-terminated when all 64 bytes are used
    char model[64];
    uint32_t exposureNumerator;
    uint32_t exposureDenominator;
    uint32_t fNumberNumerator;
    uint32_t fNumberDenominator;
    uint16_t exposureProgram;
    uint16_t isoSpeed;
    char dateTime[20];  // "YYYY:MM:DD HH:MM:SS" as stored, normally zero-terminated
    int32_t biasNumerator;
    int32_t biasDenominator;
    uint32_t maxApertureNumerator;
    uint32_t maxApertureDenominator;
    uint16_t meteringMode;
    uint16_t flash;
    uint32_t focalNumerator;
    uint32_t focalDenominator;
};

// Reads the Exif summary of the JPEG file at path (zero-filled first). True when at least
// one shooting-data tag of the Exif IFD was found. errorCode (optional) receives 4 when the
// file could not be mapped or its markers could not be walked, otherwise 0.
bool readExif(const wchar_t* path, ExifSummary& summary, int32_t* errorCode = nullptr);
// The same over a file image in memory.
bool readExifFromMemory(const uint8_t* data, size_t size, ExifSummary& summary, int32_t* errorCode = nullptr);
