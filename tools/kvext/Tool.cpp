// Shared pieces of the commands: input forms, output, JSON and text printing, the CryptoAPI
// calls and failure reports.
#include "Tool.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>

namespace kvext::tool {

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool AllOf(const std::vector<BYTE> &bytes, int (*accept)(int))
{
    return std::all_of(bytes.begin(), bytes.end(), [&](BYTE b) {
        return accept(b) || std::isspace(b);
    });
}

int IsHexChar(int c) { return std::isxdigit(c) || c == ':'; }
int IsBase64Char(int c) { return std::isalnum(c) || c == '+' || c == '/' || c == '='; }

std::vector<BYTE> Strip(const std::vector<BYTE> &bytes, int (*keep)(int))
{
    std::vector<BYTE> kept;
    std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(kept),
                 [&](BYTE b) { return keep(b) && b != ':'; });
    return kept;
}

std::vector<BYTE> FromHex(const std::vector<BYTE> &bytes)
{
    const std::vector<BYTE> digits = Strip(bytes, IsHexChar);
    if (digits.size() % 2) FailInput("hex input has an odd number of digits");
    std::vector<BYTE> der;
    for (size_t i = 0; i < digits.size(); i += 2)
        der.push_back(static_cast<BYTE>(
            std::stoi(std::string(digits.begin() + static_cast<long>(i),
                                  digits.begin() + static_cast<long>(i) + 2),
                      nullptr, 16)));
    return der;
}

std::vector<BYTE> FromBase64(const std::vector<BYTE> &bytes)
{
    const std::vector<BYTE> text = Strip(bytes, IsBase64Char);
    if (text.empty() || text.size() % 4) FailInput("base64 input is not a multiple of 4 characters");
    std::vector<BYTE> der(text.size() / 4 * 3);
    const int n = EVP_DecodeBlock(der.data(), text.data(), static_cast<int>(text.size()));
    if (n < 0) FailInput("base64 input does not decode");
    const auto padding = std::count(text.end() - 2, text.end(), '=');
    der.resize(static_cast<size_t>(n) - static_cast<size_t>(padding));
    return der;
}

std::vector<BYTE> FromPem(const std::vector<BYTE> &bytes)
{
    BIO *bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    char *name = nullptr, *header = nullptr;
    unsigned char *data = nullptr;
    long len = 0;
    const bool ok = bio && PEM_read_bio(bio, &name, &header, &data, &len);
    BIO_free(bio);
    std::vector<BYTE> der;
    if (ok) der.assign(data, data + len);
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    if (!ok) FailInput("PEM input does not decode");
    return der;
}

bool LooksLikePem(const std::vector<BYTE> &bytes)
{
    static const std::string kArmour = "-----BEGIN ";
    auto start = std::find_if(bytes.begin(), bytes.end(), [](BYTE b) { return !std::isspace(b); });
    return static_cast<size_t>(bytes.end() - start) > kArmour.size() &&
           std::equal(kArmour.begin(), kArmour.end(), start);
}

void Dump(const Json &json, const std::string &indent, const std::string &name)
{
    if (json.is_object()) {
        if (!name.empty()) std::cout << indent << name << ":\n";
        const std::string inner = name.empty() ? indent : indent + "  ";
        for (const auto &member : json.items()) Dump(member.value(), inner, member.key());
    } else if (json.is_array()) {
        if (json.empty()) std::cout << indent << name << ": (none)\n";
        for (size_t i = 0; i < json.size(); ++i)
            Dump(json[i], indent, name + "[" + std::to_string(i) + "]");
    } else {
        std::cout << indent << name << ": "
                  << (json.is_string() ? json.get<std::string>() : json.dump()) << "\n";
    }
}

struct ErrorNameEntry {
    DWORD code;
    const char *name;
};

