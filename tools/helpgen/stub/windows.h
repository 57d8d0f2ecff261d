// The few Win32 names that the command table's headers mention, for the native build of the
// help generator: it reads the table's data and never calls into Windows.
#pragma once

#include <cstdint>

typedef struct HWND__* HWND;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
