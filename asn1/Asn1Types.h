// In-memory values of every ASN.1 type the library encodes or decodes, and their DER
// encoders (asn1E_<Type>) and BER/DER decoders (asn1D_<Type>).
//
// One header for all eight modules: PKIX1Explicit88 and CertificateExtensions refer to each
// other's types (IssuerSerial holds GeneralNames, GeneralName holds Name and ORAddress), so
// the types are declared in dependency order here, each under the module that defines it.
//
// Forms (one per ASN.1 construct):
// - OBJECT IDENTIFIER: ASN1OBJID, inline.
// - OCTET STRING / BIT STRING: ASN1DynOctStr / ASN1DynBitStr, or a record {numocts|numbits,
//   data[bound]} where the type has a small fixed bound.
// - 8-bit character strings and times: pointer to zero-terminated text.
// - open type: ASN1OpenType holding the complete encoding (identifier, length, contents).
// - SEQUENCE, SET: record; first the presence word `m` when a component is OPTIONAL or
//   DEFAULT, then the components in definition order.
// - CHOICE: `t`, the alternative number counted from 1, and the union `u`.
// - SEQUENCE OF, SET OF: DList whose nodes point at the elements, or {n, elem[bound]}.
//
// Presence word: the first flagged component owns 0x80000000, the next 0x40000000, and so
// on. Bit-fields are laid out from the least significant bit on the compilers we build
// with, so the flags are declared last-first behind a padding field. Clear a value with
// `T value{}` or memset: assigning `m = {}` leaves the padding bits as they were.
//
// Encoders return the number of octets written or a negative status; with tagging
// ASN1IMPL they write the contents only. Decoders return 0 or a negative status; with
// ASN1IMPL the caller has consumed the identifier and passes the contents length
// (ASN_K_INDEFLEN for the indefinite form). Every variable part of a value lives on the
// heap of the context that decoded or built it.
#pragma once

#include <asn1rt.h>

// ============================================================== PKIX1Explicit88

struct AttributeTypeAndValue {
    ASN1OBJID type;
    ASN1OpenType value;
};

typedef DList RelativeDistinguishedName; // of AttributeTypeAndValue, SIZE (1..MAX), DER order
typedef DList RDNSequence;               // of RelativeDistinguishedName

typedef const char *CertificateSerialNumber; // big-integer text, as xd_bigint makes it
typedef ASN1DynBitStr UniqueIdentifier;
typedef const char *X121Address; // NumericString (SIZE (1..16))
typedef X121Address NetworkAddress;
typedef const char *TerminalIdentifier;     // PrintableString (SIZE (1..24))
typedef const char *OrganizationName;       // PrintableString (SIZE (1..64))
typedef const char *NumericUserIdentifier;  // NumericString (SIZE (1..32))
typedef const char *OrganizationalUnitName; // PrintableString (SIZE (1..32))
typedef ASN1DynOctStr CertHash;
typedef ASN1DynOctStr OtherHashValue;

struct AlgorithmIdentifier {
    struct {
        ASN1UINT : 31;
        ASN1UINT parametersPresent : 1; // 0x80000000
    } m;
    ASN1OBJID algorithm;
    ASN1OpenType parameters;
};

struct Name {
    ASN1UINT t; // 1: rdnSequence
    union {
        RDNSequence *rdnSequence;
    } u;
    // The octets the value was decoded from when they are DER already (empty otherwise, and
    // for a value built in memory). The encoder writes them through unchanged; a value
    // changed after decoding must clear them.
    ASN1OpenType decodedFrom;
};

struct SubjectPublicKeyInfo {
    AlgorithmIdentifier algorithm;
    ASN1DynBitStr subjectPublicKey;
};

// ORAddress and its parts, with the upper bounds of RFC 5280, appendix A.1.

struct CountryName { // [APPLICATION 1] CHOICE
    ASN1UINT t;      // 1: x121_dcc_code (3 digits), 2: iso_3166_alpha2_code (2 letters)
    union {
        const char *x121_dcc_code;
        const char *iso_3166_alpha2_code;
    } u;
};

