// File helpers shared by the Windows tests, over the platform layer's whole-file functions.
#pragma once

#include <string>

#include "base/platform.h"

namespace winetest {

inline bool writeBytes(const std::wstring& path, const std::string& bytes) {
    return writeWholeFile(path.c_str(), bytes.data(), bytes.size());
}

// The whole file, or nothing when it cannot be read.
inline std::string readBytes(const std::wstring& path) {
    std::string out;
    if (!readWholeFile(path.c_str(), out)) out.clear();
    return out;
}

}  // namespace winetest
