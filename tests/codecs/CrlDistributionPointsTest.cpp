// The CRL distribution points codec, checked against openssl: certificates made by
// `openssl req -x509` and hand-built DER from `openssl asn1parse -genconf` (tests/data/crldp,
// made by make.sh there) decode to what `openssl x509 -ext crlDistributionPoints` shows and
// re-encode byte for byte.
#include "kvext/kvext.h"

#include <asn1rt.h>

#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;

// ------------------------------------------------------------------ a heap that can fail

// The test program defines the runtime's heap functions itself: an executable's symbols come
// before those of the shared runtime, so every call the library makes lands here and goes on
// to the runtime's own, except the one a countdown picks to fail.
namespace {

int g_allocationsBeforeFailure = -1; // -1: none fails

bool FailThisAllocation()
{
    return g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0;
}

template <typename Fn> Fn RuntimeFunction(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" void *rtMemHeapAlloc(void **ppvMemHeap, size_t nbytes)
{
    static const auto next = RuntimeFunction<void *(*)(void **, size_t)>("rtMemHeapAlloc");
    return FailThisAllocation() ? nullptr : next(ppvMemHeap, nbytes);
}

extern "C" void *rtMemHeapAllocZ(void **ppvMemHeap, size_t nbytes)
{
    static const auto next = RuntimeFunction<void *(*)(void **, size_t)>("rtMemHeapAllocZ");
    return FailThisAllocation() ? nullptr : next(ppvMemHeap, nbytes);
}

extern "C" void *rtDListNewNodeAndData(Asn1Context *pctxt, size_t elemSize)
{
    static const auto next =
        RuntimeFunction<void *(*)(Asn1Context *, size_t)>("rtDListNewNodeAndData");
    return FailThisAllocation() ? nullptr : next(pctxt, elemSize);
}

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

Bytes ReadVector(const std::string &name)
{
    return kvtest::ReadDataFile("crldp/" + name);
}

std::string ReadText(const std::string &name)
{
    const Bytes bytes = ReadVector(name);
    return {bytes.begin(), bytes.end()};
}

const kvtest::CodecEntryPoints kCodec = {
    OrvaDllCrlDistributionPointsEncodeEx, OrvaDllCrlDistributionPointsEncode,
    OrvaDllCrlDistributionPointsDecodeEx, OrvaDllCrlDistributionPointsDecode};

Bytes Encode(const CRL_DIST_POINTS_INFO &info)
{
    return kvtest::EncodeEveryWay(kCodec, &info);
}

// A refused structure: FALSE, nothing delivered, the last error returned.
DWORD EncodeError(const CRL_DIST_POINTS_INFO &info)
{
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(OrvaDllCrlDistributionPointsEncodeEx(kEncoding, X509_CRL_DIST_POINTS, &info, 0,
                                                      nullptr, nullptr, &cb));
    EXPECT_EQ(0u, cb);
    return GetLastError();
}

// Every delivery mode (the helper checks guard bytes around caller buffers and that the fill
// step ends where the size step said); the allocation-mode block is kept.
struct Decoded {
    kvtest::FlatResult block;
    DWORD cb = 0;
    const CRL_DIST_POINTS_INFO *info() const
    {
        return static_cast<const CRL_DIST_POINTS_INFO *>(block.get());
    }
};

Decoded Decode(const Bytes &der)
{
    Decoded out;
    out.block = kvtest::DecodeEveryWay(kCodec, der, &out.cb);
    return out;
}

// ------------------------------------------------------------------ layout of the flat result

// Every datum a pointer of the result refers to: it must lie inside the block, on its
// boundary, and overlap no other.
struct Item {
    const void *p;
    size_t cb;
    size_t alignment;
    std::string what;
};

void CollectNames(const CERT_ALT_NAME_INFO &names, const std::string &what,
                  std::vector<Item> *items)
{
    items->push_back({names.rgAltEntry, names.cAltEntry * sizeof(CERT_ALT_NAME_ENTRY),
                      std::max<size_t>(4, alignof(CERT_ALT_NAME_ENTRY)), what + " entries"});
    for (DWORD i = 0; i < names.cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY &e = names.rgAltEntry[i];
        const std::string name = what + " name " + std::to_string(i);
        switch (e.dwAltNameChoice) {
        case CERT_ALT_NAME_OTHER_NAME:
            items->push_back({e.pOtherName, sizeof(CERT_OTHER_NAME),
                              std::max<size_t>(4, alignof(CERT_OTHER_NAME)), name});
            items->push_back({e.pOtherName->pszObjId, std::strlen(e.pOtherName->pszObjId) + 1, 1,
                              name + " OID"});
            items->push_back(
                {e.pOtherName->Value.pbData, e.pOtherName->Value.cbData, 4, name + " value"});
            break;
        case CERT_ALT_NAME_RFC822_NAME:
        case CERT_ALT_NAME_DNS_NAME:
        case CERT_ALT_NAME_URL:
            items->push_back({e.pwszURL, (std::wcslen(e.pwszURL) + 1) * sizeof(wchar_t), 4, name});
            break;
        case CERT_ALT_NAME_REGISTERED_ID:
            items->push_back({e.pszRegisteredID, std::strlen(e.pszRegisteredID) + 1, 4, name});
            break;
        default: // x400Address, directoryName, ediPartyName, iPAddress: a blob
            items->push_back({e.DirectoryName.pbData, e.DirectoryName.cbData, 4, name});
        }
    }
}

std::vector<Item> CollectItems(const CRL_DIST_POINTS_INFO *info)
{
    std::vector<Item> items{{info, sizeof *info, alignof(CRL_DIST_POINTS_INFO), "info"},
                            {info->rgDistPoint, info->cDistPoint * sizeof(CRL_DIST_POINT),
                             alignof(CRL_DIST_POINT), "points"}};
    for (DWORD i = 0; i < info->cDistPoint; ++i) {
        const CRL_DIST_POINT &point = info->rgDistPoint[i];
        const std::string what = "point " + std::to_string(i);
        if (point.DistPointName.dwDistPointNameChoice == CRL_DIST_POINT_FULL_NAME)
            CollectNames(point.DistPointName.FullName, what + " full name", &items);
        if (point.ReasonFlags.pbData)
            items.push_back(
                {point.ReasonFlags.pbData, point.ReasonFlags.cbData, 4, what + " reasons"});
        if (point.CRLIssuer.rgAltEntry) CollectNames(point.CRLIssuer, what + " CRL issuer", &items);
    }
    return items;
}

// Every item inside the block, aligned, and laid in address order without overlap.
void ExpectFlatLayout(const Decoded &decoded)
{
    ASSERT_NE(nullptr, decoded.info());
    const auto begin = reinterpret_cast<uintptr_t>(decoded.info());
    const uintptr_t end = begin + decoded.cb;
    std::vector<Item> items = CollectItems(decoded.info());
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.p < b.p; });
    uintptr_t previousEnd = begin;
    for (const Item &item : items) {
        SCOPED_TRACE(item.what);
        const auto at = reinterpret_cast<uintptr_t>(item.p);
        EXPECT_GE(at, previousEnd);
        EXPECT_LE(at + item.cb, end);
        EXPECT_EQ(0u, (at - begin) % item.alignment);
        previousEnd = std::max(previousEnd, at + item.cb);
    }
}

