// CryptoAPI's output-buffer protocol for parameters that are a structure with everything it
// points at in one block: the block is laid out twice, once to count and once to fill.
#pragma once

#include <wincrypt.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <vector>

namespace kvmsg {

class FlatWriter {
  public:
    // base null: only count (what New returns then is scratch memory of the writer's own).
    explicit FlatWriter(BYTE *base) : base_(base) {}
    template <typename T> T *New() { return new (Reserve(sizeof(T), alignof(T))) T{}; }
    // A copy of the bytes in the block; null when counting or empty.
    BYTE *Copy(std::span<const BYTE> bytes)
    {
        BYTE *pb = static_cast<BYTE *>(Reserve(bytes.size(), 1));
        if (!base_ || bytes.empty()) return nullptr;
        std::memcpy(pb, bytes.data(), bytes.size());
        return pb;
    }
    CRYPT_DATA_BLOB Blob(const CRYPT_DATA_BLOB &blob)
    {
        return {blob.cbData, Copy({blob.pbData, blob.cbData})};
    }
    LPSTR Text(const char *psz)
    {
        if (!psz) return nullptr;
        return reinterpret_cast<LPSTR>(
            Copy({reinterpret_cast<const BYTE *>(psz), std::strlen(psz) + 1}));
    }
    size_t Size() const { return used_; }

  private:
    void *Reserve(size_t cb, size_t align)
    {
        used_ = (used_ + align - 1) / align * align;
        void *pv = base_ ? base_ + used_ : Scratch(cb);
        used_ += cb;
        return pv;
    }
    void *Scratch(size_t cb)
    {
        scratch_.emplace_back(cb / sizeof(std::max_align_t) + 1);
        return scratch_.back().data();
    }
    BYTE *base_;
    size_t used_ = 0;
    std::vector<std::vector<std::max_align_t>> scratch_;
};

// Lays out build(writer) into pvData by CryptoAPI's protocol: null pvData asks for the size, a
// short buffer gets ERROR_MORE_DATA; *pcbData always receives the size.
template <typename Build> BOOL OutputFlat(Build &&build, void *pvData, DWORD *pcbData)
{
    FlatWriter counter(nullptr);
    build(counter);
    const DWORD cbNeeded = static_cast<DWORD>(counter.Size());
    const DWORD cbAvailable = *pcbData;
    *pcbData = cbNeeded;
    if (!pvData) return TRUE;
    if (cbAvailable < cbNeeded) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    FlatWriter writer(static_cast<BYTE *>(pvData));
    build(writer);
    return TRUE;
}

inline BOOL OutputBytes(std::span<const BYTE> bytes, void *pvData, DWORD *pcbData)
{
    return OutputFlat([&](FlatWriter &writer) { writer.Copy(bytes); }, pvData, pcbData);
}

} // namespace kvmsg
