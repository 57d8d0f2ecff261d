// The WEBP plug-in (plugins/webp.c) on arbitrary file bytes; see spi_fuzz.h.
#include "fuzz/spi_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return spi_fuzz::drive(data, size); }
