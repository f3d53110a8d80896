// kvext pubkey: a key container's public key as a SubjectPublicKeyInfo, exported through
// CryptExportPublicKeyInfoEx.
#include "Tool.h"

#include <gostcsp.h>

#include <openssl/objects.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kvext::tool {

namespace {

struct PubkeyOptions {
    std::string container;
    std::string keySpec = "exchange";
    std::string oid;
    std::string output = "-";
    bool pem = false;
};

// One DER element: tag, definite length, contents.
std::vector<BYTE> Tlv(BYTE tag, const std::vector<BYTE> &contents)
{
    std::vector<BYTE> der{tag};
    const size_t cb = contents.size();
    if (cb < 0x80) {
        der.push_back(static_cast<BYTE>(cb));
    } else {
        std::vector<BYTE> length;
        for (size_t n = cb; n; n >>= 8)
            length.insert(length.begin(), static_cast<BYTE>(n));
        der.push_back(static_cast<BYTE>(0x80 | length.size()));
        der.insert(der.end(), length.begin(), length.end());
    }
    der.insert(der.end(), contents.begin(), contents.end());
    return der;
}

std::vector<BYTE> OidDer(const char *oid)
{
    ASN1_OBJECT *object = OBJ_txt2obj(oid, 1);
    unsigned char *der = nullptr;
    const int cb = object ? i2d_ASN1_OBJECT(object, &der) : -1;
    ASN1_OBJECT_free(object);
    std::vector<BYTE> bytes;
    if (cb > 0) bytes.assign(der, der + cb);
    OPENSSL_free(der);
    if (bytes.empty()) FailInput(std::string("exported algorithm is not an OID: ") + oid);
    return bytes;
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                     subjectPublicKey BIT STRING }          -- RFC 5280, 4.1
std::vector<BYTE> SubjectPublicKeyInfo(const CERT_PUBLIC_KEY_INFO &info)
{
    std::vector<BYTE> algorithm = OidDer(info.Algorithm.pszObjId);
    const CRYPT_OBJID_BLOB &parameters = info.Algorithm.Parameters;
    algorithm.insert(algorithm.end(), parameters.pbData, parameters.pbData + parameters.cbData);
    std::vector<BYTE> bits{static_cast<BYTE>(info.PublicKey.cUnusedBits)};
    bits.insert(bits.end(), info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
    std::vector<BYTE> contents = Tlv(0x30, algorithm);
    const std::vector<BYTE> bitString = Tlv(0x03, bits);
    contents.insert(contents.end(), bitString.begin(), bitString.end());
    return Tlv(0x30, contents);
}

// The OID CryptoAPI lists for the key pair's algorithm, as named by its exported blob.
std::string PublicKeyOid(HCRYPTPROV hProv, DWORD keySpec)
{
    ScopedKey key;
    if (!CryptGetUserKey(hProv, keySpec, &key.hKey)) FailCryptoApi("CryptGetUserKey");
    const HCRYPTKEY hKey = key.hKey;
    DWORD cbBlob = 0;
    if (!CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, nullptr, &cbBlob))
        FailCryptoApi("CryptExportKey");
    std::vector<BYTE> blob(cbBlob);
    if (!CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cbBlob))
        FailCryptoApi("CryptExportKey");
    BLOBHEADER header = {};
    std::memcpy(&header, blob.data(), std::min<size_t>(sizeof header, blob.size()));
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &header.aiKeyAlg, CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    if (!info) FailInput("CryptoAPI lists no public-key OID for the key's algorithm");
    return info->pszOID;
}

void RunPubkey(const PubkeyOptions &options)
{
    ScopedProvider provider;
    if (!CryptAcquireContextA(&provider.hProv, options.container.c_str(), nullptr, KV_PROV_GOST, 0))
        FailCryptoApi("CryptAcquireContext of container " + options.container);
    const HCRYPTPROV hProv = provider.hProv;
    const DWORD keySpec = options.keySpec == "signature" ? AT_SIGNATURE : AT_KEYEXCHANGE;
    std::string oid = options.oid.empty() ? PublicKeyOid(hProv, keySpec) : options.oid;
    DWORD cbInfo = 0;
    if (!CryptExportPublicKeyInfoEx(hProv, keySpec, X509_ASN_ENCODING, oid.data(), 0, nullptr,
                                    nullptr, &cbInfo))
        FailCryptoApi("CryptExportPublicKeyInfoEx");
    // The structure and the data it points to, in one block aligned for the structure.
    std::vector<CERT_PUBLIC_KEY_INFO> block(cbInfo / sizeof(CERT_PUBLIC_KEY_INFO) + 1);
    if (!CryptExportPublicKeyInfoEx(hProv, keySpec, X509_ASN_ENCODING, oid.data(), 0, nullptr,
                                    block.data(), &cbInfo))
        FailCryptoApi("CryptExportPublicKeyInfoEx");
    WriteOutput(SubjectPublicKeyInfo(block.front()), options.output,
                options.pem ? "PUBLIC KEY" : "");
}

} // namespace

void AddPubkeyCommand(CLI::App &app)
{
    auto options = std::make_shared<PubkeyOptions>();
    CLI::App *cmd = app.add_subcommand(
        "pubkey", "Export a container's public key as a SubjectPublicKeyInfo through CryptoAPI");
    cmd->add_option("--container", options->container,
                    "key container: a PEM private key's absolute path, or a name looked up in "
                    "$KV_CSP_CONTAINER_DIR")
        ->required();
    cmd->add_option("--keyspec", options->keySpec, "key pair of the container")
        ->check(CLI::IsMember({"exchange", "signature"}))
        ->capture_default_str();
    cmd->add_option("--oid", options->oid,
                    "public-key algorithm OID (default: the one CryptoAPI lists for the key)");
    cmd->add_option("-o,--output", options->output, "output file; - for stdout")
        ->capture_default_str();
    cmd->add_flag("--pem", options->pem, "write PEM instead of DER");
    cmd->callback([options] { RunPubkey(*options); });
}

} // namespace kvext::tool
