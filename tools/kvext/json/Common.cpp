// The pieces every mapping shares: bytes in hex, times in ISO 8601 UTC, dotted OIDs, names
// as RFC 4514 text beside their DER, algorithm identifiers, policies and general names.
#include "json/Mapping.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace kvext::tool {

BYTE *Arena::Bytes(const std::vector<BYTE> &bytes)
{
    if (bytes.empty()) return nullptr;
    BYTE *copy = New<BYTE>(bytes.size());
    std::memcpy(copy, bytes.data(), bytes.size());
    return copy;
}

LPSTR Arena::String(const std::string &text)
{
    LPSTR copy = New<CHAR>(text.size() + 1);
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

LPWSTR Arena::Wide(const std::string &utf8)
{
    const int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, nullptr, 0);
    LPWSTR wide = New<WCHAR>(cch > 0 ? static_cast<size_t>(cch) : 1);
    if (cch > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.c_str(), -1, wide, cch);
    return wide;
}

// ---------------------------------------------------------------- reading JSON by path

void Field::Fail(const std::string &message) const { throw JsonFieldError{path_, message}; }

void Field::ExpectMembers(std::initializer_list<const char *> allowed) const
{
    if (!value_.is_object()) Fail("expected an object");
    for (const auto &member : value_.items())
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const char *name) { return member.key() == name; }))
            Field(member.value(), path_ + "." + member.key()).Fail("unknown field");
}

std::optional<Field> Field::Find(const char *name) const
{
    if (!value_.is_object()) Fail("expected an object");
    const auto found = value_.find(name);
    if (found == value_.end() || found->is_null()) return std::nullopt;
    return Field(*found, path_ + "." + name);
}

Field Field::At(const char *name) const
{
    std::optional<Field> member = Find(name);
    if (!member) Field(value_, path_ + "." + name).Fail("missing");
    return *member;
}

std::vector<Field> Field::Items() const
{
    if (!value_.is_array()) Fail("expected an array");
    std::vector<Field> items;
    for (size_t i = 0; i < value_.size(); ++i)
        items.emplace_back(value_[i], path_ + "[" + std::to_string(i) + "]");
    return items;
}

std::string Field::String() const
{
    if (!value_.is_string()) Fail("expected a string");
    return value_.get<std::string>();
}

std::vector<BYTE> Field::Hex() const
{
    const std::string text = String();
    if (text.size() % 2) Fail("expected hex digits in pairs");
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            Fail("expected hex digits");
        bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string Field::Oid() const
{
    const std::string text = String();
    bool digitExpected = true;
    for (char c : text) {
        if (c == '.' && !digitExpected) digitExpected = true;
        else if (std::isdigit(static_cast<unsigned char>(c))) digitExpected = false;
        else Fail("expected a dotted object identifier");
    }
    if (digitExpected || text.find('.') == std::string::npos)
        Fail("expected a dotted object identifier");
    return text;
}

DWORD Field::Number() const
{
    if (!value_.is_number_unsigned() || value_.get<uint64_t>() > UINT32_MAX)
        Fail("expected an unsigned 32-bit number");
    return value_.get<DWORD>();
}

bool Field::Bool() const
{
    if (!value_.is_boolean()) Fail("expected true or false");
    return value_.get<bool>();
}

// "YYYY-MM-DDTHH:MM:SS[.fffffff]Z"
FILETIME Field::Time() const
{
    const std::string text = String();
    SYSTEMTIME st = {};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour,
                    &minute, &second, &used) != 6 || used != 19)
        Fail("expected an ISO 8601 UTC time (YYYY-MM-DDTHH:MM:SSZ)");
    uint64_t fraction = 0; // in 100-nanosecond units
    size_t pos = 19;
    if (pos < text.size() && text[pos] == '.') {
        uint64_t scale = 1000000;
        for (++pos; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
            if (!scale) Fail("at most seven digits of fractional seconds");
            fraction += static_cast<uint64_t>(text[pos] - '0') * scale;
            scale /= 10;
        }
    }
    if (text.substr(pos) != "Z") Fail("expected an ISO 8601 UTC time ending in Z");
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&st, &ft)) Fail("not a valid time");
    const uint64_t ticks =
        ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) + fraction;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// ---------------------------------------------------------------- shared pieces

std::string HexText(const BYTE *pb, size_t cb)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * cb);
    for (size_t i = 0; i < cb; ++i) {
        text += kDigits[pb[i] >> 4];
        text += kDigits[pb[i] & 15];
    }
    return text;
}

Json BlobJson(const CRYPT_DATA_BLOB &blob) { return HexText(blob.pbData, blob.cbData); }

CRYPT_DATA_BLOB BlobFrom(const Field &field, Arena &arena)
{
    const std::vector<BYTE> bytes = field.Hex();
    return CRYPT_DATA_BLOB{static_cast<DWORD>(bytes.size()), arena.Bytes(bytes)};
}