// ------------------------------------------------------------------ openssl's text form

// Short names of the attributes the vectors use, by the last arc of their OID (2.5.4.x).
const std::map<BYTE, std::string> kAttributeNames = {
    {0x03, "CN"}, {0x06, "C"}, {0x07, "L"}, {0x0A, "O"}, {0x0B, "OU"},
};

// One TLV off the front of `der` (short and one- or two-byte long lengths).
bool NextTlv(const BYTE *&p, const BYTE *end, BYTE *tag, Bytes *contents)
{
    if (end - p < 2) return false;
    *tag = p[0];
    size_t len = p[1], header = 2;
    if (len & 0x80) {
        header += len & 0x7F;
        if (header > 4 || static_cast<size_t>(end - p) < header) return false;
        len = 0;
        for (size_t i = 2; i < header; ++i)
            len = len << 8 | p[i];
    }
    if (static_cast<size_t>(end - p) - header < len) return false;
    contents->assign(p + header, p + header + len);
    p += header + len;
    return true;
}

// A Name as openssl's one-line form prints it: "C = RU, O = Example, CN = CRL Server".
std::string NameText(const BYTE *pb, DWORD cb)
{
    BYTE tag;
    Bytes rdns, rdn, atv, oid, value;
    const BYTE *p = pb;
    if (!NextTlv(p, pb + cb, &tag, &rdns)) return "<bad name>";
    std::string text;
    for (const BYTE *q = rdns.data(); NextTlv(q, rdns.data() + rdns.size(), &tag, &rdn);) {
        for (const BYTE *r = rdn.data(); NextTlv(r, rdn.data() + rdn.size(), &tag, &atv);) {
            const BYTE *s = atv.data(), *atvEnd = atv.data() + atv.size();
            NextTlv(s, atvEnd, &tag, &oid);
            NextTlv(s, atvEnd, &tag, &value);
            const bool isAttribute = oid.size() == 3 && oid[0] == 0x55 && oid[1] == 0x04;
            const auto known = isAttribute ? kAttributeNames.find(oid[2]) : kAttributeNames.end();
            text += (text.empty() ? "" : ", ") +
                    (known == kAttributeNames.end() ? "?" : known->second) + " = " +
                    std::string(value.begin(), value.end());
        }
    }
    return text;
}

