// PKIX1Explicit88: names, algorithm identifiers and public keys of RFC 5280 (appendix A.1,
// explicitly tagged).
#include "asn1/Asn1Codec.h"

#include <algorithm>
#include <cstring>
#include <span>

using namespace asn1codec;

// AttributeTypeAndValue ::= SEQUENCE { type AttributeType, value AttributeValue }
//                                                                  -- RFC 5280, 4.1.2.4
// The value is kept as its complete encoding, whatever its type.
int asn1E_AttributeTypeAndValue(Asn1Context *pctxt, AttributeTypeAndValue *pvalue,
                                ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = EncodeOpenType(pctxt, &pvalue->value, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    if ((len = EncodeObjid(pctxt, &pvalue->type, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_AttributeTypeAndValue(Asn1Context *pctxt, AttributeTypeAndValue *pvalue,
                                ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->type)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeOpenType, &pvalue->value)) < 0) return stat;
    return EndContents(pctxt, ccb);
}

// RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
int asn1E_RelativeDistinguishedName(Asn1Context *pctxt, RelativeDistinguishedName *pvalue,
                                    ASN1TagType tagging)
{
    if (pvalue->count < 1) return ConstraintViolated(pctxt, "pvalue->count", pvalue->count);
    const int len = EncodeSetOf(pctxt, asn1E_AttributeTypeAndValue, pvalue);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, kSet, len);
}

int asn1D_RelativeDistinguishedName(Asn1Context *pctxt, RelativeDistinguishedName *pvalue,
                                    ASN1TagType tagging, int length)
{
    const int stat =
        DecodeList(pctxt, ASN_ID_SET, tagging, length, asn1D_AttributeTypeAndValue, pvalue);
    if (stat < 0) return stat;
    return pvalue->count < 1 ? ConstraintViolated(pctxt, "pvalue->count", pvalue->count) : 0;
}

// RDNSequence ::= SEQUENCE OF RelativeDistinguishedName
int asn1E_RDNSequence(Asn1Context *pctxt, RDNSequence *pvalue, ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_RelativeDistinguishedName, pvalue, tagging);
}

int asn1D_RDNSequence(Asn1Context *pctxt, RDNSequence *pvalue, ASN1TagType tagging, int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_RelativeDistinguishedName, pvalue);
}

