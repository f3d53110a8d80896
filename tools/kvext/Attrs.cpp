// kvext attrs: the signed attributes of a CMS SignedData or a timestamp token, with the
// signing-certificate attributes decoded through CryptDecodeObjectEx; --check says which of
// the given certificates each identifier names, as a verifier matches them.
#define OPENSSL_SUPPRESS_DEPRECATED // the GOST engine is reached through the ENGINE interface
#include "Tool.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <memory>

namespace kvext::tool {

namespace {

struct AttrsOptions {
    std::string input = "-";
    std::string inform;
    std::vector<std::string> check;
    bool text = false;
};

constexpr const char *kSha1 = "1.3.14.3.2.26";
constexpr const char *kSha256 = "2.16.840.1.101.3.4.2.1";

struct CandidateCert {
    std::string path;
    std::vector<BYTE> der;
    std::string issuer; // hex DER of the issuer's Name
    std::string serial; // hex, most significant byte first
};

// GOST digests come from OpenSSL's GOST engine.
void LoadGostEngine()
{
    OPENSSL_init_crypto(OPENSSL_INIT_ENGINE_DYNAMIC, nullptr);
    if (ENGINE *engine = ENGINE_by_id("gost")) {
        if (ENGINE_init(engine)) {
            ENGINE_set_default(engine, ENGINE_METHOD_DIGESTS);
            ENGINE_finish(engine);
        }
        ENGINE_free(engine);
    }
}

std::vector<CandidateCert> LoadCertificates(const std::vector<std::string> &paths)
{
    std::vector<CandidateCert> certs;
    for (const std::string &path : paths) {
        const std::vector<BYTE> der = ToDer(ReadInput(path), "");
        const unsigned char *cursor = der.data();
        X509 *cert = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
        if (!cert) FailInput(path + " is not a certificate");
        CandidateCert candidate{path, der, X509NameJson(X509_get_issuer_name(cert))["der"].get<std::string>(),
                                SerialHex(X509_get0_serialNumber(cert))};
        X509_free(cert);
        certs.push_back(std::move(candidate));
    }
    return certs;
}

std::vector<BYTE> Digest(const std::string &oid, const std::vector<BYTE> &data)
{
    ASN1_OBJECT *object = OBJ_txt2obj(oid.c_str(), 1);
    const EVP_MD *md = object ? EVP_get_digestbyobj(object) : nullptr;
    ASN1_OBJECT_free(object);
    std::vector<BYTE> digest(EVP_MAX_MD_SIZE);
    unsigned int cb = 0;
    if (!md || !EVP_Digest(data.data(), data.size(), digest.data(), &cb, md, nullptr)) return {};
    digest.resize(cb);
    return digest;
}

// One identifier against the candidates: the first whose hash matches, and whether the
// issuer and serial number it carries agree.
Json CheckCertId(const Json &id, const std::string &defaultHash,
                 const std::vector<CandidateCert> &certs)
{
    const std::string hashOid = id.contains("HashAlgorithm")
                                    ? id["HashAlgorithm"]["ObjId"].get<std::string>()
                                    : defaultHash;
    const std::string hash = id["CertHash"].get<std::string>();
    for (const CandidateCert &cert : certs) {
        const std::vector<BYTE> digest = Digest(hashOid, cert.der);
        if (digest.empty() || HexText(digest.data(), digest.size()) != hash) continue;
        Json json{{"certificate", cert.path}};
        if (id.contains("IssuerSerial")) {
            const Json &issuerSerial = id["IssuerSerial"];
            json["issuerSerialMatches"] =
                issuerSerial["Issuer"]["der"] == cert.issuer &&
                issuerSerial["SerialNumber"] == cert.serial;
        }
        return json;
    }
    return Json{{"certificate", nullptr}};
}

void AddChecks(Json *attribute, const std::vector<CandidateCert> &certs)
{
    if (!attribute->contains("value")) return;
    const std::string type = (*attribute)["type"];
    const std::string defaultHash = type == "SigningCertificate" ? kSha1 : kSha256;
    Json checks = Json::array();
    for (const Json &id : (*attribute)["value"]["Certs"]) checks.push_back(CheckCertId(id, defaultHash, certs));
    (*attribute)["checks"] = std::move(checks);
}

Json SignerId(CMS_SignerInfo *signer)
{
    ASN1_OCTET_STRING *keyId = nullptr;
    X509_NAME *issuer = nullptr;
    ASN1_INTEGER *serial = nullptr;
    if (!CMS_SignerInfo_get0_signer_id(signer, &keyId, &issuer, &serial)) return nullptr;
    if (keyId)
        return Json{{"subjectKeyIdentifier",
                     HexText(keyId->data, static_cast<size_t>(keyId->length))}};
    return Json{{"issuer", X509NameJson(issuer)}, {"serialNumber", SerialHex(serial)}};
}

Json SignedAttributes(CMS_SignerInfo *signer, const std::vector<CandidateCert> &certs,
                      bool check, bool *failed)
{
    Json json = Json::array();
    for (int i = 0; i < CMS_signed_get_attr_count(signer); ++i) {
        X509_ATTRIBUTE *attr = CMS_signed_get_attr(signer, i);
        const std::string oid = ObjectText(X509_ATTRIBUTE_get0_object(attr));
        for (int v = 0; v < X509_ATTRIBUTE_count(attr); ++v) {
            unsigned char *der = nullptr;
            const int cb = i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attr, v), &der);
            Json value = DecodeValue(oid, std::span<const BYTE>(der, cb > 0 ? static_cast<size_t>(cb) : 0),
                                     failed);
            OPENSSL_free(der);
            if (check) AddChecks(&value, certs);
            json.push_back(std::move(value));
        }
    }
    return json;
}

