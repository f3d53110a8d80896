#include "Asn1Vectors.h"

#include "common/FileTest.h"

#include <map>

namespace asn1test {
namespace {

struct TypeFunctions {
    int (*decodeThenEncode)(const Bytes &der);
    Bytes (*reencode)(const Bytes &der);
};

#define KV_TYPE(Type)                                                                              \
    {                                                                                              \
#Type,                                                                                     \
        {                                                                                          \
            &DecodeThenEncode<Type, asn1D_##Type, asn1E_##Type>,                                   \
                &ReencodeAs<Type, asn1D_##Type, asn1E_##Type>                                      \
        }                                                                                          \
    }
#define KV_DECODE_ONLY_TYPE(Type)                                                                  \
    {                                                                                              \
#Type,                                                                                     \
        {                                                                                          \
            &DecodeOnly<Type, asn1D_##Type>, nullptr                                               \
        }                                                                                          \
    }

// Every type the hand-written vectors name.
const std::map<std::string, TypeFunctions> &Types()
{
    static const std::map<std::string, TypeFunctions> types = {
        KV_TYPE(AttributeTypeAndValue),
        KV_TYPE(RelativeDistinguishedName),
        KV_TYPE(RDNSequence),
        KV_TYPE(CertificateSerialNumber),
        KV_TYPE(UniqueIdentifier),
        KV_TYPE(X121Address),
        KV_TYPE(NetworkAddress),
        KV_TYPE(TerminalIdentifier),
        KV_TYPE(OrganizationName),
        KV_TYPE(NumericUserIdentifier),
        KV_TYPE(OrganizationalUnitName),
        KV_TYPE(CertHash),
        KV_TYPE(OtherHashValue),
        KV_TYPE(AlgorithmIdentifier),
        KV_TYPE(Name),
        KV_TYPE(SubjectPublicKeyInfo),
        KV_TYPE(CountryName),
        KV_TYPE(AdministrationDomainName),
        KV_TYPE(PrivateDomainName),
        KV_TYPE(PersonalName),
        KV_TYPE(OrganizationalUnitNames),
        KV_TYPE(BuiltInStandardAttributes),
        KV_TYPE(BuiltInDomainDefinedAttribute),
        KV_TYPE(BuiltInDomainDefinedAttributes),
        KV_TYPE(ExtensionAttribute),
        KV_TYPE(ExtensionAttributes),
        KV_TYPE(ORAddress),
        KV_TYPE(IssuerSerial),
        KV_TYPE(ESSCertID),
        KV_TYPE(_SeqOfESSCertID),
        KV_TYPE(_SeqOfPolicyInformation),
        KV_TYPE(SigningCertificate),
        KV_TYPE(ESSCertIDv2),
        KV_TYPE(_SeqOfESSCertIDv2),
        KV_TYPE(SigningCertificateV2),
        KV_TYPE(OtherHashAlgAndValue),
        KV_TYPE(OtherHash),
        KV_TYPE(OtherCertID),
        KV_TYPE(_SeqOfOtherCertID),
        KV_TYPE(OtherSigningCertificate),
        KV_TYPE(CertPolicyId),
        KV_TYPE(ReasonFlags),
        KV_TYPE(GeneralName_otherName),
        KV_TYPE(EDIPartyName_nameAssigner),
        KV_TYPE(EDIPartyName_partyName),
        KV_TYPE(EDIPartyName),
        KV_TYPE(GeneralName),
        KV_TYPE(GeneralNames),
        KV_TYPE(DistributionPointName),
        KV_TYPE(DistributionPoint),
        KV_TYPE(CRLDistPointsSyntax),
        KV_TYPE(PrivateKeyUsagePeriod),
        KV_TYPE(PolicyQualifierInfo),
        KV_TYPE(PolicyInformation_policyQualifiers),
        KV_TYPE(PolicyInformation),
        KV_TYPE(Gost28147_89_IV),
        KV_TYPE(Gost28147_89_Key),
        KV_TYPE(Gost28147_89_MAC),
        KV_TYPE(Gost28147_89_ParamSet),
        KV_TYPE(Gost28147_89_EncryptedKey),
        KV_TYPE(Gost28147_89_Parameters),
        KV_DECODE_ONLY_TYPE(UecSymmetricKeyDeriveCounter),
        KV_DECODE_ONLY_TYPE(GostR3410_2001_PublicKeyParameters),
        KV_TYPE(GostR3410_PublicKey),
        KV_TYPE(Gost28147_89_KeyWrapParameters_ukm),
        KV_TYPE(GostR3410_TransportParameters_ukm),
        KV_TYPE(Gost28147_89_KeyWrapParameters),
        KV_TYPE(GostR3410_TransportParameters),
        KV_TYPE(GostR3410_KeyTransport),
        KV_TYPE(GostPrivateCertificateStore),
        KV_TYPE(IssuerSignTool)};
    return types;
}

} // namespace

const std::vector<Vector> &HandWrittenVectors()
{
    static const std::vector<Vector> vectors = [] {
        std::vector<Vector> out;
        for (const kvtest::FileCase &c : kvtest::ReadFileCases("asn1/vectors.txt")) {
            const auto type = Types().find(c.Get("Type"));
            EXPECT_NE(Types().end(), type) << c.where;
            if (type == Types().end()) continue;
            out.push_back({c.where + " " + c.Get("Type"), c.Hex("DER"),
                           type->second.decodeThenEncode, type->second.reencode,
                           c.Has("Encoded") ? c.Hex("Encoded") : Bytes{}});
        }
        return out;
    }();
    return vectors;
}

const std::vector<Vector> &OpenSslVectors()
{
    static const std::vector<Vector> vectors = {
        KV_VECTOR(Name, "certificate subject", ReadVector("name_subject.der")),
        KV_VECTOR(Name, "string types", ReadVector("name_string_types.der")),
        KV_VECTOR(GeneralNames, "subjectAltName", ReadVector("san_all_forms.der")),
        KV_VECTOR(GeneralNames, "x400Address and ediPartyName",
                  ReadVector("generalnames_x400_edi.der")),
        KV_VECTOR(CRLDistPointsSyntax, "two points", ReadVector("crl_dist_points.der")),
        KV_VECTOR(_SeqOfPolicyInformation, "certificatePolicies", ReadVector("policies.der")),
        KV_VECTOR(SubjectPublicKeyInfo, "GOST R 34.10-2012 256",
                  ReadVector("spki_gost2012_256_A.der")),
        KV_VECTOR(SubjectPublicKeyInfo, "GOST R 34.10-2012 256 TC26 B",
                  ReadVector("spki_gost2012_256_TCB.der")),
        KV_VECTOR(SubjectPublicKeyInfo, "GOST R 34.10-2012 512",
                  ReadVector("spki_gost2012_512_A.der")),
        KV_VECTOR(SubjectPublicKeyInfo, "GOST R 34.10-2001", ReadVector("spki_gost2001_A.der")),
        KV_VECTOR(SigningCertificate, "time stamp", ReadVector("signing_certificate_ts.der")),
        KV_VECTOR(SigningCertificate, "CAdES", ReadVector("signing_certificate_cades.der")),
        KV_VECTOR(SigningCertificateV2, "time stamp", ReadVector("signing_certificate_v2_ts.der")),
        KV_VECTOR(SigningCertificateV2, "CAdES", ReadVector("signing_certificate_v2_cades.der")),
        KV_VECTOR(GostR3410_KeyTransport, "CMS recipient", ReadVector("gost_key_transport.der")),
        KV_VECTOR(Gost28147_89_Parameters, "CMS content", ReadVector("gost28147_parameters.der")),
        KV_VECTOR(ORAddress, "upper bounds", ReadVector("oraddress_bounds.der")),
        KV_VECTOR(ORAddress, "numeric alternatives", ReadVector("oraddress_numeric.der")),
    };
    return vectors;
}

} // namespace asn1test
