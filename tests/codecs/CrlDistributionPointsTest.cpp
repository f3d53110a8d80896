// The CRL distribution points codec, checked against openssl: certificates made by
// `openssl req -x509` and hand-built DER from `openssl asn1parse -genconf` (tests/data/crldp,
// made by make.sh there) decode to what `openssl x509 -ext crlDistributionPoints` shows and
// re-encode byte for byte; caller structures and their refusals come from encode.txt there.
#include "kvext/kvext.h"

#include <asn1rt.h>

#include "FailingHeap.h"

#include "common/EntryPoints.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

using Bytes = std::vector<BYTE>;
using kvtest::Split;
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

// Hex, or @file under tests/data/crldp.
Bytes BytesOf(const std::string &text)
{
    return text.starts_with("@") ? ReadVector(text.substr(1)) : kvtest::FromHex(text);
}

// A caller structure as tests/data/crldp/encode.txt describes it, with the storage its
// pointers refer to (deques keep their elements in place as they grow).
class CallerPoints {
  public:
    explicit CallerPoints(const std::string &text)
    {
        if (text.starts_with("null:")) info = {static_cast<DWORD>(std::stoul(text.substr(5))), {}};
        if (text == "none" || text.starts_with("null:")) return;
        for (const std::string &point : Split(text, " | "))
            points_.push_back(Point(point));
        info = {static_cast<DWORD>(points_.size()), points_.data()};
    }
    CRL_DIST_POINTS_INFO info{};

  private:
    CRL_DIST_POINT Point(const std::string &text)
    {
        CRL_DIST_POINT point{};
        for (const std::string &part : Split(text, " ")) {
            const size_t colon = part.find(':');
            const std::string key = part.substr(0, colon), value = part.substr(colon + 1);
            const auto count = [&] { return static_cast<DWORD>(std::stoul(value)); };
            if (key.starts_with("full")) {
                point.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_FULL_NAME;
                point.DistPointName.FullName =
                    key == "full" ? Names(value) : CERT_ALT_NAME_INFO{count(), {}};
            } else if (key == "rdn") {
                point.DistPointName.dwDistPointNameChoice = CRL_DIST_POINT_ISSUER_RDN_NAME;
            } else if (key == "reasons") {
                const size_t slash = value.find('/');
                Bytes &bits = bytes_.emplace_back(kvtest::FromHex(value.substr(0, slash)));
                bits.reserve(1); // no byte still points somewhere
                point.ReasonFlags = {static_cast<DWORD>(bits.size()), bits.data(),
                                     static_cast<DWORD>(std::stoul(value.substr(slash + 1)))};
            } else if (key == "reasons-null") {
                point.ReasonFlags = {count(), nullptr, 0};
            } else if (key.starts_with("issuer")) {
                point.CRLIssuer = key == "issuer" ? Names(value) : CERT_ALT_NAME_INFO{count(), {}};
            } else {
                ADD_FAILURE() << "no such part " << part;
            }
        }
        return point;
    }

    CERT_ALT_NAME_INFO Names(const std::string &text)
    {
        auto &entries = names_.emplace_back();
        for (const std::string &name : Split(text, ","))
            entries.push_back(Entry(name));
        return {static_cast<DWORD>(entries.size()), entries.data()};
    }

    CERT_ALT_NAME_ENTRY Entry(const std::string &text)
    {
        static const std::map<std::string, DWORD> kChoices = {{"other", CERT_ALT_NAME_OTHER_NAME},
                                                              {"email", CERT_ALT_NAME_RFC822_NAME},
                                                              {"dns", CERT_ALT_NAME_DNS_NAME},
                                                              {"x400", CERT_ALT_NAME_X400_ADDRESS},
                                                              {"dir", CERT_ALT_NAME_DIRECTORY_NAME},
                                                              {"edi", CERT_ALT_NAME_EDI_PARTY_NAME},
                                                              {"url", CERT_ALT_NAME_URL},
                                                              {"ip", CERT_ALT_NAME_IP_ADDRESS},
                                                              {"rid", CERT_ALT_NAME_REGISTERED_ID}};
        const size_t colon = text.find(':');
        const std::string form = text.substr(0, colon);
        const std::string value = colon == std::string::npos ? "" : text.substr(colon + 1);
        CERT_ALT_NAME_ENTRY entry{};
        if (form.starts_with("choice")) {
            entry.dwAltNameChoice = static_cast<DWORD>(std::stoul(form.substr(6)));
            entry.pwszURL = Wide(value);
            return entry;
        }
        const auto choice = kChoices.find(form.substr(0, form.find("-null")));
        EXPECT_NE(kChoices.end(), choice) << text;
        entry.dwAltNameChoice = choice == kChoices.end() ? 0 : choice->second;
        if (form.ends_with("-null")) return entry;
        switch (entry.dwAltNameChoice) {
        case CERT_ALT_NAME_RFC822_NAME:
        case CERT_ALT_NAME_DNS_NAME:
        case CERT_ALT_NAME_URL:
            entry.pwszURL = Wide(value);
            break;
        case CERT_ALT_NAME_REGISTERED_ID:
            entry.pszRegisteredID = narrow_.emplace_back(value).data();
            break;
        case CERT_ALT_NAME_OTHER_NAME: {
            Bytes &utf8X = bytes_.emplace_back(Bytes{0x0C, 0x01, 'x'});
            entry.pOtherName = &others_.emplace_back(
                CERT_OTHER_NAME{narrow_.emplace_back(value).data(), {3, utf8X.data()}});
            break;
        }
        default: { // x400Address, directoryName, ediPartyName, iPAddress: a blob
            Bytes &blob = bytes_.emplace_back(BytesOf(value));
            entry.DirectoryName = {static_cast<DWORD>(blob.size()), blob.data()};
        }
        }
        return entry;
    }