// CertificateSerialNumber ::= INTEGER                              -- RFC 5280, 4.1.2.2
int asn1E_CertificateSerialNumber(Asn1Context *pctxt, CertificateSerialNumber *pvalue,
                                  ASN1TagType tagging)
{
    const int len = xe_bigint(pctxt, *pvalue, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

int asn1D_CertificateSerialNumber(Asn1Context *pctxt, CertificateSerialNumber *pvalue,
                                  ASN1TagType tagging, int length)
{
    const int stat = xd_bigint(pctxt, pvalue, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// UniqueIdentifier ::= BIT STRING                                  -- RFC 5280, 4.1.2.8
int asn1E_UniqueIdentifier(Asn1Context *pctxt, UniqueIdentifier *pvalue, ASN1TagType tagging)
{
    return EncodeBits(pctxt, pvalue, tagging);
}

int asn1D_UniqueIdentifier(Asn1Context *pctxt, UniqueIdentifier *pvalue, ASN1TagType tagging,
                           int length)
{
    return DecodeBits(pctxt, pvalue, tagging, length);
}

// X121Address ::= NumericString (SIZE (1..ub-x121-address-length))
int asn1E_X121Address(Asn1Context *pctxt, X121Address *pvalue, ASN1TagType tagging)
{
    return EncodeSizedText(pctxt, *pvalue, tagging, ASN_ID_NumericString, "*pvalue", 1, 16);
}

int asn1D_X121Address(Asn1Context *pctxt, X121Address *pvalue, ASN1TagType tagging, int length)
{
    return DecodeSizedText(pctxt, pvalue, tagging, ASN_ID_NumericString, length, "*pvalue", 1, 16);
}

// NetworkAddress ::= X121Address
int asn1E_NetworkAddress(Asn1Context *pctxt, NetworkAddress *pvalue, ASN1TagType tagging)
{
    return asn1E_X121Address(pctxt, pvalue, tagging);
}

int asn1D_NetworkAddress(Asn1Context *pctxt, NetworkAddress *pvalue, ASN1TagType tagging,
                         int length)
{
    return asn1D_X121Address(pctxt, pvalue, tagging, length);
}

// TerminalIdentifier ::= PrintableString (SIZE (1..ub-terminal-id-length))
int asn1E_TerminalIdentifier(Asn1Context *pctxt, TerminalIdentifier *pvalue, ASN1TagType tagging)
{
    return EncodeSizedText(pctxt, *pvalue, tagging, ASN_ID_PrintableString, "*pvalue", 1, 24);
}

int asn1D_TerminalIdentifier(Asn1Context *pctxt, TerminalIdentifier *pvalue, ASN1TagType tagging,
                             int length)
{
    return DecodeSizedText(pctxt, pvalue, tagging, ASN_ID_PrintableString, length, "*pvalue", 1,
                           24);
}

// OrganizationName ::= PrintableString (SIZE (1..ub-organization-name-length))
int asn1E_OrganizationName(Asn1Context *pctxt, OrganizationName *pvalue, ASN1TagType tagging)
{
    return EncodeSizedText(pctxt, *pvalue, tagging, ASN_ID_PrintableString, "*pvalue", 1, 64);
}

int asn1D_OrganizationName(Asn1Context *pctxt, OrganizationName *pvalue, ASN1TagType tagging,
                           int length)
{
    return DecodeSizedText(pctxt, pvalue, tagging, ASN_ID_PrintableString, length, "*pvalue", 1,
                           64);
}

// NumericUserIdentifier ::= NumericString (SIZE (1..ub-numeric-user-id-length))
int asn1E_NumericUserIdentifier(Asn1Context *pctxt, NumericUserIdentifier *pvalue,
                                ASN1TagType tagging)
{
    return EncodeSizedText(pctxt, *pvalue, tagging, ASN_ID_NumericString, "*pvalue", 1, 32);
}

int asn1D_NumericUserIdentifier(Asn1Context *pctxt, NumericUserIdentifier *pvalue,
                                ASN1TagType tagging, int length)
{
    return DecodeSizedText(pctxt, pvalue, tagging, ASN_ID_NumericString, length, "*pvalue", 1, 32);
}

// OrganizationalUnitName ::= PrintableString (SIZE (1..ub-organizational-unit-name-length))
int asn1E_OrganizationalUnitName(Asn1Context *pctxt, OrganizationalUnitName *pvalue,
                                 ASN1TagType tagging)
{
    return EncodeSizedText(pctxt, *pvalue, tagging, ASN_ID_PrintableString, "*pvalue", 1, 32);
}

int asn1D_OrganizationalUnitName(Asn1Context *pctxt, OrganizationalUnitName *pvalue,
                                 ASN1TagType tagging, int length)
{
    return DecodeSizedText(pctxt, pvalue, tagging, ASN_ID_PrintableString, length, "*pvalue", 1,
                           32);
}

// AlgorithmIdentifier ::= SEQUENCE {
//     algorithm   OBJECT IDENTIFIER,
//     parameters  ANY DEFINED BY algorithm OPTIONAL }             -- RFC 5280, 4.1.1.2
int asn1E_AlgorithmIdentifier(Asn1Context *pctxt, AlgorithmIdentifier *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.parametersPresent) {
        if ((len = EncodeOpenType(pctxt, &pvalue->parameters, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = EncodeObjid(pctxt, &pvalue->algorithm, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_AlgorithmIdentifier(Asn1Context *pctxt, AlgorithmIdentifier *pvalue, ASN1TagType tagging,
                              int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    ClearPresence(&pvalue->m);
    if ((stat = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->algorithm)) < 0) return stat;
    if ((stat = DecodeOptional(pctxt, ccb, DecodeOpenType, &pvalue->parameters)) < 0) return stat;
    pvalue->m.parametersPresent = stat;
    return EndContents(pctxt, ccb);
}

namespace {

constexpr ASN1OCTET kSequenceOctet = 0x30, kSetOctet = 0x31, kObjidOctet = 0x06;

// Takes one element whose identifier is the single octet `id` and whose length is definite and
// in its shortest form, as DER writes them; false for any other form.
bool TakeDerElement(std::span<const ASN1OCTET> *pin, ASN1OCTET id,
                    std::span<const ASN1OCTET> *pelement, std::span<const ASN1OCTET> *pcontents)
{
    const std::span<const ASN1OCTET> in = *pin;
    if (in.size() < 2 || in[0] != id) return false;
    size_t length = in[1], header = 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || in.size() - 2 < count || in[2] == 0) return false;
        length = 0;
        for (size_t i = 0; i < count; i++)
            length = length << 8 | in[2 + i];
        if (length < 0x80) return false;
        header += count;
    }
    if (length > in.size() - header) return false;
    *pelement = in.first(header + length);
    *pcontents = in.subspan(header, length);
    *pin = in.subspan(header + length);
    return true;
}

// X.690, 11.6: SET OF elements ascend as octet strings, the shorter padded with zero octets.
bool PrecedesInSetOf(std::span<const ASN1OCTET> a, std::span<const ASN1OCTET> b)
{
    const size_t common = std::min(a.size(), b.size());
    if (const int order = common ? std::memcmp(a.data(), b.data(), common) : 0) return order < 0;
    const auto rest = b.subspan(common);
    return std::any_of(rest.begin(), rest.end(), [](ASN1OCTET octet) { return octet != 0; });
}

// Whether the octets a Name was decoded from are what encoding it would write: every
// SEQUENCE, SET and OBJECT IDENTIFIER header in its DER form and every relative
// distinguished name's elements already in DER order. The decoder has refused object
// identifiers that are not minimal; attribute values are written as they came either way.
bool IsDerName(std::span<const ASN1OCTET> in)
{
    std::span<const ASN1OCTET> element, rdns;
    if (!TakeDerElement(&in, kSequenceOctet, &element, &rdns) || !in.empty()) return false;
    while (!rdns.empty()) {
        std::span<const ASN1OCTET> attributes, previous;
        if (!TakeDerElement(&rdns, kSetOctet, &element, &attributes)) return false;
        while (!attributes.empty()) {
            std::span<const ASN1OCTET> attribute, contents, type, oid;
            if (!TakeDerElement(&attributes, kSequenceOctet, &attribute, &contents) ||
                !TakeDerElement(&contents, kObjidOctet, &type, &oid))
                return false;
            if (!previous.empty() && PrecedesInSetOf(attribute, previous)) return false;
            previous = attribute;
        }
    }
    return true;
}

} // namespace

// Name ::= CHOICE { rdnSequence RDNSequence }                      -- RFC 5280, 4.1.2.4
// A decoded name already in DER is written through: re-encoding it would give the same octets.
// The decoder keeps its octets only when they are DER, so each name is checked once however
// often it is written.
int asn1E_Name(Asn1Context *pctxt, Name *pvalue, ASN1TagType)
{
    if (pvalue->t != 1) return Fail(pctxt, ASN_E_INVOPT);
    if (pvalue->decodedFrom.data) return EncodeOpenType(pctxt, &pvalue->decodedFrom, ASN1EXPL);
    return EncodeAlternative(pctxt, asn1E_RDNSequence, pvalue->u.rdnSequence);
}

int asn1D_Name(Asn1Context *pctxt, Name *pvalue, ASN1TagType, int)
{
    const size_t start = pctxt->buffer.byteIndex;
    pvalue->decodedFrom = {};
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = ReadChoiceTag(pctxt, &tag, &len)) < 0) return stat;
    if (tag != kSequence) return UnknownAlternative(pctxt, tag);
    if ((stat = DecodeAlternative(pctxt, &pvalue->u.rdnSequence, asn1D_RDNSequence, len)) < 0)
        return stat;
    pvalue->t = 1;
    const std::span<const ASN1OCTET> octets(pctxt->buffer.data + start,
                                            pctxt->buffer.byteIndex - start);
    if (IsDerName(octets))
        pvalue->decodedFrom = {static_cast<ASN1UINT>(octets.size()), octets.data()};
    return 0;
}

// SubjectPublicKeyInfo ::= SEQUENCE {
//     algorithm         AlgorithmIdentifier,
//     subjectPublicKey  BIT STRING }                               -- RFC 5280, 4.1
int asn1E_SubjectPublicKeyInfo(Asn1Context *pctxt, SubjectPublicKeyInfo *pvalue,
                               ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = EncodeBits(pctxt, &pvalue->subjectPublicKey, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    if ((len = asn1E_AlgorithmIdentifier(pctxt, &pvalue->algorithm, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_SubjectPublicKeyInfo(Asn1Context *pctxt, SubjectPublicKeyInfo *pvalue,
                               ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, asn1D_AlgorithmIdentifier, &pvalue->algorithm)) < 0)
        return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeBits, &pvalue->subjectPublicKey)) < 0) return stat;
    return EndContents(pctxt, ccb);
}

// ---------------------------------------------------------------------- ORAddress
// RFC 5280, appendix A.1, with the upper bounds defined there.

// CountryName ::= [APPLICATION 1] CHOICE {
//     x121-dcc-code         NumericString (SIZE (ub-country-name-numeric-length)),
//     iso-3166-alpha2-code  PrintableString (SIZE (ub-country-name-alpha-length)) }
int asn1E_CountryName(Asn1Context *pctxt, CountryName *pvalue, ASN1TagType tagging)
{
    int len;
    switch (pvalue->t) {
    case 1:
        len = EncodeSizedText(pctxt, pvalue->u.x121_dcc_code, ASN1EXPL, ASN_ID_NumericString,
                              "pvalue->u.x121_dcc_code", 3, 3);
        break;
    case 2:
        len = EncodeSizedText(pctxt, pvalue->u.iso_3166_alpha2_code, ASN1EXPL,
                              ASN_ID_PrintableString, "pvalue->u.iso_3166_alpha2_code", 2, 2);
        break;
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, TM_APPL | TM_CONS | 1, len);
}

int asn1D_CountryName(Asn1Context *pctxt, CountryName *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = BeginTaggedChoice(pctxt, 0x41, tagging, length, &ccb, &tag, &len)) < 0) return stat;
    ASN1UINT t;
    switch (tag) {
    case ASN_ID_NumericString:
        t = 1;
        stat = DecodeSizedText(pctxt, &pvalue->u.x121_dcc_code, ASN1IMPL, ASN_ID_NumericString, len,
                               "pvalue->u.x121_dcc_code", 3, 3);
        break;
    case ASN_ID_PrintableString:
        t = 2;
        stat = DecodeSizedText(pctxt, &pvalue->u.iso_3166_alpha2_code, ASN1IMPL,
                               ASN_ID_PrintableString, len, "pvalue->u.iso_3166_alpha2_code", 2, 2);
        break;
    default:
        return UnknownAlternative(pctxt, tag);
    }
    if (stat < 0) return stat;
    pvalue->t = t;
    return EndContents(pctxt, ccb);
}

// AdministrationDomainName ::= [APPLICATION 2] CHOICE {
//     numeric    NumericString   (SIZE (0..ub-domain-name-length)),
//     printable  PrintableString (SIZE (0..ub-domain-name-length)) }
int asn1E_AdministrationDomainName(Asn1Context *pctxt, AdministrationDomainName *pvalue,
                                   ASN1TagType tagging)
{
    int len;
    switch (pvalue->t) {
    case 1:
        len = EncodeSizedText(pctxt, pvalue->u.numeric, ASN1EXPL, ASN_ID_NumericString,
                              "pvalue->u.numeric", 0, 16);
        break;
    case 2:
        len = EncodeSizedText(pctxt, pvalue->u.printable, ASN1EXPL, ASN_ID_PrintableString,
                              "pvalue->u.printable", 0, 16);
        break;
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, TM_APPL | TM_CONS | 2, len);
}

int asn1D_AdministrationDomainName(Asn1Context *pctxt, AdministrationDomainName *pvalue,
                                   ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = BeginTaggedChoice(pctxt, 0x42, tagging, length, &ccb, &tag, &len)) < 0) return stat;
    ASN1UINT t;
    switch (tag) {
    case ASN_ID_NumericString:
        t = 1;
        stat = DecodeSizedText(pctxt, &pvalue->u.numeric, ASN1IMPL, ASN_ID_NumericString, len,
                               "pvalue->u.numeric", 0, 16);
        break;
    case ASN_ID_PrintableString:
        t = 2;
        stat = DecodeSizedText(pctxt, &pvalue->u.printable, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->u.printable", 0, 16);
        break;
    default:
        return UnknownAlternative(pctxt, tag);
    }
    if (stat < 0) return stat;
    pvalue->t = t;
    return EndContents(pctxt, ccb);
}

