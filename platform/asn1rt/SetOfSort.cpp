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

using Descriptors = std::span<Asn1BufLocDescr *>;

int CollectDescriptors(const SList *pList, Descriptors descrs)
{
    size_t i = 0;
    for (const SListNode *node = pList->head; node; node = node->next) {
        if (!node->data) return ASN_E_INVPARAM;
        descrs[i++] = static_cast<Asn1BufLocDescr *>(node->data);
    }
    return ASN_OK;
}

size_t CountNodes(const SList *pList)
{
    size_t count = 0;
    for (const SListNode *node = pList->head; node; node = node->next)
        count++;
    return count;
}

// A stable sort that needs no memory of its own for the few elements of the usual SET OF
// (a relative distinguished name has one or two); std::stable_sort for the rest.
template <typename Less> void StableSort(Descriptors descrs, Less less)
{
    if (descrs.size() > 16) {
        std::stable_sort(descrs.begin(), descrs.end(), less);
        return;
    }
    for (size_t i = 1; i < descrs.size(); i++)
        for (size_t j = i; j > 0 && less(descrs[j], descrs[j - 1]); j--)
            std::swap(descrs[j], descrs[j - 1]);
}

// Puts the descriptors in buffer order; the described elements must tile the front of the
// buffer exactly, one after the other. An empty element shares its offset with the element
// behind it and goes first, so the tiling walk stays where it is.
int ArrangeInBufferOrder(Descriptors descrs, size_t used, size_t *ptotal)
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

// The copy of the region comes from the context heap, which goes with the context.
int SortRegion(Asn1Context *pctxt, Descriptors descrs, size_t total)
{
    ASN1OCTET *front = xe_getp(pctxt);
    const size_t used = asn1rt::EncodedLength(pctxt);
    auto *copied = static_cast<ASN1OCTET *>(ASN1MALLOC(pctxt, total));
    if (!copied) return ASN_E_NOMEM;
    std::memcpy(copied, front, total);
    const std::span<const ASN1OCTET> copy(copied, total);
    auto elementOf = [&](const Asn1BufLocDescr *descr) {
        return copy.subspan(used - descr->offset, descr->numocts);
    };
    // Equal encodings keep their order in the buffer.
    StableSort(descrs, [&](const Asn1BufLocDescr *a, const Asn1BufLocDescr *b) {
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
        // Room for the usual few elements here; a longer list gets a vector.
        Asn1BufLocDescr *few[16];
        std::vector<Asn1BufLocDescr *> many;
        const size_t count = CountNodes(pList);
        if (count > std::size(few)) many.resize(count);
        const Descriptors descrs =
            count > std::size(few) ? Descriptors(many) : Descriptors(few, count);
        size_t total = 0;
        int status = CollectDescriptors(pList, descrs);
        if (status == ASN_OK)
            status = ArrangeInBufferOrder(descrs, asn1rt::EncodedLength(pctxt), &total);
        if (status == ASN_OK && descrs.size() > 1) status = SortRegion(pctxt, descrs, total);
        return status == ASN_OK ? static_cast<int>(total) : status;
    } catch (const std::bad_alloc &) {
        return ASN_E_NOMEM;
    }
}