std::string Narrow(LPCWSTR pwsz)
{
    std::string text;
    for (; *pwsz; ++pwsz)
        text += static_cast<char>(*pwsz);
    return text;
}

std::string IPAddressText(const CRYPT_DATA_BLOB &address)
{
    std::string text;
    char part[8];
    for (DWORD i = 0; address.cbData == 4 && i < 4; ++i) {
        std::snprintf(part, sizeof part, "%s%u", i ? "." : "", address.pbData[i]);
        text += part;
    }
    for (DWORD i = 0; address.cbData == 16 && i < 16; i += 2) {
        std::snprintf(part, sizeof part, "%s%X", i ? ":" : "",
                      address.pbData[i] << 8 | address.pbData[i + 1]);
        text += part;
    }
    return text;
}

// openssl names an other name only for the types it knows; XmppAddr is a UTF8String. The
// value is the DER inside the [0] EXPLICIT tag.
std::string OtherNameText(const CERT_OTHER_NAME &otherName)
{
    const BYTE *p = otherName.Value.pbData;
    BYTE tag;
    Bytes text;
    if (std::strcmp(otherName.pszObjId, "1.3.6.1.5.5.7.8.5") != 0 ||
        !NextTlv(p, p + otherName.Value.cbData, &tag, &text) || tag != 0x0C)
        return "othername:<unsupported>";
    return "othername:XmppAddr:" + std::string(text.begin(), text.end());
}

std::string GeneralNameText(const CERT_ALT_NAME_ENTRY &e)
{
    switch (e.dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        return OtherNameText(*e.pOtherName);
    case CERT_ALT_NAME_RFC822_NAME:
        return "email:" + Narrow(e.pwszRfc822Name);
    case CERT_ALT_NAME_DNS_NAME:
        return "DNS:" + Narrow(e.pwszDNSName);
    case CERT_ALT_NAME_X400_ADDRESS:
        return "X400Name:<unsupported>";
    case CERT_ALT_NAME_DIRECTORY_NAME:
        return "DirName:" + NameText(e.DirectoryName.pbData, e.DirectoryName.cbData);
    case CERT_ALT_NAME_EDI_PARTY_NAME:
        return "EdiPartyName:<unsupported>";
    case CERT_ALT_NAME_URL:
        return "URI:" + Narrow(e.pwszURL);
    case CERT_ALT_NAME_IP_ADDRESS:
        return "IP Address:" + IPAddressText(e.IPAddress);
    case CERT_ALT_NAME_REGISTERED_ID:
        return std::string("Registered ID:") + e.pszRegisteredID;
    default:
        return "<bad choice>";
    }
}

// Names one to a line, the last without its newline, as openssl's print_gens does.
std::string GeneralNamesText(const CERT_ALT_NAME_INFO &names)
{
    std::string text;
    for (DWORD i = 0; i < names.cAltEntry; ++i)
        text += (i ? "\n      " : "      ") + GeneralNameText(names.rgAltEntry[i]);
    return text;
}

std::string ReasonsText(const CRYPT_BIT_BLOB &reasons)
{
    static const char *const kNames[] = {
        "Unused",       "Key Compromise",         "CA Compromise",    "Affiliation Changed",
        "Superseded",   "Cessation Of Operation", "Certificate Hold", "Privilege Withdrawn",
        "AA Compromise"};
    std::string text;
    for (DWORD bit = 0; bit < 9 && bit < reasons.cbData * 8; ++bit)
        if (reasons.pbData[bit / 8] & (0x80 >> bit % 8))
            text += (text.empty() ? "" : ", ") + std::string(kNames[bit]);
    return "    Reasons:\n      " + (text.empty() ? "<EMPTY>" : text) + "\n";
}

// The decoded structure as `openssl x509 -noout -ext crlDistributionPoints` prints it. The
// RDN of a relative name is not carried by the structure and reads "<RDN>".
std::string OpensslText(const CRL_DIST_POINTS_INFO *info)
{
    std::string text = "X509v3 CRL Distribution Points: \n";
    for (DWORD i = 0; i < info->cDistPoint; ++i) {
        const CRL_DIST_POINT &point = info->rgDistPoint[i];
        if (i) text += "\n";
        if (point.DistPointName.dwDistPointNameChoice == CRL_DIST_POINT_FULL_NAME)
            text += "    Full Name:\n" + GeneralNamesText(point.DistPointName.FullName);
        if (point.DistPointName.dwDistPointNameChoice == CRL_DIST_POINT_ISSUER_RDN_NAME)
            text += "    Relative Name:\n      <RDN>\n";
        if (point.ReasonFlags.pbData) text += ReasonsText(point.ReasonFlags);
        if (point.CRLIssuer.rgAltEntry)
            text += "    CRL Issuer:\n" + GeneralNamesText(point.CRLIssuer);
    }
    return text + "\n";
}

