// TIFF decoder (uncompressed strips). Entry points decodeTiff/tiffRecord are declared in
// decoded_image.h.
#pragma once

#include "image/decoded_image.h"
