// The encode buffer: DER is written from the end of the buffer toward its start, so every
// length is known when its header goes in front of the contents.
#include "Internal.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kFirstDynamicSize = 512;

// Each thread keeps one released buffer of the first size for its next encoding, so the
// common small encoding does not go to malloc.
void FreeBuffer(ASN1OCTET *data)
{
    std::free(data);
}
using SpareBuffer = asn1rt::ThreadSpare<ASN1OCTET, FreeBuffer>;

ASN1OCTET *NewBuffer(size_t capacity)
{
    if (capacity == kFirstDynamicSize)
        if (ASN1OCTET *spare = SpareBuffer::Take()) return spare;
    return static_cast<ASN1OCTET *>(std::malloc(capacity));
}

void ReleaseBuffer(ASN1OCTET *data, size_t capacity)
{
    if (data && capacity == kFirstDynamicSize && SpareBuffer::Park(data)) return;
    std::free(data);
}

int Grow(Asn1EncodeBuffer *ebuf, size_t needed)
{
    const size_t used = ebuf->size - ebuf->byteIndex;
    size_t capacity = ebuf->size ? ebuf->size : kFirstDynamicSize;
    while (capacity - used < needed)
        capacity *= 2;
    auto *grown = NewBuffer(capacity);
    if (!grown) return ASN_E_NOMEM;
    if (used) std::memcpy(grown + capacity - used, ebuf->data + ebuf->byteIndex, used);
    ReleaseBuffer(ebuf->data, ebuf->size);
    ebuf->data = grown;
    ebuf->size = capacity;
    ebuf->byteIndex = capacity - used;
    return ASN_OK;
}

// Identifier octets of a 32-bit tag (X.690 8.1.2); returns how many of the 6 were used.
size_t IdentifierOctets(ASN1TAG tag, ASN1OCTET out[6])
{
    const auto leading = static_cast<ASN1OCTET>((tag >> 24) & 0xE0);
    const ASN1UINT number = tag & TM_IDCODE;
    if (number < 31) {
        out[0] = static_cast<ASN1OCTET>(leading | number);
        return 1;
    }
    out[0] = static_cast<ASN1OCTET>(leading | 0x1F);
    size_t count = 1;
    for (int shift = 28; shift > 0; shift -= 7)
        if (number >> shift)
            out[count++] = static_cast<ASN1OCTET>(0x80 | ((number >> shift) & 0x7F));
    out[count++] = static_cast<ASN1OCTET>(number & 0x7F);
    return count;
}

// Definite length octets in the shortest form (X.690 10.1); returns how many of the 5.
size_t LengthOctets(ASN1UINT length, ASN1OCTET out[5])
{
    if (length < 0x80) {
        out[0] = static_cast<ASN1OCTET>(length);
        return 1;
    }
    size_t count = 0;
    for (ASN1UINT rest = length; rest; rest >>= 8)
        count++;
    out[0] = static_cast<ASN1OCTET>(0x80 | count);
    for (size_t i = 0; i < count; i++)
        out[count - i] = static_cast<ASN1OCTET>(length >> (8 * i));
    return count + 1;
}

} // namespace

namespace asn1rt {

size_t EncodedLength(const Asn1Context *pctxt)
{
    return pctxt->ebuf.size - pctxt->ebuf.byteIndex;
}

ASN1OCTET *ReserveFront(Asn1Context *pctxt, size_t count, int *pstatus)
{
    if (!pctxt) {
        *pstatus = ASN_E_INVPARAM;
        return nullptr;
    }
    Asn1EncodeBuffer *ebuf = &pctxt->ebuf;
    if (count > kMaxLength - EncodedLength(pctxt)) {
        *pstatus = ASN_E_BUFOVFLW;
        return nullptr;
    }
    if (ebuf->byteIndex < count) {
        *pstatus = ebuf->dynamic ? Grow(ebuf, count) : ASN_E_BUFOVFLW;
        if (*pstatus != ASN_OK) return nullptr;
    }
    ebuf->byteIndex -= count;
    *pstatus = ASN_OK;
    return ebuf->data + ebuf->byteIndex;
}

int PutOctets(Asn1Context *pctxt, std::span<const ASN1OCTET> octets)
{
    int status = ASN_OK;
    ASN1OCTET *front = ReserveFront(pctxt, octets.size(), &status);
    if (front && !octets.empty()) std::memcpy(front, octets.data(), octets.size());
    return status;
}

int PutOctet(Asn1Context *pctxt, ASN1OCTET octet)
{
    return PutOctets(pctxt, {&octet, 1});
}

int WrapUniversal(Asn1Context *pctxt, ASN1TAG tagNumber, int length, ASN1TagType tagging)
{
    if (length < 0 || tagging == ASN1IMPL) return length;
    return xe_tag_len(pctxt, TM_UNIV | tagNumber, length);
}

} // namespace asn1rt

