// The certificate form of a provider key's public key: OrvaEncodePublicKeyAndParameters turns
// the provider's GOST public-key blob into the DER key and parameters, and
// OrvaDllExportPublicKeyInfoEx lays a whole CERT_PUBLIC_KEY_INFO into the caller's buffer.
#include "keys/ExportPublicKey.h"
#include "frame/Trace.h"

#include "asn1/Asn1Types.h"
#include "keys/BlobOpers.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// A copy of cb octets in a new block of pfnAlloc, stored at once so that the caller owns it.
BOOL CopyToAllocated(const BYTE *pbData, DWORD cbData, PFN_CRYPT_ALLOC pfnAlloc, BYTE **ppbCopy)
{
    auto *pbCopy = static_cast<BYTE *>(pfnAlloc(cbData));
    if (!pbCopy) return FailKeepingLastError(); // the allocator's code stands
    std::memcpy(pbCopy, pbData, cbData);
    *ppbCopy = pbCopy;
    return TRUE;
}

// The parameters TLV at offset 16 and the key bytes right after it.
struct PublicKeyBlobParts {
    const ASN1OCTET *pbParams;
    ASN1UINT cbParams;
    const BYTE *pbKey;
    DWORD cbKey;
};

// Takes the blob apart; a parameters TLV or key bytes running past the blob are refused.
BOOL SplitPublicKeyBlob(Asn1Context *ctx, const BYTE *pbBlob, DWORD cbBlob,
                        PublicKeyBlobParts *parts)
{
    constexpr DWORD cbHeader = sizeof(GOST_PUBLICKEYBLOB_HEADER);
    if (!pbBlob || cbBlob <= cbHeader) return FALSE;
    DWORD dwBitLen = 0;
    std::memcpy(&dwBitLen, pbBlob + offsetof(GOST_PUBLICKEYBLOB_HEADER, BitLen), sizeof dwBitLen);
    const DWORD cbRest = cbBlob - cbHeader;
    const int cbScan = static_cast<int>(std::min<DWORD>(cbRest, INT_MAX));
    if (xd_setp(ctx, pbBlob + cbHeader, cbScan, nullptr, nullptr) != 0 ||
        xd_OpenType(ctx, &parts->pbParams, &parts->cbParams) != 0)
        return FALSE;
    parts->cbKey = dwBitLen / 8;
    if (parts->cbKey > cbRest - parts->cbParams) return FALSE;
    parts->pbKey = pbBlob + cbHeader + parts->cbParams;
    return TRUE;
}

// GostR3410-PublicKey ::= OCTET STRING, 64 or 128 octets                 -- RFC 4491, 2.3.2
BOOL EncodePublicKey(Asn1Context *ctx, const BYTE *pbKey, DWORD cbKey, PFN_CRYPT_ALLOC pfnAlloc,
                     BYTE **ppPublicKey, DWORD *pcbPublicKey)
{
    GostR3410_PublicKey value{};
    if (cbKey > sizeof value.data) return FALSE; // no GostR3410-PublicKey is that long
    value.numocts = cbKey;
    std::memcpy(value.data, pbKey, cbKey);
    if (xe_setp(ctx, nullptr, 0) != 0) return FALSE;
    const int cbEncoded = asn1E_GostR3410_PublicKey(ctx, &value, ASN1EXPL);
    if (cbEncoded <= 0) return FALSE;
    *pcbPublicKey = static_cast<DWORD>(cbEncoded);
    return CopyToAllocated(xe_getp(ctx), *pcbPublicKey, pfnAlloc, ppPublicKey);
}

// The OID CryptoAPI lists for the blob's algorithm in the public-key group.
LPCSTR PublicKeyOidOf(const BYTE *pbBlob, DWORD cbBlob)
{
    ALG_ID aiKeyAlg = PublicKeyBlobAlgId(pbBlob, cbBlob);
    PCCRYPT_OID_INFO pOidInfo =
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &aiKeyAlg, CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!pOidInfo) {
        SetLastError(NTE_BAD_ALGID); // the lookup leaves no code of its own
        return nullptr;
    }
    return pOidInfo->pszOID;
}

// What OrvaEncodePublicKeyAndParameters hands out, released together.
struct EncodedPublicKey {
    BYTE *pbKey;
    DWORD cbKey;
    BYTE *pbParams;
    DWORD cbParams;
};
void FreeEncodedPublicKey(EncodedPublicKey *pEncoded)
{
    KVSUPFreeMemory(pEncoded->pbKey);
    KVSUPFreeMemory(pEncoded->pbParams);
}

DWORD PublicKeyInfoSize(LPCSTR pszObjId, const EncodedPublicKey &encoded)
{
    return static_cast<DWORD>(sizeof(CERT_PUBLIC_KEY_INFO) + std::strlen(pszObjId) + 1 +
                              encoded.cbParams + encoded.cbKey);
}

// The structure, then the OID text, the parameters and the key encoding it points to.
void LayOutPublicKeyInfo(LPCSTR pszObjId, const EncodedPublicKey &encoded,
                         CERT_PUBLIC_KEY_INFO *pInfo)
{
    BYTE *cursor = reinterpret_cast<BYTE *>(pInfo) + sizeof(CERT_PUBLIC_KEY_INFO);
    pInfo->Algorithm.pszObjId = reinterpret_cast<LPSTR>(cursor);
    b2e_STR(&cursor, nullptr, pszObjId, static_cast<DWORD>(std::strlen(pszObjId) + 1));
    pInfo->Algorithm.Parameters = {encoded.cbParams, cursor};
    b2e_STR(&cursor, nullptr, encoded.pbParams, encoded.cbParams);
    pInfo->PublicKey = {encoded.cbKey, cursor, 0};
    b2e_STR(&cursor, nullptr, encoded.pbKey, encoded.cbKey);
}