// PrivateDomainName ::= CHOICE {
//     numeric    NumericString   (SIZE (1..ub-domain-name-length)),
//     printable  PrintableString (SIZE (1..ub-domain-name-length)) }
int asn1E_PrivateDomainName(Asn1Context *pctxt, PrivateDomainName *pvalue, ASN1TagType)
{
    switch (pvalue->t) {
    case 1:
        return EncodeSizedText(pctxt, pvalue->u.numeric, ASN1EXPL, ASN_ID_NumericString,
                               "pvalue->u.numeric", 1, 16);
    case 2:
        return EncodeSizedText(pctxt, pvalue->u.printable, ASN1EXPL, ASN_ID_PrintableString,
                               "pvalue->u.printable", 1, 16);
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
}

int asn1D_PrivateDomainName(Asn1Context *pctxt, PrivateDomainName *pvalue, ASN1TagType, int)
{
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = ReadChoiceTag(pctxt, &tag, &len)) < 0) return stat;
    ASN1UINT t;
    switch (tag) {
    case ASN_ID_NumericString:
        t = 1;
        stat = DecodeSizedText(pctxt, &pvalue->u.numeric, ASN1IMPL, ASN_ID_NumericString, len,
                               "pvalue->u.numeric", 1, 16);
        break;
    case ASN_ID_PrintableString:
        t = 2;
        stat = DecodeSizedText(pctxt, &pvalue->u.printable, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->u.printable", 1, 16);
        break;
    default:
        return UnknownAlternative(pctxt, tag);
    }
    if (stat < 0) return stat;
    pvalue->t = t;
    return 0;
}

