// Whole-file helpers of the platform layer, written once over BinaryFile for both platforms.
#include "base/platform.h"

bool readWholeFile(const wchar_t* path, std::string& bytes) {
    BinaryFile f;
    if (!f.open(path, BinaryFile::ReadOnly)) return false;
    uint64_t size = f.size();
    bytes.assign(size_t(size), '\0');
    return size == 0 || f.read(bytes.data(), bytes.size());
}

bool writeWholeFile(const wchar_t* path, const void* data, size_t size) {
    BinaryFile f;
    return f.open(path, BinaryFile::CreateTruncate) && (size == 0 || f.write(data, size));
}
