// GostPrivateCertificateStore ::= SET OF <one complete DER value>
// The store's elements are opaque to us: each is carried verbatim, in DER SET OF order.
#include "asn1/Asn1Types.h"
#include "frame/EntryPoints.h"
#include "frame/FlatLayout.h"

namespace {

BOOL GostPrivateCertificateStore_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo,
                                                 void *value)
{
    const auto *store = static_cast<const CRYPT_BLOB_ARRAY *>(pvStructInfo);
    auto *elements = static_cast<GostPrivateCertificateStore *>(value);
    rtDListInit(elements);
    if (store->cBlob && !store->rgBlob)
        return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed CRYPT_BLOB_ARRAY");
    for (DWORD i = 0; i < store->cBlob; ++i) {
        auto *element = NewListElement<ASN1OpenType>(KV_HERE, ctx);
        if (!element) return FALSE;
        element->numocts = store->rgBlob[i].cbData; // the caller's bytes, not copied
        element->data = store->rgBlob[i].pbData;
        rtDListAppendNode(ctx, elements, element);
    }
    return TRUE;
}

// The header, the entry array, then the element bytes back to back, unpadded.
BOOL GostPrivateCertificateStore_Layout(Asn1Context *, GostPrivateCertificateStore *elements,
                                        FlatCursor *cursor)
{
    CRYPT_BLOB_ARRAY scratch{};
    CRYPT_BLOB_ARRAY &store = ElementOr(cursor->Take<CRYPT_BLOB_ARRAY>(), 0, scratch);
    CRYPT_DER_BLOB *rgBlob = cursor->Take<CRYPT_DER_BLOB>(elements->count);
    store.cBlob = elements->count;
    store.rgBlob = elements->count ? rgBlob : nullptr;
    CRYPT_DER_BLOB scratchEntry{};
    size_t index = 0;
    for (const DListNode *node = elements->head; node; node = node->next, ++index) {
        const auto *element = static_cast<const ASN1OpenType *>(node->data);
        cursor->CopyBlob(element->data, element->numocts, &ElementOr(rgBlob, index, scratchEntry));
    }
    return TRUE;
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(GostPrivateCertificateStore, GostPrivateCertificateStore_Layout)

} // namespace

KV_DEFINE_ENCODE_ENTRY_POINTS(GostPrivateCertificateStore, GostPrivateCertificateStore,
                              asn1E_GostPrivateCertificateStore,
                              GostPrivateCertificateStore_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(GostPrivateCertificateStore, GostPrivateCertificateStore,
                              asn1D_GostPrivateCertificateStore,
                              GostPrivateCertificateStore_GetBufferSize,
                              GostPrivateCertificateStore_FillBuffer)
