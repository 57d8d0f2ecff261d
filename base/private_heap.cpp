// The private heap (see private_heap.h).
#include "base/private_heap.h"

#ifdef _WIN32
#include <windows.h>

namespace {
HANDLE g_heap = nullptr;
HANDLE heapOrProcessHeap() { return g_heap ? g_heap : GetProcessHeap(); }
}  // namespace

bool createPrivateHeap() {
    if (!g_heap) g_heap = HeapCreate(0, 64 * 1024, 0);
    return g_heap != nullptr;
}

void destroyPrivateHeap() {
    if (g_heap) HeapDestroy(g_heap);
    g_heap = nullptr;
}

void* privateHeapAlloc(size_t size) { return HeapAlloc(heapOrProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1); }

void privateHeapFree(void* block) {
    if (block) HeapFree(heapOrProcessHeap(), 0, block);
}

#else
#include <cstdlib>

bool createPrivateHeap() { return true; }
void destroyPrivateHeap() {}
void* privateHeapAlloc(size_t size) { return std::calloc(1, size ? size : 1); }
void privateHeapFree(void* block) { std::free(block); }
#endif
