// Key-transport recipients of GOST enveloped data. The content-encryption key travels in the
// recipient info's encryptedKey as a GostR3410-KeyTransport (RFC 4490, 5.2): wrapped with the
// RFC 4357 key wrap (with key diversification) under the VKO agreement of an ephemeral key
// pair made for the recipient and the recipient's certificate key.
#include "asn1/Asn1Types.h"
#include "frame/Trace.h"
#include "keys/CmsKeys.h"
#include "keys/KeyHelpers.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

namespace {

BOOL DecodeRecipientParameters(TraceSite site, Asn1Context *ctx, const CRYPT_OBJID_BLOB &der,
                               GostR3410_2001_PublicKeyParameters *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_GostR3410_2001_PublicKeyParameters)) return TRUE;
    KV_TRACE_ERROR_AT(site, "() asn1D_GostR3410_2001_PublicKeyParameters failed");
    return FailKeepingLastError();
}

BOOL ChooseEphemeralAlgorithm(TraceSite site, LPCSTR pszRecipientObjId, ALG_ID *pEphemeralAlgId)
{
    *pEphemeralAlgId = EphemeralKeyAlgIdFor(OID_2_ALGID(pszRecipientObjId));
    if (*pEphemeralAlgId) return TRUE;
    KV_TRACE_ERROR_AT(site, "() unsupported public key algorithm!");
    return FailKeepingLastError();
}

BOOL PutEphemeralPublicKey(Asn1Context *ctx, HCRYPTKEY hEphemeral,
                           GostR3410_TransportParameters *pValue)
{
    if (!OrvaExportSubjectPublicKeyInfo(ctx, hEphemeral, &pValue->ephemeralPublicKey)) return FALSE;
    pValue->m.ephemeralPublicKeyPresent = 1;
    return TRUE;
}

// The wrapped key, its MAC and the UKM the provider drew, as the key transport carries them.
BOOL WrapContentKey(HCRYPTKEY hContentKey, HCRYPTKEY hAgree, GostR3410_KeyTransport *pValue)
{
    GOST_SIMPLEBLOB header{};
    if (!ExportSimpleBlobHeader(hContentKey, hAgree, &header)) return FALSE;
    EncryptedKeyOf(header, &pValue->sessionEncryptedKey);
    pValue->transportParameters.ukm.numocts = sizeof header.bUkm;
    std::copy(std::begin(header.bUkm), std::end(header.bUkm), pValue->transportParameters.ukm.data);
    return TRUE;
}

BOOL DecodeKeyTransport(TraceSite site, Asn1Context *ctx, const CRYPT_DATA_BLOB &der,
                        GostR3410_KeyTransport *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_GostR3410_KeyTransport)) return TRUE;
    KV_TRACE_ERROR_AT(site, "() asn1D_GostR3410_KeyTransport failed");
    return FailKeepingLastError();
}

BOOL DecodeContentParameters(TraceSite site, Asn1Context *ctx, const CRYPT_OBJID_BLOB &der,
                             Gost28147_89_Parameters *pValue)
{
    if (DecodeQuietly(ctx, der, pValue, asn1D_Gost28147_89_Parameters)) return TRUE;
    KV_TRACE_ERROR_AT(site, "() asn1D_Gost28147_89_Parameters failed");
    return FailKeepingLastError();
}

// Only the ephemeral-static form is understood: the sender's key must be in the transport.
bool HasEphemeralPublicKey(const GostR3410_KeyTransport &transport)
{
    return transport.m.transportParametersPresent &&
           transport.transportParameters.m.ephemeralPublicKeyPresent;
}

std::span<const BYTE> UkmOf(const GostR3410_TransportParameters &parameters)
{
    return {parameters.ukm.data, parameters.ukm.numocts};
}

} // namespace