// openssl's text with the RDN line of every relative name replaced by "<RDN>".
std::string ExpectedOpensslText(const std::string &name)
{
    std::string text = ReadText(name);
    const std::string marker = "Relative Name:\n      ";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
        at += marker.size();
        text.replace(at, text.find('\n', at) - at, "<RDN>");
    }
    return text;
}

// ------------------------------------------------------------------ caller structures

CERT_ALT_NAME_ENTRY UrlEntry(LPCWSTR pwszURL)
{
    CERT_ALT_NAME_ENTRY entry{};
    entry.dwAltNameChoice = CERT_ALT_NAME_URL;
    entry.pwszURL = const_cast<LPWSTR>(pwszURL);
    return entry;
}

CERT_ALT_NAME_ENTRY BlobEntry(DWORD choice, Bytes &der)
{
    CERT_ALT_NAME_ENTRY entry{};
    entry.dwAltNameChoice = choice;
    entry.DirectoryName.cbData = static_cast<DWORD>(der.size());
    entry.DirectoryName.pbData = der.data();
    return entry;
}

CRL_DIST_POINT FullNamePoint(CERT_ALT_NAME_ENTRY *entries, DWORD count)
{
    CRL_DIST_POINT point{};
    point.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
    point.DistPointName.FullName = {count, entries};
    return point;
}

CRL_DIST_POINTS_INFO Points(CRL_DIST_POINT *points, DWORD count)
{
    return {count, points};
}

// 30 09 30 07 A0 05 A0 03 86 01 61: one point whose full name is the URL "a".
const Bytes kSingleUrlPoint = {0x30, 0x09, 0x30, 0x07, 0xA0, 0x05, 0xA0, 0x03, 0x86, 0x01, 0x61};

using kvtest::ToHex;

// ================================================================== tests

// The certificates' extensions read as openssl reads them, in a block that holds every item
// on its boundary and ends exactly where the size step said.
TEST(CrlDistPoints, OpensslVectorsDecodeAsOpensslShowsThem)
{
    for (const char *name : {"all-forms", "relative-name", "x400-edi"}) {
        SCOPED_TRACE(name);
        Decoded decoded = Decode(ReadVector(std::string(name) + ".der"));
        ExpectFlatLayout(decoded);
        EXPECT_EQ(ExpectedOpensslText(std::string(name) + ".txt"), OpensslText(decoded.info()));
    }
}

// Decoding and encoding again gives openssl's DER byte for byte: every general-name form,
// reasons of one and two bytes, CRL issuers, x400Address and ediPartyName, UTF-8 in a URI.
TEST(CrlDistPoints, OpensslVectorsReencodeByteForByte)
{
    for (const char *name : {"all-forms", "x400-edi", "utf8-uri"}) {
        SCOPED_TRACE(name);
        const Bytes der = ReadVector(std::string(name) + ".der");
        Decoded decoded = Decode(der);
        ASSERT_NE(nullptr, decoded.info());
        EXPECT_EQ(ToHex(der), ToHex(Encode(*decoded.info())));
    }
}

// A name relative to the CRL issuer comes back as choice 2 without the RDN and takes no room;
// encoded again, the point goes out without a distribution point name.
TEST(CrlDistPoints, RelativeNameIsReportedWithoutItsRdn)
{
    Decoded decoded = Decode(ReadVector("relative-name.der"));
    ASSERT_NE(nullptr, decoded.info());
    const CRL_DIST_POINT &point = decoded.info()->rgDistPoint[0];
    EXPECT_EQ(DWORD{CRL_DIST_POINT_ISSUER_RDN_NAME}, point.DistPointName.dwDistPointNameChoice);
    EXPECT_EQ(static_cast<const void *>(decoded.info()->rgDistPoint + 3),
              point.CRLIssuer.rgAltEntry); // the first item after the point array

    Decoded again = Decode(Encode(*decoded.info()));
    ASSERT_NE(nullptr, again.info());
    EXPECT_EQ(DWORD{CRL_DIST_POINT_NO_NAME},
              again.info()->rgDistPoint[0].DistPointName.dwDistPointNameChoice);
    std::string withoutName = OpensslText(decoded.info());
    const std::string relativeName = "    Relative Name:\n      <RDN>\n";
    withoutName.erase(withoutName.find(relativeName), relativeName.size());
    EXPECT_EQ(withoutName, OpensslText(again.info()));
}

