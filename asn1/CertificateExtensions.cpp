// CertificateExtensions: general names, CRL distribution points, private-key usage period
// and certificate policies, as in RFC 5280's implicitly tagged module (appendix A.2).
#include "asn1/Asn1Codec.h"

using namespace asn1codec;

// CertPolicyId ::= OBJECT IDENTIFIER                               -- RFC 5280, 4.2.1.4
int asn1E_CertPolicyId(Asn1Context *pctxt, CertPolicyId *pvalue, ASN1TagType tagging)
{
    return EncodeObjid(pctxt, pvalue, tagging);
}

int asn1D_CertPolicyId(Asn1Context *pctxt, CertPolicyId *pvalue, ASN1TagType tagging, int length)
{
    return DecodeObjid(pctxt, pvalue, tagging, length);
}

// ReasonFlags ::= BIT STRING { unused (0), ..., aACompromise (8) }  -- RFC 5280, 4.2.1.13
int asn1E_ReasonFlags(Asn1Context *pctxt, ReasonFlags *pvalue, ASN1TagType tagging)
{
    int len = CheckRange(pctxt, "pvalue->numbits", pvalue->numbits, 0, 8 * sizeof pvalue->data);
    if (len < 0) return len;
    len = xe_bitstr(pctxt, pvalue->data, pvalue->numbits, tagging);
    return len < 0 ? Fail(pctxt, len) : len;
}

int asn1D_ReasonFlags(Asn1Context *pctxt, ReasonFlags *pvalue, ASN1TagType tagging, int length)
{
    pvalue->numbits = 9; // the named bits
    const int stat = xd_bitstr_s(pctxt, pvalue->data, &pvalue->numbits, tagging, length);
    return stat < 0 ? Fail(pctxt, stat) : 0;
}

