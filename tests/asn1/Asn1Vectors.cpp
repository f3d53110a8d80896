#include "Asn1Vectors.h"

namespace asn1test {
namespace {

// `count` copies of one octet, as hex.
std::string Rep(const char *octet, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        (out += octet) += ' ';
    return out;
}

Bytes H(const std::string &hex)
{
    return FromHex(hex);
}

const std::string kOid1234 = "06 03 2A 03 04";                  // 1.2.3.4
const std::string kSha1Alg = "30 05 06 03 2B 0E 03";            // 1.3.14.3, no parameters
const std::string kGostParamSet = "06 07 2A 85 03 02 02 1F 01"; // 1.2.643.2.2.31.1
const std::string kIssuerSerial = "30 09 30 04 A4 02 30 00 02 01 01";

} // namespace

const std::vector<Vector> &HandWrittenVectors()
{
    static const std::vector<Vector> vectors = {
        // PKIX1Explicit88
        KV_VECTOR(AttributeTypeAndValue, "country", H("30 09 06 03 55 04 06 13 02 52 55")),
        KV_VECTOR(AttributeTypeAndValue, "value of a constructed type",
                  H("30 0C 06 03 55 04 03 30 05 02 01 05 05 00")),
        KV_VECTOR(RelativeDistinguishedName, "one value",
                  H("31 0B 30 09 06 03 55 04 06 13 02 52 55")),
        KV_VECTOR(RelativeDistinguishedName, "two values in DER order",
                  H("31 16 30 09 06 03 55 04 03 13 02 41 42 30 09 06 03 55 04 06 13 02 52 55")),
        KV_VECTOR(RDNSequence, "empty", H("30 00")),
        KV_VECTOR(RDNSequence, "two RDNs",
                  H("30 1A 31 0B 30 09 06 03 55 04 06 13 02 52 55"
                    "   31 0B 30 09 06 03 55 04 03 13 02 41 42")),
        KV_VECTOR(CertificateSerialNumber, "zero", H("02 01 00")),
        KV_VECTOR(CertificateSerialNumber, "negative", H("02 01 80")),
        KV_VECTOR(CertificateSerialNumber, "20 octets with a sign octet",
                  H("02 15 00 " + Rep("FF", 20))),
        KV_VECTOR(UniqueIdentifier, "one bit", H("03 02 07 80")),
        KV_VECTOR(UniqueIdentifier, "empty", H("03 01 00")),
        KV_VECTOR(X121Address, "three digits", H("12 03 31 32 33")),
        KV_VECTOR(NetworkAddress, "one digit", H("12 01 30")),
        KV_VECTOR(TerminalIdentifier, "two letters", H("13 02 41 42")),
        KV_VECTOR(OrganizationName, "three letters", H("13 03 4F 72 67")),
        KV_VECTOR(NumericUserIdentifier, "two digits", H("12 02 34 32")),
        KV_VECTOR(OrganizationalUnitName, "one letter", H("13 01 55")),
        KV_VECTOR(CertHash, "empty", H("04 00")),
        KV_VECTOR(CertHash, "three octets", H("04 03 01 02 03")),
        KV_VECTOR(OtherHashValue, "two octets", H("04 02 AA BB")),
        KV_VECTOR(AlgorithmIdentifier, "no parameters", H(kSha1Alg)),
        KV_VECTOR(AlgorithmIdentifier, "NULL parameters", H("30 07 06 03 2B 0E 03 05 00")),
        KV_VECTOR(Name, "empty sequence", H("30 00")),
        KV_VECTOR(Name, "one RDN", H("30 0D 31 0B 30 09 06 03 55 04 06 13 02 52 55")),
        KV_VECTOR(SubjectPublicKeyInfo, "short key", H("30 0C " + kSha1Alg + " 03 03 00 01 02")),
        KV_VECTOR(CountryName, "alpha-2", H("61 04 13 02 52 55")),
        KV_VECTOR(CountryName, "numeric", H("61 05 12 03 36 34 33")),
        KV_VECTOR(AdministrationDomainName, "empty printable", H("62 02 13 00")),
        KV_VECTOR(AdministrationDomainName, "numeric", H("62 04 12 02 31 32")),
        KV_VECTOR(PrivateDomainName, "printable", H("13 01 50")),
        KV_VECTOR(PrivateDomainName, "numeric", H("12 01 31")),
        KV_VECTOR(PersonalName, "surname only", H("31 03 80 01 53")),
        KV_VECTOR(PersonalName, "all four", H("31 0C 80 01 53 81 01 47 82 01 49 83 01 4A")),
        KV_VECTOR(OrganizationalUnitNames, "one", H("30 03 13 01 41")),
        KV_VECTOR(OrganizationalUnitNames, "four", H("30 0C 13 01 41 13 01 42 13 01 43 13 01 44")),
        KV_VECTOR(BuiltInStandardAttributes, "empty", H("30 00")),
        KV_VECTOR(BuiltInStandardAttributes, "country and private domain",
                  H("30 0B 61 04 13 02 52 55 A2 03 13 01 50")),
        KV_VECTOR(BuiltInDomainDefinedAttribute, "short", H("30 06 13 01 54 13 01 56")),
        KV_VECTOR(BuiltInDomainDefinedAttributes, "one", H("30 08 30 06 13 01 54 13 01 56")),
        KV_VECTOR(ExtensionAttribute, "NULL value", H("30 07 80 01 05 A1 02 05 00")),
        KV_VECTOR(ExtensionAttributes, "one", H("31 09 30 07 80 01 05 A1 02 05 00")),
        KV_VECTOR(ORAddress, "standard attributes only", H("30 02 30 00")),
        KV_VECTOR(ORAddress, "all three parts",
                  H("30 17 30 00 30 08 30 06 13 01 54 13 01 56 31 09 30 07 80 01 05 A1 02 05 00")),
        KV_VECTOR(IssuerSerial, "directory name", H(kIssuerSerial)),
        KV_VECTOR(IssuerSerial, "with issuerUID",
                  H("30 0D 30 04 A4 02 30 00 02 01 01 03 02 00 FF")),
        KV_VECTOR(ESSCertID, "hash only", H("30 02 04 00")),
        KV_VECTOR(ESSCertID, "with issuerSerial", H("30 0F 04 02 AA BB " + kIssuerSerial)),
        KV_VECTOR(_SeqOfESSCertID, "empty", H("30 00")),
        KV_VECTOR(_SeqOfESSCertID, "two", H("30 09 30 02 04 00 30 03 04 01 AA")),
        KV_VECTOR(_SeqOfPolicyInformation, "one", H("30 07 30 05 " + kOid1234)),
        KV_VECTOR(SigningCertificate, "no certs", H("30 02 30 00")),
        KV_VECTOR(SigningCertificate, "policies", H("30 0B 30 00 30 07 30 05 " + kOid1234)),
        KV_VECTOR(ESSCertIDv2, "default algorithm", H("30 02 04 00")),
        KV_VECTOR(ESSCertIDv2, "explicit algorithm", H("30 09 " + kSha1Alg + " 04 00")),
        KV_VECTOR(ESSCertIDv2, "all three", H("30 14 " + kSha1Alg + " 04 00 " + kIssuerSerial)),
        KV_VECTOR(_SeqOfESSCertIDv2, "one", H("30 04 30 02 04 00")),
        KV_VECTOR(SigningCertificateV2, "one cert", H("30 06 30 04 30 02 04 00")),
        KV_VECTOR(OtherHashAlgAndValue, "SHA-1", H("30 0B " + kSha1Alg + " 04 02 AA BB")),
        KV_VECTOR(OtherHash, "sha1Hash", H("04 01 AA")),
        KV_VECTOR(OtherHash, "otherHash", H("30 0B " + kSha1Alg + " 04 02 AA BB")),
        KV_VECTOR(OtherCertID, "sha1Hash", H("30 03 04 01 AA")),
        KV_VECTOR(OtherCertID, "otherHash and issuerSerial",
                  H("30 18 30 0B " + kSha1Alg + " 04 02 AA BB " + kIssuerSerial)),
        KV_VECTOR(_SeqOfOtherCertID, "one", H("30 05 30 03 04 01 AA")),
        KV_VECTOR(OtherSigningCertificate, "one cert", H("30 07 30 05 30 03 04 01 AA")),
        // CertificateExtensions
        KV_VECTOR(CertPolicyId, "1.2.3.4", H(kOid1234)),
        KV_VECTOR(ReasonFlags, "unused bit only", H("03 02 07 80")),
        KV_VECTOR(ReasonFlags, "all nine bits", H("03 03 07 FF 80")),
        KV_VECTOR(GeneralName_otherName, "UTF8String value",
                  H("30 0B " + kOid1234 + " A0 04 0C 02 68 69")),
        KV_VECTOR(EDIPartyName_nameAssigner, "printableString", H("A0 04 13 02 41 42")),
        KV_VECTOR(EDIPartyName_nameAssigner, "bmpString", H("A0 06 1E 04 00 41 00 42")),
        KV_VECTOR(EDIPartyName_nameAssigner, "universalString",
                  H("A0 0A 1C 08 00 00 00 41 00 00 00 42")),
        KV_VECTOR(EDIPartyName_partyName, "utf8String", H("A1 04 0C 02 41 42")),
        KV_VECTOR(EDIPartyName_partyName, "teletexString", H("A1 04 14 02 41 42")),
        KV_VECTOR(EDIPartyName, "party only", H("30 06 A1 04 0C 02 41 42")),
        KV_VECTOR(EDIPartyName, "assigner and party",
                  H("30 0C A0 04 13 02 41 42 A1 04 0C 02 41 42")),
        KV_VECTOR(GeneralName, "otherName", H("A0 0B " + kOid1234 + " A0 04 0C 02 68 69")),
        KV_VECTOR(GeneralName, "rfc822Name", H("81 03 61 40 62")),
        KV_VECTOR(GeneralName, "dNSName", H("82 01 61")),
        KV_VECTOR(GeneralName, "x400Address", H("A3 02 30 00")),
        KV_VECTOR(GeneralName, "directoryName", H("A4 02 30 00")),
        KV_VECTOR(GeneralName, "ediPartyName", H("A5 05 A1 03 13 01 50")),
        KV_VECTOR(GeneralName, "uniformResourceIdentifier", H("86 03 61 62 63")),
        KV_VECTOR(GeneralName, "iPAddress", H("87 04 C0 00 02 01")),
        KV_VECTOR(GeneralName, "registeredID", H("88 03 2A 03 04")),
        KV_VECTOR(GeneralNames, "empty", H("30 00")),
        KV_VECTOR(GeneralNames, "two", H("30 08 81 03 61 40 62 82 01 61")),
        KV_VECTOR(DistributionPointName, "fullName", H("A0 05 86 03 61 62 63")),
        KV_VECTOR(DistributionPointName, "nameRelativeToCRLIssuer",
                  H("A1 0B 30 09 06 03 55 04 03 13 02 41 42")),
        KV_VECTOR(DistributionPoint, "empty", H("30 00")),
        KV_VECTOR(DistributionPoint, "all three",
                  H("30 13 A0 07 A0 05 86 03 61 62 63 81 02 05 60 A2 04 A4 02 30 00")),
        KV_VECTOR(CRLDistPointsSyntax, "one empty point", H("30 02 30 00")),
        KV_VECTOR(PrivateKeyUsagePeriod, "empty", H("30 00")),
        KV_VECTOR(PrivateKeyUsagePeriod, "notAfter only",
                  H("30 11 81 0F 32 30 31 30 30 33 30 32 31 32 30 30 30 30 5A")),
        KV_VECTOR(PrivateKeyUsagePeriod, "both",
                  H("30 22 80 0F 32 30 31 30 30 31 30 31 30 30 30 30 30 30 5A"
                    "      81 0F 32 30 31 30 30 33 30 32 31 32 30 30 30 30 5A")),
        KV_VECTOR(PolicyQualifierInfo, "no qualifier", H("30 05 " + kOid1234)),
        KV_VECTOR(PolicyQualifierInfo, "IA5String qualifier",
                  H("30 0A " + kOid1234 + " 16 03 61 62 63")),
        KV_VECTOR(PolicyInformation_policyQualifiers, "one", H("30 07 30 05 " + kOid1234)),
        KV_VECTOR(PolicyInformation, "identifier only", H("30 05 " + kOid1234)),
        KV_VECTOR(PolicyInformation, "with qualifiers",
                  H("30 0E " + kOid1234 + " 30 07 30 05 06 03 2A 03 05")),
        // Gost28147-89-EncryptionSyntax
        KV_VECTOR(Gost28147_89_IV, "eight octets", H("04 08 " + Rep("11", 8))),
        KV_VECTOR(Gost28147_89_Key, "32 octets", H("04 20 " + Rep("22", 32))),
        KV_VECTOR(Gost28147_89_Key, "64 octets", H("04 40 " + Rep("23", 64))),
        KV_VECTOR(Gost28147_89_MAC, "four octets", H("04 04 " + Rep("33", 4))),
        KV_VECTOR(Gost28147_89_MAC, "one octet", H("04 01 33")),
        KV_VECTOR(Gost28147_89_ParamSet, "1.2.643.2.2.31.1", H(kGostParamSet)),
        KV_VECTOR(Gost28147_89_EncryptedKey, "no mask",
                  H("30 28 04 20 " + Rep("22", 32) + " 04 04 " + Rep("33", 4))),
        KV_VECTOR(Gost28147_89_EncryptedKey, "with mask",
                  H("30 4A 04 20 " + Rep("22", 32) + " 80 20 " + Rep("44", 32) + " 04 04 " +
                    Rep("33", 4))),
        KV_VECTOR(Gost28147_89_Parameters, "IV and parameter set",
                  H("30 13 04 08 " + Rep("11", 8) + kGostParamSet)),
        KV_DECODE_ONLY_VECTOR(UecSymmetricKeyDeriveCounter, "128", H("02 02 00 80")),
        // GostR3410-2001-PKISyntax
        KV_DECODE_ONLY_VECTOR(
            GostR3410_2001_PublicKeyParameters, "all three",
            H("30 1B 06 07 2A 85 03 02 02 23 01 06 07 2A 85 03 02 02 1E 01 " + kGostParamSet)),
        // GostR3410-2012-PKISyntax
        KV_VECTOR(GostR3410_PublicKey, "64 octets", H("04 40 " + Rep("55", 64))),
        KV_VECTOR(GostR3410_PublicKey, "128 octets", H("04 81 80 " + Rep("56", 128))),
        // GostR3410-EncryptionSyntax
        KV_VECTOR(Gost28147_89_KeyWrapParameters_ukm, "eight octets", H("04 08 " + Rep("66", 8))),
        KV_VECTOR(GostR3410_TransportParameters_ukm, "eight octets", H("04 08 " + Rep("67", 8))),
        KV_VECTOR(Gost28147_89_KeyWrapParameters, "no ukm", H("30 09 " + kGostParamSet)),
        KV_VECTOR(Gost28147_89_KeyWrapParameters, "with ukm",
                  H("30 13 " + kGostParamSet + " 04 08 " + Rep("66", 8))),
        KV_VECTOR(GostR3410_TransportParameters, "no ephemeral key",
                  H("30 13 " + kGostParamSet + " 04 08 " + Rep("67", 8))),
        KV_VECTOR(GostR3410_TransportParameters, "ephemeral key",
                  H("30 21 " + kGostParamSet + " A0 0C " + kSha1Alg + " 03 03 00 01 02 04 08 " +
                    Rep("67", 8))),
        KV_VECTOR(GostR3410_KeyTransport, "no transport parameters",
                  H("30 2A 30 28 04 20 " + Rep("22", 32) + " 04 04 " + Rep("33", 4))),
        KV_VECTOR(GostR3410_KeyTransport, "transport parameters",
                  H("30 3F 30 28 04 20 " + Rep("22", 32) + " 04 04 " + Rep("33", 4) + " A0 13 " +
                    kGostParamSet + " 04 08 " + Rep("67", 8))),
        // Gost-Kelvarine-PrivateKey
        KV_VECTOR(GostPrivateCertificateStore, "empty", H("31 00")),
        KV_VECTOR(GostPrivateCertificateStore, "two in DER order",
                  H("31 0A 30 03 02 01 07 31 03 02 01 05")),
        // Gost-Qualified-Certificate
        KV_VECTOR(IssuerSignTool, "ASCII", H("30 0C 0C 01 61 0C 01 62 0C 01 63 0C 01 64")),
        KV_VECTOR(IssuerSignTool, "Cyrillic",
                  H("30 10 0C 04 D0 A1 D0 9A 0C 02 D0 A3 0C 01 63 0C 01 64")),
    };
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