struct AdministrationDomainName { // [APPLICATION 2] CHOICE, SIZE (0..16) each
    ASN1UINT t;                   // 1: numeric, 2: printable
    union {
        const char *numeric;
        const char *printable;
    } u;
};

struct PrivateDomainName { // CHOICE, SIZE (1..16) each
    ASN1UINT t;            // 1: numeric, 2: printable
    union {
        const char *numeric;
        const char *printable;
    } u;
};

struct PersonalName { // SET; components may arrive in any order
    struct {
        ASN1UINT : 29;
        ASN1UINT generation_qualifierPresent : 1; // 0x20000000
        ASN1UINT initialsPresent : 1;             // 0x40000000
        ASN1UINT given_namePresent : 1;           // 0x80000000
    } m;
    const char *surname;              // [0] SIZE (1..40)
    const char *given_name;           // [1] SIZE (1..16)
    const char *initials;             // [2] SIZE (1..5)
    const char *generation_qualifier; // [3] SIZE (1..3)
};

struct OrganizationalUnitNames { // SEQUENCE SIZE (1..4) OF OrganizationalUnitName
    ASN1UINT n;
    OrganizationalUnitName elem[4];
};

struct BuiltInStandardAttributes {
    struct {
        ASN1UINT : 23;
        ASN1UINT organizational_unit_namesPresent : 1;  // 0x00800000
        ASN1UINT personal_namePresent : 1;              // 0x01000000
        ASN1UINT numeric_user_identifierPresent : 1;    // 0x02000000
        ASN1UINT organization_namePresent : 1;          // 0x04000000
        ASN1UINT private_domain_namePresent : 1;        // 0x08000000
        ASN1UINT terminal_identifierPresent : 1;        // 0x10000000
        ASN1UINT network_addressPresent : 1;            // 0x20000000
        ASN1UINT administration_domain_namePresent : 1; // 0x40000000
        ASN1UINT country_namePresent : 1;               // 0x80000000
    } m;
    CountryName country_name;
    AdministrationDomainName administration_domain_name;
    NetworkAddress network_address;                    // [0] IMPLICIT
    TerminalIdentifier terminal_identifier;            // [1] IMPLICIT
    PrivateDomainName private_domain_name;             // [2] EXPLICIT
    OrganizationName organization_name;                // [3] IMPLICIT
    NumericUserIdentifier numeric_user_identifier;     // [4] IMPLICIT
    PersonalName personal_name;                        // [5] IMPLICIT
    OrganizationalUnitNames organizational_unit_names; // [6] IMPLICIT
};

struct BuiltInDomainDefinedAttribute {
    const char *type;  // PrintableString (SIZE (1..8))
    const char *value; // PrintableString (SIZE (1..128))
};

typedef DList BuiltInDomainDefinedAttributes; // SIZE (1..4) OF BuiltInDomainDefinedAttribute

struct ExtensionAttribute {
    ASN1USINT extension_attribute_type;     // [0] IMPLICIT INTEGER (0..256)
    ASN1OpenType extension_attribute_value; // [1] EXPLICIT ANY
};

typedef DList ExtensionAttributes; // SET SIZE (1..256) OF ExtensionAttribute, DER order

struct ORAddress {
    struct {
        ASN1UINT : 30;
        ASN1UINT extension_attributesPresent : 1;               // 0x40000000
        ASN1UINT built_in_domain_defined_attributesPresent : 1; // 0x80000000
    } m;
    BuiltInStandardAttributes built_in_standard_attributes;
    BuiltInDomainDefinedAttributes built_in_domain_defined_attributes;
    ExtensionAttributes extension_attributes;
};

// ============================================================== CertificateExtensions

typedef ASN1OBJID CertPolicyId;

struct ReasonFlags { // BIT STRING with named bits 0..8
    ASN1UINT numbits;
    ASN1OCTET data[2];
};

struct GeneralName_otherName { // [0] IMPLICIT SEQUENCE in GeneralName
    ASN1OBJID type_id;
    ASN1OpenType value; // [0] EXPLICIT
};

