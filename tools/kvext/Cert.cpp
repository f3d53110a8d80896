// kvext cert: a certificate or CRL as CryptoAPI sees it. Every extension the tool has a
// structure for is decoded through CryptDecodeObjectEx, and a GOST subject public key goes
// into the provider through CryptImportPublicKeyInfoEx.
#include "Tool.h"

#include <gostcsp.h>

#include <openssl/x509.h>

#include <cstring>
#include <memory>

namespace kvext::tool {

namespace {

struct CertOptions {
    std::string input = "-";
    std::string inform;
    bool text = false;
};

const char *const kGostPublicKeyOids[] = {"1.2.643.2.2.19", "1.2.643.2.2.98", "1.2.643.7.1.1.1.1",
                                          "1.2.643.7.1.1.1.2"};

Json Extensions(const STACK_OF(X509_EXTENSION) * extensions, bool *failed)
{
    Json json = Json::array();
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION *ext = sk_X509_EXTENSION_value(extensions, i);
        const ASN1_OCTET_STRING *data = X509_EXTENSION_get_data(ext);
        const std::string oid = ObjectText(X509_EXTENSION_get_object(ext));
        Json entry{{"oid", oid}, {"critical", X509_EXTENSION_get_critical(ext) != 0}};
        entry.update(DecodeValue(
            oid, std::span<const BYTE>(data->data, static_cast<size_t>(data->length)), failed));
        json.push_back(std::move(entry));
    }
    return json;
}

std::string KeyParamText(HCRYPTKEY hKey, DWORD dwParam)
{
    DWORD cb = 0;
    if (!CryptGetKeyParam(hKey, dwParam, nullptr, &cb, 0) || !cb) return {};
    std::string text(cb, '\0');
    if (!CryptGetKeyParam(hKey, dwParam, reinterpret_cast<BYTE *>(text.data()), &cb, 0)) return {};
    return text.c_str();
}

// The key bytes of an exported GOST public-key blob: after the header and the parameters' TLV.
std::string BlobKeyHex(const std::vector<BYTE> &blob)
{
    size_t pos = sizeof(GOST_PUBLICKEYBLOB_HEADER);
    if (blob.size() < pos + 2) return {};
    GOST_PUBLICKEYBLOB_HEADER header;
    std::memcpy(&header, blob.data(), sizeof header);
    size_t len = blob[pos + 1];
    size_t lenBytes = 0;
    if (len & 0x80) {
        lenBytes = len & 0x7F;
        len = 0;
        for (size_t i = 0; i < lenBytes && pos + 2 + i < blob.size(); ++i)
            len = (len << 8) | blob[pos + 2 + i];
    }
    pos += 2 + lenBytes + len;
    const size_t cbKey = header.BitLen / 8;
    if (pos + cbKey > blob.size()) return {};
    return HexText(blob.data() + pos, cbKey);
}

// What the provider makes of the key: its algorithm, parameter sets and key.
Json ProviderKey(CERT_PUBLIC_KEY_INFO *info, bool *failed)
{
    ScopedProvider provider;
    if (!CryptAcquireContextA(&provider.hProv, nullptr, nullptr, KV_PROV_GOST,
                              CRYPT_VERIFYCONTEXT)) {
        ReportCryptoApi("CryptAcquireContext");
        *failed = true;
        return Json{{"error", ErrorText(GetLastError())}};
    }
    ScopedKey key;
    if (!CryptImportPublicKeyInfoEx(provider.hProv, X509_ASN_ENCODING, info, 0, 0, nullptr,
                                    &key.hKey)) {
        ReportCryptoApi("CryptImportPublicKeyInfoEx");
        *failed = true;
        return Json{{"error", ErrorText(GetLastError())}};
    }
    const HCRYPTKEY hKey = key.hKey;
    Json json = Json::object();
    ALG_ID algId = 0;
    DWORD cb = sizeof algId;
    if (CryptGetKeyParam(hKey, KP_ALGID, reinterpret_cast<BYTE *>(&algId), &cb, 0)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04X", algId);
        json["AlgId"] = hex;
    }
    DWORD keyLen = 0;
    cb = sizeof keyLen;
    if (CryptGetKeyParam(hKey, KP_KEYLEN, reinterpret_cast<BYTE *>(&keyLen), &cb, 0))
        json["KeyLen"] = keyLen;
    json["PublicKeyParamSet"] = KeyParamText(hKey, KP_GOST_PUBKEY_PARAMSET);
    json["HashParamSet"] = KeyParamText(hKey, KP_GOST_HASH_PARAMSET);
    DWORD cbBlob = 0;
    if (CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, nullptr, &cbBlob)) {
        std::vector<BYTE> blob(cbBlob);
        if (CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cbBlob))
            json["PublicKey"] = BlobKeyHex(blob);
    }
    return json;
}