    LPWSTR Wide(const std::string &text)
    {
        std::wstring &wide = wide_.emplace_back();
        for (size_t i = 0; i < text.size(); ++i) {
            const bool escape = text.compare(i, 2, "\\u") == 0;
            wide += escape ? static_cast<wchar_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16))
                           : static_cast<wchar_t>(text[i]);
            i += escape ? 5 : 0;
        }
        return wide.data();
    }

    std::deque<Bytes> bytes_;
    std::deque<std::string> narrow_;
    std::deque<std::wstring> wide_;
    std::deque<CERT_OTHER_NAME> others_;
    std::deque<std::vector<CERT_ALT_NAME_ENTRY>> names_;
    std::vector<CRL_DIST_POINT> points_;
};

using kvtest::ToHex;

// ================================================================== tests

// The certificates' extensions read as openssl reads them, in a block that holds every item
// on its boundary and ends exactly where the size step said; encoded again, they give
// openssl's DER byte for byte (but for the relative name, whose RDN the structure drops).
TEST(CrlDistPoints, OpensslVectorsDecodeAsOpensslShowsThemAndReencode)
{
    for (const std::string name : {"all-forms", "relative-name", "x400-edi", "utf8-uri"}) {
        SCOPED_TRACE(name);
        const Bytes der = ReadVector(name + ".der");
        Decoded decoded = Decode(der);
        ExpectFlatLayout(decoded);
        if (name != "utf8-uri") {
            EXPECT_EQ(ExpectedOpensslText(name + ".txt"), OpensslText(decoded.info()));
        }
        if (name != "relative-name") {
            EXPECT_EQ(ToHex(der), ToHex(Encode(*decoded.info())));
        }
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
// Caller structures of tests/data/crldp/encode.txt: the DER each one gives (which decodes to a
// well-laid block and encodes back to itself), or the code and trace line of its refusal.
TEST(CrlDistPoints, CallerStructures)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("crldp/encode.txt")) {
        SCOPED_TRACE(c.where);
        const CallerPoints given(c.Get("Points"));
        if (c.Has("DER")) {
            const Bytes der = BytesOf(c.Get("DER"));
            EXPECT_EQ(ToHex(der), ToHex(Encode(given.info)));
            Decoded decoded = Decode(der);
            ExpectFlatLayout(decoded);
            EXPECT_EQ(ToHex(der), ToHex(Encode(*decoded.info())));
            continue;
        }
        const DWORD error =
            c.Get("Error") == "CRYPT_E_ASN1_ERROR" ? CRYPT_E_ASN1_ERROR : ERROR_INVALID_PARAMETER;
        kvtest::ClearTrace();
        DWORD cb = 0;
        SetLastError(0);
        EXPECT_FALSE(OrvaDllCrlDistributionPointsEncodeEx(kEncoding, X509_CRL_DIST_POINTS,
                                                          &given.info, 0, nullptr, nullptr, &cb));
        EXPECT_EQ(0u, cb);
        EXPECT_EQ(error, GetLastError());
        EXPECT_THAT(kvtest::TraceLines(), ElementsAre(HasSubstr(c.Get("Message"))));
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

TEST(CrlDistPoints, EveryAllocationFailureIsClean)
{
    const CallerPoints given("full:url:a,x400:@or-address.der,edi:@edi-party-1.der,"
                             "dir:300C310A300806035504030C0178,ip:C0000207,other:1.2.3.4,"
                             "rid:1.2.3.4");
    const CRL_DIST_POINTS_INFO info = given.info;
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

} // namespace
