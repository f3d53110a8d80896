// OrvaConvertPublicKeyInfo: the public key of a certificate, as CryptoAPI holds it in a
// CERT_PUBLIC_KEY_INFO, becomes the GOST PUBLICKEYBLOB that the provider imports.
#include "keys/ConvertPublicKey.h"

#include "asn1/Asn1Types.h"
#include "keys/BlobOpers.h"
#include "frame/Memory.h"
#include "frame/Trace.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

// DER NULL, the parameters of a key that came without any.
constexpr BYTE kDerNull[] = {0x05, 0x00};

// The longest valid GostR3410-PublicKey: 04 81 80 and 128 octets.
constexpr DWORD kMaxPublicKeyEncoding = 3 + sizeof(GostR3410_PublicKey::data);
// Room for any identifier and length octets of the outer element: a one-octet identifier
// (the OCTET STRING tag) and at most five length octets.
constexpr size_t kMaxHeader = 6;

// The GOST R 34.10 signature-key OIDs, compared exactly before any lookup.
bool KnownPublicKeyAlgorithm(LPCSTR pszObjId, ALG_ID *paiKeyAlg)
{
    constexpr GostAlgorithmOid kSignatureKeys[] = {
        {ALG_GOST_SIGN_2001, szOID_GostR3410_2001},
        {ALG_GOST_SIGN_2012_256, szOID_GostR3410_2012_256},
        {ALG_GOST_SIGN_2012_512, szOID_GostR3410_2012_512},
    };
    for (const GostAlgorithmOid &entry : kSignatureKeys) {
        if (std::strcmp(entry.oid, pszObjId) == 0) {
            *paiKeyAlg = entry.algId;
            return true;
        }
    }
    return false;
}

// aiKeyAlg of the blob: the three GOST R 34.10 signature key OIDs by name, any other by
// CryptoAPI's public-key OID group.
BOOL ChooseKeyAlgorithm(TraceSite site, LPCSTR pszObjId, ALG_ID *paiKeyAlg)
{
    if (KnownPublicKeyAlgorithm(pszObjId, paiKeyAlg)) return TRUE;
    PCCRYPT_OID_INFO pOidInfo = CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<LPSTR>(pszObjId), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!pOidInfo) {
        KV_TRACE_ERROR_AT(site, "CryptFindOIDInfo");
        return FailKeepingLastError(); // CryptoAPI's code stands
    }
    if (pOidInfo->Algid != CALG_OID_INFO_PARAMETERS && pOidInfo->Algid != CALG_OID_INFO_CNG_ONLY) {
        *paiKeyAlg = pOidInfo->Algid;
        return TRUE;
    }
    if (pOidInfo->pszOID && KnownPublicKeyAlgorithm(pOidInfo->pszOID, paiKeyAlg)) return TRUE;
    KV_TRACE_ERROR_AT(site, "Unknown CNG algorithm.");
    return FailKeepingLastError();
}

BOOL FailKeyDecode(TraceSite site)
{
    return KV_FAIL_AT(site, CRYPT_E_ASN1_INTERNAL, "() asn1D_GostR3410_PublicKey failed");
}

// Total length of the key's outer TLV as its identifier and length octets announce it. They
// are read from a zero-padded copy, so a key shorter than its own header is not read past.
BOOL AnnouncedLength(TraceSite site, Asn1Context *ctx, const CRYPT_BIT_BLOB &key,
                     DWORD *pcbAnnounced)
{
    std::array<BYTE, kMaxHeader> header{};
    if (key.cbData)
        std::memcpy(header.data(), key.pbData, std::min<size_t>(key.cbData, header.size()));
    // A primitive OCTET STRING: its extent is known from the header alone.
    if (header[0] != ASN_ID_OCTSTR || xd_setp(ctx, header.data(), 0, nullptr, nullptr) != 0)
        return FailKeyDecode(site);
    *pcbAnnounced = static_cast<DWORD>(ctx->buffer.size);
    return TRUE;
}

// Decodes the GostR3410-PublicKey from a zero-filled working copy at least as long as the
// key announces itself: a key that announces more than it holds is decoded from zeros beyond
// its end, never from foreign memory.
BOOL DecodePublicKey(TraceSite site, Asn1Context *ctx, const CRYPT_BIT_BLOB &key,
                     GostR3410_PublicKey *value, BYTE **ppbWorkingCopy)
{
    DWORD cbAnnounced = 0;
    if (!AnnouncedLength(site, ctx, key, &cbAnnounced)) return FALSE;
    if (cbAnnounced > kMaxPublicKeyEncoding)
        return FailKeyDecode(site); // longer than any key: refused before copying
    const DWORD cbWorking = std::max(key.cbData, cbAnnounced);
    *ppbWorkingCopy = static_cast<BYTE *>(KVSUPAllocMemory(cbWorking));
    if (!*ppbWorkingCopy) return FailWith(CRYPT_E_ASN1_MEMORY);
    std::memcpy(*ppbWorkingCopy, key.pbData, key.cbData);
    if (xd_setp(ctx, *ppbWorkingCopy, 0, nullptr, nullptr) != 0 ||
        asn1D_GostR3410_PublicKey(ctx, value, ASN1EXPL, static_cast<int>(cbWorking)) != 0)
        return FailKeyDecode(site);
    return TRUE;
}