Json PublicKeyInfo(X509_PUBKEY *pubkey, bool *failed)
{
    ASN1_OBJECT *algorithm = nullptr;
    const unsigned char *key = nullptr;
    int cbKey = 0;
    X509_ALGOR *algor = nullptr;
    X509_PUBKEY_get0_param(&algorithm, &key, &cbKey, &algor, pubkey);
    std::string oid = ObjectText(algorithm);
    const void *parameter = nullptr;
    int parameterType = V_ASN1_UNDEF;
    X509_ALGOR_get0(nullptr, &parameterType, &parameter, algor);
    unsigned char *parameters = nullptr;
    int cbParameters = 0;
    if (parameterType != V_ASN1_UNDEF) {
        ASN1_TYPE *type = ASN1_TYPE_new();
        ASN1_TYPE_set1(type, parameterType, parameter);
        cbParameters = i2d_ASN1_TYPE(type, &parameters);
        ASN1_TYPE_free(type);
    }
    CERT_PUBLIC_KEY_INFO info = {};
    info.Algorithm.pszObjId = oid.data();
    info.Algorithm.Parameters = {static_cast<DWORD>(cbParameters > 0 ? cbParameters : 0),
                                 parameters};
    info.PublicKey = {static_cast<DWORD>(cbKey), const_cast<BYTE *>(key), 0};
    Json json{{"Algorithm", AlgorithmJson(info.Algorithm)},
              {"PublicKey", HexText(key, static_cast<size_t>(cbKey))}};
    for (const char *gost : kGostPublicKeyOids)
        if (oid == gost) json["Provider"] = ProviderKey(&info, failed);
    OPENSSL_free(parameters);
    return json;
}

Json CertificateJson(X509 *cert, bool *failed)
{
    return Json{{"certificate",
                 {{"subject", X509NameJson(X509_get_subject_name(cert))},
                  {"issuer", X509NameJson(X509_get_issuer_name(cert))},
                  {"serialNumber", SerialHex(X509_get0_serialNumber(cert))},
                  {"notBefore", Asn1TimeJson(X509_get0_notBefore(cert))},
                  {"notAfter", Asn1TimeJson(X509_get0_notAfter(cert))},
                  {"subjectPublicKeyInfo", PublicKeyInfo(X509_get_X509_PUBKEY(cert), failed)},
                  {"extensions", Extensions(X509_get0_extensions(cert), failed)}}}};
}

Json CrlJson(X509_CRL *crl, bool *failed)
{
    return Json{{"crl",
                 {{"issuer", X509NameJson(X509_CRL_get_issuer(crl))},
                  {"thisUpdate", Asn1TimeJson(X509_CRL_get0_lastUpdate(crl))},
                  {"nextUpdate", Asn1TimeJson(X509_CRL_get0_nextUpdate(crl))},
                  {"revoked", sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl))},
                  {"extensions", Extensions(X509_CRL_get0_extensions(crl), failed)}}}};
}

void RunCert(const CertOptions &options)
{
    const std::vector<BYTE> der = ToDer(ReadInput(options.input), options.inform);
    const unsigned char *cursor = der.data();
    bool failed = false;
    Json json;
    if (X509 *cert = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()))) {
        json = CertificateJson(cert, &failed);
        X509_free(cert);
    } else if (cursor = der.data();
               X509_CRL *crl = d2i_X509_CRL(nullptr, &cursor, static_cast<long>(der.size()))) {
        json = CrlJson(crl, &failed);
        X509_CRL_free(crl);
    } else {
        FailInput("the input is neither a certificate nor a CRL");
    }
    options.text ? PrintText(json) : PrintJson(json);
    if (failed) throw CommandFailed{kExitCryptoApi};
}

} // namespace

void AddCertCommand(CLI::App &app)
{
    auto options = std::make_shared<CertOptions>();
    CLI::App *cmd = app.add_subcommand(
        "cert", "Show a certificate or CRL with its extensions decoded through CryptoAPI");
    cmd->add_option("FILE", options->input, "certificate or CRL, PEM or DER; - for stdin")
        ->capture_default_str();
    cmd->add_option("--inform", options->inform, "input form (default: recognised)")
        ->check(CLI::IsMember(kInputForms));
    cmd->add_flag("--text", options->text, "print a readable dump instead of JSON");
    cmd->callback([options] { RunCert(*options); });
}

} // namespace kvext::tool
