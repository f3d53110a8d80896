// Key-agreement recipients of GOST enveloped data (KeyAgreeRecipientInfo, ephemeral-static
// agreement as in RFC 4490, 5.1). The sender's ephemeral key and the recipient's key agree a
// key-encryption key; the content-encryption key goes wrapped in a Gost28147-89-EncryptedKey,
// the key wrap named by the key-encryption algorithm's parameters.
#include "asn1/Asn1Types.h"
#include "frame/Trace.h"
#include "keys/CmsKeys.h"
#include "keys/KeyHelpers.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <type_traits>

namespace {

// ------------------------------------------------------------------ export

// A key-agreement group: the key-encryption algorithms that select it and the ephemeral
// algorithm it requires; the ephemeral key made is the one for that algorithm.
struct AgreementGroup {
    ALG_ID keyEncryptionAlgIds[2];
    ALG_ID ephemeralAlgId;
};
constexpr AgreementGroup kGroups[] = {
    {{ALG_GOST_SIGN_2001, ALG_GOST_AGREE_2001}, ALG_GOST_SIGN_2001},
    {{ALG_GOST_SIGN_2012_256, ALG_GOST_AGREE_2012_256}, ALG_GOST_SIGN_2012_256},
    {{ALG_GOST_SIGN_2012_512, ALG_GOST_AGREE_2012_512}, ALG_GOST_SIGN_2012_512},
};
// Ephemeral algorithms understood at all; only the group's own is accepted in the end.
constexpr ALG_ID kEphemeralAlgIds[] = {
    ALG_GOST_SIGN_2001,     ALG_GOST_SIGN_2012_512,     ALG_GOST_SIGN_2012_256,
    ALG_GOST_DH_2001_EPHEM, ALG_GOST_DH_2012_512_EPHEM, ALG_GOST_DH_2012_256_EPHEM,
};

// Key-encryption OIDs rewritten to the key-agreement OID the recipient info names. A 512-bit
// key is named with the 256-bit text too: that is the one the import accepts.
struct OidRewrite {
    const char *from;
    const char *to;
};
constexpr OidRewrite kOidRewrites[] = {
    {szOID_GostR3410_2012_256, szOID_GostR3410_2012_256_DH},
    {szOID_GostR3410_2012_512, szOID_GostR3410_2012_256_DH},
    {szOID_GostR3410_2001, szOID_GostR3410_2001_Kelvarine_ESDH},
};
// Rewritten in place: the new text must fit where the old one was.
static_assert(sizeof szOID_GostR3410_2012_256 == sizeof szOID_GostR3410_2012_256_DH);
static_assert(sizeof szOID_GostR3410_2012_512 == sizeof szOID_GostR3410_2012_256_DH);
static_assert(sizeof szOID_GostR3410_2001 == sizeof szOID_GostR3410_2001_Kelvarine_ESDH);

bool IsWellFormed(const CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO &encodeInfo,
                  const CMSG_KEY_AGREE_ENCRYPT_INFO &encryptInfo)
{
    return encodeInfo.pEphemeralAlgorithm && encodeInfo.rgpRecipientEncryptedKeys &&
           encodeInfo.rgpRecipientEncryptedKeys[0] && encryptInfo.rgpKeyAgreeKeyEncryptInfo &&
           encryptInfo.rgpKeyAgreeKeyEncryptInfo[0];
}

// The originator is always an ephemeral key of this call.
BOOL CheckEncodeInfo(TraceSite site, const CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO &encodeInfo,
                     const CMSG_KEY_AGREE_ENCRYPT_INFO &encryptInfo)
{
    if (encodeInfo.dwKeyChoice != CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE)
        return KV_FAIL_AT(site, ERROR_NOT_SUPPORTED,
                          "() only an ephemeral originator key is supported");
    if (!IsWellFormed(encodeInfo, encryptInfo))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER,
                          "Malformed CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO");
    return TRUE;
}