// PersonalName ::= SET {
//     surname               [0] IMPLICIT PrintableString (SIZE (1..ub-surname-length)),
//     given-name            [1] IMPLICIT PrintableString (SIZE (1..ub-given-name-length))
//                               OPTIONAL,
//     initials              [2] IMPLICIT PrintableString (SIZE (1..ub-initials-length))
//                               OPTIONAL,
//     generation-qualifier  [3] IMPLICIT PrintableString
//                               (SIZE (1..ub-generation-qualifier-length)) OPTIONAL }
static int EncodePersonalNamePart(Asn1Context *pctxt, const char *text, ASN1TAG n,
                                  const char *field, size_t upper)
{
    const int len = EncodeSizedText(pctxt, text, ASN1IMPL, ASN_ID_PrintableString, field, 1, upper);
    return len < 0 ? len : WrapIfExplicit(pctxt, ASN1EXPL, ContextPrimitive(n), len);
}

int asn1E_PersonalName(Asn1Context *pctxt, PersonalName *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.generation_qualifierPresent) {
        if ((len = EncodePersonalNamePart(pctxt, pvalue->generation_qualifier, 3,
                                          "pvalue->generation_qualifier", 3)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.initialsPresent) {
        if ((len = EncodePersonalNamePart(pctxt, pvalue->initials, 2, "pvalue->initials", 5)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.given_namePresent) {
        if ((len = EncodePersonalNamePart(pctxt, pvalue->given_name, 1, "pvalue->given_name", 16)) <
            0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = EncodePersonalNamePart(pctxt, pvalue->surname, 0, "pvalue->surname", 40)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSet, total);
}

// One component of the SET, whichever place it has: -7 when met twice, -9 when the tag
// names no component.
static int DecodePersonalNamePart(Asn1Context *pctxt, PersonalName *pvalue, ASN1TAG tag, int len,
                                  bool *psurnameSeen)
{
    switch (tag & ~TM_CONS) {
    case ContextPrimitive(0):
        if (*psurnameSeen) return Fail(pctxt, ASN_E_SETDUPL);
        *psurnameSeen = true;
        return DecodeSizedText(pctxt, &pvalue->surname, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->surname", 1, 40);
    case ContextPrimitive(1):
        if (pvalue->m.given_namePresent) return Fail(pctxt, ASN_E_SETDUPL);
        pvalue->m.given_namePresent = 1;
        return DecodeSizedText(pctxt, &pvalue->given_name, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->given_name", 1, 16);
    case ContextPrimitive(2):
        if (pvalue->m.initialsPresent) return Fail(pctxt, ASN_E_SETDUPL);
        pvalue->m.initialsPresent = 1;
        return DecodeSizedText(pctxt, &pvalue->initials, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->initials", 1, 5);
    case ContextPrimitive(3):
        if (pvalue->m.generation_qualifierPresent) return Fail(pctxt, ASN_E_SETDUPL);
        pvalue->m.generation_qualifierPresent = 1;
        return DecodeSizedText(pctxt, &pvalue->generation_qualifier, ASN1IMPL,
                               ASN_ID_PrintableString, len, "pvalue->generation_qualifier", 1, 3);
    default:
        xu_addTagErrParm(&pctxt->errInfo, tag);
        return Fail(pctxt, ASN_E_NOTINSET);
    }
}

int asn1D_PersonalName(Asn1Context *pctxt, PersonalName *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SET, tagging, length, &ccb)) < 0) return stat;
    ClearPresence(&pvalue->m);
    bool surnameSeen = false;
    while (xd_chkend(pctxt, &ccb)) {
        ASN1TAG tag = 0;
        int len = 0;
        if ((stat = xd_tag_len(pctxt, &tag, &len, XM_ADVANCE)) < 0) return Fail(pctxt, stat);
        if ((stat = DecodePersonalNamePart(pctxt, pvalue, tag, len, &surnameSeen)) < 0) return stat;
    }
    if (!surnameSeen) return Fail(pctxt, ASN_E_SETMISRQ);
    return EndContents(pctxt, ccb);
}

// OrganizationalUnitNames ::= SEQUENCE SIZE (1..ub-organizational-units) OF
//                                 OrganizationalUnitName
int asn1E_OrganizationalUnitNames(Asn1Context *pctxt, OrganizationalUnitNames *pvalue,
                                  ASN1TagType tagging)
{
    int stat = CheckRange(pctxt, "pvalue->n", pvalue->n, 1, 4);
    if (stat < 0) return stat;
    int total = 0;
    for (ASN1UINT i = pvalue->n; i-- > 0;) {
        if ((stat = asn1E_OrganizationalUnitName(pctxt, &pvalue->elem[i], ASN1EXPL)) < 0)
            return Fail(pctxt, stat);
        total += stat;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_OrganizationalUnitNames(Asn1Context *pctxt, OrganizationalUnitNames *pvalue,
                                  ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    pvalue->n = 0;
    while (xd_chkend(pctxt, &ccb)) {
        if (pvalue->n == sizeof pvalue->elem / sizeof pvalue->elem[0])
            return Fail(pctxt, ASN_E_SEQOVFLW);
        if ((stat = asn1D_OrganizationalUnitName(pctxt, &pvalue->elem[pvalue->n], ASN1EXPL, 0)) < 0)
            return Fail(pctxt, stat);
        pvalue->n++;
    }
    if ((stat = xd_endcons(pctxt, &ccb)) < 0) return Fail(pctxt, stat);
    return CheckRange(pctxt, "pvalue->n", pvalue->n, 1, 4);
}

// BuiltInStandardAttributes ::= SEQUENCE {
//     country-name                  CountryName OPTIONAL,
//     administration-domain-name    AdministrationDomainName OPTIONAL,
//     network-address           [0] IMPLICIT NetworkAddress OPTIONAL,
//     terminal-identifier       [1] IMPLICIT TerminalIdentifier OPTIONAL,
//     private-domain-name       [2] PrivateDomainName OPTIONAL,
//     organization-name         [3] IMPLICIT OrganizationName OPTIONAL,
//     numeric-user-identifier   [4] IMPLICIT NumericUserIdentifier OPTIONAL,
//     personal-name             [5] IMPLICIT PersonalName OPTIONAL,
//     organizational-unit-names [6] IMPLICIT OrganizationalUnitNames OPTIONAL }
int asn1E_BuiltInStandardAttributes(Asn1Context *pctxt, BuiltInStandardAttributes *pvalue,
                                    ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.organizational_unit_namesPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_OrganizationalUnitNames,
                                  &pvalue->organizational_unit_names, ContextConstructed(6))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.personal_namePresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_PersonalName, &pvalue->personal_name,
                                  ContextConstructed(5))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.numeric_user_identifierPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_NumericUserIdentifier,
                                  &pvalue->numeric_user_identifier, ContextPrimitive(4))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.organization_namePresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_OrganizationName, &pvalue->organization_name,
                                  ContextPrimitive(3))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.private_domain_namePresent) {
        if ((len = EncodeExplicit(pctxt, asn1E_PrivateDomainName, &pvalue->private_domain_name,
                                  2)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.terminal_identifierPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_TerminalIdentifier, &pvalue->terminal_identifier,
                                  ContextPrimitive(1))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.network_addressPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_NetworkAddress, &pvalue->network_address,
                                  ContextPrimitive(0))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.administration_domain_namePresent) {
        if ((len = asn1E_AdministrationDomainName(pctxt, &pvalue->administration_domain_name,
                                                  ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.country_namePresent) {
        if ((len = asn1E_CountryName(pctxt, &pvalue->country_name, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_BuiltInStandardAttributes(Asn1Context *pctxt, BuiltInStandardAttributes *pvalue,
                                    ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    auto *p = pvalue;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_CountryName, &p->country_name)) < 0) return found;
    p->m.country_namePresent = found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_AdministrationDomainName,
                                &p->administration_domain_name)) < 0)
        return found;
    p->m.administration_domain_namePresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 0, asn1D_NetworkAddress, &p->network_address)) < 0)
        return found;
    p->m.network_addressPresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 1, asn1D_TerminalIdentifier, &p->terminal_identifier)) <
        0)
        return found;
    p->m.terminal_identifierPresent = found;
    if ((found = DecodeExplicit(pctxt, ccb, 2, asn1D_PrivateDomainName, &p->private_domain_name)) <
        0)
        return found;
    p->m.private_domain_namePresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 3, asn1D_OrganizationName, &p->organization_name)) < 0)
        return found;
    p->m.organization_namePresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 4, asn1D_NumericUserIdentifier,
                                &p->numeric_user_identifier)) < 0)
        return found;
    p->m.numeric_user_identifierPresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 5, asn1D_PersonalName, &p->personal_name)) < 0)
        return found;
    p->m.personal_namePresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 6, asn1D_OrganizationalUnitNames,
                                &p->organizational_unit_names)) < 0)
        return found;
    p->m.organizational_unit_namesPresent = found;
    return EndContents(pctxt, ccb);
}

