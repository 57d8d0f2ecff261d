// GIF decoder (first image only, own LZW decompressor). Entry points decodeGif/gifRecord
// are declared in decoded_image.h.
#pragma once

#include "image/decoded_image.h"