const ErrorNameEntry kErrorNames[] = {
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {ERROR_WRITE_FAULT, "ERROR_WRITE_FAULT"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
    {ERROR_INVALID_DATA, "ERROR_INVALID_DATA"},
    {ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
    {ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND"},
    {ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA"},
    {ERROR_INVALID_FLAGS, "ERROR_INVALID_FLAGS"},
    {ERROR_BADDB, "ERROR_BADDB"},
    {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {NTE_BAD_UID, "NTE_BAD_UID"},
    {NTE_BAD_HASH, "NTE_BAD_HASH"},
    {NTE_BAD_KEY, "NTE_BAD_KEY"},
    {NTE_BAD_LEN, "NTE_BAD_LEN"},
    {NTE_BAD_DATA, "NTE_BAD_DATA"},
    {NTE_BAD_SIGNATURE, "NTE_BAD_SIGNATURE"},
    {NTE_BAD_VER, "NTE_BAD_VER"},
    {NTE_BAD_ALGID, "NTE_BAD_ALGID"},
    {NTE_BAD_FLAGS, "NTE_BAD_FLAGS"},
    {NTE_BAD_TYPE, "NTE_BAD_TYPE"},
    {NTE_BAD_KEY_STATE, "NTE_BAD_KEY_STATE"},
    {NTE_BAD_HASH_STATE, "NTE_BAD_HASH_STATE"},
    {NTE_NO_KEY, "NTE_NO_KEY"},
    {NTE_NO_MEMORY, "NTE_NO_MEMORY"},
    {NTE_EXISTS, "NTE_EXISTS"},
    {NTE_PERM, "NTE_PERM"},
    {NTE_NOT_FOUND, "NTE_NOT_FOUND"},
    {NTE_BAD_PROVIDER, "NTE_BAD_PROVIDER"},
    {NTE_BAD_PROV_TYPE, "NTE_BAD_PROV_TYPE"},
    {NTE_BAD_KEYSET, "NTE_BAD_KEYSET"},
    {NTE_PROV_TYPE_NOT_DEF, "NTE_PROV_TYPE_NOT_DEF"},
    {NTE_BAD_KEYSET_PARAM, "NTE_BAD_KEYSET_PARAM"},
    {NTE_FAIL, "NTE_FAIL"},
    {CRYPT_E_UNKNOWN_ALGO, "CRYPT_E_UNKNOWN_ALGO"},
    {CRYPT_E_BAD_ENCODE, "CRYPT_E_BAD_ENCODE"},
    {CRYPT_E_NOT_FOUND, "CRYPT_E_NOT_FOUND"},
    {CRYPT_E_ISSUER_SERIALNUMBER, "CRYPT_E_ISSUER_SERIALNUMBER"},
    {0x80093000, "CRYPT_E_OSS_ERROR"},
    {CRYPT_E_ASN1_ERROR, "CRYPT_E_ASN1_ERROR"},
    {CRYPT_E_ASN1_INTERNAL, "CRYPT_E_ASN1_INTERNAL"},
    {CRYPT_E_ASN1_EOD, "CRYPT_E_ASN1_EOD"},
    {CRYPT_E_ASN1_CORRUPT, "CRYPT_E_ASN1_CORRUPT"},
    {CRYPT_E_ASN1_LARGE, "CRYPT_E_ASN1_LARGE"},
    {CRYPT_E_ASN1_CONSTRAINT, "CRYPT_E_ASN1_CONSTRAINT"},
    {CRYPT_E_ASN1_MEMORY, "CRYPT_E_ASN1_MEMORY"},
    {CRYPT_E_ASN1_BADTAG, "CRYPT_E_ASN1_BADTAG"},
};

} // namespace

std::vector<BYTE> ReadInput(const std::string &path)
{
    if (path == "-")
        return std::vector<BYTE>(std::istreambuf_iterator<char>(std::cin),
                                 std::istreambuf_iterator<char>());
    std::ifstream file(path, std::ios::binary);
    if (!file) FailInput("cannot read " + path);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<BYTE> ToDer(const std::vector<BYTE> &bytes, const std::string &inform)
{
    if (bytes.empty()) FailInput("empty input");
    if (inform == "der") return bytes;
    if (inform == "pem" || (inform.empty() && LooksLikePem(bytes))) return FromPem(bytes);
    if (inform == "hex" || (inform.empty() && AllOf(bytes, IsHexChar))) return FromHex(bytes);
    if (inform == "base64" || (inform.empty() && AllOf(bytes, IsBase64Char)))
        return FromBase64(bytes);
    return bytes;
}

void WriteOutput(const std::vector<BYTE> &der, const std::string &path, const std::string &pemLabel)
{
    std::string out;
    if (pemLabel.empty()) {
        out.assign(der.begin(), der.end());
    } else {
        BIO *bio = BIO_new(BIO_s_mem());
        if (!bio || !PEM_write_bio(bio, pemLabel.c_str(), "", der.data(), static_cast<long>(der.size()))) {
            BIO_free(bio);
            FailInput("cannot write PEM");
        }
        char *data = nullptr;
        const long len = BIO_get_mem_data(bio, &data);
        out.assign(data, static_cast<size_t>(len));
        BIO_free(bio);
    }
    if (path == "-") {
        std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
        std::cout.flush();
        return;
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    if (!file) FailInput("cannot write " + path);
}

void PrintJson(const Json &json) { std::cout << json.dump(2) << "\n"; }

void PrintText(const Json &json) { Dump(json, "", ""); }

std::string ErrorName(DWORD code)
{
    for (const ErrorNameEntry &entry : kErrorNames)
        if (entry.code == code) return entry.name;
    return {};
}

std::string ErrorText(DWORD code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    const std::string name = ErrorName(code);
    return name.empty() ? hex : std::string(hex) + " (" + name + ")";
}

void ReportCryptoApi(const std::string &what)
{
    const DWORD code = GetLastError();
    std::cerr << "kvext: " << what << " failed: CryptoAPI error " << ErrorText(code) << "\n";
}

void FailCryptoApi(const std::string &what)
{
    ReportCryptoApi(what);
    throw CommandFailed{kExitCryptoApi};
}

std::string ObjectText(const ASN1_OBJECT *object)
{
    char text[128];
    return OBJ_obj2txt(text, sizeof text, object, 1) > 0 ? text : "";
}

std::string SerialHex(const ASN1_INTEGER *serial)
{
    BIGNUM *bn = ASN1_INTEGER_to_BN(serial, nullptr);
    std::vector<BYTE> bytes(bn ? static_cast<size_t>(BN_num_bytes(bn)) : 0);
    if (bn) BN_bn2bin(bn, bytes.data());
    BN_free(bn);
    return HexText(bytes.data(), bytes.size());
}

Json X509NameJson(const X509_NAME *name)
{
    unsigned char *der = nullptr;
    const int cb = i2d_X509_NAME(name, &der);
    Json json = NameJson(CERT_NAME_BLOB{static_cast<DWORD>(cb > 0 ? cb : 0), der});
    OPENSSL_free(der);
    return json;
}

Json Asn1TimeJson(const ASN1_TIME *time)
{
    struct tm parts = {};
    if (!time || !ASN1_TIME_to_tm(time, &parts)) return nullptr;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

Json DecodeValue(const std::string &oid, std::span<const BYTE> der, bool *failed)
{
    Json json{{"oid", oid}};
    const StructType type = {oid, nullptr, FindStructure(oid)};
    if (type.structure) {
        if (const Decoded decoded = DecodeObject(type.Get(), der)) {
            json["type"] = type.structure->name;
            json["value"] = type.structure->toJson(decoded.get());
            return json;
        }
        ReportCryptoApi("CryptDecodeObjectEx of " + oid);
        json["error"] = ErrorText(GetLastError());
        *failed = true;
    }
    json["der"] = HexText(der.data(), der.size());
    return json;
}

void FailInput(const std::string &message)
{
    std::cerr << "kvext: " << message << "\n";
    throw CommandFailed{kExitBadInput};
}

StructType ParseStructType(const std::string &type)
{
    StructType parsed;
    parsed.structure = FindStructure(type);
    if (!type.empty() && type.find_first_not_of("0123456789") == std::string::npos) {
        parsed.numeric = reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(std::stoul(type)));
        if (!parsed.structure) FailInput("no structure of the tool has the predefined type " + type);
        return parsed;
    }
    if (parsed.structure && type.find('.') == std::string::npos)
        parsed.oid = parsed.structure->oids.front();
    else if (type.find_first_not_of("0123456789.") == std::string::npos && type.find('.') != std::string::npos)
        parsed.oid = type;
    else
        FailInput("unknown structure type " + type + " (see kvext decode --help)");
    return parsed;
}

Decoded DecodeObject(LPCSTR lpszStructType, std::span<const BYTE> der)
{
    CRYPT_DECODE_PARA para = {sizeof para, [](size_t cb) -> LPVOID { return std::malloc(cb); },
                              [](LPVOID pv) { std::free(pv); }};
    void *block = nullptr;
    DWORD cbBlock = 0;
    if (!CryptDecodeObjectEx(kEncodingType, lpszStructType, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, &para,
                             &block, &cbBlock))
        return nullptr;
    return Decoded(block);
}

bool EncodeObject(LPCSTR lpszStructType, const void *pvStructInfo, std::vector<BYTE> *der)
{
    DWORD cbEncoded = 0;
    if (!CryptEncodeObjectEx(kEncodingType, lpszStructType, pvStructInfo, 0, nullptr, nullptr,
                             &cbEncoded))
        return false;
    der->resize(cbEncoded);
    if (!CryptEncodeObjectEx(kEncodingType, lpszStructType, pvStructInfo, 0, nullptr, der->data(),
                             &cbEncoded))
        return false;
    der->resize(cbEncoded);
    return true;
}

Json DecodedJson(const StructType &type, const void *pvStructInfo)
{
    Json json{{"type", type.structure->name}};
    json["oid"] = type.numeric ? type.structure->oids.front() : type.oid;
    json["value"] = type.structure->toJson(pvStructInfo);
    return json;
}

} // namespace kvext::tool