// BuiltInDomainDefinedAttribute ::= SEQUENCE {
//     type   PrintableString (SIZE (1..ub-domain-defined-attribute-type-length)),
//     value  PrintableString (SIZE (1..ub-domain-defined-attribute-value-length)) }
int asn1E_BuiltInDomainDefinedAttribute(Asn1Context *pctxt, BuiltInDomainDefinedAttribute *pvalue,
                                        ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = EncodeSizedText(pctxt, pvalue->value, ASN1EXPL, ASN_ID_PrintableString,
                               "pvalue->value", 1, 128)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeSizedText(pctxt, pvalue->type, ASN1EXPL, ASN_ID_PrintableString,
                               "pvalue->type", 1, 8)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

static int DecodeDomainAttributeType(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging,
                                     int length)
{
    return DecodeSizedText(pctxt, ptext, tagging, ASN_ID_PrintableString, length, "pvalue->type", 1,
                           8);
}

static int DecodeDomainAttributeValue(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging,
                                      int length)
{
    return DecodeSizedText(pctxt, ptext, tagging, ASN_ID_PrintableString, length, "pvalue->value",
                           1, 128);
}

int asn1D_BuiltInDomainDefinedAttribute(Asn1Context *pctxt, BuiltInDomainDefinedAttribute *pvalue,
                                        ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeDomainAttributeType, &pvalue->type)) < 0)
        return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeDomainAttributeValue, &pvalue->value)) < 0)
        return stat;
    return EndContents(pctxt, ccb);
}