// The blob's size must fit its DWORD: parameters of nearly 4 GiB would wrap the count, and
// the write pass would then run past a short block.
bool BlobSizeFits(const CRYPT_OBJID_BLOB &parameters, const CRYPT_DATA_BLOB &key)
{
    return uint64_t{sizeof(GOST_PUBLICKEYBLOB_HEADER)} + parameters.cbData + key.cbData <=
           UINT32_MAX;
}

// The blob in a new block of the default allocator, or only its size.
BOOL DeliverBlob(const CRYPT_OBJID_BLOB &parameters, const CRYPT_DATA_BLOB &key, ALG_ID aiKeyAlg,
                 BYTE **ppbData, DWORD *pcbData)
{
    if (!BlobSizeFits(parameters, key)) return FailWith(CRYPT_E_ASN1_MEMORY); // no such block
    DWORD cbBlob = 0;
    b2e_CRYPT_PUBKEY_INFO(nullptr, &cbBlob, &parameters, &key, aiKeyAlg);
    if (!ppbData) {
        *pcbData = cbBlob;
        return TRUE;
    }
    auto *pbBlob = static_cast<BYTE *>(KVSUPAllocMemory(cbBlob));
    if (!pbBlob) return FailWith(CRYPT_E_ASN1_MEMORY);
    BYTE *cursor = pbBlob;
    b2e_CRYPT_PUBKEY_INFO(&cursor, nullptr, &parameters, &key, aiKeyAlg);
    *ppbData = pbBlob;
    *pcbData = cbBlob;
    return TRUE;
}

bool HasData(const BYTE *pbData, DWORD cbData)
{
    return pbData || !cbData;
}

bool IsWellFormed(const CERT_PUBLIC_KEY_INFO *pInfo)
{
    return pInfo && pInfo->Algorithm.pszObjId &&
           HasData(pInfo->Algorithm.Parameters.pbData, pInfo->Algorithm.Parameters.cbData) &&
           HasData(pInfo->PublicKey.pbData, pInfo->PublicKey.cbData);
}

} // namespace

void b2e_CRYPT_PUBKEY_INFO(BYTE **ppCursor, DWORD *pcbBlob, const CRYPT_OBJID_BLOB *pParameters,
                           const CRYPT_DATA_BLOB *pKey, ALG_ID aiKeyAlg)
{
    GOST_PUBLICKEYBLOB_HEADER header{};
    header.BlobHeader.bType = PUBLICKEYBLOB;
    header.BlobHeader.bVersion = GOST_BLOB_VERSION;
    header.BlobHeader.reserved = 1;
    header.BlobHeader.aiKeyAlg = aiKeyAlg;
    header.Magic = GOST_PUBKEY_MAGIC;
    header.BitLen = 8 * pKey->cbData;
    b2e_STR(ppCursor, pcbBlob, &header, sizeof header);
    if (pParameters->cbData)
        b2e_STR(ppCursor, pcbBlob, pParameters->pbData, pParameters->cbData);
    else
        b2e_STR(ppCursor, pcbBlob, kDerNull, sizeof kDerNull);
    b2e_STR(ppCursor, pcbBlob, pKey->pbData, pKey->cbData);
}

extern "C" BOOL WINAPI OrvaConvertPublicKeyInfo(DWORD, PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID, DWORD,
                                                BYTE **ppbData, DWORD *pcbData)
{
    if (!pcbData || !IsWellFormed(pInfo))
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed CERT_PUBLIC_KEY_INFO or pcbData is 0");
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return KV_FAIL(CRYPT_E_ASN1_INTERNAL, "rtInitContext");
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    BYTE *pbWorkingCopy = nullptr; // declared after ctx, released before it
    HeapBlockGuard freeWorkingCopy(&pbWorkingCopy, FreeHeapBlockAt);
    ALG_ID aiKeyAlg = 0;
    GostR3410_PublicKey value{};
    if (!ChooseKeyAlgorithm(KV_HERE, pInfo->Algorithm.pszObjId, &aiKeyAlg) ||
        !DecodePublicKey(KV_HERE, &ctx, pInfo->PublicKey, &value, &pbWorkingCopy))
        return FALSE;
    const CRYPT_DATA_BLOB key = {value.numocts, value.data};
    return DeliverBlob(pInfo->Algorithm.Parameters, key, aiKeyAlg, ppbData, pcbData);
}