// DirectoryString choices of EDIPartyName, 1 to 32768 characters each.
struct EDIPartyName_nameAssigner { // [0] CHOICE
    ASN1UINT t; // 1 utf8String, 2 printableString, 3 teletexString, 4 universalString, 5 bmpString
    union {
        const char *utf8String;
        const char *printableString;
        const char *teletexString;
        Asn132BitCharString universalString;
        Asn116BitCharString bmpString;
    } u;
};

struct EDIPartyName_partyName { // [1] CHOICE, alternatives as EDIPartyName_nameAssigner
    ASN1UINT t;
    union {
        const char *utf8String;
        const char *printableString;
        const char *teletexString;
        Asn132BitCharString universalString;
        Asn116BitCharString bmpString;
    } u;
};

struct EDIPartyName {
    struct {
        ASN1UINT : 31;
        ASN1UINT nameAssignerPresent : 1; // 0x80000000
    } m;
    EDIPartyName_nameAssigner nameAssigner;
    EDIPartyName_partyName partyName;
};

// The alternatives of GeneralName, numbered from 1 in the order of the union below.
constexpr ASN1UINT T_GeneralName_otherName = 1;
constexpr ASN1UINT T_GeneralName_rfc822Name = 2;
constexpr ASN1UINT T_GeneralName_dNSName = 3;
constexpr ASN1UINT T_GeneralName_x400Address = 4;
constexpr ASN1UINT T_GeneralName_directoryName = 5;
constexpr ASN1UINT T_GeneralName_ediPartyName = 6;
constexpr ASN1UINT T_GeneralName_uniformResourceIdentifier = 7;
constexpr ASN1UINT T_GeneralName_iPAddress = 8;
constexpr ASN1UINT T_GeneralName_registeredID = 9;

struct GeneralName {
    ASN1UINT t; // T_GeneralName_*
    union {
        GeneralName_otherName *otherName;      // [0]
        const char *rfc822Name;                // [1] IA5String
        const char *dNSName;                   // [2] IA5String
        ORAddress *x400Address;                // [3]
        Name *directoryName;                   // [4] EXPLICIT
        EDIPartyName *ediPartyName;            // [5]
        const char *uniformResourceIdentifier; // [6] IA5String
        ASN1DynOctStr *iPAddress;              // [7] OCTET STRING
        ASN1OBJID *registeredID;               // [8] OBJECT IDENTIFIER
    } u;
};

typedef DList GeneralNames; // of GeneralName

constexpr ASN1UINT T_DistributionPointName_fullName = 1;                // [0]
constexpr ASN1UINT T_DistributionPointName_nameRelativeToCRLIssuer = 2; // [1]

struct DistributionPointName {
    ASN1UINT t; // T_DistributionPointName_*
    union {
        GeneralNames *fullName;
        RelativeDistinguishedName *nameRelativeToCRLIssuer;
    } u;
};

struct DistributionPoint {
    struct {
        ASN1UINT : 29;
        ASN1UINT cRLIssuerPresent : 1;         // 0x20000000
        ASN1UINT reasonsPresent : 1;           // 0x40000000
        ASN1UINT distributionPointPresent : 1; // 0x80000000
    } m;
    DistributionPointName distributionPoint; // [0] EXPLICIT
    ReasonFlags reasons;                     // [1] IMPLICIT
    GeneralNames cRLIssuer;                  // [2] IMPLICIT
};

typedef DList CRLDistPointsSyntax; // SIZE (1..MAX) OF DistributionPoint

struct PrivateKeyUsagePeriod {
    struct {
        ASN1UINT : 30;
        ASN1UINT notAfterPresent : 1;  // 0x40000000
        ASN1UINT notBeforePresent : 1; // 0x80000000
    } m;
    const char *notBefore; // [0] IMPLICIT GeneralizedTime
    const char *notAfter;  // [1] IMPLICIT GeneralizedTime
};

struct PolicyQualifierInfo {
    struct {
        ASN1UINT : 31;
        ASN1UINT qualifierPresent : 1; // 0x80000000
    } m;
    ASN1OBJID policyQualifierId;
    ASN1OpenType qualifier;
};

typedef DList PolicyInformation_policyQualifiers; // SIZE (1..MAX) OF PolicyQualifierInfo

