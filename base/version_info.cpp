#include "base/version_info.h"

#include <cwchar>

#include "base/byte_order.h"

namespace {
constexpr uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;
constexpr char16_t kKey[] = u"VS_VERSION_INFO";
}  // namespace

bool readFileVersion(const uint8_t* block, size_t size, uint16_t parts[4]) {
    // Header: total length, value length, type, then the key in UTF-16 with its terminator,
    // padded to a multiple of four; the fixed information follows as the value.
    if (!block || size < 6) return false;
    const size_t length = readLe16(block);
    const size_t valueLength = readLe16(block + 2);
    if (length > size) return false;  // the block says it is longer than what we hold
    size_t at = 6;
    for (size_t i = 0; i < sizeof kKey / sizeof kKey[0]; ++i, at += 2) {
        if (at + 2 > length || readLe16(block + at) != kKey[i]) return false;
    }
    at = (at + 3) & ~size_t(3);
    if (valueLength < kFixedInfoSize || at + kFixedInfoSize > length) return false;
    if (readLe32(block + at) != kFixedSignature) return false;
    const uint32_t high = readLe32(block + at + 8), low = readLe32(block + at + 12);
    parts[0] = uint16_t(high >> 16);
    parts[1] = uint16_t(high);
    parts[2] = uint16_t(low >> 16);
    parts[3] = uint16_t(low);
    return true;
}

void formatFileVersion(const uint16_t parts[4], wchar_t* out, size_t capacity) {
    if (!out || capacity == 0) return;
    const int shown = parts[3] ? 4 : parts[2] ? 3 : 2;
    size_t used = 0;
    out[0] = L'\0';
    for (int i = 0; i < shown; ++i) {
        const int n = std::swprintf(out + used, capacity - used, i ? L".%u" : L"%u", unsigned(parts[i]));
        if (n < 0) return;  // out keeps what fitted, terminated
        used += size_t(n);
    }
}
