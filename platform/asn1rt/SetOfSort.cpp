// DER order for SET OF: the element encodings are recorded where they lie while they are
// written, then rearranged in place.
#include "Internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// "the encodings of the component values of a set-of value shall appear in ascending order,
// the encodings being compared as octet strings with the shorter components being padded at
// their trailing end with 0-octets"                                     -- X.690, 11.6
bool PrecedesInSetOf(std::span<const ASN1OCTET> a, std::span<const ASN1OCTET> b)
{
    const size_t common = std::min(a.size(), b.size());
    if (const int order = common ? std::memcmp(a.data(), b.data(), common) : 0) return order < 0;
    // Equal so far: the longer one sorts after unless its remainder is all zero octets.
    const auto rest = b.subspan(common);
    return std::any_of(rest.begin(), rest.end(), [](ASN1OCTET octet) { return octet != 0; });
}

using Descriptors = std::vector<Asn1BufLocDescr *>;

int CollectDescriptors(const SList *pList, Descriptors *pdescrs)
{
    for (const SListNode *node = pList->head; node; node = node->next) {
        if (!node->data) return ASN_E_INVPARAM;
        pdescrs->push_back(static_cast<Asn1BufLocDescr *>(node->data));
    }
    return ASN_OK;
}

// Puts the descriptors in buffer order; the described elements must tile the front of the
// buffer exactly, one after the other. An empty element shares its offset with the element
// behind it and goes first, so the tiling walk stays where it is.
int ArrangeInBufferOrder(Descriptors &descrs, size_t used, size_t *ptotal)
{
    std::sort(descrs.begin(), descrs.end(), [](const Asn1BufLocDescr *a, const Asn1BufLocDescr *b) {
        return a->offset != b->offset ? a->offset > b->offset : a->numocts < b->numocts;
    });
    size_t expectedOffset = used;
    for (const Asn1BufLocDescr *descr : descrs) {
        if (descr->offset != expectedOffset || descr->numocts > descr->offset)
            return ASN_E_INVPARAM;
        expectedOffset -= descr->numocts;
    }
    *ptotal = used - expectedOffset;
    return ASN_OK;
}

int SortRegion(Asn1Context *pctxt, Descriptors &descrs, size_t total)
{
    ASN1OCTET *front = xe_getp(pctxt);
    const size_t used = asn1rt::EncodedLength(pctxt);
    const std::vector<ASN1OCTET> copy(front, front + total);
    auto elementOf = [&](const Asn1BufLocDescr *descr) {
        return std::span<const ASN1OCTET>(copy).subspan(used - descr->offset, descr->numocts);
    };
    // Equal encodings keep their order in the buffer.
    std::stable_sort(descrs.begin(), descrs.end(),
                     [&](const Asn1BufLocDescr *a, const Asn1BufLocDescr *b) {
                         return PrecedesInSetOf(elementOf(a), elementOf(b));
                     });
    size_t position = 0;
    for (Asn1BufLocDescr *descr : descrs) {
        const auto element = elementOf(descr);
        if (!element.empty()) std::memcpy(front + position, element.data(), element.size());
        descr->offset = used - position; // the descriptor follows its element
        position += element.size();
    }
    return ASN_OK;
}

} // namespace

extern "C" int xe_getBufLocDescr(Asn1Context *pctxt, ASN1UINT length, Asn1BufLocDescr *pDescr)
{
    if (!pctxt || !pDescr || length > asn1rt::EncodedLength(pctxt)) return ASN_E_INVPARAM;
    pDescr->numocts = length;
    pDescr->offset = asn1rt::EncodedLength(pctxt);
    return ASN_OK;
}

extern "C" int xe_derCanonicalSort(Asn1Context *pctxt, SList *pList)
{
    if (!pctxt || !pList) return ASN_E_INVPARAM;
    try {
        Descriptors descrs;
        size_t total = 0;
        int status = CollectDescriptors(pList, &descrs);
        if (status == ASN_OK)
            status = ArrangeInBufferOrder(descrs, asn1rt::EncodedLength(pctxt), &total);
        if (status == ASN_OK && descrs.size() > 1) status = SortRegion(pctxt, descrs, total);
        return status == ASN_OK ? static_cast<int>(total) : status;
    } catch (const std::bad_alloc &) {
        return ASN_E_NOMEM;
    }
}
