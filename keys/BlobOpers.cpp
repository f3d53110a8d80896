#include "keys/BlobOpers.h"

#include <cstring>

BYTE **b2e_STR(BYTE **ppCursor, DWORD *pcbTotal, const void *source, DWORD length)
{
    if (ppCursor) {
        if (length) std::memcpy(*ppCursor, source, length);
        *ppCursor += length;
    }
    if (pcbTotal) *pcbTotal += length;
    return ppCursor;
}
