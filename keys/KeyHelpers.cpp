// Public keys and key parameters between provider key handles and CryptoAPI or ASN.1
// structures, for the CMS key-management functions.
//
// The CMS key-management entry points that use them each have a source of their own:
// ContentKey.cpp (OrvaMsgDllGenContentEncryptKey), KeyTrans.cpp (OrvaMsgDllExportKeyTrans,
// OrvaMsgDllImportKeyTrans) and KeyAgree.cpp (OrvaMsgDllExportKeyAgree,
// OrvaMsgDllImportKeyAgree); the steps they share are in CmsKeys.cpp.
#include "keys/KeyHelpers.h"

#include "keys/ms2ac.h"
#include "frame/Trace.h"
#include "keys/ExportPublicKey.h"
#include "keys/GostVocabulary.h"
#include "keys/Resources.h"
#include "kvext/keys.h"

#include <algorithm>
#include <array>

namespace {

// Dotted text of any OID value: 128 arcs of at most ten digits, each after a dot or, for the
// first, followed by the NUL.
constexpr size_t kOidTextSize = 1408;
// Key parameters that hold an OID text are read into 128 bytes.
constexpr DWORD kOidKeyParamSize = 128;

void FreePublicKeyInfoBlocks(CERT_PUBLIC_KEY_INFO *pInfo)
{
    KVSUPFreeMemory(pInfo->Algorithm.Parameters.pbData);
    KVSUPFreeMemory(pInfo->PublicKey.pbData);
}

// Bytes that hold `bits` bits.
DWORD WholeBytes(ASN1UINT bits)
{
    return bits ? (bits - 1) / 8 + 1 : 0;
}

} // namespace

LPCSTR ALGID_2_OID(ALG_ID algId)
{
    const auto *found =
        std::find_if(std::begin(kGostAlgorithmOids), std::end(kGostAlgorithmOids),
                     [&](const GostAlgorithmOid &entry) { return entry.algId == algId; });
    return found == std::end(kGostAlgorithmOids) ? nullptr : found->oid;
}

ALG_ID OID_2_ALGID(LPCSTR pszObjId)
{
    PCCRYPT_OID_INFO pOidInfo = CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<LPSTR>(pszObjId), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    return pOidInfo ? pOidInfo->Algid : 0;
}

BOOL OrvaExportPublicKeyInfo(HCRYPTKEY hKey, CERT_PUBLIC_KEY_INFO *pInfo, PFN_CRYPT_ALLOC pfnAlloc)
{
    pInfo->Algorithm.Parameters.pbData = nullptr;
    pInfo->PublicKey.pbData = nullptr;
    BYTE *pbBlob = nullptr;
    HeapBlockGuard freeBlob(&pbBlob, FreeHeapBlockAt);
    DWORD cbBlob = 0;
    if (!ExportPublicKeyBlob(hKey, &pbBlob, &cbBlob)) return FALSE;
    const ALG_ID aiKeyAlg = PublicKeyBlobAlgId(pbBlob, cbBlob);
    pInfo->Algorithm.pszObjId = const_cast<LPSTR>(ALGID_2_OID(aiKeyAlg));
    if (!pInfo->Algorithm.pszObjId)
        return KV_FAIL(NTE_BAD_ALGID, "() public key algorithm %x has no OID", aiKeyAlg);
    return OrvaEncodePublicKeyAndParametersEx(
        X509_ASN_ENCODING, pInfo->Algorithm.pszObjId, pbBlob, cbBlob, 0, nullptr,
        &pInfo->PublicKey.pbData, &pInfo->PublicKey.cbData, &pInfo->Algorithm.Parameters.pbData,
        &pInfo->Algorithm.Parameters.cbData, pfnAlloc);
}

