// The library's default memory functions: zero-filled blocks from the process heap.
#pragma once

#include <wintypes.h>

#include <cstddef>

// A zeroed block of cb bytes (calloc); null with NTE_NO_MEMORY as the last error.
void *KVSUPAllocMemory(size_t cb);
// Releases a block from KVSUPAllocMemory; null is accepted. Always TRUE.
BOOL KVSUPFreeMemory(void *pv);
