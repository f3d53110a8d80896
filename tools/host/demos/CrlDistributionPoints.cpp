// Demo of the CRL distribution points codec: a CRL_DIST_POINTS_INFO encoded, and the
// extension of a certificate made by `openssl req -x509` (samples/crldp-cert.der, made by
// tests/data/crldp/make.sh) decoded and printed point by point.
#include "Host.h"

#include "kvext/kvext.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

using kvhost::Library;

// ReasonFlags bits in order, bit 0 first                             -- RFC 5280, 4.2.1.13
const char *const kReasonNames[] = {
    "unused",      "keyCompromise",        "cACompromise",    "affiliationChanged",
    "superseded",  "cessationOfOperation", "certificateHold", "privilegeWithdrawn",
    "aACompromise"};

std::string ReasonsText(const CRYPT_BIT_BLOB &reasons)
{
    std::string text;
    const DWORD bits = reasons.cbData * 8 - reasons.cUnusedBits;
    for (DWORD bit = 0; bit < bits && bit < std::size(kReasonNames); ++bit)
        if (reasons.pbData[bit / 8] & (0x80 >> bit % 8))
            text += (text.empty() ? "" : ", ") + std::string(kReasonNames[bit]);
    return text.empty() ? "(none)" : text;
}

void PrintBlob(const char *label, const CRYPT_DATA_BLOB &blob)
{
    kvhost::PrintHex(label, blob.pbData, blob.cbData);
}

// IPv4 dotted, anything else in 16-bit groups as IPv6 is written.
void PrintIPAddress(const CRYPT_DATA_BLOB &address)
{
    std::printf("      IP address: ");
    const BYTE *pb = address.pbData;
    if (address.cbData == 4)
        std::printf("%u.%u.%u.%u", pb[0], pb[1], pb[2], pb[3]);
    else
        for (DWORD i = 0; i + 1 < address.cbData; i += 2)
            std::printf("%s%X", i ? ":" : "", static_cast<unsigned>(pb[i] << 8 | pb[i + 1]));
    std::printf("\n");
}

void PrintGeneralName(const CERT_ALT_NAME_ENTRY &entry)
{
    switch (entry.dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        std::printf("      other name %s\n", entry.pOtherName->pszObjId);
        PrintBlob("        value", entry.pOtherName->Value);
        break;
    case CERT_ALT_NAME_RFC822_NAME:
        std::printf("      email: %ls\n", entry.pwszRfc822Name);
        break;
    case CERT_ALT_NAME_DNS_NAME:
        std::printf("      DNS: %ls\n", entry.pwszDNSName);
        break;
    case CERT_ALT_NAME_X400_ADDRESS:
        PrintBlob("      x400Address (DER)", entry.DirectoryName);
        break;
    case CERT_ALT_NAME_DIRECTORY_NAME:
        PrintBlob("      directory name (DER)", entry.DirectoryName);
        break;
    case CERT_ALT_NAME_EDI_PARTY_NAME:
        PrintBlob("      ediPartyName (DER)", entry.DirectoryName);
        break;
    case CERT_ALT_NAME_URL:
        std::printf("      URL: %ls\n", entry.pwszURL);
        break;
    case CERT_ALT_NAME_IP_ADDRESS:
        PrintIPAddress(entry.IPAddress);
        break;
    case CERT_ALT_NAME_REGISTERED_ID:
        std::printf("      registered ID: %s\n", entry.pszRegisteredID);
        break;
    }
}

void PrintGeneralNames(const char *label, const CERT_ALT_NAME_INFO &names)
{
    std::printf("    %s (%u):\n", label, static_cast<unsigned>(names.cAltEntry));
    for (DWORD i = 0; i < names.cAltEntry; ++i)
        PrintGeneralName(names.rgAltEntry[i]);
}

void PrintPoint(DWORD index, const CRL_DIST_POINT &point)
{
    std::printf("  point %u\n", static_cast<unsigned>(index + 1));
    switch (point.DistPointName.dwDistPointNameChoice) {
    case CRL_DIST_POINT_FULL_NAME:
        PrintGeneralNames("full name", point.DistPointName.FullName);
        break;
    case CRL_DIST_POINT_ISSUER_RDN_NAME:
        std::printf("    name relative to the CRL issuer\n");
        break;
    }
    if (point.ReasonFlags.pbData)
        std::printf("    reasons: %s\n", ReasonsText(point.ReasonFlags).c_str());
    if (point.CRLIssuer.cAltEntry) PrintGeneralNames("CRL issuer", point.CRLIssuer);
}