BOOL OrvaExportSubjectPublicKeyInfo(Asn1Context *ctx, HCRYPTKEY hKey, SubjectPublicKeyInfo *pValue)
{
    CERT_PUBLIC_KEY_INFO info{};
    std::unique_ptr<CERT_PUBLIC_KEY_INFO, decltype(&FreePublicKeyInfoBlocks)> freeBlocks(
        &info, FreePublicKeyInfoBlocks);
    if (!OrvaExportPublicKeyInfo(hKey, &info, pfnAllocMemory)) return FALSE;
    if (!ms2ac_SubjectPublicKeyInfo(ctx, &info, pValue))
        return KV_FAIL(NTE_NO_MEMORY, "() ms2ac_SubjectPublicKeyInfo failed!");
    return TRUE;
}

BOOL OrvaImportPublicKeyInfoEx(HCRYPTPROV hProv, const CERT_PUBLIC_KEY_INFO *pInfo,
                               HCRYPTKEY hPubKey, HCRYPTKEY *phKey)
{
    BYTE *pbBlob = nullptr;
    HeapBlockGuard freeBlob(&pbBlob, FreeHeapBlockAt);
    DWORD cbBlob = 0;
    // The conversion only reads the structure; its published prototype takes it non-const.
    if (!OrvaConvertPublicKeyInfo(0, const_cast<CERT_PUBLIC_KEY_INFO *>(pInfo), 0, 0, &pbBlob,
                                  &cbBlob))
        return FALSE;
    return CryptImportKey(hProv, pbBlob, cbBlob, hPubKey, 0, phKey);
}

BOOL OrvaImportPublicKeyInfoEx1(HCRYPTPROV hProv, const CRYPT_ALGORITHM_IDENTIFIER *pAlgorithm,
                                const CRYPT_BIT_BLOB *pPublicKey, HCRYPTKEY hPubKey,
                                HCRYPTKEY *phKey)
{
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm = *pAlgorithm;
    info.PublicKey = *pPublicKey;
    return OrvaImportPublicKeyInfoEx(hProv, &info, hPubKey, phKey);
}

BOOL OrvaImportSubjectPublicKeyInfoEx(HCRYPTPROV hProv, const SubjectPublicKeyInfo *pValue,
                                      HCRYPTKEY hPubKey, HCRYPTKEY *phKey)
{
    std::array<char, kOidTextSize> oidText{};
    rtOidToStr(&pValue->algorithm.algorithm, oidText.data(), oidText.size());
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = oidText.data();
    if (pValue->algorithm.m.parametersPresent)
        info.Algorithm.Parameters = {pValue->algorithm.parameters.numocts,
                                     const_cast<BYTE *>(pValue->algorithm.parameters.data)};
    info.PublicKey = {WholeBytes(pValue->subjectPublicKey.numbits),
                      const_cast<BYTE *>(pValue->subjectPublicKey.data), 0};
    return OrvaImportPublicKeyInfoEx(hProv, &info, hPubKey, phKey);
}

BOOL OrvaExportOIDKeyParam(HCRYPTKEY hKey, DWORD dwParam, ASN1OBJID *pOid)
{
    std::array<BYTE, kOidKeyParamSize + 1> text{}; // the last NUL is out of the provider's reach
    DWORD cbText = kOidKeyParamSize;
    if (!CryptGetKeyParam(hKey, dwParam, text.data(), &cbText, 0)) return FailKeepingLastError();
    if (!rtStrToOid(reinterpret_cast<const char *>(text.data()), pOid))
        return FailWith(NTE_NO_MEMORY);
    return TRUE;
}

BOOL OrvaImportOIDKeyParam(HCRYPTKEY hKey, DWORD dwParam, const ASN1OBJID *pOid)
{
    std::array<char, kOidTextSize> oidText{};
    rtOidToStr(pOid, oidText.data(), oidText.size());
    return CryptSetKeyParam(hKey, dwParam, reinterpret_cast<const BYTE *>(oidText.data()), 0);
}

BOOL OrvaExportOctetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE *pbBuffer, DWORD cbBuffer)
{
    DWORD cbParam = cbBuffer;
    return CryptGetKeyParam(hKey, dwParam, pbBuffer, &cbParam, 0);
}