// The x400Address and ediPartyName blobs are the names' own DER as openssl built them, both
// on the way out and on the way in: a structure made from those blobs encodes to the
// hand-built extension.
TEST(CrlDistPoints, EncodedNamesTravelAsTheirDer)
{
    Bytes orAddress = ReadVector("or-address.der");
    Bytes ediParty1 = ReadVector("edi-party-1.der");
    Bytes ediParty2 = ReadVector("edi-party-2.der");
    const Bytes extension = ReadVector("x400-edi.der");

    Decoded decoded = Decode(extension);
    ASSERT_NE(nullptr, decoded.info());
    const CERT_ALT_NAME_INFO &fullName = decoded.info()->rgDistPoint[0].DistPointName.FullName;
    const CERT_ALT_NAME_INFO &issuer = decoded.info()->rgDistPoint[1].CRLIssuer;
    ASSERT_EQ(3u, fullName.cAltEntry);
    ASSERT_EQ(1u, issuer.cAltEntry);
    auto blob = [](const CERT_ALT_NAME_ENTRY &e) {
        return ToHex(
            Bytes(e.DirectoryName.pbData, e.DirectoryName.pbData + e.DirectoryName.cbData));
    };
    EXPECT_EQ(ToHex(orAddress), blob(fullName.rgAltEntry[0]));
    EXPECT_EQ(ToHex(ediParty1), blob(fullName.rgAltEntry[1]));
    EXPECT_EQ(ToHex(ediParty2), blob(issuer.rgAltEntry[0]));

    CERT_ALT_NAME_ENTRY names[] = {BlobEntry(CERT_ALT_NAME_X400_ADDRESS, orAddress),
                                   BlobEntry(CERT_ALT_NAME_EDI_PARTY_NAME, ediParty1),
                                   UrlEntry(L"http://crl.example.com/x400.crl")};
    CERT_ALT_NAME_ENTRY issuerName = BlobEntry(CERT_ALT_NAME_EDI_PARTY_NAME, ediParty2);
    BYTE reasonBits[] = {0x40, 0x80}; // keyCompromise (1), aACompromise (8)
    CRL_DIST_POINT points[2] = {FullNamePoint(names, 3), {}};
    points[1].ReasonFlags = {sizeof reasonBits, reasonBits, 7};
    points[1].CRLIssuer = {1, &issuerName};
    EXPECT_EQ(ToHex(extension), ToHex(Encode(Points(points, 2))));
}

// Reason flags: bytes and unused bits both ways, against openssl's encodings.
TEST(CrlDistPoints, ReasonFlags)
{
    struct Row {
        const char *name;
        Bytes flags;
        DWORD cUnusedBits;
        Bytes reasonsDer; // [1] IMPLICIT BIT STRING
    };
    const Row rows[] = {
        {"keyCompromise and cACompromise, one byte", {0x60}, 5, {0x81, 0x02, 0x05, 0x60}},
        {"unused bit 0 only", {0x80}, 7, {0x81, 0x02, 0x07, 0x80}},
        {"seven bits", {0x02}, 1, {0x81, 0x02, 0x01, 0x02}},
        {"aACompromise, two bytes", {0x40, 0x80}, 7, {0x81, 0x03, 0x07, 0x40, 0x80}},
        {"all nine bits", {0xFF, 0x80}, 7, {0x81, 0x03, 0x07, 0xFF, 0x80}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CERT_ALT_NAME_ENTRY url = UrlEntry(L"a");
        CRL_DIST_POINT point = FullNamePoint(&url, 1);
        Bytes flags = row.flags;
        point.ReasonFlags = {static_cast<DWORD>(flags.size()), flags.data(), row.cUnusedBits};
        const Bytes der = Encode(Points(&point, 1));
        Bytes expected = {0x30, static_cast<BYTE>(0x09 + row.reasonsDer.size()),
                          0x30, static_cast<BYTE>(0x07 + row.reasonsDer.size()),
                          0xA0, 0x05,
                          0xA0, 0x03,
                          0x86, 0x01,
                          0x61};
        expected.insert(expected.end(), row.reasonsDer.begin(), row.reasonsDer.end());
        EXPECT_EQ(ToHex(expected), ToHex(der));

        Decoded decoded = Decode(der);
        ExpectFlatLayout(decoded);
        const CRYPT_BIT_BLOB &reasons = decoded.info()->rgDistPoint[0].ReasonFlags;
        EXPECT_EQ(ToHex(row.flags), ToHex(Bytes(reasons.pbData, reasons.pbData + reasons.cbData)));
        EXPECT_EQ(row.cUnusedBits, reasons.cUnusedBits);
    }
}

// Reasons and a CRL issuer that are only half given are left out, not refused.
TEST(CrlDistPoints, HalfGivenOptionalPartsAreLeftOut)
{
    CERT_ALT_NAME_ENTRY url = UrlEntry(L"a");
    struct Row {
        const char *name;
        void (*spoil)(CRL_DIST_POINT *);
    };
    const Row rows[] = {
        {"reasons without bytes",
         [](CRL_DIST_POINT *p) {
             p->ReasonFlags = {1, nullptr, 0};
         }},
        {"reasons of no byte",
         [](CRL_DIST_POINT *p) {
             p->ReasonFlags = {0, reinterpret_cast<BYTE *>(p), 0};
         }},
        {"CRL issuer without entries",
         [](CRL_DIST_POINT *p) {
             p->CRLIssuer = {2, nullptr};
         }},
        {"no distribution point name",
         [](CRL_DIST_POINT *p) {
             p->DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_NO_NAME;
             p->CRLIssuer = p->DistPointName.FullName;
             p->DistPointName.FullName = {};
         }},
        {"relative name",
         [](CRL_DIST_POINT *p) {
             p->DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
             p->CRLIssuer = p->DistPointName.FullName;
         }},
    };
    const Bytes issuerOnly = {0x30, 0x07, 0x30, 0x05, 0xA2, 0x03, 0x86, 0x01, 0x61};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CRL_DIST_POINT point = FullNamePoint(&url, 1);
        row.spoil(&point);
        const bool movedToIssuer = point.CRLIssuer.rgAltEntry != nullptr;
        EXPECT_EQ(ToHex(movedToIssuer ? issuerOnly : kSingleUrlPoint),
                  ToHex(Encode(Points(&point, 1))));
    }
}

