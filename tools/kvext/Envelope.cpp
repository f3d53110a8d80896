// kvext envelope: GOST enveloped data for one or more recipient certificates, made by
// CryptoAPI's message functions, which reach the library through the registered OID functions.
// The content streams through: a regular file gives DER, a pipe BER with indefinite lengths.
#include "Command.h"
#include "EnvelopeFiles.h"
#include "Tool.h"

#include <gostcsp.h>
#include <openssl/bio.h>
#include <openssl/evp.h>

namespace kvext::tool {
namespace {

constexpr char kGost28147Oid[] = "1.2.643.2.2.21";
constexpr size_t kChunk = 64 * 1024;

struct CipherParamSetName {
    const char *name;
    const char *oid;
};
constexpr CipherParamSetName kCipherParamSets[] = {
    {"A", "1.2.643.2.2.31.1"}, {"B", "1.2.643.2.2.31.2"},    {"C", "1.2.643.2.2.31.3"},
    {"D", "1.2.643.2.2.31.4"}, {"Z", "1.2.643.7.1.2.5.1.1"},
};

struct EnvelopeOptions {
    std::vector<std::string> recipients;
    bool agree = false;
    bool pem = false;
    std::string cipherParams;
    std::string in, out;
};

std::string CipherParamSetOid(const std::string &nameOrOid)
{
    for (const CipherParamSetName &set : kCipherParamSets)
        if (nameOrOid == set.name || nameOrOid == set.oid) return set.oid;
    FailWithMessage("unknown cipher parameter set " + nameOrOid + " (A, B, C, D, Z or an OID)");
}

// The recipients as CryptoAPI takes them; every pointer goes into this object.
struct Recipients {
    std::vector<RecipientCert> certs;
    std::vector<CERT_PUBLIC_KEY_INFO> keys;
    std::vector<CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO> keyTrans;
    std::vector<CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO> keyAgree;
    std::vector<CMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO> encryptedKeys;
    std::vector<PCMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO> encryptedKeyPointers;
    std::vector<CMSG_RECIPIENT_ENCODE_INFO> all;

    Recipients(const std::vector<std::string> &paths, bool agree)
    {
        for (const std::string &path : paths)
            certs.push_back(LoadRecipientCert(path));
        const size_t n = certs.size();
        keys.resize(n);
        keyTrans.resize(n);
        keyAgree.resize(n);
        encryptedKeys.resize(n);
        encryptedKeyPointers.resize(n);
        for (size_t i = 0; i < n; ++i) {
            keys[i] = certs[i].PublicKeyInfo();
            CMSG_RECIPIENT_ENCODE_INFO recipient{};
            if (agree) {
                AgreeWith(i);
                recipient.dwRecipientChoice = CMSG_KEY_AGREE_RECIPIENT;
                recipient.pKeyAgree = &keyAgree[i];
            } else {
                keyTrans[i].cbSize = sizeof keyTrans[i];
                keyTrans[i].KeyEncryptionAlgorithm = keys[i].Algorithm;
                keyTrans[i].RecipientPublicKey = keys[i].PublicKey;
                keyTrans[i].RecipientId = certs[i].Id();
                recipient.dwRecipientChoice = CMSG_KEY_TRANS_RECIPIENT;
                recipient.pKeyTrans = &keyTrans[i];
            }
            all.push_back(recipient);
        }
    }
    // An ephemeral key on the certificate's curve agrees the key with the certificate's key.
    void AgreeWith(size_t i)
    {
        encryptedKeys[i].cbSize = sizeof encryptedKeys[i];
        encryptedKeys[i].RecipientPublicKey = keys[i].PublicKey;
        encryptedKeys[i].RecipientId = certs[i].Id();
        encryptedKeyPointers[i] = &encryptedKeys[i];
        CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO &info = keyAgree[i];
        info.cbSize = sizeof info;
        info.KeyEncryptionAlgorithm.pszObjId = keys[i].Algorithm.pszObjId;
        info.dwKeyChoice = CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE;
        info.pEphemeralAlgorithm = &keys[i].Algorithm;
        info.cRecipientEncryptedKeys = 1;
        info.rgpRecipientEncryptedKeys = &encryptedKeyPointers[i];
    }
};

// Where the message goes: the output, through base64 for PEM.
struct Sink {
    Output *out;
    BIO *base64 = nullptr;
    BIO *memory = nullptr;