Json TimeJson(const FILETIME &time)
{
    SYSTEMTIME st = {};
    if (!FileTimeToSystemTime(&time, &st)) return nullptr;
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    char text[40];
    int n = std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth,
                          st.wDay, st.wHour, st.wMinute, st.wSecond);
    if (const auto fraction = static_cast<unsigned>(ticks % 10000000)) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%07u", fraction);
        while (text[n - 1] == '0') --n;
    }
    text[n] = '\0';
    return std::string(text) + "Z";
}

std::string Utf8(LPCWSTR text)
{
    if (!text) return {};
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return {};
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), cb, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(cb - 1));
    return utf8;
}

std::string NameText(const BYTE *pb, size_t cb)
{
    const unsigned char *cursor = pb;
    X509_NAME *name = d2i_X509_NAME(nullptr, &cursor, static_cast<long>(cb));
    if (!name) return {};
    std::string text;
    if (BIO *bio = BIO_new(BIO_s_mem())) {
        // RFC 4514 text with UTF-8 left as it is.
        if (X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
            BUF_MEM *mem = nullptr;
            BIO_get_mem_ptr(bio, &mem);
            text.assign(mem->data, mem->length);
        }
        BIO_free(bio);
    }
    X509_NAME_free(name);
    return text;
}

Json NameJson(const CERT_NAME_BLOB &name)
{
    return Json{{"text", NameText(name.pbData, name.cbData)},
                {"der", HexText(name.pbData, name.cbData)}};
}

// The text is what a reader sees; the DER is what is encoded.
CERT_NAME_BLOB NameFrom(const Field &field, Arena &arena)
{
    field.ExpectMembers({"text", "der"});
    return BlobFrom(field.At("der"), arena);
}

// Read most significant byte first, as certificates print it; CryptoAPI holds it reversed.
Json SerialJson(const CRYPT_INTEGER_BLOB &serial)
{
    std::vector<BYTE> bigEndian(serial.pbData, serial.pbData + serial.cbData);
    std::reverse(bigEndian.begin(), bigEndian.end());
    return HexText(bigEndian.data(), bigEndian.size());
}

CRYPT_INTEGER_BLOB SerialFrom(const Field &field, Arena &arena)
{
    std::vector<BYTE> bytes = field.Hex();
    std::reverse(bytes.begin(), bytes.end());
    return CRYPT_INTEGER_BLOB{static_cast<DWORD>(bytes.size()), arena.Bytes(bytes)};
}

Json AlgorithmJson(const CRYPT_ALGORITHM_IDENTIFIER &algorithm)
{
    Json json{{"ObjId", algorithm.pszObjId ? algorithm.pszObjId : ""}};
    if (algorithm.Parameters.cbData) json["Parameters"] = BlobJson(algorithm.Parameters);
    return json;
}

CRYPT_ALGORITHM_IDENTIFIER AlgorithmFrom(const Field &field, Arena &arena)
{
    field.ExpectMembers({"ObjId", "Parameters"});
    CRYPT_ALGORITHM_IDENTIFIER algorithm = {};
    algorithm.pszObjId = arena.String(field.At("ObjId").Oid());
    if (auto parameters = field.Find("Parameters")) algorithm.Parameters = BlobFrom(*parameters, arena);
    return algorithm;
}

Json PoliciesJson(DWORD cPolicies, const CERT_POLICY_INFO *rgPolicies)
{
    Json policies = Json::array();
    for (DWORD i = 0; i < cPolicies; ++i) {
        const CERT_POLICY_INFO &policy = rgPolicies[i];
        Json json{{"PolicyIdentifier", policy.pszPolicyIdentifier}};
        if (policy.cPolicyQualifier) {
            Json &qualifiers = json["PolicyQualifiers"] = Json::array();
            for (DWORD q = 0; q < policy.cPolicyQualifier; ++q) {
                const CERT_POLICY_QUALIFIER_INFO &qualifier = policy.rgPolicyQualifier[q];
                qualifiers.push_back(Json{{"PolicyQualifierId", qualifier.pszPolicyQualifierId},
                                          {"Qualifier", BlobJson(qualifier.Qualifier)}});
            }
        }
        policies.push_back(std::move(json));
    }
    return policies;
}

void PoliciesFrom(const Field &field, Arena &arena, DWORD *pcPolicies,
                  PCERT_POLICY_INFO *prgPolicies)
{
    const std::vector<Field> items = field.Items();
    auto *policies = arena.New<CERT_POLICY_INFO>(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].ExpectMembers({"PolicyIdentifier", "PolicyQualifiers"});
        policies[i].pszPolicyIdentifier = arena.String(items[i].At("PolicyIdentifier").Oid());
        if (auto qualifiersField = items[i].Find("PolicyQualifiers")) {
            const std::vector<Field> qualifiers = qualifiersField->Items();
            auto *rg = arena.New<CERT_POLICY_QUALIFIER_INFO>(qualifiers.size());
            for (size_t q = 0; q < qualifiers.size(); ++q) {
                qualifiers[q].ExpectMembers({"PolicyQualifierId", "Qualifier"});
                rg[q].pszPolicyQualifierId =
                    arena.String(qualifiers[q].At("PolicyQualifierId").Oid());
                rg[q].Qualifier = BlobFrom(qualifiers[q].At("Qualifier"), arena);
            }
            policies[i].cPolicyQualifier = static_cast<DWORD>(qualifiers.size());
            policies[i].rgPolicyQualifier = rg;
        }
    }
    *pcPolicies = static_cast<DWORD>(items.size());
    *prgPolicies = items.empty() ? nullptr : policies;
}

