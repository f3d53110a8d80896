// Building blocks shared by the codecs of asn1/: status recording, constraint checks,
// tagging of components, component-by-component decoding of constructed values, lists.
//
// Every failure goes through Fail(), which records it in the context's error record
// (the frame reports it as CRYPT_E_ASN1_ERROR). Codecs never trace.
#pragma once

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "asn1/Asn1Types.h"

namespace asn1codec {

template <typename T> using Encoder = int (*)(Asn1Context *, T *, ASN1TagType);
template <typename T> using Decoder = int (*)(Asn1Context *, T *, ASN1TagType, int);

constexpr ASN1TAG kSequence = TM_UNIV | TM_CONS | ASN_ID_SEQ;
constexpr ASN1TAG kSet = TM_UNIV | TM_CONS | ASN_ID_SET;
constexpr ASN1TAG ContextPrimitive(ASN1TAG n)
{
    return TM_CTXT | n;
}
constexpr ASN1TAG ContextConstructed(ASN1TAG n)
{
    return TM_CTXT | TM_CONS | n;
}

inline int Fail(Asn1Context *pctxt, int status)
{
    return rtErrSetData(&pctxt->errInfo, status, 0, 0);
}

// -23 with the offending field's name and value attached. The value is written out whole:
// a count of ASN1UINT may lie beyond what an int parameter holds.
inline int ConstraintViolated(Asn1Context *pctxt, const char *field, long long value)
{
    char text[24]; // "-9223372036854775808" and the terminator
    std::snprintf(text, sizeof text, "%lld", value);
    rtErrAddStrParm(&pctxt->errInfo, field);
    rtErrAddStrParm(&pctxt->errInfo, text);
    return Fail(pctxt, ASN_E_CONSVIO);
}

inline int CheckRange(Asn1Context *pctxt, const char *field, long long value, long long lower,
                      long long upper)
{
    return value >= lower && value <= upper ? 0 : ConstraintViolated(pctxt, field, value);
}

inline int CheckOneOf(Asn1Context *pctxt, const char *field, long long value,
                      std::initializer_list<long long> allowed)
{
    for (long long each : allowed)
        if (value == each) return 0;
    return ConstraintViolated(pctxt, field, value);
}

// ------------------------------------------------------------------ encoding

// The type's own identifier and length in front of its contents, with tagging ASN1EXPL.
inline int WrapIfExplicit(Asn1Context *pctxt, ASN1TagType tagging, ASN1TAG tag, int length)
{
    if (tagging != ASN1EXPL) return length;
    const int total = xe_tag_len(pctxt, tag, length);
    return total < 0 ? Fail(pctxt, total) : total;
}

// A component under [n] IMPLICIT (`tag` primitive or constructed) or [n] EXPLICIT.
template <typename T>
int EncodeImplicit(Asn1Context *pctxt, Encoder<T> encode, T *pfield, ASN1TAG tag)
{
    if (!pfield) return Fail(pctxt, ASN_E_INVPARAM);
    const int len = encode(pctxt, pfield, ASN1IMPL);
    return len < 0 ? Fail(pctxt, len) : WrapIfExplicit(pctxt, ASN1EXPL, tag, len);
}
template <typename T>
int EncodeExplicit(Asn1Context *pctxt, Encoder<T> encode, T *pfield, ASN1TAG n)
{
    if (!pfield) return Fail(pctxt, ASN_E_INVPARAM);
    const int len = encode(pctxt, pfield, ASN1EXPL);
    return len < 0 ? Fail(pctxt, len) : WrapIfExplicit(pctxt, ASN1EXPL, ContextConstructed(n), len);
}

inline int EncodeText(Asn1Context *pctxt, const char *text, ASN1TagType tagging, ASN1TAG tag)
{
    if (!text) return Fail(pctxt, ASN_E_INVPARAM);
    const int len = xe_charstr(pctxt, text, tagging, tag);
    return len < 0 ? Fail(pctxt, len) : len;
}

// A text whose length in octets must lie in [lower, upper].
inline int EncodeSizedText(Asn1Context *pctxt, const char *text, ASN1TagType tagging, ASN1TAG tag,
                           const char *field, size_t lower, size_t upper)
{
    if (!text) return Fail(pctxt, ASN_E_INVPARAM);
    const size_t octets = std::strlen(text);
    if (octets < lower || octets > upper) return ConstraintViolated(pctxt, field, octets);
    return EncodeText(pctxt, text, tagging, tag);
}

// A text under [n] IMPLICIT; `tag` is its universal tag number.
inline int EncodeImplicitText(Asn1Context *pctxt, const char *text, ASN1TAG tag, ASN1TAG n)
{
    const int len = EncodeText(pctxt, text, ASN1IMPL, tag);
    return len < 0 ? len : WrapIfExplicit(pctxt, ASN1EXPL, ContextPrimitive(n), len);
}

inline int EncodeOpenType(Asn1Context *pctxt, ASN1OpenType *pvalue, ASN1TagType)
{
    const int len = xe_OpenType(pctxt, pvalue->data, pvalue->numocts);
    return len < 0 ? Fail(pctxt, len) : len;
}

inline int EncodeObjid(Asn1Context *pctxt, ASN1OBJID *pvalue, ASN1TagType tagging)
{
    const int len = xe_objid(pctxt, pvalue, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

inline int EncodeOctets(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numocts,
                        ASN1TagType tagging)
{
    const int len = xe_octstr(pctxt, data, numocts, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

inline int EncodeDynOctets(Asn1Context *pctxt, ASN1DynOctStr *pvalue, ASN1TagType tagging)
{
    return EncodeOctets(pctxt, pvalue->data, pvalue->numocts, tagging);
}

inline int EncodeBits(Asn1Context *pctxt, ASN1DynBitStr *pvalue, ASN1TagType tagging)
{
    const int len = xe_bitstr(pctxt, pvalue->data, pvalue->numbits, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

// SEQUENCE OF: the elements from the last to the first, each with its own tag.
template <typename T> int EncodeList(Asn1Context *pctxt, Encoder<T> encode, DList *plist)
{
    int total = 0;
    for (DListNode *node = plist->tail; node; node = node->prev) {
        const int len = encode(pctxt, static_cast<T *>(node->data), ASN1EXPL);
        if (len < 0) return Fail(pctxt, len);
        total += len;
    }
    return total;
}

// SET OF: the element encodings rearranged into the order of X.690, 11.6.
template <typename T> int EncodeSetOf(Asn1Context *pctxt, Encoder<T> encode, DList *plist)
{
    SList located;
    rtSListInitEx(pctxt, &located);
    for (DListNode *node = plist->tail; node; node = node->prev) {
        int len = encode(pctxt, static_cast<T *>(node->data), ASN1EXPL);
        if (len < 0) return Fail(pctxt, len);
        auto *where = static_cast<Asn1BufLocDescr *>(ASN1MALLOC(pctxt, sizeof(Asn1BufLocDescr)));
        if (!where) return Fail(pctxt, ASN_E_NOMEM);
        if ((len = xe_getBufLocDescr(pctxt, static_cast<ASN1UINT>(len), where)) < 0)
            return Fail(pctxt, len);
        if (!rtSListAppend(&located, where)) return Fail(pctxt, ASN_E_NOMEM);
    }
    const int total = xe_derCanonicalSort(pctxt, &located);
    return total < 0 ? Fail(pctxt, total) : total;
}

template <typename T>
int EncodeSequenceOf(Asn1Context *pctxt, Encoder<T> encode, DList *plist, ASN1TagType tagging)
{
    const int len = EncodeList(pctxt, encode, plist);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, kSequence, len);
}

// An alternative held by pointer in a CHOICE value.
template <typename T> int EncodeAlternative(Asn1Context *pctxt, Encoder<T> encode, T *palt)
{
    if (!palt) return Fail(pctxt, ASN_E_INVPARAM);
    const int len = encode(pctxt, palt, ASN1EXPL);
    return len < 0 ? Fail(pctxt, len) : len;
}

// ------------------------------------------------------------------ decoding

// Clears the whole presence word, the padding bits in front of the flags included (an
// assignment copies only the named bit-fields).
template <typename PresenceWord> void ClearPresence(PresenceWord *pm)
{
    static_assert(sizeof(PresenceWord) == sizeof(ASN1UINT));
    std::memset(pm, 0, sizeof *pm);
}

// Own identifier (tagging ASN1EXPL) and the start of the contents of a constructed value.
// `tagbyte` is the identifier octet with the constructed bit cleared.
inline int BeginContents(Asn1Context *pctxt, ASN1OCTET tagbyte, ASN1TagType tagging, int length,
                         Asn1Ccb *pccb)
{
    if (tagging == ASN1EXPL) {
        const int stat = xd_match1(pctxt, tagbyte, &length);
        if (stat < 0) return Fail(pctxt, stat);
    }
    xd_ccbInit(pctxt, pccb, length);
    return 0;
}

// Contents must end here: anything left is one component too many.
inline int EndContents(Asn1Context *pctxt, const Asn1Ccb &ccb)
{
    if (xd_chkend(pctxt, &ccb)) return Fail(pctxt, ASN_E_SEQOVFLW);
    const int stat = xd_endcons(pctxt, &ccb);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// Identifier octet of the next element is [n] in either form; nothing is consumed.
inline bool NextIsContextTag(Asn1Context *pctxt, ASN1OCTET n)
{
    ASN1OCTET first = 0;
    return xd_peekTagByte(pctxt, &first) == 0 && (first & ~0x20) == (0x80 | n);
}

// Untagged mandatory component.
template <typename T>
int DecodeRequired(Asn1Context *pctxt, const Asn1Ccb &ccb, Decoder<T> decode, T *pfield)
{
    if (!xd_chkend(pctxt, &ccb)) return Fail(pctxt, ASN_E_SETMISRQ);
    const int stat = decode(pctxt, pfield, ASN1EXPL, 0);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// Untagged OPTIONAL component: 1 present, 0 absent (the next identifier is not its own and
// nothing was consumed), or a failure.
template <typename T>
int DecodeOptional(Asn1Context *pctxt, const Asn1Ccb &ccb, Decoder<T> decode, T *pfield)
{
    if (!xd_chkend(pctxt, &ccb)) return 0;
    const size_t start = pctxt->buffer.byteIndex;
    const int stat = decode(pctxt, pfield, ASN1EXPL, 0);
    if (stat == ASN_E_IDNOTFOU && pctxt->buffer.byteIndex == start) {
        rtErrReset(&pctxt->errInfo); // an absent component is no failure
        return 0;
    }
    return stat < 0 ? Fail(pctxt, stat) : 1;
}

// Contents of an explicit tag whose identifier and length `length` were consumed: exactly
// one element.
template <typename T>
int DecodeExplicitContents(Asn1Context *pctxt, Decoder<T> decode, T *pfield, int length)
{
    Asn1Ccb ccb;
    xd_ccbInit(pctxt, &ccb, length);
    if (!xd_chkend(pctxt, &ccb)) return Fail(pctxt, ASN_E_SETMISRQ);
    const int stat = decode(pctxt, pfield, ASN1EXPL, 0);
    return stat < 0 ? Fail(pctxt, stat) : EndContents(pctxt, ccb);
}

// [n] component, IMPLICIT or EXPLICIT: 1 present, 0 absent (next identifier is not [n]),
// or a failure.
template <typename T>
int DecodeImplicit(Asn1Context *pctxt, const Asn1Ccb &ccb, ASN1OCTET n, Decoder<T> decode,
                   T *pfield)
{
    if (!xd_chkend(pctxt, &ccb) || !NextIsContextTag(pctxt, n)) return 0;
    int len = 0;
    int stat = xd_Tag1AndLen(pctxt, &len);
    if (stat < 0) return Fail(pctxt, stat);
    stat = decode(pctxt, pfield, ASN1IMPL, len);
    return stat < 0 ? Fail(pctxt, stat) : 1;
}
template <typename T>
int DecodeExplicit(Asn1Context *pctxt, const Asn1Ccb &ccb, ASN1OCTET n, Decoder<T> decode,
                   T *pfield)
{
    if (!xd_chkend(pctxt, &ccb) || !NextIsContextTag(pctxt, n)) return 0;
    int len = 0;
    int stat = xd_Tag1AndLen(pctxt, &len);
    if (stat < 0) return Fail(pctxt, stat);
    stat = DecodeExplicitContents(pctxt, decode, pfield, len);
    return stat < 0 ? stat : 1;
}

// A present-or-absent result of the helpers above turned into -8 for a mandatory component.
inline int Required(Asn1Context *pctxt, int found)
{
    return found == 0 ? Fail(pctxt, ASN_E_SETMISRQ) : found < 0 ? found : 0;
}

inline int DecodeText(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging, ASN1TAG tag,
                      int length)
{
    const int stat = xd_charstr(pctxt, ptext, tagging, tag, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

inline int DecodeSizedText(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging, ASN1TAG tag,
                           int length, const char *field, size_t lower, size_t upper)
{
    const int stat = DecodeText(pctxt, ptext, tagging, tag, length);
    if (stat < 0) return stat;
    const size_t octets = std::strlen(*ptext);
    return octets >= lower && octets <= upper ? 0 : ConstraintViolated(pctxt, field, octets);
}

inline int DecodeOpenType(Asn1Context *pctxt, ASN1OpenType *pvalue, ASN1TagType, int)
{
    const int stat = xd_OpenType(pctxt, &pvalue->data, &pvalue->numocts);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

inline int DecodeObjid(Asn1Context *pctxt, ASN1OBJID *pvalue, ASN1TagType tagging, int length)
{
    const int stat = xd_objid(pctxt, pvalue, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

inline int DecodeOctets(Asn1Context *pctxt, ASN1DynOctStr *pvalue, ASN1TagType tagging, int length)
{
    const int stat = xd_octstr(pctxt, &pvalue->data, &pvalue->numocts, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

inline int DecodeBits(Asn1Context *pctxt, ASN1DynBitStr *pvalue, ASN1TagType tagging, int length)
{
    const int stat = xd_bitstr(pctxt, &pvalue->data, &pvalue->numbits, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// A fixed-capacity octet string; the caller checks the length read.
template <size_t N>
int DecodeOctetsInto(Asn1Context *pctxt, ASN1OCTET (&data)[N], ASN1UINT *pnumocts,
                     ASN1TagType tagging, int length)
{
    *pnumocts = N;
    const int stat = xd_octstr_s(pctxt, data, pnumocts, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// SEQUENCE OF / SET OF contents into a list; each node and its element are one zeroed block.
template <typename T>
int DecodeListContents(Asn1Context *pctxt, const Asn1Ccb &ccb, Decoder<T> decode, DList *plist)
{
    rtDListInit(plist);
    while (xd_chkend(pctxt, &ccb)) {
        if (plist->count >= 0x7FFFFFFFu) return Fail(pctxt, ASN_E_SEQOVFLW);
        auto *elem = static_cast<T *>(rtDListNewNodeAndData(pctxt, sizeof(T)));
        if (!elem) return Fail(pctxt, ASN_E_NOMEM);
        const int stat = decode(pctxt, elem, ASN1EXPL, 0);
        if (stat < 0) return Fail(pctxt, stat);
        if (!rtDListAppendNode(pctxt, plist, elem)) return Fail(pctxt, ASN_E_NOMEM);
    }
    return EndContents(pctxt, ccb);
}

template <typename T>
int DecodeList(Asn1Context *pctxt, ASN1OCTET tagbyte, ASN1TagType tagging, int length,
               Decoder<T> decode, DList *plist)
{
    Asn1Ccb ccb;
    const int stat = BeginContents(pctxt, tagbyte, tagging, length, &ccb);
    return stat < 0 ? stat : DecodeListContents(pctxt, ccb, decode, plist);
}

// A CHOICE alternative held by pointer: a zeroed block of its form, then its contents.
template <typename T>
int DecodeAlternative(Asn1Context *pctxt, T **ppalt, Decoder<T> decode, int length)
{
    auto *palt = static_cast<T *>(ASN1MALLOCZ(pctxt, sizeof(T)));
    if (!palt) return Fail(pctxt, ASN_E_NOMEM);
    *ppalt = palt;
    const int stat = decode(pctxt, palt, ASN1IMPL, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// The same for an alternative under an explicit tag (its own identifier follows inside).
template <typename T>
int DecodeExplicitAlternative(Asn1Context *pctxt, T **ppalt, Decoder<T> decode, int length)
{
    auto *palt = static_cast<T *>(ASN1MALLOCZ(pctxt, sizeof(T)));
    if (!palt) return Fail(pctxt, ASN_E_NOMEM);
    *ppalt = palt;
    return DecodeExplicitContents(pctxt, decode, palt, length);
}

// A CHOICE identifier that names no alternative: -11 with the tag attached.
inline int UnknownAlternative(Asn1Context *pctxt, ASN1TAG tag)
{
    xu_addTagErrParm(&pctxt->errInfo, tag);
    return Fail(pctxt, ASN_E_INVOPT);
}

// Identifier and length of the next element, which selects a CHOICE alternative.
inline int ReadChoiceTag(Asn1Context *pctxt, ASN1TAG *ptag, int *plength)
{
    const int stat = xd_tag_len(pctxt, ptag, plength, XM_ADVANCE);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// A CHOICE type with a tag of its own: that tag (with tagging ASN1EXPL), then the
// identifier of the alternative inside it.
inline int BeginTaggedChoice(Asn1Context *pctxt, ASN1OCTET tagbyte, ASN1TagType tagging, int length,
                             Asn1Ccb *pccb, ASN1TAG *ptag, int *plength)
{
    const int stat = BeginContents(pctxt, tagbyte, tagging, length, pccb);
    if (stat < 0) return stat;
    if (!xd_chkend(pctxt, pccb)) return Fail(pctxt, ASN_E_SETMISRQ);
    return ReadChoiceTag(pctxt, ptag, plength);
}

} // namespace asn1codec