struct PolicyInformation {
    struct {
        ASN1UINT : 31;
        ASN1UINT policyQualifiersPresent : 1; // 0x80000000
    } m;
    CertPolicyId policyIdentifier;
    PolicyInformation_policyQualifiers policyQualifiers;
};

// ============================================================== ExtendedSecurityServices
// The certificate identifiers of RFC 2634, RFC 5035 and RFC 3126.

struct IssuerSerial {
    struct {
        ASN1UINT : 31;
        ASN1UINT issuerUIDPresent : 1; // 0x80000000
    } m;
    GeneralNames issuer;
    CertificateSerialNumber serialNumber;
    UniqueIdentifier issuerUID;
};

struct ESSCertID {
    struct {
        ASN1UINT : 31;
        ASN1UINT issuerSerialPresent : 1; // 0x80000000
    } m;
    CertHash certHash;
    IssuerSerial issuerSerial;
};

typedef DList _SeqOfESSCertID;
typedef DList _SeqOfPolicyInformation;

struct SigningCertificate {
    struct {
        ASN1UINT : 31;
        ASN1UINT policiesPresent : 1; // 0x80000000
    } m;
    _SeqOfESSCertID certs;
    _SeqOfPolicyInformation policies;
};

struct ESSCertIDv2 {
    struct {
        ASN1UINT : 30;
        ASN1UINT issuerSerialPresent : 1;  // 0x40000000
        ASN1UINT hashAlgorithmPresent : 1; // 0x80000000 (DEFAULT id-sha256)
    } m;
    AlgorithmIdentifier hashAlgorithm;
    CertHash certHash;
    IssuerSerial issuerSerial;
};

typedef DList _SeqOfESSCertIDv2;

struct SigningCertificateV2 {
    struct {
        ASN1UINT : 31;
        ASN1UINT policiesPresent : 1; // 0x80000000
    } m;
    _SeqOfESSCertIDv2 certs;
    _SeqOfPolicyInformation policies;
};

struct OtherHashAlgAndValue {
    AlgorithmIdentifier hashAlgorithm;
    OtherHashValue hashValue;
};

constexpr ASN1UINT T_OtherHash_sha1Hash = 1;
constexpr ASN1UINT T_OtherHash_otherHash = 2;

struct OtherHash {
    ASN1UINT t; // T_OtherHash_*
    union {
        OtherHashValue *sha1Hash;
        OtherHashAlgAndValue *otherHash;
    } u;
};

struct OtherCertID {
    struct {
        ASN1UINT : 31;
        ASN1UINT issuerSerialPresent : 1; // 0x80000000
    } m;
    OtherHash otherCertHash;
    IssuerSerial issuerSerial;
};

typedef DList _SeqOfOtherCertID;

struct OtherSigningCertificate {
    struct {
        ASN1UINT : 31;
        ASN1UINT policiesPresent : 1; // 0x80000000
    } m;
    _SeqOfOtherCertID certs;
    _SeqOfPolicyInformation policies;
};

// ============================================================== Gost28147-89-EncryptionSyntax

struct Gost28147_89_IV { // OCTET STRING (SIZE (8))
    ASN1UINT numocts;
    ASN1OCTET data[8];
};

struct Gost28147_89_Key { // OCTET STRING (SIZE (32 | 64))
    ASN1UINT numocts;
    ASN1OCTET data[64];
};

struct Gost28147_89_MAC { // OCTET STRING (SIZE (1..4))
    ASN1UINT numocts;
    ASN1OCTET data[4];
};

typedef ASN1OBJID Gost28147_89_ParamSet;

struct Gost28147_89_EncryptedKey {
    struct {
        ASN1UINT : 31;
        ASN1UINT maskKeyPresent : 1; // 0x80000000
    } m;
    Gost28147_89_Key encryptedKey;
    Gost28147_89_Key maskKey; // [0] IMPLICIT
    Gost28147_89_MAC macKey;  // written only with exactly 4 octets
};

struct Gost28147_89_BlobParameters {
    Gost28147_89_ParamSet encryptionParamSet;
    DList extElem1; // of ASN1OpenType: elements after the extension marker
};

struct Gost28147_89_Parameters {
    Gost28147_89_IV iv;
    Gost28147_89_ParamSet encryptionParamSet;
};