    void Write(const BYTE *pb, size_t cb)
    {
        if (!base64) return out->Write(pb, cb);
        BIO_write(base64, pb, static_cast<int>(cb));
        Drain();
    }
    void Drain()
    {
        char *pch = nullptr;
        const long cb = BIO_get_mem_data(memory, &pch);
        out->Write(reinterpret_cast<const BYTE *>(pch), static_cast<size_t>(cb));
        (void)BIO_reset(memory);
    }
};

BOOL WINAPI StreamOutput(const void *pvArg, BYTE *pbData, DWORD cbData, BOOL fFinal)
{
    Sink *sink = static_cast<Sink *>(const_cast<void *>(pvArg));
    sink->Write(pbData, cbData);
    if (fFinal && sink->base64) {
        (void)BIO_flush(sink->base64);
        sink->Drain();
    }
    return TRUE;
}

void Run(const EnvelopeOptions &options)
{
    Recipients recipients(options.recipients, options.agree);
    ScopedProvider provider; // its content keys take the chosen parameter set
    if (!options.cipherParams.empty()) {
        const std::string oid = CipherParamSetOid(options.cipherParams);
        if (!CryptAcquireContextA(&provider.hProv, nullptr, nullptr, KV_PROV_GOST,
                                  CRYPT_VERIFYCONTEXT))
            FailCall("CryptAcquireContext");
        if (!CryptSetProvParam(provider.hProv, PP_GOST_CIPHER_PARAMSET,
                               reinterpret_cast<const BYTE *>(oid.c_str()), 0))
            FailCall("CryptSetProvParam");
    }
    Input in;
    OpenInput(options.in, &in);
    Output out(options.out);
    Sink sink{&out};
    std::unique_ptr<BIO, decltype(&BIO_free_all)> chain(nullptr, BIO_free_all);
    if (options.pem) {
        sink.memory = BIO_new(BIO_s_mem());
        sink.base64 = BIO_push(BIO_new(BIO_f_base64()), sink.memory);
        chain.reset(sink.base64);
        static const char begin[] = "-----BEGIN CMS-----\n";
        out.Write(reinterpret_cast<const BYTE *>(begin), sizeof begin - 1);
    }
    CMSG_ENVELOPED_ENCODE_INFO encodeInfo{};
    encodeInfo.cbSize = sizeof encodeInfo;
    encodeInfo.hCryptProv = provider.hProv;
    encodeInfo.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(kGost28147Oid);
    encodeInfo.cRecipients = static_cast<DWORD>(recipients.all.size());
    encodeInfo.rgCmsRecipients = recipients.all.data();
    CMSG_STREAM_INFO stream = {in.size >= 0 ? static_cast<DWORD>(in.size) : CMSG_INDEFINITE_LENGTH,
                               StreamOutput, &sink};
    if (in.size > 0xFFFFFFFEll) stream.cbContent = CMSG_INDEFINITE_LENGTH;
    std::unique_ptr<void, decltype(&CryptMsgClose)> message(
        CryptMsgOpenToEncode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CMSG_ENVELOPED,
                             &encodeInfo, nullptr, &stream),
        CryptMsgClose);
    if (!message) FailCall("CryptMsgOpenToEncode");
    Progress progress(in.size);
    std::vector<BYTE> chunk(kChunk);
    for (;;) {
        const size_t cb = std::fread(chunk.data(), 1, chunk.size(), in.file);
        const bool last = cb < chunk.size();
        if (last && std::ferror(in.file)) FailWithMessage("cannot read " + options.in);
        if (!CryptMsgUpdate(message.get(), chunk.data(), static_cast<DWORD>(cb), last))
            FailCall("CryptMsgUpdate");
        progress.Advance(cb);
        if (last) break;
    }
    if (options.pem) {
        static const char end[] = "-----END CMS-----\n";
        out.Write(reinterpret_cast<const BYTE *>(end), sizeof end - 1);
    }
    message.reset();
    out.Commit();
}

} // namespace

void AddEnvelopeCommand(CLI::App &app)
{
    auto options = std::make_shared<EnvelopeOptions>();
    CLI::App *command = app.add_subcommand(
        "envelope", "Encrypt a file for recipient certificates as GOST enveloped data (CMS)");
    command->add_option("--recipient", options->recipients, "recipient certificate (PEM or DER)")
        ->required();
    command->add_flag("--agree", options->agree,
                      "key agreement (KeyAgreeRecipientInfo) instead of key transport");
    command->add_option("--cipher-params", options->cipherParams,
                        "content cipher parameter set: A, B, C, D, Z or its OID");
    command->add_flag("--pem", options->pem, "write PEM instead of DER");
    command->add_option("IN", options->in, "file to encrypt, - for stdin")->required();
    command->add_option("OUT", options->out, "enveloped data to write, - for stdout")->required();
    command->callback([options] { Run(*options); });
}

} // namespace kvext::tool