BOOL DecodeEphemeralParameters(TraceSite site, Asn1Context *ctx, const CRYPT_OBJID_BLOB &der,
                               GostR3410_2001_PublicKeyParameters *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_GostR3410_2001_PublicKeyParameters)) return TRUE;
    KV_TRACE_ERROR_AT(site, "() asn1D_GostR3410_2001_PublicKeyParameters failed");
    return FailKeepingLastError();
}

// CryptoAPI's ALG_ID of a public-key OID; an OID it does not list fails with its code.
BOOL FindPublicKeyAlgId(LPCSTR pszObjId, ALG_ID *pAlgId)
{
    PCCRYPT_OID_INFO pOidInfo = CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<LPSTR>(pszObjId), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!pOidInfo) return FailKeepingLastError();
    *pAlgId = pOidInfo->Algid;
    return TRUE;
}

const AgreementGroup *FindGroup(ALG_ID keyEncryptionAlgId)
{
    const auto *found = std::find_if(std::begin(kGroups), std::end(kGroups), [&](const auto &g) {
        return std::ranges::count(g.keyEncryptionAlgIds, keyEncryptionAlgId) != 0;
    });
    return found == std::end(kGroups) ? nullptr : found;
}

BOOL CheckGroup(TraceSite site, ALG_ID keyEncryptionAlgId, ALG_ID ephemeralAlgId,
                const AgreementGroup **ppGroup)
{
    *ppGroup = FindGroup(keyEncryptionAlgId);
    if (!*ppGroup)
        return KV_FAIL_AT(site, CRYPT_E_UNKNOWN_ALGO, "() unsupported keyEncryptionAlgorithm %x!",
                          keyEncryptionAlgId);
    if (std::ranges::count(kEphemeralAlgIds, ephemeralAlgId) == 0)
        return KV_FAIL_AT(site, CRYPT_E_UNKNOWN_ALGO,
                          "() unsupported ephemeralPublicKeyAlgorithm %x!", ephemeralAlgId);
    if (ephemeralAlgId != (*ppGroup)->ephemeralAlgId)
        return KV_FAIL_AT(site, CRYPT_E_UNKNOWN_ALGO,
                          "() unsupported combination of ephemeralPublicKeyAlgorithm %x and "
                          "keyEncryptionAlgorithm %x!",
                          ephemeralAlgId, keyEncryptionAlgId);
    return TRUE;
}

// The ephemeral key to make, from the key-encryption and the ephemeral algorithm OIDs.
BOOL ChooseEphemeralKey(TraceSite site, const CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO &encodeInfo,
                        ALG_ID *pEphemeralKeyAlgId)
{
    ALG_ID keyEncryptionAlgId = 0, ephemeralAlgId = 0;
    const AgreementGroup *pGroup = nullptr;
    if (!FindPublicKeyAlgId(encodeInfo.KeyEncryptionAlgorithm.pszObjId, &keyEncryptionAlgId) ||
        !FindPublicKeyAlgId(encodeInfo.pEphemeralAlgorithm->pszObjId, &ephemeralAlgId) ||
        !CheckGroup(site, keyEncryptionAlgId, ephemeralAlgId, &pGroup))
        return FALSE;
    *pEphemeralKeyAlgId = EphemeralKeyAlgIdFor(pGroup->ephemeralAlgId);
    return TRUE;
}

void RewriteKeyEncryptionOid(LPSTR pszObjId)
{
    for (const OidRewrite &rewrite : kOidRewrites) {
        if (std::strcmp(pszObjId, rewrite.from) == 0) {
            std::memcpy(pszObjId, rewrite.to, std::strlen(rewrite.to) + 1);
            return;
        }
    }
}

// A block of the caller's allocator that the call gives back itself.
struct CallerFree {
    PFN_CMSG_FREE pfnFree;
    void operator()(BYTE *pb) const
    {
        const DWORD dwError = GetLastError();
        pfnFree(pb);
        SetLastError(dwError);
    }
};
using CallerBlockGuard = std::unique_ptr<BYTE, CallerFree>;

