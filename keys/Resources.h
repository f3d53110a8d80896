// Release on every path for what the key functions hold: provider keys and blocks of the
// library's default allocator.
#pragma once

#include <asn1rt.h>
#include <wincrypt.h>

#include "frame/AsnObject.h"
#include "frame/Memory.h"

#include <memory>

// Destroys *phKey when it is set, leaving the last error as it was: the code of the failure
// that led here is the caller's answer.
inline void DestroyKeyKeepingError(HCRYPTKEY *phKey)
{
    if (!*phKey) return;
    const DWORD dwError = GetLastError();
    CryptDestroyKey(*phKey);
    SetLastError(dwError);
}
using KeyGuard = std::unique_ptr<HCRYPTKEY, decltype(&DestroyKeyKeepingError)>;

// Releases the KVSUPAllocMemory block *ppb points at (null is fine).
inline void FreeHeapBlockAt(BYTE **ppb)
{
    KVSUPFreeMemory(*ppb);
}
using HeapBlockGuard = std::unique_ptr<BYTE *, decltype(&FreeHeapBlockAt)>;