// ============================================================== GostR3410-2001-PKISyntax

struct GostR3410_2001_PublicKeyParameters {
    struct {
        ASN1UINT : 31;
        ASN1UINT encryptionParamSetPresent : 1; // 0x80000000
    } m;
    ASN1OBJID publicKeyParamSet;
    ASN1OBJID digestParamSet;
    ASN1OBJID encryptionParamSet;
};

// ============================================================== GostR3410-2012-PKISyntax

struct GostR3410_PublicKey { // OCTET STRING (SIZE (64 | 128))
    ASN1UINT numocts;
    ASN1OCTET data[128];
};

// ============================================================== GostR3410-EncryptionSyntax

struct Gost28147_89_KeyWrapParameters_ukm { // OCTET STRING (SIZE (8))
    ASN1UINT numocts;
    ASN1OCTET data[8];
};

struct GostR3410_TransportParameters_ukm { // OCTET STRING (SIZE (8))
    ASN1UINT numocts;
    ASN1OCTET data[8];
};

struct Gost28147_89_KeyWrapParameters {
    struct {
        ASN1UINT : 31;
        ASN1UINT ukmPresent : 1; // 0x80000000
    } m;
    Gost28147_89_ParamSet encryptionParamSet;
    Gost28147_89_KeyWrapParameters_ukm ukm;
};

struct GostR3410_TransportParameters {
    struct {
        ASN1UINT : 31;
        ASN1UINT ephemeralPublicKeyPresent : 1; // 0x80000000
    } m;
    Gost28147_89_ParamSet encryptionParamSet;
    SubjectPublicKeyInfo ephemeralPublicKey; // [0] IMPLICIT
    GostR3410_TransportParameters_ukm ukm;
};

struct GostR3410_KeyTransport {
    struct {
        ASN1UINT : 31;
        ASN1UINT transportParametersPresent : 1; // 0x80000000
    } m;
    Gost28147_89_EncryptedKey sessionEncryptedKey;
    GostR3410_TransportParameters transportParameters; // [0] IMPLICIT
};

// Key-wrap algorithms (RFC 4490): 1.2.643.2.2.13.0 and 1.2.643.2.2.13.1.
extern const ASN1OBJID id_Gost28147_89_None_KeyWrap;
extern const ASN1OBJID id_Gost28147_89_Kelvarine_KeyWrap;

// ============================================================== Gost-Kelvarine-PrivateKey

typedef ASN1UINT UecSymmetricKeyDeriveCounter; // INTEGER (0..MAX)
typedef DList GostPrivateCertificateStore;     // SET OF open type, DER order

// ============================================================== Gost-Qualified-Certificate

struct IssuerSignTool { // four UTF8String components
    const char *signTool;
    const char *cATool;
    const char *signToolCert;
    const char *cAToolCert;
};

// ============================================================== codecs

#define KV_ASN1_CODEC(Type)                                                                        \
    int asn1E_##Type(Asn1Context *pctxt, Type *pvalue, ASN1TagType tagging);                       \
    int asn1D_##Type(Asn1Context *pctxt, Type *pvalue, ASN1TagType tagging, int length)

