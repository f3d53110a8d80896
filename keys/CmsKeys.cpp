// Shared steps of the CMS key-management functions: ephemeral keys, key wraps and the GOST
// SIMPLEBLOB in both directions.
#include "keys/CmsKeys.h"
#include "frame/Trace.h"

#include "frame/Memory.h"
#include "keys/KeyHelpers.h"

#include <algorithm>
#include <cstring>

namespace {

// The ephemeral key made for a peer, by the peer's public-key algorithm.
struct EphemeralFor {
    ALG_ID publicKeyAlgId;
    ALG_ID ephemeralKeyAlgId;
};
constexpr EphemeralFor kEphemeralKeys[] = {
    {ALG_GOST_SIGN_2001, ALG_GOST_DH_2001_EPHEM},
    {ALG_GOST_SIGN_2012_256, ALG_GOST_DH_2012_256_EPHEM},
    {ALG_GOST_SIGN_2012_512, ALG_GOST_DH_2012_512_EPHEM},
};

// The lengths a GOST SIMPLEBLOB holds: an 8-byte UKM, a 32-byte wrapped key and a 4-byte MAC,
// with no mask key.
bool FitsSimpleBlob(std::span<const BYTE> ukm, const Gost28147_89_EncryptedKey &encryptedKey)
{
    return ukm.size() == sizeof(GOST_SIMPLEBLOB::bUkm) &&
           encryptedKey.encryptedKey.numocts == sizeof(GOST_SIMPLEBLOB::bEncryptedKey) &&
           encryptedKey.macKey.numocts == sizeof(GOST_SIMPLEBLOB::bMacKey) &&
           !encryptedKey.m.maskKeyPresent;
}

GOST_SIMPLEBLOB SimpleBlobHeader(std::span<const BYTE> ukm,
                                 const Gost28147_89_EncryptedKey &encryptedKey)
{
    GOST_SIMPLEBLOB header{};
    header.BlobHeader = {SIMPLEBLOB, GOST_BLOB_VERSION, 0, ALG_GOST_28147};
    header.Magic = GOST_SIMPLEBLOB_MAGIC;
    header.EncryptKeyAlgId = ALG_GOST_28147;
    std::copy(ukm.begin(), ukm.end(), header.bUkm);
    std::memcpy(header.bEncryptedKey, encryptedKey.encryptedKey.data, sizeof header.bEncryptedKey);
    std::memcpy(header.bMacKey, encryptedKey.macKey.data, sizeof header.bMacKey);
    return header;
}

// The SIMPLEBLOB to import: the 60-byte header, then the DER Gost28147-89-BlobParameters
// naming the content key's cipher parameter set.
BOOL BuildSimpleBlob(Asn1Context *ctx, const GOST_SIMPLEBLOB &header,
                     const ASN1OBJID &cipherParamSet, BYTE **ppbBlob, DWORD *pcbBlob)
{
    Gost28147_89_BlobParameters blobParameters{};
    rtDListInit(&blobParameters.extElem1);
    blobParameters.encryptionParamSet = cipherParamSet;
    DWORD cbParameters = 0;
    if (!EncodeQuietly(ctx, &blobParameters, asn1E_Gost28147_89_BlobParameters, &cbParameters))
        return FALSE;
    *pcbBlob = sizeof header + cbParameters;
    *ppbBlob = static_cast<BYTE *>(KVSUPAllocMemory(*pcbBlob));
    if (!*ppbBlob) return FailKeepingLastError(); // NTE_NO_MEMORY
    std::memcpy(*ppbBlob, &header, sizeof header);
    std::memcpy(*ppbBlob + sizeof header, xe_getp(ctx), cbParameters);
    return TRUE;
}

} // namespace

bool CopyToCallerBlock(PFN_CMSG_ALLOC pfnAlloc, const BYTE *pb, DWORD cb, CRYPT_DATA_BLOB *pOut)
{
    auto *pbBlock = static_cast<BYTE *>(pfnAlloc(cb));
    if (!pbBlock) return false;
    std::memcpy(pbBlock, pb, cb);
    *pOut = {cb, pbBlock};
    return true;
}

