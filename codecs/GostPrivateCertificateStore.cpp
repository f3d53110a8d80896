// GostPrivateCertificateStore ::= SET OF <one complete DER value>
// The store's elements are opaque to us: each is carried verbatim, in DER SET OF order.
#include "asn1/Asn1Types.h"
#include "frame/EntryPoints.h"

#include <cstring>

namespace {

BOOL GostPrivateCertificateStore_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                                 void *value)
{
    const auto *store = static_cast<const CRYPT_BLOB_ARRAY *>(pvStructInfo);
    auto *elements = static_cast<GostPrivateCertificateStore *>(value);
    rtDListInit(elements);
    if (store->cBlob && !store->rgBlob) {
        KV_TRACE_ERROR("Malformed CRYPT_BLOB_ARRAY");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (DWORD i = 0; i < store->cBlob; ++i) {
        auto *element =
            static_cast<ASN1OpenType *>(rtDListNewNodeAndData(ctx, sizeof(ASN1OpenType)));
        if (!element) {
            KV_TRACE_ERROR("ALLOC_ASN1ELEMDNODE() failed");
            SetLastError(NTE_NO_MEMORY);
            return FALSE;
        }
        element->numocts = store->rgBlob[i].cbData; // the caller's bytes, not copied
        element->data = store->rgBlob[i].pbData;
        rtDListAppendNode(ctx, elements, element);
    }
    return TRUE;
}

// The header, the entry array, then the element bytes back to back, unpadded.
BOOL GostPrivateCertificateStore_GetBufferSize(Asn1Context *, void *value, DWORD *pcbStructInfo,
                                               void **)
{
    const auto *elements = static_cast<const GostPrivateCertificateStore *>(value);
    size_t cbNeeded = sizeof(CRYPT_BLOB_ARRAY) + size_t{elements->count} * sizeof(CRYPT_DER_BLOB);
    for (const DListNode *node = elements->head; node; node = node->next)
        cbNeeded += static_cast<const ASN1OpenType *>(node->data)->numocts;
    return StoreFlatSize(__func__, cbNeeded, pcbStructInfo);
}

BOOL GostPrivateCertificateStore_FillBuffer(Asn1Context *, void *value, void *pvBuffer,
                                            DWORD cbBuffer, void **)
{
    const auto *elements = static_cast<const GostPrivateCertificateStore *>(value);
    auto *store = static_cast<CRYPT_BLOB_ARRAY *>(pvBuffer);
    store->cBlob = elements->count;
    store->rgBlob = elements->count ? reinterpret_cast<CRYPT_DER_BLOB *>(store + 1) : nullptr;
    BYTE *cursor = reinterpret_cast<BYTE *>(store + 1) + elements->count * sizeof(CRYPT_DER_BLOB);
    CRYPT_DER_BLOB *entry = store->rgBlob;
    for (const DListNode *node = elements->head; node; node = node->next, ++entry) {
        const auto *element = static_cast<const ASN1OpenType *>(node->data);
        std::memcpy(cursor, element->data, element->numocts);
        entry->cbData = element->numocts;
        entry->pbData = cursor;
        cursor += element->numocts;
    }
    return CheckFilledSize(__func__, static_cast<size_t>(cursor - static_cast<BYTE *>(pvBuffer)),
                           cbBuffer);
}

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(GostPrivateCertificateStore, GostPrivateCertificateStore,
                              asn1E_GostPrivateCertificateStore,
                              GostPrivateCertificateStore_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(GostPrivateCertificateStore, GostPrivateCertificateStore,
                              asn1D_GostPrivateCertificateStore,
                              GostPrivateCertificateStore_GetBufferSize,
                              GostPrivateCertificateStore_FillBuffer)