// The DER of a value in a block of the caller's allocator (E_OUTOFMEMORY when there is none).
template <typename Value>
BOOL StoreEncoding(Asn1Context *ctx, Value *pValue,
                   int (*encoder)(Asn1Context *, Value *, ASN1TagType), PFN_CMSG_ALLOC pfnAlloc,
                   CRYPT_DATA_BLOB *pOut)
{
    DWORD cbEncoded = 0;
    if (!EncodeQuietly(ctx, pValue, encoder, &cbEncoded)) return FALSE;
    if (!CopyToCallerBlock(pfnAlloc, xe_getp(ctx), cbEncoded, pOut)) return FailWith(E_OUTOFMEMORY);
    xe_free(ctx);
    return TRUE;
}

// id-Gost28147-89-None-KeyWrap with Gost28147-89-KeyWrapParameters naming the agreement key's
// cipher parameter set; the parameters' block is *pParametersBlock's until the call ends.
BOOL MakeKeyWrapAlgorithm(Asn1Context *ctx, HCRYPTKEY hAgree, PFN_CMSG_ALLOC pfnAlloc,
                          AlgorithmIdentifier *pKeyWrap, CallerBlockGuard *pParametersBlock)
{
    Gost28147_89_KeyWrapParameters parameters{};
    CRYPT_DATA_BLOB encoded{};
    if (!OrvaExportOIDKeyParam(hAgree, KP_GOST_CIPHER_PARAMSET, &parameters.encryptionParamSet) ||
        !StoreEncoding(ctx, &parameters, asn1E_Gost28147_89_KeyWrapParameters, pfnAlloc, &encoded))
        return FALSE;
    pParametersBlock->reset(encoded.pbData);
    pKeyWrap->algorithm = id_Gost28147_89_None_KeyWrap;
    pKeyWrap->m.parametersPresent = 1;
    pKeyWrap->parameters = {encoded.cbData, encoded.pbData};
    return TRUE;
}

BOOL StoreUserKeyingMaterial(const GOST_SIMPLEBLOB &header, PFN_CMSG_ALLOC pfnAlloc,
                             PCMSG_KEY_AGREE_ENCRYPT_INFO pInfo)
{
    if (!CopyToCallerBlock(pfnAlloc, header.bUkm, sizeof header.bUkm, &pInfo->UserKeyingMaterial))
        return FailWith(E_OUTOFMEMORY);
    pInfo->dwFlags |= CMSG_KEY_AGREE_ENCRYPT_FREE_MATERIAL_FLAG;
    return TRUE;
}

BOOL StoreEncryptedKey(Asn1Context *ctx, const GOST_SIMPLEBLOB &header, PFN_CMSG_ALLOC pfnAlloc,
                       PCMSG_KEY_AGREE_KEY_ENCRYPT_INFO pKeyInfo)
{
    Gost28147_89_EncryptedKey encryptedKey{};
    EncryptedKeyOf(header, &encryptedKey);
    return StoreEncoding(ctx, &encryptedKey, asn1E_Gost28147_89_EncryptedKey, pfnAlloc,
                         &pKeyInfo->EncryptedKey);
}

BOOL StoreKeyWrapAlgorithm(Asn1Context *ctx, AlgorithmIdentifier *pKeyWrap, PFN_CMSG_ALLOC pfnAlloc,
                           PCMSG_KEY_AGREE_ENCRYPT_INFO pInfo)
{
    if (!StoreEncoding(ctx, pKeyWrap, asn1E_AlgorithmIdentifier, pfnAlloc,
                       &pInfo->KeyEncryptionAlgorithm.Parameters))
        return FALSE;
    pInfo->dwFlags |= CMSG_KEY_AGREE_ENCRYPT_FREE_PARA_FLAG;
    return TRUE;
}