// AnotherName ::= SEQUENCE {
//     type-id  OBJECT IDENTIFIER,
//     value    [0] EXPLICIT ANY DEFINED BY type-id }              -- RFC 5280, 4.2.1.6
int asn1E_GeneralName_otherName(Asn1Context *pctxt, GeneralName_otherName *pvalue,
                                ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = EncodeExplicit(pctxt, EncodeOpenType, &pvalue->value, 0)) < 0)
        return Fail(pctxt, len);
    total += len;
    if ((len = EncodeObjid(pctxt, &pvalue->type_id, ASN1EXPL)) < 0) return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_GeneralName_otherName(Asn1Context *pctxt, GeneralName_otherName *pvalue,
                                ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int stat;
    if ((stat = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return stat;
    if ((stat = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->type_id)) < 0) return stat;
    stat = DecodeExplicit(pctxt, ccb, 0, DecodeOpenType, &pvalue->value);
    if ((stat = Required(pctxt, stat)) < 0) return stat;
    return EndContents(pctxt, ccb);
}

// ---------------------------------------------------------------------- EDIPartyName
// DirectoryString ::= CHOICE {
//     teletexString    TeletexString   (SIZE (1..MAX)),
//     printableString  PrintableString (SIZE (1..MAX)),
//     universalString  UniversalString (SIZE (1..MAX)),
//     utf8String       UTF8String      (SIZE (1..MAX)),
//     bmpString        BMPString       (SIZE (1..MAX)) }            -- RFC 5280, 4.1.2.4
// held with the alternatives numbered 1 utf8String, 2 printableString, 3 teletexString,
// 4 universalString, 5 bmpString, and bounded by ub-name (32768 characters).

constexpr long kMaxNameChars = 32768;

template <typename DirectoryString>
static int EncodeDirectoryString(Asn1Context *pctxt, DirectoryString *pvalue)
{
    auto *u = &pvalue->u;
    int len;
    switch (pvalue->t) {
    case 1:
        if (!u->utf8String) return Fail(pctxt, ASN_E_INVPARAM);
        len = CheckRange(pctxt, "pvalue->u.utf8String", rtUTF8Len(u->utf8String), 1, kMaxNameChars);
        return len < 0 ? len : EncodeText(pctxt, u->utf8String, ASN1EXPL, ASN_ID_UTF8String);
    case 2:
        return EncodeSizedText(pctxt, u->printableString, ASN1EXPL, ASN_ID_PrintableString,
                               "pvalue->u.printableString", 1, kMaxNameChars);
    case 3:
        return EncodeSizedText(pctxt, u->teletexString, ASN1EXPL, ASN_ID_TeletexString,
                               "pvalue->u.teletexString", 1, kMaxNameChars);
    case 4:
        if ((len = CheckRange(pctxt, "pvalue->u.universalString.nchars", u->universalString.nchars,
                              1, kMaxNameChars)) < 0)
            return len;
        len = xe_32BitCharStr(pctxt, &u->universalString, ASN1EXPL, ASN_ID_UniversalString);
        return len < 0 ? Fail(pctxt, len) : len;
    case 5:
        if ((len = CheckRange(pctxt, "pvalue->u.bmpString.nchars", u->bmpString.nchars, 1,
                              kMaxNameChars)) < 0)
            return len;
        len = xe_16BitCharStr(pctxt, &u->bmpString, ASN1EXPL, ASN_ID_BMPString);
        return len < 0 ? Fail(pctxt, len) : len;
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
}

// The alternative named by `tag`, whose identifier and length `len` were consumed; gives
// the alternative number or a failure.
template <typename DirectoryString>
static int DecodeDirectoryString(Asn1Context *pctxt, DirectoryString *pvalue, ASN1TAG tag, int len)
{
    auto *u = &pvalue->u;
    int stat;
    switch (tag) {
    case ASN_ID_UTF8String:
        if ((stat = DecodeText(pctxt, &u->utf8String, ASN1IMPL, ASN_ID_UTF8String, len)) < 0)
            return stat;
        stat =
            CheckRange(pctxt, "pvalue->u.utf8String", rtUTF8Len(u->utf8String), 1, kMaxNameChars);
        return stat < 0 ? stat : 1;
    case ASN_ID_PrintableString:
        stat = DecodeSizedText(pctxt, &u->printableString, ASN1IMPL, ASN_ID_PrintableString, len,
                               "pvalue->u.printableString", 1, kMaxNameChars);
        return stat < 0 ? stat : 2;
    case ASN_ID_TeletexString:
        stat = DecodeSizedText(pctxt, &u->teletexString, ASN1IMPL, ASN_ID_TeletexString, len,
                               "pvalue->u.teletexString", 1, kMaxNameChars);
        return stat < 0 ? stat : 3;
    case ASN_ID_UniversalString:
        if ((stat = xd_32BitCharStr(pctxt, &u->universalString, ASN1IMPL, ASN_ID_UniversalString,
                                    len)) < 0)
            return Fail(pctxt, stat);
        stat = CheckRange(pctxt, "pvalue->u.universalString.nchars", u->universalString.nchars, 1,
                          kMaxNameChars);
        return stat < 0 ? stat : 4;
    case ASN_ID_BMPString:
        if ((stat = xd_16BitCharStr(pctxt, &u->bmpString, ASN1IMPL, ASN_ID_BMPString, len)) < 0)
            return Fail(pctxt, stat);
        stat =
            CheckRange(pctxt, "pvalue->u.bmpString.nchars", u->bmpString.nchars, 1, kMaxNameChars);
        return stat < 0 ? stat : 5;
    default:
        return UnknownAlternative(pctxt, tag);
    }
}

// [n] DirectoryString: the CHOICE under its own explicit tag.
template <typename DirectoryString>
static int DecodeTaggedDirectoryString(Asn1Context *pctxt, DirectoryString *pvalue, ASN1OCTET n,
                                       ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = BeginTaggedChoice(pctxt, 0x80 | n, tagging, length, &ccb, &tag, &len)) < 0)
        return stat;
    const int t = DecodeDirectoryString(pctxt, pvalue, tag, len);
    if (t < 0) return t;
    pvalue->t = static_cast<ASN1UINT>(t);
    return EndContents(pctxt, ccb);
}

int asn1E_EDIPartyName_nameAssigner(Asn1Context *pctxt, EDIPartyName_nameAssigner *pvalue,
                                    ASN1TagType tagging)
{
    const int len = EncodeDirectoryString(pctxt, pvalue);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, ContextConstructed(0), len);
}

