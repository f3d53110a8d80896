#include "keys/ms2ac.h"

#include <cstring>
#include <limits>

namespace {

// A heap copy of cb octets. An empty blob becomes an empty value without asking the heap.
int CopyToHeap(Asn1Context *ctx, const BYTE *pbData, DWORD cbData, const ASN1OCTET **ppCopy)
{
    *ppCopy = nullptr;
    if (!cbData) return 1;
    auto *copy = static_cast<ASN1OCTET *>(ASN1MALLOC(ctx, cbData));
    if (!copy) return 0;
    std::memcpy(copy, pbData, cbData);
    *ppCopy = copy;
    return 1;
}

} // namespace

int ms2ac_ASN1DynBitStr(Asn1Context *ctx, const CRYPT_BIT_BLOB *pBlob, ASN1DynBitStr *pValue)
{
    if (pBlob->cbData > std::numeric_limits<ASN1UINT>::max() / 8)
        return 0; // the bit count would not fit
    if (!CopyToHeap(ctx, pBlob->pbData, pBlob->cbData, &pValue->data)) return 0;
    pValue->numbits = 8 * pBlob->cbData;
    return 1;
}

int ms2ac_ASN1OpenType(Asn1Context *ctx, const CRYPT_OBJID_BLOB *pBlob, ASN1OpenType *pValue)
{
    if (!CopyToHeap(ctx, pBlob->pbData, pBlob->cbData, &pValue->data)) return 0;
    pValue->numocts = pBlob->cbData;
    return 1;
}

int ms2ac_AlgorithmIdentifier(Asn1Context *ctx, const CRYPT_ALGORITHM_IDENTIFIER *pAlgorithm,
                              AlgorithmIdentifier *pValue)
{
    pValue->m.parametersPresent = 1;
    if (!pAlgorithm->pszObjId || !rtStrToOid(pAlgorithm->pszObjId, &pValue->algorithm)) return 0;
    return ms2ac_ASN1OpenType(ctx, &pAlgorithm->Parameters, &pValue->parameters);
}

int ms2ac_SubjectPublicKeyInfo(Asn1Context *ctx, const CERT_PUBLIC_KEY_INFO *pInfo,
                               SubjectPublicKeyInfo *pValue)
{
    if (!ms2ac_AlgorithmIdentifier(ctx, &pInfo->Algorithm, &pValue->algorithm)) return 0;
    return ms2ac_ASN1DynBitStr(ctx, &pInfo->PublicKey, &pValue->subjectPublicKey);
}