ALG_ID EphemeralKeyAlgIdFor(ALG_ID publicKeyAlgId)
{
    for (const EphemeralFor &entry : kEphemeralKeys)
        if (entry.publicKeyAlgId == publicKeyAlgId) return entry.ephemeralKeyAlgId;
    return 0;
}

BOOL GenerateEphemeralKey(HCRYPTPROV hProv, ALG_ID ephemeralAlgId,
                          const GostR3410_2001_PublicKeyParameters &parameters,
                          HCRYPTKEY *phEphemeral)
{
    // CRYPT_PREGEN leaves the private value to be made once the parameter sets are known;
    // KP_X with no data makes it.
    return CryptGenKey(hProv, ephemeralAlgId, CRYPT_EXPORTABLE | CRYPT_PREGEN, phEphemeral) &&
           OrvaImportOIDKeyParam(*phEphemeral, KP_GOST_PUBKEY_PARAMSET,
                                 &parameters.publicKeyParamSet) &&
           OrvaImportOIDKeyParam(*phEphemeral, KP_GOST_HASH_PARAMSET, &parameters.digestParamSet) &&
           CryptSetKeyParam(*phEphemeral, KP_X, nullptr, 0);
}

BOOL SetKeyWrap(HCRYPTKEY hAgree, ALG_ID keyWrapAlgId)
{
    return CryptSetKeyParam(hAgree, KP_ALGID, reinterpret_cast<const BYTE *>(&keyWrapAlgId), 0);
}

BOOL ExportSimpleBlobHeader(HCRYPTKEY hContentKey, HCRYPTKEY hAgree, GOST_SIMPLEBLOB *pHeader)
{
    DWORD cbBlob = 0;
    if (!CryptExportKey(hContentKey, hAgree, SIMPLEBLOB, 0, nullptr, &cbBlob))
        return FailKeepingLastError();
    BYTE *pbBlob = static_cast<BYTE *>(KVSUPAllocMemory(cbBlob));
    HeapBlockGuard freeBlob(&pbBlob, FreeHeapBlockAt);
    if (!pbBlob || !CryptExportKey(hContentKey, hAgree, SIMPLEBLOB, 0, pbBlob, &cbBlob))
        return FALSE;
    if (cbBlob < sizeof *pHeader) return FailWith(NTE_BAD_DATA);
    std::memcpy(pHeader, pbBlob, sizeof *pHeader);
    return TRUE;
}

void EncryptedKeyOf(const GOST_SIMPLEBLOB &header, Gost28147_89_EncryptedKey *pValue)
{
    pValue->m.maskKeyPresent = 0;
    pValue->encryptedKey.numocts = sizeof header.bEncryptedKey;
    std::memcpy(pValue->encryptedKey.data, header.bEncryptedKey, sizeof header.bEncryptedKey);
    pValue->macKey.numocts = sizeof header.bMacKey;
    std::memcpy(pValue->macKey.data, header.bMacKey, sizeof header.bMacKey);
}

BOOL ImportWrappedContentKey(Asn1Context *ctx, HCRYPTPROV hProv, HCRYPTKEY hAgree,
                             std::span<const BYTE> ukm,
                             const Gost28147_89_EncryptedKey &encryptedKey,
                             const Gost28147_89_Parameters &contentParameters,
                             HCRYPTKEY *phContentEncryptKey)
{
    if (!FitsSimpleBlob(ukm, encryptedKey)) return FALSE;
    BYTE *pbBlob = nullptr;
    HeapBlockGuard freeBlob(&pbBlob, FreeHeapBlockAt);
    DWORD cbBlob = 0;
    return BuildSimpleBlob(ctx, SimpleBlobHeader(ukm, encryptedKey),
                           contentParameters.encryptionParamSet, &pbBlob, &cbBlob) &&
           CryptImportKey(hProv, pbBlob, cbBlob, hAgree, 0, phContentEncryptKey) &&
           CryptSetKeyParam(*phContentEncryptKey, KP_IV, contentParameters.iv.data, 0);
}