// Every refused caller structure: its code and its one trace line.
TEST(CrlDistPoints, MalformedCallerStructures)
{
    static WCHAR url[] = L"a";
    static char badOid[] = "1.2.x";
    static BYTE notDer[] = {0x30, 0x05, 0x01};
    static CERT_OTHER_NAME otherName = {badOid, {0, nullptr}};
    struct Row {
        const char *name;
        CERT_ALT_NAME_ENTRY entry;
        DWORD error;
        const char *message;
    };
    auto entry = [](DWORD choice) {
        CERT_ALT_NAME_ENTRY e{};
        e.dwAltNameChoice = choice;
        return e;
    };
    CERT_ALT_NAME_ENTRY choice0 = UrlEntry(url), choice10 = UrlEntry(url);
    choice0.dwAltNameChoice = 0;
    choice10.dwAltNameChoice = 10;
    CERT_ALT_NAME_ENTRY badRegisteredID = entry(CERT_ALT_NAME_REGISTERED_ID);
    badRegisteredID.pszRegisteredID = badOid;
    CERT_ALT_NAME_ENTRY badOtherName = entry(CERT_ALT_NAME_OTHER_NAME);
    badOtherName.pOtherName = &otherName;
    CERT_ALT_NAME_ENTRY badName = entry(CERT_ALT_NAME_DIRECTORY_NAME);
    badName.DirectoryName = {sizeof notDer, notDer};
    const Row rows[] = {
        {"choice 0", choice0, ERROR_INVALID_PARAMETER, "Unsupported dwAltNameChoice"},
        {"choice 10", choice10, ERROR_INVALID_PARAMETER, "Unsupported dwAltNameChoice"},
        {"registered ID not dotted", badRegisteredID, CRYPT_E_ASN1_ERROR, "rtStrToOid() failed"},
        {"other name OID not dotted", badOtherName, CRYPT_E_ASN1_ERROR, "rtStrToOid() failed"},
        {"directory name not DER", badName, CRYPT_E_ASN1_ERROR, "failed, result = "},
        {"URL pointer null", entry(CERT_ALT_NAME_URL), ERROR_INVALID_PARAMETER,
         "Malformed CERT_ALT_NAME_INFO"},
        {"directory name empty", entry(CERT_ALT_NAME_DIRECTORY_NAME), ERROR_INVALID_PARAMETER,
         "Malformed CERT_ALT_NAME_INFO"},
        {"other name null", entry(CERT_ALT_NAME_OTHER_NAME), ERROR_INVALID_PARAMETER,
         "Malformed CERT_ALT_NAME_INFO"},
        {"URL without a UTF-8 form", UrlEntry(L"http://\xD800.example/"), ERROR_INVALID_PARAMETER,
         "Malformed CERT_ALT_NAME_INFO"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ClearTrace();
        CERT_ALT_NAME_ENTRY names[] = {UrlEntry(L"b"), row.entry};
        CRL_DIST_POINT point = FullNamePoint(names, 2);
        EXPECT_EQ(row.error, EncodeError(Points(&point, 1)));
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(row.message)));
    }
}

