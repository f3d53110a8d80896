// CryptEncodeObject / CryptDecodeObject. The only structure type provided is
// X509_MULTI_BYTE_INTEGER; any other type, and any encoding type other than ASN.1, fails
// with ERROR_FILE_NOT_FOUND, as the host's lookup of an encode/decode function does.
//
// Output protocol of both: a null output buffer asks for the size, which comes back in the
// size argument; a buffer that is too small fails with ERROR_MORE_DATA and the size needed;
// otherwise the result is written and the size argument receives the octets used.
// Success leaves the last error alone.
//
// Malformed input to the decoder fails with the host's ASN.1 codes: CRYPT_E_ASN1_BADTAG when
// the element is not a primitive INTEGER, CRYPT_E_ASN1_EOD when the input ends inside it,
// CRYPT_E_ASN1_CORRUPT for an indefinite length and CRYPT_E_ASN1_LARGE for a length of more
// than four octets. Long-form lengths that are not minimal, content that is not minimal and
// octets after the element are accepted, as the host's BER decoder accepts them.
#include "IntegerCodec.h"
#include "wincrypt.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kStatusAccessViolation = 0xC0000005; // what the host reports for a null structure

// The certificate encoding type is used when one is given, otherwise the message encoding
// type; either way it must be ASN.1 (X509_ASN_ENCODING, PKCS_7_ASN_ENCODING).
bool IsAsnEncoding(DWORD dwEncodingType)
{
    const DWORD certType = dwEncodingType & CERT_ENCODING_TYPE_MASK;
    const DWORD msgType = (dwEncodingType & CMSG_ENCODING_TYPE_MASK) >> 16;
    return (certType ? certType : msgType) == X509_ASN_ENCODING;
}

// Predefined structure types are small integers passed as pointers; never dereferenced.
bool IsMultiByteInteger(LPCSTR lpszStructType)
{
    return reinterpret_cast<uintptr_t>(lpszStructType) ==
           reinterpret_cast<uintptr_t>(X509_MULTI_BYTE_INTEGER);
}

bool HasCodec(DWORD dwEncodingType, LPCSTR lpszStructType)
{
    return IsAsnEncoding(dwEncodingType) && IsMultiByteInteger(lpszStructType);
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The size query and short-buffer part of the output protocol. TRUE with *write set when the
// caller's buffer takes `cbNeeded` octets.
BOOL ReserveOutput(const void *pvOut, DWORD *pcbOut, size_t cbNeeded, bool *write)
{
    *write = false;
    if (cbNeeded > UINT32_MAX) return Fail(kvcapi::kAsn1Large);
    const auto cb = static_cast<DWORD>(cbNeeded);
    const DWORD cbGiven = *pcbOut;
    *pcbOut = cb;
    if (!pvOut) return TRUE;
    if (cbGiven < cb) return Fail(ERROR_MORE_DATA);
    *write = true;
    return TRUE;
}

BOOL EncodeMultiByteInteger(const CRYPT_INTEGER_BLOB *blob, BYTE *pbEncoded, DWORD *pcbEncoded)
{
    if (!blob || (blob->cbData && !blob->pbData)) return Fail(kStatusAccessViolation);
    const std::span<const BYTE> value(blob->pbData, blob->cbData);
    bool write = false;
    if (!ReserveOutput(pbEncoded, pcbEncoded, kvcapi::MultiByteIntegerDerSize(value), &write))
        return FALSE;
    if (write) kvcapi::WriteMultiByteIntegerDer(value, pbEncoded);
    return TRUE;
}

// Flat result: the CRYPT_INTEGER_BLOB, then its octets, least significant first. The
// structure is copied in with memcpy, so any alignment of the caller's buffer is accepted.
void WriteIntegerBlob(std::span<const BYTE> bigEndian, BYTE *out)
{
    BYTE *const data = out + sizeof(CRYPT_INTEGER_BLOB);
    const CRYPT_INTEGER_BLOB blob = {static_cast<DWORD>(bigEndian.size()), data};
    std::memcpy(out, &blob, sizeof blob);
    for (size_t i = 0; i < bigEndian.size(); ++i)
        data[i] = bigEndian[bigEndian.size() - 1 - i];
}

BOOL DecodeMultiByteInteger(std::span<const BYTE> der, BYTE *pvStructInfo, DWORD *pcbStructInfo)
{
    std::span<const BYTE> content;
    if (const DWORD status = kvcapi::ParseIntegerContent(der, &content)) return Fail(status);
    bool write = false;
    if (!ReserveOutput(pvStructInfo, pcbStructInfo, sizeof(CRYPT_INTEGER_BLOB) + content.size(),
                       &write))
        return FALSE;
    if (write) WriteIntegerBlob(content, pvStructInfo);
    return TRUE;
}

} // namespace

extern "C" {

BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const void *pvStructInfo, BYTE *pbEncoded, DWORD *pcbEncoded)
{
    if (!pcbEncoded) return Fail(ERROR_INVALID_PARAMETER);
    if (!HasCodec(dwCertEncodingType, lpszStructType)) return Fail(ERROR_FILE_NOT_FOUND);
    return EncodeMultiByteInteger(static_cast<const CRYPT_INTEGER_BLOB *>(pvStructInfo), pbEncoded,
                                  pcbEncoded);
}

// dwFlags is not examined: the result is always copied into the caller's buffer.
BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                              const BYTE *pbEncoded, DWORD cbEncoded, DWORD /*dwFlags*/,
                              void *pvStructInfo, DWORD *pcbStructInfo)
{
    if (!pcbStructInfo) return Fail(ERROR_INVALID_PARAMETER);
    if (!HasCodec(dwCertEncodingType, lpszStructType)) return Fail(ERROR_FILE_NOT_FOUND);
    if (!pbEncoded) cbEncoded = 0; // nothing to read: the decoder reports the end of data
    return DecodeMultiByteInteger(std::span(pbEncoded, cbEncoded),
                                  static_cast<BYTE *>(pvStructInfo), pcbStructInfo);
}

} // extern "C"