// Blocks stored in the originator key are CryptoAPI's to release, also when the export stopped
// half-way; it releases them by these flags.
BOOL StoreOriginatorPublicKey(HCRYPTKEY hEphemeral, PFN_CMSG_ALLOC pfnAlloc,
                              PCMSG_KEY_AGREE_ENCRYPT_INFO pInfo)
{
    pInfo->dwOriginatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    CERT_PUBLIC_KEY_INFO &originator = pInfo->OriginatorPublicKeyInfo;
    const BOOL exported = OrvaExportPublicKeyInfo(hEphemeral, &originator, pfnAlloc);
    if (originator.Algorithm.Parameters.pbData)
        pInfo->dwFlags |= CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_PARA_FLAG;
    if (originator.PublicKey.pbData) pInfo->dwFlags |= CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_BITS_FLAG;
    return exported || FailWith(E_OUTOFMEMORY);
}

// What CryptoAPI encodes into the KeyAgreeRecipientInfo: the key wrap, the UKM, the wrapped
// key and the originator's public key.
BOOL StoreRecipientInfo(Asn1Context *ctx, const CMSG_CONTENT_ENCRYPT_INFO &contentEncryptInfo,
                        HCRYPTKEY hEphemeral, HCRYPTKEY hAgree, PCMSG_KEY_AGREE_ENCRYPT_INFO pInfo)
{
    const PFN_CMSG_ALLOC pfnAlloc = contentEncryptInfo.pfnAlloc;
    AlgorithmIdentifier keyWrap{};
    CallerBlockGuard keyWrapParameters(nullptr, CallerFree{contentEncryptInfo.pfnFree});
    GOST_SIMPLEBLOB header{};
    return MakeKeyWrapAlgorithm(ctx, hAgree, pfnAlloc, &keyWrap, &keyWrapParameters) &&
           ExportSimpleBlobHeader(contentEncryptInfo.hContentEncryptKey, hAgree, &header) &&
           StoreUserKeyingMaterial(header, pfnAlloc, pInfo) &&
           StoreEncryptedKey(ctx, header, pfnAlloc, pInfo->rgpKeyAgreeKeyEncryptInfo[0]) &&
           StoreKeyWrapAlgorithm(ctx, &keyWrap, pfnAlloc, pInfo) &&
           StoreOriginatorPublicKey(hEphemeral, pfnAlloc, pInfo);
}

// ------------------------------------------------------------------ import

// Key-encryption texts accepted with each key wrap, and the key wrap the agreement key uses.
constexpr const char *kNoneKeyWrapTexts[] = {
    szOID_GostR3410_2001_Kelvarine_ESDH,
    szOID_GostR3410_2012_256_DH,
    szOID_GostR3410_2012_256,
    szOID_GostR3410_2012_512,
    szOID_GostR3410_2001,
};
constexpr const char *kKelvarineKeyWrapTexts[] = {szOID_GostR3410_2001_Kelvarine_ESDH};
struct KeyWrapRule {
    const ASN1OBJID *keyWrap;
    std::span<const char *const> keyEncryptionTexts;
    ALG_ID keyWrapAlgId;
};
const KeyWrapRule kKeyWrapRules[] = {
    {&id_Gost28147_89_None_KeyWrap, kNoneKeyWrapTexts, ALG_GOST_KEY_WRAP_SIMPLE},
    {&id_Gost28147_89_Kelvarine_KeyWrap, kKelvarineKeyWrapTexts, ALG_GOST_KEY_WRAP_DIVERS},
};

bool SameOid(const ASN1OBJID &a, const ASN1OBJID &b)
{
    return a.numids == b.numids && std::equal(a.subid, a.subid + a.numids, b.subid);
}

bool IsWellFormed(const CMSG_KEY_AGREE_RECIPIENT_INFO &keyAgree)
{
    return keyAgree.rgpRecipientEncryptedKeys && keyAgree.rgpRecipientEncryptedKeys[0];
}

BOOL CheckRecipientInfo(TraceSite site, const CMSG_KEY_AGREE_RECIPIENT_INFO &keyAgree)
{
    if (keyAgree.dwOriginatorChoice != CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY)
        return KV_FAIL_AT(site, ERROR_NOT_SUPPORTED,
                          "() only an originator public key is supported");
    if (!IsWellFormed(keyAgree))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed CMSG_KEY_AGREE_RECIPIENT_INFO");
    return TRUE;
}

