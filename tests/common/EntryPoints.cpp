#include "common/EntryPoints.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace kvtest {
namespace {

constexpr size_t kGuard = 32;
constexpr BYTE kGuardByte = 0xA5;

// A caller buffer with guard bytes on both sides, aligned for any structure.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(size_t cb) : bytes_(cb + 2 * kGuard + 16, kGuardByte), cb_(cb)
    {
        auto base = reinterpret_cast<uintptr_t>(bytes_.data()) + kGuard;
        offset_ = kGuard + ((16 - base % 16) % 16);
    }
    BYTE *data() { return bytes_.data() + offset_; }
    // Every byte outside [data, data + cbWritable) still holds the guard pattern.
    bool GuardsIntact(size_t cbWritable) const
    {
        for (size_t i = 0; i < bytes_.size(); ++i) {
            const bool writable = i >= offset_ && i < offset_ + cbWritable;
            if (!writable && bytes_[i] != kGuardByte) return false;
        }
        return true;
    }
    size_t size() const { return cb_; }

  private:
    std::vector<BYTE> bytes_;
    size_t cb_;
    size_t offset_ = 0;
};

} // namespace

std::vector<BYTE> EncodeEveryWay(const CodecEntryPoints &codec, const void *pvStructInfo)
{
    DWORD cbQuery = 0;
    EXPECT_TRUE(
        codec.encodeEx(kEncodingType, kStructType, pvStructInfo, 0, nullptr, nullptr, &cbQuery));
    if (cbQuery == 0) return {};

    GuardedBuffer exact(cbQuery);
    DWORD cbExact = cbQuery;
    EXPECT_TRUE(codec.encodeEx(kEncodingType, kStructType, pvStructInfo, 0, nullptr, exact.data(),
                               &cbExact));
    EXPECT_EQ(cbQuery, cbExact);
    EXPECT_TRUE(exact.GuardsIntact(cbQuery));
    std::vector<BYTE> der(exact.data(), exact.data() + cbQuery);

    GuardedBuffer shortBuffer(cbQuery - 1);
    DWORD cbShort = cbQuery - 1;
    EXPECT_FALSE(codec.encodeEx(kEncodingType, kStructType, pvStructInfo, 0, nullptr,
                                shortBuffer.data(), &cbShort));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(cbQuery, cbShort);
    EXPECT_TRUE(shortBuffer.GuardsIntact(0));

    BYTE *pbAllocated = nullptr;
    DWORD cbAllocated = 0;
    EXPECT_TRUE(codec.encodeEx(kEncodingType, kStructType, pvStructInfo, CRYPT_ENCODE_ALLOC_FLAG,
                               nullptr, &pbAllocated, &cbAllocated));
    if (pbAllocated) {
        EXPECT_EQ(der, std::vector<BYTE>(pbAllocated, pbAllocated + cbAllocated));
        std::free(pbAllocated);
    }

    std::vector<BYTE> plain(cbQuery);
    DWORD cbPlain = cbQuery;
    EXPECT_TRUE(codec.encode(kEncodingType, kStructType, pvStructInfo, plain.data(), &cbPlain));
    EXPECT_EQ(der, plain);
    return der;
}

FlatResult DecodeEveryWay(const CodecEntryPoints &codec, const std::vector<BYTE> &der,
                          DWORD *pcbResult)
{
    const DWORD cbDer = static_cast<DWORD>(der.size());
    DWORD cbQuery = 0;
    EXPECT_TRUE(codec.decodeEx(kEncodingType, kStructType, der.data(), cbDer, 0, nullptr, nullptr,
                               &cbQuery));
    if (cbQuery == 0) return nullptr;

    GuardedBuffer exact(cbQuery);
    DWORD cbExact = cbQuery;
    EXPECT_TRUE(codec.decodeEx(kEncodingType, kStructType, der.data(), cbDer, 0, nullptr,
                               exact.data(), &cbExact));
    EXPECT_EQ(cbQuery, cbExact);
    EXPECT_TRUE(exact.GuardsIntact(cbQuery)) << "the fill step wrote past the size step";
    // Every byte of the block is the library's, padding included: the same decode into the
    // same place, once over 0xA5 and once over 0x5A, gives the same bytes.
    std::vector<BYTE> overA5(exact.data(), exact.data() + cbQuery);
    std::fill_n(exact.data(), cbQuery, BYTE{0x5A});
    EXPECT_TRUE(codec.decodeEx(kEncodingType, kStructType, der.data(), cbDer, 0, nullptr,
                               exact.data(), &cbExact));
    EXPECT_EQ(overA5, std::vector<BYTE>(exact.data(), exact.data() + cbQuery))
        << "a byte of the result shows what the caller's buffer held";

    GuardedBuffer shortBuffer(cbQuery - 1);
    DWORD cbShort = cbQuery - 1;
    EXPECT_FALSE(codec.decodeEx(kEncodingType, kStructType, der.data(), cbDer, 0, nullptr,
                                shortBuffer.data(), &cbShort));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(cbQuery, cbShort);
    EXPECT_TRUE(shortBuffer.GuardsIntact(0));

    GuardedBuffer larger(cbQuery + 64);
    DWORD cbLarger = cbQuery + 64;
    EXPECT_TRUE(
        codec.decode(kEncodingType, kStructType, der.data(), cbDer, 0, larger.data(), &cbLarger));
    EXPECT_EQ(cbQuery, cbLarger);
    EXPECT_TRUE(larger.GuardsIntact(cbQuery));

    void *pvAllocated = nullptr;
    DWORD cbAllocated = 0;
    EXPECT_TRUE(codec.decodeEx(kEncodingType, kStructType, der.data(), cbDer,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvAllocated, &cbAllocated));
    EXPECT_EQ(cbQuery, cbAllocated);
    if (pcbResult) *pcbResult = cbAllocated;
    return FlatResult(pvAllocated);
}

bool InsideBlock(const void *block, DWORD cbBlock, const void *p, size_t cb)
{
    const auto *begin = static_cast<const BYTE *>(block);
    const auto *first = static_cast<const BYTE *>(p);
    return first >= begin && first + cb <= begin + cbBlock;
}

void ExpectDecodeFailure(const CodecEntryPoints &codec, const std::vector<BYTE> &der,
                         DWORD expectedError)
{
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(codec.decodeEx(kEncodingType, kStructType, der.data(),
                                static_cast<DWORD>(der.size()), 0, nullptr, nullptr, &cb));
    EXPECT_EQ(expectedError, GetLastError());
    EXPECT_EQ(0u, cb);
    std::vector<BYTE> out(256);
    cb = static_cast<DWORD>(out.size());
    EXPECT_FALSE(codec.decode(kEncodingType, kStructType, der.data(),
                              static_cast<DWORD>(der.size()), 0, out.data(), &cb));
    EXPECT_EQ(expectedError, GetLastError());
}

} // namespace kvtest