using namespace asn1rt;

extern "C" int xe_setp(Asn1Context *pctxt, ASN1OCTET *buf, int size)
{
    if (!pctxt || size < 0 || (!buf && size != 0)) return ASN_E_INVPARAM;
    Asn1EncodeBuffer *ebuf = &pctxt->ebuf;
    if (buf) {
        xe_free(pctxt);
        *ebuf = Asn1EncodeBuffer{buf, static_cast<size_t>(size), static_cast<size_t>(size), 0};
        return ASN_OK;
    }
    if (!ebuf->dynamic) // a caller buffer left from an earlier encoding is not ours to keep
        *ebuf = Asn1EncodeBuffer{nullptr, 0, 0, 1};
    ebuf->byteIndex = ebuf->size; // a runtime buffer of an earlier encoding is reused
    return ebuf->data ? ASN_OK : Grow(ebuf, kFirstDynamicSize);
}

extern "C" ASN1OCTET *xe_getp(Asn1Context *pctxt)
{
    if (!pctxt || !pctxt->ebuf.data) return nullptr;
    return pctxt->ebuf.data + pctxt->ebuf.byteIndex;
}

extern "C" void xe_free(Asn1Context *pctxt)
{
    if (!pctxt) return;
    if (pctxt->ebuf.dynamic) ReleaseBuffer(pctxt->ebuf.data, pctxt->ebuf.size);
    pctxt->ebuf = Asn1EncodeBuffer{};
}

extern "C" int xe_tag_len(Asn1Context *pctxt, ASN1TAG tag, int length)
{
    if (length < 0) return length;
    // The common header, a tag number below 31 and a length below 128, goes in as two octets.
    const ASN1UINT number = tag & TM_IDCODE;
    if (number < 31 && length < 0x80 && pctxt && pctxt->ebuf.byteIndex >= 2 &&
        EncodedLength(pctxt) <= kMaxLength - 2) {
        ASN1OCTET *front = pctxt->ebuf.data + (pctxt->ebuf.byteIndex -= 2);
        front[0] = static_cast<ASN1OCTET>(((tag >> 24) & 0xE0) | number);
        front[1] = static_cast<ASN1OCTET>(length);
        return length + 2;
    }
    ASN1OCTET header[11]; // identifier (up to 6) and length (up to 5)
    const size_t idCount = IdentifierOctets(tag, header);
    const size_t headerCount =
        idCount + LengthOctets(static_cast<ASN1UINT>(length), header + idCount);
    if (static_cast<size_t>(length) > kMaxLength - headerCount) return ASN_E_BUFOVFLW;
    const int status = PutOctets(pctxt, {header, headerCount});
    return status == ASN_OK ? length + static_cast<int>(headerCount) : status;
}

extern "C" int xe_OpenType(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numocts)
{
    if (numocts && !data) return ASN_E_INVPARAM;
    if (numocts > kMaxLength) return ASN_E_BUFOVFLW;
    const int status = PutOctets(pctxt, {data, numocts});
    return status == ASN_OK ? static_cast<int>(numocts) : status;
}

extern "C" int xe_OpenTypeExt(Asn1Context *pctxt, const DList *pElemList)
{
    if (!pElemList) return 0;
    int total = 0;
    // Written backwards, so the last element goes in first and the list order is kept.
    for (const DListNode *node = pElemList->tail; node; node = node->prev) {
        const auto *element = static_cast<const ASN1OpenType *>(node->data);
        if (!element) return ASN_E_INVPARAM;
        const int length = xe_OpenType(pctxt, element->data, element->numocts);
        if (length < 0) return length;
        total += length; // the buffer never holds more than INT32_MAX octets
    }
    return total;
}