BOOL DecodeEncryptedKey(TraceSite site, Asn1Context *ctx, const CRYPT_DATA_BLOB &der,
                        Gost28147_89_EncryptedKey *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_Gost28147_89_EncryptedKey)) return TRUE;
    return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "() asn1D_Gost28147_89_EncryptedKey failed");
}

BOOL DecodeContentParameters(TraceSite site, Asn1Context *ctx, const CRYPT_OBJID_BLOB &der,
                             Gost28147_89_Parameters *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_Gost28147_89_Parameters)) return TRUE;
    return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "() asn1D_Gost28147_89_Parameters failed");
}

bool AcceptKeyWrap(const ASN1OBJID &keyWrap, LPCSTR pszKeyEncryptionObjId, ALG_ID *pKeyWrapAlgId)
{
    for (const KeyWrapRule &rule : kKeyWrapRules) {
        if (!SameOid(keyWrap, *rule.keyWrap)) continue;
        const bool accepted = pszKeyEncryptionObjId &&
                              std::ranges::any_of(rule.keyEncryptionTexts, [&](const char *text) {
                                  return std::strcmp(text, pszKeyEncryptionObjId) == 0;
                              });
        *pKeyWrapAlgId = rule.keyWrapAlgId;
        return accepted;
    }
    return false;
}

// The key wrap named by the key-encryption algorithm's parameters, and its parameters.
BOOL ChooseKeyWrap(TraceSite site, Asn1Context *ctx,
                   const CRYPT_ALGORITHM_IDENTIFIER &keyEncryption,
                   Gost28147_89_KeyWrapParameters *pParameters, ALG_ID *pKeyWrapAlgId)
{
    AlgorithmIdentifier keyWrap{};
    if (!DecodeQuietly(ctx, keyEncryption.Parameters, &keyWrap, asn1D_AlgorithmIdentifier))
        return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "() asn1D_AlgorithmIdentifier failed");
    const CRYPT_DER_BLOB parameters = {keyWrap.parameters.numocts,
                                       const_cast<BYTE *>(keyWrap.parameters.data)};
    if (!AcceptKeyWrap(keyWrap.algorithm, keyEncryption.pszObjId, pKeyWrapAlgId) ||
        !keyWrap.m.parametersPresent ||
        !DecodeQuietly(ctx, parameters, pParameters, asn1D_Gost28147_89_KeyWrapParameters))
        return FailWith(CRYPT_E_ASN1_ERROR);
    return TRUE;
}

// No UKM, or one without data, is an empty one.
std::span<const BYTE> UkmOf(const CMSG_KEY_AGREE_RECIPIENT_INFO &keyAgree)
{
    const CRYPT_DATA_BLOB &ukm = keyAgree.UserKeyingMaterial;
    if (!ukm.pbData) return {};
    return {ukm.pbData, ukm.cbData};
}

} // namespace