extern "C" BOOL WINAPI
OrvaMsgDllExportKeyTrans(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                         PCMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO pKeyTransEncodeInfo,
                         PCMSG_KEY_TRANS_ENCRYPT_INFO pKeyTransEncryptInfo, DWORD, void *)
{
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    HCRYPTKEY hEphemeral = 0; // declared after ctx, so destroyed before it
    KeyGuard destroyEphemeral(&hEphemeral, DestroyKeyKeepingError);
    HCRYPTKEY hAgree = 0;
    KeyGuard destroyAgree(&hAgree, DestroyKeyKeepingError);

    const HCRYPTPROV hProv = pContentEncryptInfo->hCryptProv;
    const HCRYPTKEY hContentKey = pContentEncryptInfo->hContentEncryptKey;
    const CRYPT_ALGORITHM_IDENTIFIER &recipient = pKeyTransEncodeInfo->KeyEncryptionAlgorithm;
    GostR3410_2001_PublicKeyParameters recipientParameters{};
    GostR3410_KeyTransport transport{};
    transport.m.transportParametersPresent = 1;
    GostR3410_TransportParameters &parameters = transport.transportParameters;
    ALG_ID ephemeralAlgId = 0;
    DWORD cbEncoded = 0;
    return DecodeRecipientParameters(KV_HERE, &ctx, recipient.Parameters, &recipientParameters) &&
           ChooseEphemeralAlgorithm(KV_HERE, recipient.pszObjId, &ephemeralAlgId) &&
           GenerateEphemeralKey(hProv, ephemeralAlgId, recipientParameters, &hEphemeral) &&
           PutEphemeralPublicKey(&ctx, hEphemeral, &parameters) &&
           OrvaImportPublicKeyInfoEx1(hProv, &recipient, &pKeyTransEncodeInfo->RecipientPublicKey,
                                      hEphemeral, &hAgree) &&
           SetKeyWrap(hAgree, ALG_GOST_KEY_WRAP_DIVERS) &&
           OrvaExportOIDKeyParam(hContentKey, KP_GOST_CIPHER_PARAMSET,
                                 &parameters.encryptionParamSet) &&
           WrapContentKey(hContentKey, hAgree, &transport) &&
           EncodeQuietly(&ctx, &transport, asn1E_GostR3410_KeyTransport, &cbEncoded) &&
           CopyToCallerBlock(pContentEncryptInfo->pfnAlloc, xe_getp(&ctx), cbEncoded,
                             &pKeyTransEncryptInfo->EncryptedKey);
}

extern "C" BOOL WINAPI
OrvaMsgDllImportKeyTrans(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                         PCMSG_CTRL_KEY_TRANS_DECRYPT_PARA pKeyTransDecryptPara, DWORD, void *,
                         HCRYPTKEY *phContentEncryptKey)
{
    *phContentEncryptKey = 0;
    Asn1Context ctx;
    if (OpenAsn1cContext(&ctx) != 0) return FailKeepingLastError();
    ContextGuard releaseCtx(&ctx, rtFreeContext);
    HCRYPTKEY hUser = 0;
    KeyGuard destroyUser(&hUser, DestroyKeyKeepingError);
    HCRYPTKEY hAgree = 0;
    KeyGuard destroyAgree(&hAgree, DestroyKeyKeepingError);
    HandedOutKeyGuard discardContentKey(phContentEncryptKey, DiscardKeyKeepingError);

    const HCRYPTPROV hProv = pKeyTransDecryptPara->hCryptProv;
    GostR3410_KeyTransport transport{};
    const GostR3410_TransportParameters &parameters = transport.transportParameters;
    Gost28147_89_Parameters contentParameters{};
    if (!CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hUser) ||
        !DecodeKeyTransport(KV_HERE, &ctx, pKeyTransDecryptPara->pKeyTrans->EncryptedKey,
                            &transport) ||
        !DecodeContentParameters(KV_HERE, &ctx, pContentEncryptionAlgorithm->Parameters,
                                 &contentParameters) ||
        !HasEphemeralPublicKey(transport) ||
        !OrvaImportSubjectPublicKeyInfoEx(hProv, &parameters.ephemeralPublicKey, hUser, &hAgree) ||
        !SetKeyWrap(hAgree, ALG_GOST_KEY_WRAP_DIVERS) ||
        !OrvaImportOIDKeyParam(hAgree, KP_GOST_CIPHER_PARAMSET, &parameters.encryptionParamSet) ||
        !ImportWrappedContentKey(&ctx, hProv, hAgree, UkmOf(parameters),
                                 transport.sessionEncryptedKey, contentParameters,
                                 phContentEncryptKey))
        return FALSE;
    discardContentKey.release();
    return TRUE;
}

// The prototypes CryptoAPI installs these functions under.
static_assert(std::is_same_v<decltype(&OrvaMsgDllExportKeyTrans), PFN_CMSG_EXPORT_KEY_TRANS>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllImportKeyTrans), PFN_CMSG_IMPORT_KEY_TRANS>);
