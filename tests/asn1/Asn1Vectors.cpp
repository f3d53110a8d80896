#include "Asn1Vectors.h"

#include "common/FileTest.h"

#include <map>

namespace asn1test {
namespace {

struct TypeFunctions {
    int (*decodeThenEncode)(const Bytes &der);
    Bytes (*reencode)(const Bytes &der);
    int (*decodeStatus)(const Bytes &der, std::vector<std::string> *parameters);
};

#define KV_TYPE(Type)                                                                              \
    {                                                                                              \
#Type,                                                                                     \
        {                                                                                          \
            &DecodeThenEncode<Type, asn1D_##Type, asn1E_##Type>,                                   \
                &ReencodeAs<Type, asn1D_##Type, asn1E_##Type>, &DecodeStatus<Type, asn1D_##Type>   \
        }                                                                                          \
    }
#define KV_DECODE_ONLY_TYPE(Type)                                                                  \
    {                                                                                              \
#Type,                                                                                     \
        {                                                                                          \
            &DecodeOnly<Type, asn1D_##Type>, nullptr, &DecodeStatus<Type, asn1D_##Type>            \
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

// The vectors of a file: Type, and DER or the File under tests/data/asn1 that holds it.
std::vector<Vector> ReadVectors(const std::string &name)
{
    std::vector<Vector> out;
    for (const kvtest::FileCase &c : kvtest::ReadFileCases(name)) {
        const auto type = Types().find(c.Get("Type"));
        EXPECT_NE(Types().end(), type) << c.where;
        if (type == Types().end()) continue;
        out.push_back({c.where + " " + c.Get("Type"),
                       c.Has("File") ? ReadVector(c.Get("File")) : c.Hex("DER"),
                       type->second.decodeThenEncode, type->second.reencode,
                       c.Has("Encoded") ? c.Hex("Encoded") : Bytes{}});
    }
    return out;
}

} // namespace

const std::vector<Vector> &HandWrittenVectors()
{
    static const std::vector<Vector> vectors = ReadVectors("asn1/vectors.txt");
    return vectors;
}

const std::vector<Vector> &OpenSslVectors()
{
    static const std::vector<Vector> vectors = ReadVectors("asn1/openssl.txt");
    return vectors;
}

int DecodeAs(const std::string &type, const Bytes &der, std::vector<std::string> *parameters)
{
    const auto functions = Types().find(type);
    if (functions != Types().end()) return functions->second.decodeStatus(der, parameters);
    ADD_FAILURE() << "no type " << type;
    return 0;
}

} // namespace asn1test