int asn1D_EDIPartyName_nameAssigner(Asn1Context *pctxt, EDIPartyName_nameAssigner *pvalue,
                                    ASN1TagType tagging, int length)
{
    return DecodeTaggedDirectoryString(pctxt, pvalue, 0, tagging, length);
}

int asn1E_EDIPartyName_partyName(Asn1Context *pctxt, EDIPartyName_partyName *pvalue,
                                 ASN1TagType tagging)
{
    const int len = EncodeDirectoryString(pctxt, pvalue);
    return len < 0 ? len : WrapIfExplicit(pctxt, tagging, ContextConstructed(1), len);
}

int asn1D_EDIPartyName_partyName(Asn1Context *pctxt, EDIPartyName_partyName *pvalue,
                                 ASN1TagType tagging, int length)
{
    return DecodeTaggedDirectoryString(pctxt, pvalue, 1, tagging, length);
}

// EDIPartyName ::= SEQUENCE {
//     nameAssigner  [0] DirectoryString OPTIONAL,
//     partyName     [1] DirectoryString }                         -- RFC 5280, 4.2.1.6
int asn1E_EDIPartyName(Asn1Context *pctxt, EDIPartyName *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if ((len = asn1E_EDIPartyName_partyName(pctxt, &pvalue->partyName, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    if (pvalue->m.nameAssignerPresent) {
        if ((len = asn1E_EDIPartyName_nameAssigner(pctxt, &pvalue->nameAssigner, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_EDIPartyName(Asn1Context *pctxt, EDIPartyName *pvalue, ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeOptional(pctxt, ccb, asn1D_EDIPartyName_nameAssigner,
                                &pvalue->nameAssigner)) < 0)
        return found;
    pvalue->m.nameAssignerPresent = found;
    if ((found = DecodeRequired(pctxt, ccb, asn1D_EDIPartyName_partyName, &pvalue->partyName)) < 0)
        return found;
    return EndContents(pctxt, ccb);
}

// ---------------------------------------------------------------------- GeneralName
// GeneralName ::= CHOICE {
//     otherName                  [0] AnotherName,
//     rfc822Name                 [1] IA5String,
//     dNSName                    [2] IA5String,
//     x400Address                [3] ORAddress,
//     directoryName              [4] Name,
//     ediPartyName               [5] EDIPartyName,
//     uniformResourceIdentifier  [6] IA5String,
//     iPAddress                  [7] OCTET STRING,
//     registeredID               [8] OBJECT IDENTIFIER }          -- RFC 5280, 4.2.1.6
// Implicit tags, except [4] which is explicit because Name is a CHOICE.
int asn1E_GeneralName(Asn1Context *pctxt, GeneralName *pvalue, ASN1TagType)
{
    auto *u = &pvalue->u;
    switch (pvalue->t) {
    case T_GeneralName_otherName:
        return EncodeImplicit(pctxt, asn1E_GeneralName_otherName, u->otherName,
                              ContextConstructed(0));
    case T_GeneralName_rfc822Name:
        return EncodeImplicitText(pctxt, u->rfc822Name, ASN_ID_IA5String, 1);
    case T_GeneralName_dNSName:
        return EncodeImplicitText(pctxt, u->dNSName, ASN_ID_IA5String, 2);
    case T_GeneralName_x400Address:
        return EncodeImplicit(pctxt, asn1E_ORAddress, u->x400Address, ContextConstructed(3));
    case T_GeneralName_directoryName:
        return EncodeExplicit(pctxt, asn1E_Name, u->directoryName, 4);
    case T_GeneralName_ediPartyName:
        return EncodeImplicit(pctxt, asn1E_EDIPartyName, u->ediPartyName, ContextConstructed(5));
    case T_GeneralName_uniformResourceIdentifier:
        return EncodeImplicitText(pctxt, u->uniformResourceIdentifier, ASN_ID_IA5String, 6);
    case T_GeneralName_iPAddress:
        return EncodeImplicit(pctxt, EncodeDynOctets, u->iPAddress, ContextPrimitive(7));
    case T_GeneralName_registeredID:
        return EncodeImplicit(pctxt, EncodeObjid, u->registeredID, ContextPrimitive(8));
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
}

// The alternative named by `tag`; gives its number or a failure.
static int DecodeGeneralNameAlternative(Asn1Context *pctxt, GeneralName *pvalue, ASN1TAG tag,
                                        int len)
{
    auto *u = &pvalue->u;
    int stat;
    switch (tag) {
    case ContextConstructed(0):
        stat = DecodeAlternative(pctxt, &u->otherName, asn1D_GeneralName_otherName, len);
        return stat < 0 ? stat : T_GeneralName_otherName;
    case ContextPrimitive(1):
        stat = DecodeText(pctxt, &u->rfc822Name, ASN1IMPL, ASN_ID_IA5String, len);
        return stat < 0 ? stat : T_GeneralName_rfc822Name;
    case ContextPrimitive(2):
        stat = DecodeText(pctxt, &u->dNSName, ASN1IMPL, ASN_ID_IA5String, len);
        return stat < 0 ? stat : T_GeneralName_dNSName;
    case ContextConstructed(3):
        stat = DecodeAlternative(pctxt, &u->x400Address, asn1D_ORAddress, len);
        return stat < 0 ? stat : T_GeneralName_x400Address;
    case ContextConstructed(4):
        stat = DecodeExplicitAlternative(pctxt, &u->directoryName, asn1D_Name, len);
        return stat < 0 ? stat : T_GeneralName_directoryName;
    case ContextConstructed(5):
        stat = DecodeAlternative(pctxt, &u->ediPartyName, asn1D_EDIPartyName, len);
        return stat < 0 ? stat : T_GeneralName_ediPartyName;
    case ContextPrimitive(6):
        stat = DecodeText(pctxt, &u->uniformResourceIdentifier, ASN1IMPL, ASN_ID_IA5String, len);
        return stat < 0 ? stat : T_GeneralName_uniformResourceIdentifier;
    case ContextPrimitive(7):
        stat = DecodeAlternative(pctxt, &u->iPAddress, DecodeOctets, len);
        return stat < 0 ? stat : T_GeneralName_iPAddress;
    case ContextPrimitive(8):
        stat = DecodeAlternative(pctxt, &u->registeredID, DecodeObjid, len);
        return stat < 0 ? stat : T_GeneralName_registeredID;
    default:
        return UnknownAlternative(pctxt, tag);
    }
}

int asn1D_GeneralName(Asn1Context *pctxt, GeneralName *pvalue, ASN1TagType, int)
{
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = ReadChoiceTag(pctxt, &tag, &len)) < 0) return stat;
    const int t = DecodeGeneralNameAlternative(pctxt, pvalue, tag, len);
    if (t < 0) return t;
    pvalue->t = static_cast<ASN1UINT>(t);
    return 0;
}

// GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName; the size is left to the caller.
int asn1E_GeneralNames(Asn1Context *pctxt, GeneralNames *pvalue, ASN1TagType tagging)
{
    return EncodeSequenceOf(pctxt, asn1E_GeneralName, pvalue, tagging);
}

int asn1D_GeneralNames(Asn1Context *pctxt, GeneralNames *pvalue, ASN1TagType tagging, int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_GeneralName, pvalue);
}

// ---------------------------------------------------------------------- CRL distribution points
// DistributionPointName ::= CHOICE {
//     fullName                 [0] GeneralNames,
//     nameRelativeToCRLIssuer  [1] RelativeDistinguishedName }    -- RFC 5280, 4.2.1.13
int asn1E_DistributionPointName(Asn1Context *pctxt, DistributionPointName *pvalue, ASN1TagType)
{
    switch (pvalue->t) {
    case T_DistributionPointName_fullName:
        return EncodeImplicit(pctxt, asn1E_GeneralNames, pvalue->u.fullName, ContextConstructed(0));
    case T_DistributionPointName_nameRelativeToCRLIssuer:
        return EncodeImplicit(pctxt, asn1E_RelativeDistinguishedName,
                              pvalue->u.nameRelativeToCRLIssuer, ContextConstructed(1));
    default:
        return Fail(pctxt, ASN_E_INVOPT);
    }
}

int asn1D_DistributionPointName(Asn1Context *pctxt, DistributionPointName *pvalue, ASN1TagType, int)
{
    ASN1TAG tag = 0;
    int len = 0, stat;
    if ((stat = ReadChoiceTag(pctxt, &tag, &len)) < 0) return stat;
    ASN1UINT t;
    switch (tag) {
    case ContextConstructed(0):
        t = T_DistributionPointName_fullName;
        stat = DecodeAlternative(pctxt, &pvalue->u.fullName, asn1D_GeneralNames, len);
        break;
    case ContextConstructed(1):
        t = T_DistributionPointName_nameRelativeToCRLIssuer;
        stat = DecodeAlternative(pctxt, &pvalue->u.nameRelativeToCRLIssuer,
                                 asn1D_RelativeDistinguishedName, len);
        break;
    default:
        return UnknownAlternative(pctxt, tag);
    }
    if (stat < 0) return stat;
    pvalue->t = t;
    return 0;
}

// DistributionPoint ::= SEQUENCE {
//     distributionPoint  [0] DistributionPointName OPTIONAL,
//     reasons            [1] ReasonFlags OPTIONAL,
//     cRLIssuer          [2] GeneralNames OPTIONAL }              -- RFC 5280, 4.2.1.13
int asn1E_DistributionPoint(Asn1Context *pctxt, DistributionPoint *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.cRLIssuerPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_GeneralNames, &pvalue->cRLIssuer,
                                  ContextConstructed(2))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.reasonsPresent) {
        if ((len = EncodeImplicit(pctxt, asn1E_ReasonFlags, &pvalue->reasons,
                                  ContextPrimitive(1))) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.distributionPointPresent) {
        if ((len = EncodeExplicit(pctxt, asn1E_DistributionPointName, &pvalue->distributionPoint,
                                  0)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_DistributionPoint(Asn1Context *pctxt, DistributionPoint *pvalue, ASN1TagType tagging,
                            int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeExplicit(pctxt, ccb, 0, asn1D_DistributionPointName,
                                &pvalue->distributionPoint)) < 0)
        return found;
    pvalue->m.distributionPointPresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 1, asn1D_ReasonFlags, &pvalue->reasons)) < 0)
        return found;
    pvalue->m.reasonsPresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 2, asn1D_GeneralNames, &pvalue->cRLIssuer)) < 0)
        return found;
    pvalue->m.cRLIssuerPresent = found;
    return EndContents(pctxt, ccb);
}

