// The HEIF plug-in (plugins/heif.cpp) on arbitrary file bytes; see spi_fuzz.h.
#include "fuzz/spi_fuzz.h"

// Natively the plug-in runs on Debian's libheif, libde265 and dav1d. libFuzzer's leak check
// after an input reports one 40-byte block allocated inside that dav1d, while twenty AV1
// decodes in one process (the replay build) leave no leak at exit: the block is the system
// library's, not the plug-in's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return spi_fuzz::drive(data, size); }