extern "C" BOOL WINAPI
OrvaMsgDllExportKeyAgree(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                         PCMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO pKeyAgreeEncodeInfo,
                         PCMSG_KEY_AGREE_ENCRYPT_INFO pKeyAgreeEncryptInfo, DWORD, void *)
{
    if (!CheckEncodeInfo(KV_HERE, *pKeyAgreeEncodeInfo, *pKeyAgreeEncryptInfo)) return FALSE;
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    HCRYPTKEY hEphemeral = 0; // declared after ctx, so destroyed before it
    KeyGuard destroyEphemeral(&hEphemeral, DestroyKeyKeepingError);
    HCRYPTKEY hAgree = 0;
    KeyGuard destroyAgree(&hAgree, DestroyKeyKeepingError);

    const HCRYPTPROV hProv = pContentEncryptInfo->hCryptProv;
    const PCRYPT_ALGORITHM_IDENTIFIER pEphemeralAlgorithm =
        pKeyAgreeEncodeInfo->pEphemeralAlgorithm;
    GostR3410_2001_PublicKeyParameters ephemeralParameters{};
    ALG_ID ephemeralKeyAlgId = 0;
    if (!DecodeEphemeralParameters(KV_HERE, &ctx, pEphemeralAlgorithm->Parameters,
                                   &ephemeralParameters) ||
        !ChooseEphemeralKey(KV_HERE, *pKeyAgreeEncodeInfo, &ephemeralKeyAlgId) ||
        !GenerateEphemeralKey(hProv, ephemeralKeyAlgId, ephemeralParameters, &hEphemeral) ||
        !OrvaImportPublicKeyInfoEx1(
            hProv, pEphemeralAlgorithm,
            &pKeyAgreeEncodeInfo->rgpRecipientEncryptedKeys[0]->RecipientPublicKey, hEphemeral,
            &hAgree))
        return FALSE;
    RewriteKeyEncryptionOid(pKeyAgreeEncodeInfo->KeyEncryptionAlgorithm.pszObjId);
    return SetKeyWrap(hAgree, ALG_GOST_KEY_WRAP_SIMPLE) &&
           StoreRecipientInfo(&ctx, *pContentEncryptInfo, hEphemeral, hAgree, pKeyAgreeEncryptInfo);
}

extern "C" BOOL WINAPI
OrvaMsgDllImportKeyAgree(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                         PCMSG_CTRL_KEY_AGREE_DECRYPT_PARA pKeyAgreeDecryptPara, DWORD, void *,
                         HCRYPTKEY *phContentEncryptKey)
{
    *phContentEncryptKey = 0;
    const CMSG_KEY_AGREE_RECIPIENT_INFO &keyAgree = *pKeyAgreeDecryptPara->pKeyAgree;
    if (!CheckRecipientInfo(KV_HERE, keyAgree)) return FALSE;
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    HCRYPTKEY hUser = 0;
    KeyGuard destroyUser(&hUser, DestroyKeyKeepingError);
    HCRYPTKEY hAgree = 0;
    KeyGuard destroyAgree(&hAgree, DestroyKeyKeepingError);
    HandedOutKeyGuard discardContentKey(phContentEncryptKey, DiscardKeyKeepingError);

    const HCRYPTPROV hProv = pKeyAgreeDecryptPara->hCryptProv;
    Gost28147_89_EncryptedKey encryptedKey{};
    Gost28147_89_KeyWrapParameters keyWrapParameters{};
    Gost28147_89_Parameters contentParameters{};
    ALG_ID keyWrapAlgId = 0;
    if (!CryptGetUserKey(hProv, pKeyAgreeDecryptPara->dwKeySpec, &hUser) ||
        !DecodeEncryptedKey(KV_HERE, &ctx, keyAgree.rgpRecipientEncryptedKeys[0]->EncryptedKey,
                            &encryptedKey) ||
        !ChooseKeyWrap(KV_HERE, &ctx, keyAgree.KeyEncryptionAlgorithm, &keyWrapParameters,
                       &keyWrapAlgId) ||
        !DecodeContentParameters(KV_HERE, &ctx, pContentEncryptionAlgorithm->Parameters,
                                 &contentParameters) ||
        !OrvaImportPublicKeyInfoEx(hProv, &keyAgree.OriginatorPublicKeyInfo, hUser, &hAgree) ||
        !SetKeyWrap(hAgree, keyWrapAlgId) ||
        !OrvaImportOIDKeyParam(hAgree, KP_GOST_CIPHER_PARAMSET,
                               &keyWrapParameters.encryptionParamSet) ||
        !ImportWrappedContentKey(&ctx, hProv, hAgree, UkmOf(keyAgree), encryptedKey,
                                 contentParameters, phContentEncryptKey))
        return FALSE;
    discardContentKey.release();
    return TRUE;
}

// The prototypes CryptoAPI installs these functions under.
static_assert(std::is_same_v<decltype(&OrvaMsgDllExportKeyAgree), PFN_CMSG_EXPORT_KEY_AGREE>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllImportKeyAgree), PFN_CMSG_IMPORT_KEY_AGREE>);
