// Read Exif over arbitrary bytes, then format the summary and its clipboard text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/exif_format.h"
#include "image/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExifSummary summary;
    int32_t code = 0;
    if (!readExifFromMemory(data, size, summary, &code)) return 0;
    const ExifRows rows = formatExif(summary);
    for (const auto& value : rows.values)
        if (value.size() > kExifValueMaxUnits) std::abort();
    exifClipboardText(rows);
    return 0;
}
