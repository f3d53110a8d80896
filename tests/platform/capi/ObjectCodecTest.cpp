#include "common/FileTest.h"
#include "wincrypt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
using testing::Each;
using testing::ElementsAreArray;

// Last-error codes of the host's ASN.1 decoder (winerror.h).
constexpr DWORD kAsn1Eod = 0x80093102;
constexpr DWORD kStatusAccessViolation = 0xC0000005;
constexpr DWORD kAsnEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

BOOL Encode(const Bytes &littleEndian, BYTE *out, DWORD *pcb, DWORD encoding = kAsnEncoding)
{
    const CRYPT_INTEGER_BLOB blob = {static_cast<DWORD>(littleEndian.size()),
                                     const_cast<BYTE *>(littleEndian.data())};
    return CryptEncodeObject(encoding, X509_MULTI_BYTE_INTEGER, &blob, out, pcb);
}

Bytes EncodeOrDie(const Bytes &littleEndian)
{
    DWORD cb = 0;
    EXPECT_TRUE(Encode(littleEndian, nullptr, &cb));
    Bytes der(cb);
    EXPECT_TRUE(Encode(littleEndian, der.data(), &cb));
    der.resize(cb);
    return der;
}

// The decoded blob's octets, read through a copy of the structure (the block is bytes).
Bytes BlobOctets(const BYTE *block)
{
    CRYPT_INTEGER_BLOB blob;
    std::memcpy(&blob, block, sizeof blob);
    return Bytes(blob.pbData, blob.pbData + blob.cbData);
}

BOOL Decode(const Bytes &der, BYTE *out, DWORD *pcb, DWORD encoding = kAsnEncoding)
{
    return CryptDecodeObject(encoding, X509_MULTI_BYTE_INTEGER, der.data(),
                             static_cast<DWORD>(der.size()), 0, out, pcb);
}

// The vectors of tests/data/capi/multibyte_integer.txt, each in its direction; a decoded blob
// comes in one block of exactly the size the length query gave.
TEST(MultiByteIntegerCodec, Vectors)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/multibyte_integer.txt")) {
        SCOPED_TRACE(c.where);
        const Bytes der = c.Hex("DER"), littleEndian = c.Hex("LittleEndian");
        if (c.Get("Direction") == "encode") {
            EXPECT_THAT(EncodeOrDie(littleEndian), ElementsAreArray(der));
            continue;
        }
        DWORD cbNeeded = 0;
        SetLastError(0);
        const BOOL ok = Decode(der, nullptr, &cbNeeded);
        EXPECT_EQ(static_cast<DWORD>(c.Number("Error", "0")), GetLastError());
        if (!ok || c.Has("Error")) {
            EXPECT_FALSE(ok);
            continue;
        }
        EXPECT_EQ(sizeof(CRYPT_INTEGER_BLOB) + littleEndian.size(), cbNeeded);
        std::vector<BYTE> block(cbNeeded + 4, 0xA5);
        DWORD cb = static_cast<DWORD>(block.size());
        ASSERT_TRUE(Decode(der, block.data(), &cb));
        EXPECT_EQ(cbNeeded, cb);
        EXPECT_THAT(BlobOctets(block.data()), ElementsAreArray(littleEndian));
        EXPECT_THAT(Bytes(block.begin() + cbNeeded, block.end()), Each(0xA5));
    }
    DWORD cb = 0; // no input at all
    SetLastError(0);
    EXPECT_FALSE(
        CryptDecodeObject(kAsnEncoding, X509_MULTI_BYTE_INTEGER, nullptr, 3, 0, nullptr, &cb));
    EXPECT_EQ(kAsn1Eod, GetLastError());
}

TEST(MultiByteIntegerEncode, OutputBufferProtocol)
{
    const Bytes value = {0x80, 0x00}; // 02 02 00 80
    DWORD cb = 0;
    ASSERT_TRUE(Encode(value, nullptr, &cb));
    EXPECT_EQ(4u, cb);

    std::array<BYTE, 8> out;
    out.fill(0xA5);
    DWORD cbShort = 3;
    SetLastError(0);
    EXPECT_FALSE(Encode(value, out.data(), &cbShort));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(4u, cbShort);
    EXPECT_THAT(out, Each(0xA5));

    DWORD cbLarge = sizeof out;
    ASSERT_TRUE(Encode(value, out.data(), &cbLarge));
    EXPECT_EQ(4u, cbLarge); // the octets written
    EXPECT_THAT(out, ElementsAreArray({0x02, 0x02, 0x00, 0x80, 0xA5, 0xA5, 0xA5, 0xA5}));
}

// The certificate encoding type decides when given, the message type otherwise.
TEST(MultiByteIntegerCodec, EncodingTypes)
{
    const Bytes der = {0x02, 0x01, 0x05};
    const struct {
        const char *name;
        DWORD encoding;
        bool accepted;
    } kRows[] = {
        {"x509Asn", X509_ASN_ENCODING, true},
        {"pkcs7Asn", PKCS_7_ASN_ENCODING, true},
        {"both", X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, true},
        {"x509AsnWithPkcs7Ndr", X509_ASN_ENCODING | PKCS_7_NDR_ENCODING, true},
        {"none", 0, false},
        {"x509Ndr", X509_NDR_ENCODING, false},
        {"x509AsnAndNdr", X509_ASN_ENCODING | X509_NDR_ENCODING, false},
        {"pkcs7Ndr", PKCS_7_NDR_ENCODING, false},
        {"x509NdrWithPkcs7Asn", X509_NDR_ENCODING | PKCS_7_ASN_ENCODING, false},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.name);
        DWORD cb = 0;
        SetLastError(0);
        EXPECT_EQ(row.accepted, Encode({0x05}, nullptr, &cb, row.encoding) != FALSE);
        EXPECT_EQ(row.accepted ? 0u : DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
        SetLastError(0);
        EXPECT_EQ(row.accepted, Decode(der, nullptr, &cb, row.encoding) != FALSE);
        EXPECT_EQ(row.accepted ? 0u : DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
    }
}

TEST(MultiByteIntegerEncode, MissingStructureFails)
{
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(CryptEncodeObject(kAsnEncoding, X509_MULTI_BYTE_INTEGER, nullptr, nullptr, &cb));
    EXPECT_EQ(kStatusAccessViolation, GetLastError());
    const CRYPT_INTEGER_BLOB dangling = {4, nullptr};
    SetLastError(0);
    EXPECT_FALSE(CryptEncodeObject(kAsnEncoding, X509_MULTI_BYTE_INTEGER, &dangling, nullptr, &cb));
    EXPECT_EQ(kStatusAccessViolation, GetLastError());
}

TEST(MultiByteIntegerDecode, ShortBuffer)
{
    const Bytes der = {0x02, 0x02, 0x01, 0x02};
    std::array<BYTE, sizeof(CRYPT_INTEGER_BLOB) + 2> block;
    block.fill(0xA5);
    DWORD cb = sizeof(CRYPT_INTEGER_BLOB) + 1;
    SetLastError(0);
    EXPECT_FALSE(Decode(der, block.data(), &cb));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(sizeof(CRYPT_INTEGER_BLOB) + 2, cb);
    EXPECT_THAT(block, Each(0xA5));
}

} // namespace
