// The private certificate store and the key-derivation counter through their exported entry
// points, as a host calls them.
#include "kvext/kvext.h"

#include "common/EntryPoints.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

const kvtest::CodecEntryPoints kStore = {
    OrvaDllGostPrivateCertificateStoreEncodeEx, OrvaDllGostPrivateCertificateStoreEncode,
    OrvaDllGostPrivateCertificateStoreDecodeEx, OrvaDllGostPrivateCertificateStoreDecode};
const kvtest::CodecEntryPoints kCounter = {nullptr, nullptr, OrvaDllPrivateKeyDeriveCounterDecodeEx,
                                           OrvaDllPrivateKeyDeriveCounterDecode};

// 0x31, the DER length of `contents` (short form, or two octets), then `contents`.
std::vector<BYTE> SetOf(const std::vector<BYTE> &contents)
{
    std::vector<BYTE> der(contents.size() < 128 ? 2 : 4);
    der[0] = 0x31;
    if (contents.size() < 128) {
        der[1] = static_cast<BYTE>(contents.size());
    } else {
        der[1] = 0x82;
        der[2] = static_cast<BYTE>(contents.size() >> 8);
        der[3] = static_cast<BYTE>(contents.size());
    }
    der.insert(der.end(), contents.begin(), contents.end());
    return der;
}

// The flat store: header, entry array, then the element bytes in decoded order, unpadded.
void ExpectStoreLaidOut(const kvtest::FlatResult &result, DWORD cb,
                        const std::vector<std::vector<BYTE>> &elements)
{
    const auto *store = static_cast<const CRYPT_BLOB_ARRAY *>(result.get());
    ASSERT_EQ(elements.size(), store->cBlob);
    EXPECT_EQ(elements.empty() ? nullptr : reinterpret_cast<const CRYPT_DER_BLOB *>(store + 1),
              store->rgBlob);
    auto cursor =
        reinterpret_cast<const BYTE *>(store + 1) + elements.size() * sizeof(CRYPT_DER_BLOB);
    for (size_t i = 0; i < elements.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cursor, store->rgBlob[i].pbData);
        EXPECT_EQ(elements[i],
                  std::vector<BYTE>(store->rgBlob[i].pbData,
                                    store->rgBlob[i].pbData + store->rgBlob[i].cbData));
        cursor += store->rgBlob[i].cbData;
    }
    EXPECT_EQ(cursor - static_cast<const BYTE *>(result.get()), cb);
}

// Elements come out in DER SET OF order, whatever order the caller gave, and decode in
// their encoded order, each reproducing its complete encoding.
TEST(GostPrivateCertificateStore, ElementsInDerOrder)
{
    const std::vector<BYTE> set = {0x31, 0x03, 0x02, 0x01, 0x05};
    const std::vector<BYTE> sequence = {0x30, 0x03, 0x02, 0x01, 0x07};
    const std::vector<BYTE> longer = {0x30, 0x04, 0x02, 0x02, 0x01, 0x00};
    const std::vector<BYTE> certificate = kvtest::ReadDataFile("codecs/pkup_cert.der");
    ASSERT_GT(certificate.size(), 128u); // long-form length inside the set
    struct Row {
        const char *name;
        std::vector<std::vector<BYTE>> given;
        std::vector<std::vector<BYTE>> sorted;
    } rows[] = {
        {"Empty", {}, {}},
        {"Two", {set, sequence}, {sequence, set}},
        {"PrefixOrder", {set, longer, sequence}, {sequence, longer, set}},
        {"Certificate", {certificate, set}, {certificate, set}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<CRYPT_DER_BLOB> blobs;
        for (const auto &element : row.given)
            blobs.push_back(
                {static_cast<DWORD>(element.size()), const_cast<BYTE *>(element.data())});
        const CRYPT_BLOB_ARRAY caller = {static_cast<DWORD>(blobs.size()), blobs.data()};
        std::vector<BYTE> contents;
        for (const auto &element : row.sorted)
            contents.insert(contents.end(), element.begin(), element.end());
        const std::vector<BYTE> expected = SetOf(contents);

        EXPECT_EQ(expected, kvtest::EncodeEveryWay(kStore, &caller));
        DWORD cb = 0;
        const auto result = kvtest::DecodeEveryWay(kStore, expected, &cb);
        ASSERT_TRUE(result);
        ExpectStoreLaidOut(result, cb, row.sorted);
    }
}

TEST(GostPrivateCertificateStore, MissingArrayIsInvalidParameter)
{
    const CRYPT_BLOB_ARRAY caller = {2, nullptr};
    DWORD cb = 0;
    EXPECT_FALSE(OrvaDllGostPrivateCertificateStoreEncode(
        kvtest::kEncodingType, kvtest::kStructType, &caller, nullptr, &cb));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
}

DWORD DecodeCounter(const std::vector<BYTE> &der)
{
    DWORD cb = 0;
    const auto result = kvtest::DecodeEveryWay(kCounter, der, &cb);
    EXPECT_EQ(sizeof(DWORD), cb);
    return result ? *static_cast<const DWORD *>(result.get()) : 0xDEADBEEF;
}

TEST(PrivateKeyDeriveCounter, DecodesUnsignedValues)
{
    EXPECT_EQ(0u, DecodeCounter({0x02, 0x01, 0x00}));
    EXPECT_EQ(128u, DecodeCounter(kvtest::ReadDataFile("codecs/derive_counter_128.der")));
    EXPECT_EQ(2147483647u, DecodeCounter({0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(4294967295u, DecodeCounter(kvtest::ReadDataFile("codecs/derive_counter_max.der")));
}

} // namespace
