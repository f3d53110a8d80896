#include "frame/Memory.h"

#include <cstdlib>

void *KVSUPAllocMemory(size_t cb)
{
    void *pv = std::calloc(cb, 1);
    if (!pv) SetLastError(NTE_NO_MEMORY);
    return pv;
}

BOOL KVSUPFreeMemory(void *pv)
{
    std::free(pv);
    return TRUE;
}