// BuiltInDomainDefinedAttributes ::= SEQUENCE SIZE (1..ub-domain-defined-attributes) OF
//                                        BuiltInDomainDefinedAttribute
int asn1E_BuiltInDomainDefinedAttributes(Asn1Context *pctxt, BuiltInDomainDefinedAttributes *pvalue,
                                         ASN1TagType tagging)
{
    const int stat = CheckRange(pctxt, "pvalue->count", pvalue->count, 1, 4);
    if (stat < 0) return stat;
    return EncodeSequenceOf(pctxt, asn1E_BuiltInDomainDefinedAttribute, pvalue, tagging);
}

int asn1D_BuiltInDomainDefinedAttributes(Asn1Context *pctxt, BuiltInDomainDefinedAttributes *pvalue,
                                         ASN1TagType tagging, int length)
{
    const int stat =
        DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_BuiltInDomainDefinedAttribute, pvalue);
    return stat < 0 ? stat : CheckRange(pctxt, "pvalue->count", pvalue->count, 1, 4);
}

static int EncodeUint16(Asn1Context *pctxt, ASN1USINT *pvalue, ASN1TagType tagging)
{
    const int len = xe_uint16(pctxt, pvalue, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

// ExtensionAttribute ::= SEQUENCE {
//     extension-attribute-type   [0] IMPLICIT INTEGER (0..ub-extension-attributes),
//     extension-attribute-value  [1] ANY DEFINED BY extension-attribute-type }
int asn1E_ExtensionAttribute(Asn1Context *pctxt, ExtensionAttribute *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = CheckRange(pctxt, "pvalue->extension_attribute_type",
                          pvalue->extension_attribute_type, 0, 256)) < 0)
        return len;
    if ((len = EncodeExplicit(pctxt, EncodeOpenType, &pvalue->extension_attribute_value, 1)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeImplicit(pctxt, EncodeUint16, &pvalue->extension_attribute_type,
                              ContextPrimitive(0))) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

static int DecodeUint16(Asn1Context *pctxt, ASN1USINT *pvalue, ASN1TagType tagging, int length)
{
    const int stat = xd_uint16(pctxt, pvalue, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

int asn1D_ExtensionAttribute(Asn1Context *pctxt, ExtensionAttribute *pvalue, ASN1TagType tagging,
                             int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    stat = DecodeImplicit(pctxt, ccb, 0, DecodeUint16, &pvalue->extension_attribute_type);
    if ((stat = Required(pctxt, stat)) < 0) return stat;
    if ((stat = CheckRange(pctxt, "pvalue->extension_attribute_type",
                           pvalue->extension_attribute_type, 0, 256)) < 0)
        return stat;
    stat = DecodeExplicit(pctxt, ccb, 1, DecodeOpenType, &pvalue->extension_attribute_value);
    if ((stat = Required(pctxt, stat)) < 0) return stat;
    return EndContents(pctxt, ccb);
}

// ExtensionAttributes ::= SET SIZE (1..ub-extension-attributes) OF ExtensionAttribute
int asn1E_ExtensionAttributes(Asn1Context *pctxt, ExtensionAttributes *pvalue, ASN1TagType tagging)
{
    const int stat = CheckRange(pctxt, "pvalue->count", pvalue->count, 1, 256);
    if (stat < 0) return stat;
    const int len = EncodeSetOf(pctxt, asn1E_ExtensionAttribute, pvalue);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, kSet, len);
}

int asn1D_ExtensionAttributes(Asn1Context *pctxt, ExtensionAttributes *pvalue, ASN1TagType tagging,
                              int length)
{
    const int stat =
        DecodeList(pctxt, ASN_ID_SET, tagging, length, asn1D_ExtensionAttribute, pvalue);
    return stat < 0 ? stat : CheckRange(pctxt, "pvalue->count", pvalue->count, 1, 256);
}

// ORAddress ::= SEQUENCE {
//     built-in-standard-attributes        BuiltInStandardAttributes,
//     built-in-domain-defined-attributes  BuiltInDomainDefinedAttributes OPTIONAL,
//     extension-attributes                ExtensionAttributes OPTIONAL }
int asn1E_ORAddress(Asn1Context *pctxt, ORAddress *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.extension_attributesPresent) {
        if ((len = asn1E_ExtensionAttributes(pctxt, &pvalue->extension_attributes, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.built_in_domain_defined_attributesPresent) {
        if ((len = asn1E_BuiltInDomainDefinedAttributes(
                 pctxt, &pvalue->built_in_domain_defined_attributes, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_BuiltInStandardAttributes(pctxt, &pvalue->built_in_standard_attributes,
                                               ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_ORAddress(Asn1Context *pctxt, ORAddress *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_BuiltInStandardAttributes,
                                &pvalue->built_in_standard_attributes)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_BuiltInDomainDefinedAttributes,
                                &pvalue->built_in_domain_defined_attributes)) < 0)
        return found;
    pvalue->m.built_in_domain_defined_attributesPresent = found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_ExtensionAttributes,
                                &pvalue->extension_attributes)) < 0)
        return found;
    pvalue->m.extension_attributesPresent = found;
    return EndContents(pctxt, ccb);
}
