// The program's private heap: small records and working buffers of the cache code, the
// cache maintenance dialog, the folder tree and the decoders. Created first at start-up
// (64 KiB initial size, no maximum) and destroyed last. Native builds use the C heap.
#pragma once

#include <cstddef>

bool createPrivateHeap();
void destroyPrivateHeap();
// Zero-filled block, or null. Before createPrivateHeap (tools, tests) the process heap serves.
void* privateHeapAlloc(size_t size);
// Releases a block from privateHeapAlloc; null is ignored.
void privateHeapFree(void* block);
