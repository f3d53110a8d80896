// Demos of the ESS signing-certificate attributes: SigningCertificate (RFC 2634),
// SigningCertificateV2 (RFC 5035) and OtherSigningCertificate (RFC 3126). Each encodes a
// caller structure, then decodes an attribute that openssl wrote (tools/host/samples,
// made by tests/data/ess/make.sh) and prints what it holds.
#include "Host.h"

#include "kvext/kvext.h"

#include <cstdlib>
#include <string>

namespace {

using kvhost::Library;

constexpr LPCSTR kSigningCertificateOid = "1.2.840.113549.1.9.16.2.12";
constexpr LPCSTR kSigningCertificateV2Oid = "1.2.840.113549.1.9.16.2.47";
constexpr LPCSTR kOtherSigningCertificateOid = "1.2.840.113549.1.9.16.2.19";

// Name ::= SEQUENCE { SET { SEQUENCE { id-at-commonName, UTF8String "Demo CA" } } }
BYTE g_demoIssuer[] = {0x30, 0x12, 0x31, 0x10, 0x30, 0x0E, 0x06, 0x03, 0x55, 0x04,
                       0x03, 0x0C, 0x07, 'D',  'e',  'm',  'o',  ' ',  'C',  'A'};
BYTE g_demoSerial[] = {0x39, 0x30}; // 0x3039 = 12345, least significant octet first
BYTE g_sha1OfAbc[] = {0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                      0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D};
BYTE g_sha256OfAbc[] = {0xBA, 0x78, 0x16, 0xBF, 0x8F, 0x01, 0xCF, 0xEA, 0x41, 0x41, 0x40,
                        0xDE, 0x5D, 0xAE, 0x22, 0x23, 0xB0, 0x03, 0x61, 0xA3, 0x96, 0x17,
                        0x7A, 0x9C, 0xB4, 0x10, 0xFF, 0x61, 0xF2, 0x00, 0x15, 0xAD};
// IA5String "http://pki.example.test/cps", the CPS qualifier's value.
BYTE g_cpsUri[] = {0x16, 0x1B, 'h', 't', 't', 'p', ':', '/', '/', 'p', 'k', 'i', '.', 'e', 'x',
                   'a',  'm',  'p', 'l', 'e', '.', 't', 'e', 's', 't', '/', 'c', 'p', 's'};
char g_sha1[] = "1.3.14.3.2.26";
char g_sha256[] = "2.16.840.1.101.3.4.2.1";
char g_cpsQualifier[] = "1.3.6.1.5.5.7.2.1";
char g_anyPolicy[] = "2.5.29.32.0";

const KVCMSG_ISSUER_SERIAL kDemoIssuerSerial = {{sizeof g_demoIssuer, g_demoIssuer},
                                                {sizeof g_demoSerial, g_demoSerial}};

// ------------------------------------------------------------------ printing

// The text of a DER length at `pos`, moving past it; -1 when it does not fit in `end`.
long ReadLength(const BYTE *der, size_t end, size_t *pos)
{
    if (*pos >= end) return -1;
    long length = der[(*pos)++];
    if (length < 0x80) return length;
    const int octets = length & 0x7F;
    if (octets > 3 || *pos + octets > end) return -1;
    length = 0;
    for (int i = 0; i < octets; ++i)
        length = (length << 8) | der[(*pos)++];
    return length;
}

const char *AttributeName(const BYTE *oid, long cb)
{
    static const struct {
        BYTE arc;
        const char *name;
    } kNames[] = {{3, "CN"}, {6, "C"}, {7, "L"}, {8, "ST"}, {10, "O"}, {11, "OU"}};
    if (cb == 3 && oid[0] == 0x55 && oid[1] == 0x04)
        for (const auto &entry : kNames)
            if (entry.arc == oid[2]) return entry.name;
    return "?";
}

// "C=RU, O=..., CN=..." for a Name whose attribute values are character strings.
std::string NameText(const CERT_NAME_BLOB &name)
{
    std::string text;
    const BYTE *der = name.pbData;
    const size_t end = name.cbData;
    size_t pos = 1; // inside the outer SEQUENCE
    if (!der || end < 2 || ReadLength(der, end, &pos) < 0) return "(not a Name)";
    while (pos + 2 <= end) {
        pos += 1; // SET
        if (ReadLength(der, end, &pos) < 0) break;
        pos += 1; // SEQUENCE
        if (ReadLength(der, end, &pos) < 0) break;
        pos += 1; // OBJECT IDENTIFIER
        const long cbOid = ReadLength(der, end, &pos);
        if (cbOid < 0 || pos + cbOid > end) break;
        const char *attribute = AttributeName(der + pos, cbOid);
        pos += cbOid + 1; // and the string's identifier
        const long cbValue = ReadLength(der, end, &pos);
        if (cbValue < 0 || pos + cbValue > end) break;
        text += (text.empty() ? "" : ", ") + std::string(attribute) + "=" +
                std::string(reinterpret_cast<const char *>(der + pos), cbValue);
        pos += cbValue;
    }
    return text;
}

// Most significant octet first and without the sign octet, as openssl prints serials.
void PrintSerial(const CRYPT_INTEGER_BLOB &serial)
{
    DWORD cbShown = serial.cbData;
    if (cbShown > 1 && serial.pbData[cbShown - 1] == 0x00) --cbShown;
    std::printf("    serial:  ");
    for (DWORD i = cbShown; i > 0; --i)
        std::printf("%02X", serial.pbData[i - 1]);
    std::printf("\n");
}

void PrintCertId(DWORD index, const char *pszHashOid, const CRYPT_HASH_BLOB &hash,
                 const KVCMSG_ISSUER_SERIAL &issuerSerial)
{
    std::printf("  cert %u: hash algorithm %s\n", static_cast<unsigned>(index),
                pszHashOid ? pszHashOid : "1.3.14.3.2.26 (SHA-1, implied)");
    kvhost::PrintHex("    hash", hash.pbData, hash.cbData);
    if (!issuerSerial.Issuer.cbData) return;
    std::printf("    issuer:  %s\n", NameText(issuerSerial.Issuer).c_str());
    PrintSerial(issuerSerial.SerialNumber);
}

void PrintPolicies(DWORD cPolicies, const CERT_POLICY_INFO *rgPolicies)
{
    for (DWORD i = 0; i < cPolicies; ++i) {
        std::printf("  policy %s\n", rgPolicies[i].pszPolicyIdentifier);
        for (DWORD q = 0; q < rgPolicies[i].cPolicyQualifier; ++q) {
            const CERT_POLICY_QUALIFIER_INFO &qualifier = rgPolicies[i].rgPolicyQualifier[q];
            std::printf("    qualifier %s\n", qualifier.pszPolicyQualifierId);
            if (qualifier.Qualifier.cbData)
                kvhost::PrintHex("      value", qualifier.Qualifier.pbData,
                                 qualifier.Qualifier.cbData);
        }
    }
}

// ------------------------------------------------------------------ demos

void ShowSigningCertificate(const Library &lib)
{
    CERT_POLICY_QUALIFIER_INFO cps = {g_cpsQualifier, {sizeof g_cpsUri, g_cpsUri}};
    CERT_POLICY_INFO policies[] = {{g_anyPolicy, 1, &cps}};
    KVCMSG_ESS_CERT_ID certs[] = {{{sizeof g_sha1OfAbc, g_sha1OfAbc}, kDemoIssuerSerial}};
    const KVCMSG_SIGNING_CERTIFICATE given = {1, certs, 1, policies};
    const auto der = kvhost::EncodeAndShow(lib, "OrvaDllSigningCertificateEncodeEx",
                                           kSigningCertificateOid, &given);

    // Our own encoding (with its policy) back, then the attribute `openssl ts` wrote.
    for (const auto &input : {der, kvhost::ReadSample("signing_certificate.der")}) {
        auto *decoded = static_cast<KVCMSG_SIGNING_CERTIFICATE *>(kvhost::Decode(
            lib, "OrvaDllSigningCertificateDecodeEx", kSigningCertificateOid, input));
        if (!decoded) continue;
        for (DWORD i = 0; i < decoded->cCerts; ++i)
            PrintCertId(i, nullptr, decoded->rgCerts[i].CertHash, decoded->rgCerts[i].IssuerSerial);
        PrintPolicies(decoded->cPolicies, decoded->rgPolicies);
        std::free(decoded);
    }
}

void ShowSigningCertificateV2(const Library &lib)
{
    // SHA-256 is the default and is left out of the encoding.
    KVCMSG_ESS_CERT_ID_V2 certs[] = {
        {{g_sha256, {}}, {sizeof g_sha256OfAbc, g_sha256OfAbc}, kDemoIssuerSerial},
        {{g_sha1, {}}, {sizeof g_sha1OfAbc, g_sha1OfAbc}, {}}};
    const KVCMSG_SIGNING_CERTIFICATEV2 given = {2, certs, 0, nullptr};
    kvhost::EncodeAndShow(lib, "OrvaDllSigningCertificateV2EncodeEx", kSigningCertificateV2Oid,
                          &given);

    auto *decoded = static_cast<KVCMSG_SIGNING_CERTIFICATEV2 *>(
        kvhost::Decode(lib, "OrvaDllSigningCertificateV2DecodeEx", kSigningCertificateV2Oid,
                       kvhost::ReadSample("signing_certificate_v2.der")));
    if (!decoded) return;
    for (DWORD i = 0; i < decoded->cCerts; ++i)
        PrintCertId(i, decoded->rgCerts[i].HashAlgorithm.pszObjId, decoded->rgCerts[i].CertHash,
                    decoded->rgCerts[i].IssuerSerial);
    PrintPolicies(decoded->cPolicies, decoded->rgPolicies);
    std::free(decoded);
}

void ShowOtherSigningCertificate(const Library &lib)
{
    // SHA-1 takes the bare-hash form; any other algorithm is written with its identifier.
    KVCMSG_OTHER_CERT_ID certs[] = {
        {{g_sha1, {}}, {sizeof g_sha1OfAbc, g_sha1OfAbc}, kDemoIssuerSerial},
        {{g_sha256, {}}, {sizeof g_sha256OfAbc, g_sha256OfAbc}, {}}};
    const KVCMSG_OTHER_SIGNING_CERTIFICATE given = {2, certs, 0, nullptr};
    kvhost::EncodeAndShow(lib, "OrvaDllOtherSigningCertificateEncodeEx",
                          kOtherSigningCertificateOid, &given);

    auto *decoded = static_cast<KVCMSG_OTHER_SIGNING_CERTIFICATE *>(
        kvhost::Decode(lib, "OrvaDllOtherSigningCertificateDecodeEx", kOtherSigningCertificateOid,
                       kvhost::ReadSample("other_signing_certificate.der")));
    if (!decoded) return;
    for (DWORD i = 0; i < decoded->cCerts; ++i)
        PrintCertId(i, decoded->rgCerts[i].HashAlgorithm.pszObjId, decoded->rgCerts[i].CertHash,
                    decoded->rgCerts[i].IssuerSerial);
    PrintPolicies(decoded->cPolicies, decoded->rgPolicies);
    std::free(decoded);
}

const bool kRegistered =
    kvhost::RegisterDemo({"SigningCertificate", ShowSigningCertificate}) &&
    kvhost::RegisterDemo({"SigningCertificateV2", ShowSigningCertificateV2}) &&
    kvhost::RegisterDemo({"OtherSigningCertificate", ShowOtherSigningCertificate});

} // namespace