// Size query, short buffer or the laid-out structure. A large enough buffer keeps the
// caller's *pcbInfo.
BOOL DeliverPublicKeyInfo(LPCSTR pszObjId, const EncodedPublicKey &encoded,
                          CERT_PUBLIC_KEY_INFO *pInfo, DWORD *pcbInfo)
{
    const DWORD cbNeeded = PublicKeyInfoSize(pszObjId, encoded);
    if (!pInfo) {
        *pcbInfo = cbNeeded;
        return TRUE;
    }
    if (*pcbInfo < cbNeeded) {
        *pcbInfo = cbNeeded;
        return FailWith(ERROR_MORE_DATA);
    }
    LayOutPublicKeyInfo(pszObjId, encoded, pInfo);
    return TRUE;
}

} // namespace

LPVOID WINAPI pfnAllocMemory(size_t cb)
{
    return KVSUPAllocMemory(cb);
}

ALG_ID PublicKeyBlobAlgId(const BYTE *pbBlob, DWORD cbBlob)
{
    ALG_ID aiKeyAlg = 0;
    if (pbBlob && cbBlob >= sizeof(GOST_PUBLICKEYBLOB_HEADER))
        std::memcpy(&aiKeyAlg, pbBlob + offsetof(BLOBHEADER, aiKeyAlg), sizeof aiKeyAlg);
    return aiKeyAlg;
}

BOOL ExportPublicKeyBlob(HCRYPTKEY hKey, BYTE **ppbBlob, DWORD *pcbBlob)
{
    DWORD cbBlob = 0;
    if (!CryptExportKey(hKey, 0, PUBLICKEYBLOBEX, 0, nullptr, &cbBlob))
        return FailKeepingLastError();
    *ppbBlob = static_cast<BYTE *>(KVSUPAllocMemory(cbBlob));
    if (!*ppbBlob) return FailKeepingLastError(); // NTE_NO_MEMORY
    if (!CryptExportKey(hKey, 0, PUBLICKEYBLOBEX, 0, *ppbBlob, &cbBlob))
        return FailKeepingLastError();
    *pcbBlob = cbBlob;
    return TRUE;
}

BOOL OrvaEncodePublicKeyAndParametersEx(DWORD, LPCSTR, const BYTE *pbPubKey, DWORD cbPubKey, DWORD,
                                        void *, BYTE **ppPublicKey, DWORD *pcbPublicKey,
                                        BYTE **ppbParams, DWORD *pcbParams,
                                        PFN_CRYPT_ALLOC pfnAlloc)
{
    if (!ppPublicKey || !pcbPublicKey || !ppbParams || !pcbParams || !pfnAlloc)
        return FailWith(ERROR_INVALID_PARAMETER);
    *ppPublicKey = nullptr;
    *ppbParams = nullptr;
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    PublicKeyBlobParts parts{};
    if (!SplitPublicKeyBlob(&ctx, pbPubKey, cbPubKey, &parts)) return FALSE;
    *pcbParams = parts.cbParams;
    if (!CopyToAllocated(parts.pbParams, parts.cbParams, pfnAlloc, ppbParams)) return FALSE;
    return EncodePublicKey(&ctx, parts.pbKey, parts.cbKey, pfnAlloc, ppPublicKey, pcbPublicKey);
}

extern "C" BOOL WINAPI OrvaEncodePublicKeyAndParameters(DWORD dwCertEncodingType,
                                                        LPSTR pszPublicKeyObjId, BYTE *pbPubKey,
                                                        DWORD cbPubKey, DWORD dwFlags,
                                                        void *pvAuxInfo, BYTE **ppPublicKey,
                                                        DWORD *pcbPublicKey, BYTE **ppbParams,
                                                        DWORD *pcbParams)
{
    return OrvaEncodePublicKeyAndParametersEx(dwCertEncodingType, pszPublicKeyObjId, pbPubKey,
                                              cbPubKey, dwFlags, pvAuxInfo, ppPublicKey,
                                              pcbPublicKey, ppbParams, pcbParams, pfnAllocMemory);
}

extern "C" BOOL WINAPI OrvaDllExportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwKeySpec,
                                                    DWORD dwCertEncodingType,
                                                    LPSTR pszPublicKeyObjId, DWORD, void *,
                                                    PCERT_PUBLIC_KEY_INFO pInfo, DWORD *pcbInfo)
{
    if (!pcbInfo) return FailWith(ERROR_INVALID_PARAMETER);
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(hCryptProv, dwKeySpec, &hKey)) return FailKeepingLastError();
    KeyGuard destroyKey(&hKey, DestroyKeyKeepingError);
    BYTE *pbBlob = nullptr;
    HeapBlockGuard freeBlob(&pbBlob, FreeHeapBlockAt);
    DWORD cbBlob = 0;
    if (!ExportPublicKeyBlob(hKey, &pbBlob, &cbBlob)) return FALSE;
    LPCSTR pszObjId = pszPublicKeyObjId ? pszPublicKeyObjId : PublicKeyOidOf(pbBlob, cbBlob);
    if (!pszObjId) return FALSE;
    EncodedPublicKey encoded{};
    std::unique_ptr<EncodedPublicKey, decltype(&FreeEncodedPublicKey)> freeEncoded(
        &encoded, FreeEncodedPublicKey);
    if (!OrvaEncodePublicKeyAndParameters(dwCertEncodingType, const_cast<LPSTR>(pszObjId), pbBlob,
                                          cbBlob, 0, nullptr, &encoded.pbKey, &encoded.cbKey,
                                          &encoded.pbParams, &encoded.cbParams))
        return FALSE;
    return DeliverPublicKeyInfo(pszObjId, encoded, pInfo, pcbInfo);
}
