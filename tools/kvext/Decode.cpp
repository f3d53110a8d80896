// kvext decode: DER -> CryptDecodeObjectEx -> JSON (or a text dump).
#include "Tool.h"

#include <openssl/x509.h>

#include <memory>

namespace kvext::tool {

namespace {

struct DecodeOptions {
    std::string input = "-";
    std::string type;
    std::string inform;
    bool text = false;
};

// An X.509 extension or a CMS attribute names its structure: its OID and the value inside.
bool Unwrap(std::vector<BYTE> *der, std::string *oid)
{
    const unsigned char *cursor = der->data();
    const long cb = static_cast<long>(der->size());
    if (X509_EXTENSION *ext = d2i_X509_EXTENSION(nullptr, &cursor, cb)) {
        const bool whole = cursor == der->data() + der->size();
        const ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(ext);
        if (whole) {
            *oid = ObjectText(X509_EXTENSION_get_object(ext));
            der->assign(value->data, value->data + value->length);
        }
        X509_EXTENSION_free(ext);
        if (whole) return true;
    }
    cursor = der->data();
    if (X509_ATTRIBUTE *attr = d2i_X509_ATTRIBUTE(nullptr, &cursor, cb)) {
        const bool whole = cursor == der->data() + der->size() && X509_ATTRIBUTE_count(attr) == 1;
        unsigned char *value = nullptr;
        const int cbValue = whole ? i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attr, 0), &value) : -1;
        if (cbValue > 0) {
            *oid = ObjectText(X509_ATTRIBUTE_get0_object(attr));
            der->assign(value, value + cbValue);
        }
        OPENSSL_free(value);
        X509_ATTRIBUTE_free(attr);
        if (cbValue > 0) return true;
    }
    return false;
}

void RunDecode(const DecodeOptions &options)
{
    std::vector<BYTE> der = ToDer(ReadInput(options.input), options.inform);
    std::string type = options.type;
    if (type.empty() && !Unwrap(&der, &type))
        FailInput("name the structure with --type: the input is not an extension or an "
                  "attribute that names it");
    const StructType structType = ParseStructType(type);
    const Decoded decoded = DecodeObject(structType.Get(), der);
    if (!decoded) FailCryptoApi("CryptDecodeObjectEx of " + type);
    if (!structType.structure) FailInput("no JSON mapping for structure type " + type);
    const Json json = DecodedJson(structType, decoded.get());
    options.text ? PrintText(json) : PrintJson(json);
}

} // namespace

void AddDecodeCommand(CLI::App &app)
{
    auto options = std::make_shared<DecodeOptions>();
    CLI::App *cmd = app.add_subcommand(
        "decode", "Decode a structure through CryptDecodeObjectEx and print it as JSON");
    cmd->add_option("FILE", options->input, "DER, PEM, base64 or hex input; - for stdin")
        ->capture_default_str();
    cmd->add_option("--type", options->type,
                    "structure name or OID (default: the OID of an extension or attribute given "
                    "whole)");
    cmd->add_option("--inform", options->inform, "input form (default: recognised)")
        ->check(CLI::IsMember(kInputForms));
    cmd->add_flag("--text", options->text, "print a readable dump instead of JSON");
    cmd->footer("Structure types: PrivateKeyUsagePeriod, CrlDistributionPoints, IssuerSignTool,\n"
                "SigningCertificate, SigningCertificateV2, OtherSigningCertificate,\n"
                "GostPrivateCertificateStore, PrivateKeyDeriveCounter, or any registered OID.");
    cmd->callback([options] { RunDecode(*options); });
}

} // namespace kvext::tool