TEST(CrlDistPoints, MalformedPointLists)
{
    CERT_ALT_NAME_ENTRY url = UrlEntry(L"a");
    BYTE threeBytes[3] = {0x80, 0, 0};
    BYTE oneByte[1] = {0x80};
    CRL_DIST_POINT reasonsTooLong = FullNamePoint(&url, 1);
    reasonsTooLong.ReasonFlags = {3, threeBytes, 0};
    CRL_DIST_POINT unusedBitsTooMany = FullNamePoint(&url, 1);
    unusedBitsTooMany.ReasonFlags = {1, oneByte, 9};
    CRL_DIST_POINT fullNameWithoutEntries = FullNamePoint(nullptr, 1);
    struct Row {
        const char *name;
        CRL_DIST_POINTS_INFO info;
        DWORD error;
        const char *message;
    };
    const Row rows[] = {
        {"no points", Points(nullptr, 0), CRYPT_E_ASN1_ERROR, "call to encodeFun() failed"},
        {"points counted, array null", Points(nullptr, 1), ERROR_INVALID_PARAMETER,
         "Malformed CRL_DIST_POINTS_INFO"},
        {"reasons of 3 bytes", Points(&reasonsTooLong, 1), ERROR_INVALID_PARAMETER,
         "Malformed CRL_DIST_POINTS_INFO"},
        {"9 unused bits", Points(&unusedBitsTooMany, 1), ERROR_INVALID_PARAMETER,
         "Malformed CRL_DIST_POINTS_INFO"},
        {"full name counted, entries null", Points(&fullNameWithoutEntries, 1),
         ERROR_INVALID_PARAMETER, "Malformed CERT_ALT_NAME_INFO"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        kvtest::ClearTrace();
        EXPECT_EQ(row.error, EncodeError(row.info));
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(row.message)));
    }
}

