// The flat result of a decode: one block with the caller's structure at its start and every
// byte its pointers refer to behind it. A codec describes that block once, as a layout walk
// over its decoded value; the frame runs the walk without a block to measure the result and
// again over the block to lay it, so the two can never disagree.
#pragma once

#include "frame/AsnObject.h"

#include <cstddef>
#include <cstring>

// Where the next item of a flat result goes, counted from the start of the block, so that
// measuring and laying round alike wherever the block lies. Every byte up to the offset is
// written when there is a block, padding included.
struct FlatCursor {
    BYTE *block;    // null while measuring
    size_t cbBlock; // nothing is laid at or past this offset
    size_t offset;  // of the next free byte
    TraceSite site; // the size or fill step, under whose name the walk reports a failure

    // Rounds the offset up to `alignment` (a power of two), zero-filling the gap.
    void Align(size_t alignment)
    {
        const size_t aligned = (offset + alignment - 1) & ~(alignment - 1);
        if (aligned != offset && block && aligned <= cbBlock)
            std::memset(block + offset, 0, aligned - offset);
        offset = aligned;
    }
    // Room for `cb` bytes at `alignment` that the caller writes every one of; null while
    // measuring or past the block.
    BYTE *TakeToWrite(size_t cb, size_t alignment = 1)
    {
        Align(alignment);
        BYTE *at = block && cb <= cbBlock && offset <= cbBlock - cb ? block + offset : nullptr;
        offset += cb;
        return at;
    }
    // Room for `cb` zeroed bytes at `alignment`; null while measuring or past the block.
    BYTE *Take(size_t cb, size_t alignment = 1)
    {
        BYTE *at = TakeToWrite(cb, alignment);
        if (at) std::memset(at, 0, cb);
        return at;
    }
    template <typename T> T *Take(size_t count = 1)
    {
        return static_cast<T *>(static_cast<void *>(Take(count * sizeof(T), alignof(T))));
    }
    // `cb` bytes copied into the block and described by *pBlob ({0, NULL} when empty).
    void CopyBlob(const BYTE *pb, DWORD cb, CRYPT_DATA_BLOB *pBlob)
    {
        BYTE *at = TakeToWrite(cb);
        if (!at || !cb) return;
        std::memcpy(at, pb, cb);
        *pBlob = {cb, at};
    }
};

// The element `index` of an array taken from the cursor, or `scratch` while measuring, so that
// a walk writes its fields the same way in both runs.
template <typename T> T &ElementOr(T *array, size_t index, T &scratch)
{
    return array ? array[index] : scratch;
}

// Stores the measured size for the frame. A result past 32 bits cannot be delivered.
BOOL StoreFlatSize(TraceSite site, size_t cbNeeded, DWORD *pcbStructInfo);
// The walk must have laid exactly the `cbBuffer` bytes it measured.
BOOL CheckFilledSize(TraceSite site, size_t cbFilled, DWORD cbBuffer);

template <typename> struct FlatLayoutTraits;
template <typename T> struct FlatLayoutTraits<BOOL (*)(Asn1Context *, T *, FlatCursor *)> {
    using Value = T;
};

// The size step and the fill step of a structure, as the frame calls them.
template <auto Layout>
BOOL MeasureFlatResult(TraceSite site, Asn1Context *ctx, void *value, DWORD *pcbStructInfo)
{
    using Value = typename FlatLayoutTraits<decltype(Layout)>::Value;
    FlatCursor cursor{nullptr, 0, 0, site};
    return Layout(ctx, static_cast<Value *>(value), &cursor) &&
           StoreFlatSize(site, cursor.offset, pcbStructInfo);
}
template <auto Layout>
BOOL LayFlatResult(TraceSite site, Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer)
{
    using Value = typename FlatLayoutTraits<decltype(Layout)>::Value;
    FlatCursor cursor{static_cast<BYTE *>(pvBuffer), cbBuffer, 0, site};
    return Layout(ctx, static_cast<Value *>(value), &cursor) &&
           CheckFilledSize(site, cursor.offset, cbBuffer);
}

// Defines <Struct>_GetBufferSize and <Struct>_FillBuffer over the structure's layout walk.
#define KV_DEFINE_FLAT_RESULT_CALLBACKS(Struct, layout)                                            \
    BOOL Struct##_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo)               \
    {                                                                                              \
        return MeasureFlatResult<layout>(KV_HERE, ctx, value, pcbStructInfo);                      \
    }                                                                                              \
    BOOL Struct##_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer, DWORD cbBuffer)        \
    {                                                                                              \
        return LayFlatResult<layout>(KV_HERE, ctx, value, pvBuffer, cbBuffer);                     \
    }