// The value of the certificate's extension 2.5.29.31: the OCTET STRING that follows its OID
// (and the critical flag, when there is one) in the DER of the certificate.
std::vector<BYTE> ExtensionValue(const std::vector<BYTE> &certificate)
{
    static const BYTE kOid[] = {0x06, 0x03, 0x55, 0x1D, 0x1F};
    auto at = std::search(certificate.begin(), certificate.end(), std::begin(kOid), std::end(kOid));
    size_t i = static_cast<size_t>(at - certificate.begin()) + sizeof kOid;
    if (i + 3 <= certificate.size() && certificate[i] == 0x01) // critical BOOLEAN
        i += 3;
    if (i + 2 > certificate.size() || certificate[i] != 0x04) return {};
    size_t length = certificate[i + 1], header = 2;
    if (length & 0x80) { // long form: the next (length & 0x7F) octets
        header += length & 0x7F;
        length = 0;
        for (size_t k = i + 2; k < i + header && k < certificate.size(); ++k)
            length = length << 8 | certificate[k];
    }
    if (i + header + length > certificate.size()) return {};
    return {certificate.begin() + static_cast<long>(i + header),
            certificate.begin() + static_cast<long>(i + header + length)};
}

void EncodeExample(const Library &lib)
{
    // Name ::= SEQUENCE { SET { SEQUENCE { id-at-commonName, UTF8String "CRL Server" } } }
    BYTE directoryName[] = {0x30, 0x15, 0x31, 0x13, 0x30, 0x11, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C,
                            0x0A, 'C',  'R',  'L',  ' ',  'S',  'e',  'r',  'v',  'e',  'r'};
    BYTE address[] = {192, 0, 2, 7};
    static char registeredID[] = "1.2.643.100.1";
    CERT_ALT_NAME_ENTRY fullName[3] = {};
    fullName[0].dwAltNameChoice = CERT_ALT_NAME_URL;
    fullName[0].pwszURL = const_cast<LPWSTR>(L"http://crl.example.com/ca.crl");
    fullName[1].dwAltNameChoice = CERT_ALT_NAME_DIRECTORY_NAME;
    fullName[1].DirectoryName = {sizeof directoryName, directoryName};
    fullName[2].dwAltNameChoice = CERT_ALT_NAME_IP_ADDRESS;
    fullName[2].IPAddress = {sizeof address, address};
    CERT_ALT_NAME_ENTRY issuer[2] = {};
    issuer[0].dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
    issuer[0].pwszDNSName = const_cast<LPWSTR>(L"ca.example.com");
    issuer[1].dwAltNameChoice = CERT_ALT_NAME_REGISTERED_ID;
    issuer[1].pszRegisteredID = registeredID;
    BYTE reasons[] = {0x60}; // keyCompromise, cACompromise
    CRL_DIST_POINT points[1] = {};
    points[0].DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
    points[0].DistPointName.FullName = {3, fullName};
    points[0].ReasonFlags = {sizeof reasons, reasons, 5};
    points[0].CRLIssuer = {2, issuer};
    const CRL_DIST_POINTS_INFO info = {1, points};
    kvhost::EncodeAndShow(lib, "OrvaDllCrlDistributionPointsEncodeEx", szOID_CRL_DIST_POINTS,
                          &info);
}

void ShowCrlDistributionPoints(const Library &lib)
{
    EncodeExample(lib);
    const std::vector<BYTE> extension = ExtensionValue(kvhost::ReadSample("crldp-cert.der"));
    kvhost::PrintHex("  extension 2.5.29.31", extension.data(),
                     static_cast<DWORD>(extension.size()));
    auto *info = static_cast<CRL_DIST_POINTS_INFO *>(kvhost::Decode(
        lib, "OrvaDllCrlDistributionPointsDecodeEx", szOID_CRL_DIST_POINTS, extension));
    if (!info) return;
    for (DWORD i = 0; i < info->cDistPoint; ++i)
        PrintPoint(i, info->rgDistPoint[i]);
    std::free(info); // the default allocator's block
}

const bool kRegistered = kvhost::RegisterDemo({"CrlDistributionPoints", ShowCrlDistributionPoints});

} // namespace
