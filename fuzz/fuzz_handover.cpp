// The path text a second instance hands over (the WM_COPYDATA block) as the receiving side
// takes it: the block rule, the command-line copy and the cut of a file path to its folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "base/byte_order.h"
#include "base/settings.h"
#include "base/text_utils.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wchar_t path[kPathCapacity];
    const bool accepted = handedOverPath(data, size, path);
    if (!accepted) {
        check(path[0] == L'\0');
        // Refused only when no terminator lies in the first 260 whole units.
        for (size_t i = 0; i + 1 < size && i < 2 * size_t(kPathCapacity); i += 2) check(readLe16(data + i) != 0);
        return 0;
    }
    const size_t length = std::wcslen(path);
    check(length < size_t(kPathCapacity) && 2 * length + 2 <= size && readLe16(data + 2 * length) == 0);
    for (size_t i = 0; i < length; ++i) check(path[i] == wchar_t(readLe16(data + 2 * i)));

    // What start-up keeps of a command-line path: all of it, or nothing when it does not fit.
    wchar_t kept[kPathCapacity];
    check(copyText(kept, kPathCapacity, path) && std::wcscmp(kept, path) == 0);

    // A path naming a file opens the folder that holds it.
    if (cutToContainingFolder(kept)) {
        // A prefix of the path that ends at (or, for a drive root, just after) its last backslash.
        const size_t cut = std::wcslen(kept);
        const size_t slash = size_t(std::wcsrchr(path, L'\\') - path);
        check(std::wcsncmp(kept, path, cut) == 0 && (cut == slash || (cut == slash + 1 && slash > 0 && path[slash - 1] == L':')));
    } else {
        check(!std::wcschr(path, L'\\') && std::wcscmp(kept, path) == 0);
    }
    return 0;
}