// CRLDistributionPoints ::= SEQUENCE SIZE (1..MAX) OF DistributionPoint
// An empty list is refused when encoding and accepted when decoding.
int asn1E_CRLDistPointsSyntax(Asn1Context *pctxt, CRLDistPointsSyntax *pvalue, ASN1TagType tagging)
{
    if (pvalue->count < 1) return ConstraintViolated(pctxt, "pvalue->count", pvalue->count);
    return EncodeSequenceOf(pctxt, asn1E_DistributionPoint, pvalue, tagging);
}

int asn1D_CRLDistPointsSyntax(Asn1Context *pctxt, CRLDistPointsSyntax *pvalue, ASN1TagType tagging,
                              int length)
{
    return DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_DistributionPoint, pvalue);
}

// ---------------------------------------------------------------------- usage period
// PrivateKeyUsagePeriod ::= SEQUENCE {
//     notBefore  [0] GeneralizedTime OPTIONAL,
//     notAfter   [1] GeneralizedTime OPTIONAL }                   -- RFC 3280, 4.2.1.4
int asn1E_PrivateKeyUsagePeriod(Asn1Context *pctxt, PrivateKeyUsagePeriod *pvalue,
                                ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.notAfterPresent) {
        if ((len = EncodeImplicitText(pctxt, pvalue->notAfter, ASN_ID_GeneralTime, 1)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if (pvalue->m.notBeforePresent) {
        if ((len = EncodeImplicitText(pctxt, pvalue->notBefore, ASN_ID_GeneralTime, 0)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

static int DecodeGeneralizedTime(Asn1Context *pctxt, const char **ptext, ASN1TagType tagging,
                                 int length)
{
    return DecodeText(pctxt, ptext, tagging, ASN_ID_GeneralTime, length);
}

int asn1D_PrivateKeyUsagePeriod(Asn1Context *pctxt, PrivateKeyUsagePeriod *pvalue,
                                ASN1TagType tagging, int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeImplicit(pctxt, ccb, 0, DecodeGeneralizedTime, &pvalue->notBefore)) < 0)
        return found;
    pvalue->m.notBeforePresent = found;
    if ((found = DecodeImplicit(pctxt, ccb, 1, DecodeGeneralizedTime, &pvalue->notAfter)) < 0)
        return found;
    pvalue->m.notAfterPresent = found;
    return EndContents(pctxt, ccb);
}

// ---------------------------------------------------------------------- certificate policies
// PolicyQualifierInfo ::= SEQUENCE {
//     policyQualifierId  PolicyQualifierId,
//     qualifier          ANY DEFINED BY policyQualifierId }       -- RFC 5280, 4.2.1.4
// held with the qualifier OPTIONAL, as in the 1988 syntax of RFC 3280.
int asn1E_PolicyQualifierInfo(Asn1Context *pctxt, PolicyQualifierInfo *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.qualifierPresent) {
        if ((len = EncodeOpenType(pctxt, &pvalue->qualifier, ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = EncodeObjid(pctxt, &pvalue->policyQualifierId, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_PolicyQualifierInfo(Asn1Context *pctxt, PolicyQualifierInfo *pvalue, ASN1TagType tagging,
                              int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, DecodeObjid, &pvalue->policyQualifierId)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, DecodeOpenType, &pvalue->qualifier)) < 0) return found;
    pvalue->m.qualifierPresent = found;
    return EndContents(pctxt, ccb);
}

// policyQualifiers  SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo
int asn1E_PolicyInformation_policyQualifiers(Asn1Context *pctxt,
                                             PolicyInformation_policyQualifiers *pvalue,
                                             ASN1TagType tagging)
{
    if (pvalue->count < 1) return ConstraintViolated(pctxt, "pvalue->count", pvalue->count);
    return EncodeSequenceOf(pctxt, asn1E_PolicyQualifierInfo, pvalue, tagging);
}

int asn1D_PolicyInformation_policyQualifiers(Asn1Context *pctxt,
                                             PolicyInformation_policyQualifiers *pvalue,
                                             ASN1TagType tagging, int length)
{
    const int stat =
        DecodeList(pctxt, ASN_ID_SEQ, tagging, length, asn1D_PolicyQualifierInfo, pvalue);
    if (stat < 0) return stat;
    return pvalue->count < 1 ? ConstraintViolated(pctxt, "pvalue->count", pvalue->count) : 0;
}

// PolicyInformation ::= SEQUENCE {
//     policyIdentifier  CertPolicyId,
//     policyQualifiers  SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo OPTIONAL }
//                                                                  -- RFC 5280, 4.2.1.4
int asn1E_PolicyInformation(Asn1Context *pctxt, PolicyInformation *pvalue, ASN1TagType tagging)
{
    int total = 0, len;
    if (pvalue->m.policyQualifiersPresent) {
        if ((len = asn1E_PolicyInformation_policyQualifiers(pctxt, &pvalue->policyQualifiers,
                                                            ASN1EXPL)) < 0)
            return Fail(pctxt, len);
        total += len;
    }
    if ((len = asn1E_CertPolicyId(pctxt, &pvalue->policyIdentifier, ASN1EXPL)) < 0)
        return Fail(pctxt, len);
    total += len;
    return WrapIfExplicit(pctxt, tagging, kSequence, total);
}

int asn1D_PolicyInformation(Asn1Context *pctxt, PolicyInformation *pvalue, ASN1TagType tagging,
                            int length)
{
    Asn1Ccb ccb;
    int found;
    if ((found = BeginContents(pctxt, ASN_ID_SEQ, tagging, length, &ccb)) < 0) return found;
    ClearPresence(&pvalue->m);
    if ((found = DecodeRequired(pctxt, ccb, asn1D_CertPolicyId, &pvalue->policyIdentifier)) < 0)
        return found;
    if ((found = DecodeOptional(pctxt, ccb, asn1D_PolicyInformation_policyQualifiers,
                                &pvalue->policyQualifiers)) < 0)
        return found;
    pvalue->m.policyQualifiersPresent = found;
    return EndContents(pctxt, ccb);
}