// Empty lists and empty reasons still point into the block, right where their data would go
// (here its end); absent parts are null.
TEST(CrlDistPoints, EmptyPartsPointIntoTheBlock)
{
    const struct {
        const char *name;
        Bytes der;
        bool fullName, reasons, crlIssuer; // present, and so pointing at the block's end
    } rows[] = {
        {"empty point", {0x30, 0x02, 0x30, 0x00}, false, false, false},
        {"empty full name", {0x30, 0x06, 0x30, 0x04, 0xA0, 0x02, 0xA0, 0x00}, true, false, false},
        {"reasons of no bit", {0x30, 0x05, 0x30, 0x03, 0x81, 0x01, 0x00}, false, true, false},
        {"empty CRL issuer", {0x30, 0x04, 0x30, 0x02, 0xA2, 0x00}, false, false, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Decoded decoded = Decode(row.der);
        ExpectFlatLayout(decoded);
        ASSERT_EQ(sizeof(CRL_DIST_POINTS_INFO) + sizeof(CRL_DIST_POINT), decoded.cb);
        const CRL_DIST_POINT &point = decoded.info()->rgDistPoint[0];
        const void *end = static_cast<const BYTE *>(decoded.block.get()) + decoded.cb;
        EXPECT_EQ(row.fullName ? end : nullptr, point.DistPointName.FullName.rgAltEntry);
        EXPECT_EQ(row.reasons ? end : nullptr, point.ReasonFlags.pbData);
        EXPECT_EQ(row.crlIssuer ? end : nullptr, point.CRLIssuer.rgAltEntry);
        EXPECT_EQ(0u, point.DistPointName.FullName.cAltEntry + point.ReasonFlags.cbData +
                          point.ReasonFlags.cUnusedBits + point.CRLIssuer.cAltEntry);
    }

    Decoded none = Decode({0x30, 0x00}); // no point: only the encoder refuses that
    ExpectFlatLayout(none);
    EXPECT_EQ(sizeof(CRL_DIST_POINTS_INFO), none.cb);
    EXPECT_EQ(0u, none.info()->cDistPoint);
    EXPECT_EQ(static_cast<const void *>(none.info() + 1), none.info()->rgDistPoint);
}

// A decoded IA5String holding UTF-8 (not IA5, but met in the wild) is read as UTF-8, in room
// for one wide character per byte.
TEST(CrlDistPoints, Utf8InIA5StringIsReadAsUtf8)
{
    const Bytes der = {0x30, 0x0A, 0x30, 0x08, 0xA0, 0x06, 0xA0, 0x04, 0x86, 0x02, 0xC3, 0xA9};
    Decoded decoded = Decode(der);
    ExpectFlatLayout(decoded);
    EXPECT_EQ(sizeof(CRL_DIST_POINTS_INFO) + sizeof(CRL_DIST_POINT) + sizeof(CERT_ALT_NAME_ENTRY) +
                  3 * sizeof(wchar_t),
              decoded.cb);
    EXPECT_EQ(std::wstring(L"\u00e9"),
              decoded.info()->rgDistPoint[0].DistPointName.FullName.rgAltEntry->pwszURL);
}

// Each allocation of a call fails in turn: the call fails cleanly with NTE_NO_MEMORY (or, for
// the runtime's own, CRYPT_E_ASN1_ERROR) and one trace line, until every allocation succeeds.
// Returns the messages seen.
template <typename Call> std::set<std::string> FailEachAllocation(Call call)
{
    std::set<std::string> messages;
    for (int failing = 0;; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        kvtest::ClearTrace();
        g_allocationsBeforeFailure = failing;
        const BOOL ok = call();
        const DWORD error = GetLastError();
        const bool allUsed = g_allocationsBeforeFailure >= 0;
        g_allocationsBeforeFailure = -1;
        if (ok) {
            EXPECT_TRUE(allUsed);
            return messages;
        }
        EXPECT_TRUE(error == NTE_NO_MEMORY || error == CRYPT_E_ASN1_ERROR) << error;
        const std::vector<std::string> lines = kvtest::TraceLines();
        EXPECT_EQ(1u, lines.size());
        for (const std::string &line : lines)
            messages.insert(line.substr(line.find("): ") + 3));
    }
}

TEST(CrlDistPoints, EveryAllocationFailureIsClean)
{
    Bytes orAddress = ReadVector("or-address.der"), ediParty = ReadVector("edi-party-1.der");
    BYTE name[] = {0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06,
                   0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 'x'};
    BYTE address[] = {192, 0, 2, 7}, value[] = {0x0C, 0x01, 'x'};
    static char oid[] = "1.2.3.4";
    CERT_OTHER_NAME otherName = {oid, {sizeof value, value}};
    CERT_ALT_NAME_ENTRY names[7] = {UrlEntry(L"a"),
                                    BlobEntry(CERT_ALT_NAME_X400_ADDRESS, orAddress),
                                    BlobEntry(CERT_ALT_NAME_EDI_PARTY_NAME, ediParty)};
    names[3].dwAltNameChoice = CERT_ALT_NAME_DIRECTORY_NAME;
    names[3].DirectoryName = {sizeof name, name};
    names[4].dwAltNameChoice = CERT_ALT_NAME_IP_ADDRESS;
    names[4].IPAddress = {sizeof address, address};
    names[5].dwAltNameChoice = CERT_ALT_NAME_OTHER_NAME;
    names[5].pOtherName = &otherName;
    names[6].dwAltNameChoice = CERT_ALT_NAME_REGISTERED_ID;
    names[6].pszRegisteredID = oid;
    CRL_DIST_POINT point = FullNamePoint(names, 7);
    const CRL_DIST_POINTS_INFO info = Points(&point, 1);
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    const std::set<std::string> encodeMessages = FailEachAllocation([&] {
        return OrvaDllCrlDistributionPointsEncodeEx(kEncoding, X509_CRL_DIST_POINTS, &info,
                                                    CRYPT_ENCODE_ALLOC_FLAG, nullptr, &pbEncoded,
                                                    &cbEncoded);
    });
    std::free(pbEncoded);
    for (const char *message : {"ALLOC_ASN1ELEMDNODE() failed", "ALLOC_ASN1ELEM() failed",
                                "ASN1MALLOC() failed", "ASN1MALLOCZ() failed"})
        EXPECT_EQ(1u, encodeMessages.count(message)) << message;

    const Bytes der = ReadVector("x400-edi.der");
    void *pvDecoded = nullptr;
    DWORD cbDecoded = 0;
    const std::set<std::string> decodeMessages = FailEachAllocation([&] {
        return OrvaDllCrlDistributionPointsDecodeEx(
            kEncoding, X509_CRL_DIST_POINTS, der.data(), static_cast<DWORD>(der.size()),
            CRYPT_DECODE_ALLOC_FLAG, nullptr, &pvDecoded, &cbDecoded);
    });
    std::free(pvDecoded);
    EXPECT_EQ(1u, decodeMessages.count("ASN1MALLOC() failed"));
}

// The non-Ex decode has no allocation mode and says so under its own name.
TEST(CrlDistPoints, DecodeWithoutExRefusesAllocation)
{
    BYTE *pb = nullptr;
    DWORD cb = 0;
    EXPECT_FALSE(OrvaDllCrlDistributionPointsDecode(
        kEncoding, X509_CRL_DIST_POINTS, kSingleUrlPoint.data(),
        static_cast<DWORD>(kSingleUrlPoint.size()), CRYPT_DECODE_ALLOC_FLAG, &pb, &cb));
    EXPECT_EQ(DWORD{NTE_BAD_FLAGS}, GetLastError());
    EXPECT_EQ(nullptr, pb);
    EXPECT_THAT(kvtest::TraceLines(),
                ElementsAre(HasSubstr("OrvaDllCrlDistributionPointsDecode(")));
}

} // namespace
