// The file version of a module's version resource (the VS_VERSIONINFO block that the
// resource compiler writes), read without the version library so that any block can be
// checked, however damaged. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

// The four parts of the fixed file version (major, minor, patch, build). False when the block
// is cut short, is not a version block or carries no fixed information.
bool readFileVersion(const uint8_t* block, size_t size, uint16_t parts[4]);

// "major.minor", with ".patch" and ".build" only as far as they are not 0 ("2.55", "2.55.1",
// "2.55.0.7"), into out of `capacity` units (at least 24 are always enough).
void formatFileVersion(const uint16_t parts[4], wchar_t* out, size_t capacity);