// PKIX1Explicit88
KV_ASN1_CODEC(AttributeTypeAndValue);
KV_ASN1_CODEC(RelativeDistinguishedName);
KV_ASN1_CODEC(RDNSequence);
KV_ASN1_CODEC(CertificateSerialNumber);
KV_ASN1_CODEC(UniqueIdentifier);
KV_ASN1_CODEC(X121Address);
KV_ASN1_CODEC(NetworkAddress);
KV_ASN1_CODEC(TerminalIdentifier);
KV_ASN1_CODEC(OrganizationName);
KV_ASN1_CODEC(NumericUserIdentifier);
KV_ASN1_CODEC(OrganizationalUnitName);
KV_ASN1_CODEC(CertHash);
KV_ASN1_CODEC(OtherHashValue);
KV_ASN1_CODEC(AlgorithmIdentifier);
KV_ASN1_CODEC(Name);
KV_ASN1_CODEC(SubjectPublicKeyInfo);
KV_ASN1_CODEC(CountryName);
KV_ASN1_CODEC(AdministrationDomainName);
KV_ASN1_CODEC(PrivateDomainName);
KV_ASN1_CODEC(PersonalName);
KV_ASN1_CODEC(OrganizationalUnitNames);
KV_ASN1_CODEC(BuiltInStandardAttributes);
KV_ASN1_CODEC(BuiltInDomainDefinedAttribute);
KV_ASN1_CODEC(BuiltInDomainDefinedAttributes);
KV_ASN1_CODEC(ExtensionAttribute);
KV_ASN1_CODEC(ExtensionAttributes);
KV_ASN1_CODEC(ORAddress);
KV_ASN1_CODEC(IssuerSerial);
KV_ASN1_CODEC(ESSCertID);
KV_ASN1_CODEC(_SeqOfESSCertID);
KV_ASN1_CODEC(_SeqOfPolicyInformation);
KV_ASN1_CODEC(SigningCertificate);
KV_ASN1_CODEC(ESSCertIDv2);
KV_ASN1_CODEC(_SeqOfESSCertIDv2);
KV_ASN1_CODEC(SigningCertificateV2);
KV_ASN1_CODEC(OtherHashAlgAndValue);
KV_ASN1_CODEC(OtherHash);
KV_ASN1_CODEC(OtherCertID);
KV_ASN1_CODEC(_SeqOfOtherCertID);
KV_ASN1_CODEC(OtherSigningCertificate);

// CertificateExtensions
KV_ASN1_CODEC(CertPolicyId);
KV_ASN1_CODEC(ReasonFlags);
KV_ASN1_CODEC(GeneralName_otherName);
KV_ASN1_CODEC(EDIPartyName_nameAssigner);
KV_ASN1_CODEC(EDIPartyName_partyName);
KV_ASN1_CODEC(EDIPartyName);
KV_ASN1_CODEC(GeneralName);
KV_ASN1_CODEC(GeneralNames);
KV_ASN1_CODEC(DistributionPointName);
KV_ASN1_CODEC(DistributionPoint);
KV_ASN1_CODEC(CRLDistPointsSyntax);
KV_ASN1_CODEC(PrivateKeyUsagePeriod);
KV_ASN1_CODEC(PolicyQualifierInfo);
KV_ASN1_CODEC(PolicyInformation_policyQualifiers);
KV_ASN1_CODEC(PolicyInformation);

// Gost28147-89-EncryptionSyntax
KV_ASN1_CODEC(Gost28147_89_IV);
KV_ASN1_CODEC(Gost28147_89_Key);
KV_ASN1_CODEC(Gost28147_89_MAC);
KV_ASN1_CODEC(Gost28147_89_ParamSet);
KV_ASN1_CODEC(Gost28147_89_EncryptedKey);
int asn1E_Gost28147_89_BlobParameters(Asn1Context *pctxt, Gost28147_89_BlobParameters *pvalue,
                                      ASN1TagType tagging);
KV_ASN1_CODEC(Gost28147_89_Parameters);

// GostR3410-2001-PKISyntax
int asn1D_GostR3410_2001_PublicKeyParameters(Asn1Context *pctxt,
                                             GostR3410_2001_PublicKeyParameters *pvalue,
                                             ASN1TagType tagging, int length);

// GostR3410-2012-PKISyntax
KV_ASN1_CODEC(GostR3410_PublicKey);

// GostR3410-EncryptionSyntax
KV_ASN1_CODEC(Gost28147_89_KeyWrapParameters_ukm);
KV_ASN1_CODEC(GostR3410_TransportParameters_ukm);
KV_ASN1_CODEC(Gost28147_89_KeyWrapParameters);
KV_ASN1_CODEC(GostR3410_TransportParameters);
KV_ASN1_CODEC(GostR3410_KeyTransport);

// Gost-Kelvarine-PrivateKey
int asn1D_UecSymmetricKeyDeriveCounter(Asn1Context *pctxt, UecSymmetricKeyDeriveCounter *pvalue,
                                       ASN1TagType tagging, int length);
KV_ASN1_CODEC(GostPrivateCertificateStore);

// Gost-Qualified-Certificate
KV_ASN1_CODEC(IssuerSignTool);

#undef KV_ASN1_CODEC