// A CMS ContentInfo, or the token inside a timestamp reply.
CMS_ContentInfo *ReadMessage(const std::vector<BYTE> &der)
{
    const unsigned char *cursor = der.data();
    if (CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())))
        return cms;
    cursor = der.data();
    TS_RESP *reply = d2i_TS_RESP(nullptr, &cursor, static_cast<long>(der.size()));
    if (!reply) return nullptr;
    CMS_ContentInfo *cms = nullptr;
    unsigned char *token = nullptr;
    const int cb = TS_RESP_get_token(reply) ? i2d_PKCS7(TS_RESP_get_token(reply), &token) : -1;
    if (cb > 0) {
        const unsigned char *tokenCursor = token;
        cms = d2i_CMS_ContentInfo(nullptr, &tokenCursor, cb);
    }
    OPENSSL_free(token);
    TS_RESP_free(reply);
    return cms;
}

void RunAttrs(const AttrsOptions &options)
{
    const std::vector<BYTE> der = ToDer(ReadInput(options.input), options.inform);
    const std::vector<CandidateCert> certs = LoadCertificates(options.check);
    if (!options.check.empty()) LoadGostEngine();
    std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> cms(ReadMessage(der),
                                                                          CMS_ContentInfo_free);
    STACK_OF(CMS_SignerInfo) *signers = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    if (!signers) FailInput("the input is neither a CMS SignedData nor a timestamp token");
    bool failed = false;
    Json json{{"contentType", ObjectText(CMS_get0_eContentType(cms.get()))},
              {"signers", Json::array()}};
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
        CMS_SignerInfo *signer = sk_CMS_SignerInfo_value(signers, i);
        json["signers"].push_back(
            Json{{"signerId", SignerId(signer)},
                 {"signedAttributes", SignedAttributes(signer, certs, !options.check.empty(), &failed)}});
    }
    options.text ? PrintText(json) : PrintJson(json);
    if (failed) throw CommandFailed{kExitCryptoApi};
}

} // namespace

void AddAttrsCommand(CLI::App &app)
{
    auto options = std::make_shared<AttrsOptions>();
    CLI::App *cmd = app.add_subcommand(
        "attrs", "Show the signed attributes of a CMS SignedData or timestamp token");
    cmd->add_option("FILE", options->input,
                    "CMS SignedData, timestamp token or timestamp reply, PEM or DER; - for stdin")
        ->capture_default_str();
    cmd->add_option("--inform", options->inform, "input form (default: recognised)")
        ->check(CLI::IsMember(kInputForms));
    cmd->add_option("--check", options->check,
                    "certificates to match against each signing-certificate identifier");
    cmd->add_flag("--text", options->text, "print a readable dump instead of JSON");
    cmd->callback([options] { RunAttrs(*options); });
}

} // namespace kvext::tool
