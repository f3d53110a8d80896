#include "common/FileTest.h"
#include "wincrypt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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

// Length query, a buffer one octet short (ERROR_MORE_DATA and the size, nothing written), then a
// larger one of which exactly that size is filled: what the call gave.
Bytes OutputProtocol(const std::function<BOOL(BYTE *, DWORD *)> &call)
{
    DWORD cbNeeded = 0;
    EXPECT_TRUE(call(nullptr, &cbNeeded));
    Bytes out(cbNeeded + 4, 0xA5);
    DWORD cb = cbNeeded - 1;
    SetLastError(0);
    EXPECT_FALSE(call(out.data(), &cb));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, GetLastError());
    EXPECT_EQ(cbNeeded, cb);
    EXPECT_THAT(out, Each(0xA5));
    cb = static_cast<DWORD>(out.size());
    EXPECT_TRUE(call(out.data(), &cb));
    EXPECT_EQ(cbNeeded, cb);
    EXPECT_THAT(Bytes(out.begin() + cbNeeded, out.end()), Each(0xA5));
    out.resize(cbNeeded); // in place: a decoded block's pointers stay valid
    return out;
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

// The vectors of tests/data/capi/multibyte_integer.txt, each in its direction through the
// output-buffer protocol; a decoded blob comes in one block.
TEST(MultiByteIntegerCodec, Vectors)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/multibyte_integer.txt")) {
        SCOPED_TRACE(c.where);
        const Bytes der = c.Hex("DER"), littleEndian = c.Hex("LittleEndian");
        if (c.Get("Direction") == "encode") {
            EXPECT_THAT(
                OutputProtocol([&](BYTE *pb, DWORD *pcb) { return Encode(littleEndian, pb, pcb); }),
                ElementsAreArray(der));
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
        const Bytes block =
            OutputProtocol([&](BYTE *pb, DWORD *pcb) { return Decode(der, pb, pcb); });
        EXPECT_EQ(sizeof(CRYPT_INTEGER_BLOB) + littleEndian.size(), block.size());
        EXPECT_THAT(BlobOctets(block.data()), ElementsAreArray(littleEndian));
    }
    DWORD cb = 0; // no input at all
    SetLastError(0);
    EXPECT_FALSE(
        CryptDecodeObject(kAsnEncoding, X509_MULTI_BYTE_INTEGER, nullptr, 3, 0, nullptr, &cb));
    EXPECT_EQ(kAsn1Eod, GetLastError());
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

} // namespace