// ---------------------------------------------------------------- general names
// Each entry is an object with one member named after its choice. X400Address and
// EDIPartyName travel as the DER blob CryptoAPI lays over the union like DirectoryName.

namespace {

const char *const kAltNameChoices[] = {nullptr,        "OtherName", "Rfc822Name",
                                       "DNSName",      "X400Address", "DirectoryName",
                                       "EDIPartyName", "URL",       "IPAddress",
                                       "RegisteredID"};

Json AltNameJson(const CERT_ALT_NAME_ENTRY &entry)
{
    const DWORD choice = entry.dwAltNameChoice;
    if (choice == 0 || choice > CERT_ALT_NAME_REGISTERED_ID)
        return Json{{"Unknown", choice}};
    Json value;
    switch (choice) {
    case CERT_ALT_NAME_OTHER_NAME:
        value = Json{{"ObjId", entry.pOtherName->pszObjId},
                     {"Value", BlobJson(entry.pOtherName->Value)}};
        break;
    case CERT_ALT_NAME_RFC822_NAME:
    case CERT_ALT_NAME_DNS_NAME:
    case CERT_ALT_NAME_URL: value = Utf8(entry.pwszURL); break;
    case CERT_ALT_NAME_DIRECTORY_NAME: value = NameJson(entry.DirectoryName); break;
    case CERT_ALT_NAME_IP_ADDRESS: value = BlobJson(entry.IPAddress); break;
    case CERT_ALT_NAME_REGISTERED_ID: value = entry.pszRegisteredID; break;
    default: value = BlobJson(entry.DirectoryName); break; // X400Address, EDIPartyName
    }
    return Json{{kAltNameChoices[choice], std::move(value)}};
}

CERT_ALT_NAME_ENTRY AltNameFrom(const Field &field, Arena &arena)
{
    if (!field.Value().is_object() || field.Value().size() != 1)
        field.Fail("expected an object with one member naming the choice");
    const std::string choiceName = field.Value().begin().key();
    const Field value = field.At(choiceName.c_str());
    CERT_ALT_NAME_ENTRY entry = {};
    for (DWORD choice = 1; choice <= CERT_ALT_NAME_REGISTERED_ID; ++choice)
        if (choiceName == kAltNameChoices[choice]) entry.dwAltNameChoice = choice;
    switch (entry.dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        value.ExpectMembers({"ObjId", "Value"});
        entry.pOtherName = arena.New<CERT_OTHER_NAME>();
        entry.pOtherName->pszObjId = arena.String(value.At("ObjId").Oid());
        entry.pOtherName->Value = BlobFrom(value.At("Value"), arena);
        break;
    case CERT_ALT_NAME_RFC822_NAME:
    case CERT_ALT_NAME_DNS_NAME:
    case CERT_ALT_NAME_URL: entry.pwszURL = arena.Wide(value.String()); break;
    case CERT_ALT_NAME_DIRECTORY_NAME: entry.DirectoryName = NameFrom(value, arena); break;
    case CERT_ALT_NAME_IP_ADDRESS: entry.IPAddress = BlobFrom(value, arena); break;
    case CERT_ALT_NAME_REGISTERED_ID: entry.pszRegisteredID = arena.String(value.Oid()); break;
    case CERT_ALT_NAME_X400_ADDRESS:
    case CERT_ALT_NAME_EDI_PARTY_NAME: entry.DirectoryName = BlobFrom(value, arena); break;
    default: value.Fail("unknown general-name choice");
    }
    return entry;
}

} // namespace

Json AltNamesJson(const CERT_ALT_NAME_INFO &names)
{
    Json json = Json::array();
    for (DWORD i = 0; i < names.cAltEntry; ++i) json.push_back(AltNameJson(names.rgAltEntry[i]));
    return json;
}

CERT_ALT_NAME_INFO AltNamesFrom(const Field &field, Arena &arena)
{
    const std::vector<Field> items = field.Items();
    auto *entries = arena.New<CERT_ALT_NAME_ENTRY>(items.size());
    for (size_t i = 0; i < items.size(); ++i) entries[i] = AltNameFrom(items[i], arena);
    return CERT_ALT_NAME_INFO{static_cast<DWORD>(items.size()), items.empty() ? nullptr : entries};
}

} // namespace kvext::tool
