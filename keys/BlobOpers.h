// Laying bytes into a flat output block: one step both measures and writes, so the size pass
// and the write pass of a blob writer run the same code.
#pragma once

#include <wintypes.h>

// Copies `length` octets from `source` to *ppCursor and advances it when ppCursor is given;
// adds `length` to *pcbTotal when pcbTotal is given. Returns ppCursor.
BYTE **b2e_STR(BYTE **ppCursor, DWORD *pcbTotal, const void *source, DWORD length);
