// kvext open: decrypts GOST enveloped data (PEM or DER) with a container's key, through
// CryptoAPI's message functions. The first recipient info the container's key opens is used.
#include "Command.h"
#include "EnvelopeFiles.h"
#include "Tool.h"

#include <gostcsp.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

namespace kvext::tool {
namespace {

constexpr size_t kChunk = 64 * 1024;

struct OpenOptions {
    std::string container;
    std::string in, out;
};

BOOL WINAPI StreamOutput(const void *pvArg, BYTE *pbData, DWORD cbData, BOOL)
{
    static_cast<Output *>(const_cast<void *>(pvArg))->Write(pbData, cbData);
    return TRUE;
}

// A recipient info as CryptMsgGetParam lays it out.
std::vector<BYTE> RecipientInfo(HCRYPTMSG hMsg, DWORD dwIndex)
{
    DWORD cb = 0;
    if (!CryptMsgGetParam(hMsg, CMSG_CMS_RECIPIENT_INFO_PARAM, dwIndex, nullptr, &cb))
        FailCall("CryptMsgGetParam");
    std::vector<BYTE> info(cb);
    if (!CryptMsgGetParam(hMsg, CMSG_CMS_RECIPIENT_INFO_PARAM, dwIndex, info.data(), &cb))
        FailCall("CryptMsgGetParam");
    return info;
}

BOOL TryRecipient(HCRYPTMSG hMsg, HCRYPTPROV hProv, DWORD dwIndex)
{
    const std::vector<BYTE> block = RecipientInfo(hMsg, dwIndex);
    const auto *pInfo = reinterpret_cast<const CMSG_CMS_RECIPIENT_INFO *>(block.data());
    if (pInfo->dwRecipientChoice == CMSG_KEY_TRANS_RECIPIENT) {
        CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
        para.cbSize = sizeof para;
        para.hCryptProv = hProv;
        para.dwKeySpec = AT_KEYEXCHANGE;
        para.pKeyTrans = pInfo->pKeyTrans;
        para.dwRecipientIndex = dwIndex;
        return CryptMsgControl(hMsg, 0, CMSG_CTRL_KEY_TRANS_DECRYPT, &para);
    }
    if (pInfo->dwRecipientChoice != CMSG_KEY_AGREE_RECIPIENT) return FALSE;
    CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyAgree = pInfo->pKeyAgree;
    para.dwRecipientIndex = dwIndex;
    para.OriginatorPublicKey = pInfo->pKeyAgree->OriginatorPublicKeyInfo.PublicKey;
    return CryptMsgControl(hMsg, 0, CMSG_CTRL_KEY_AGREE_DECRYPT, &para);
}

// Tries every recipient info in turn; the failure of the last one is reported.
void Decrypt(HCRYPTMSG hMsg, HCRYPTPROV hProv)
{
    DWORD count = 0, cb = sizeof count;
    if (!CryptMsgGetParam(hMsg, CMSG_CMS_RECIPIENT_COUNT_PARAM, 0, &count, &cb))
        FailCall("CryptMsgGetParam");
    for (DWORD i = 0; i < count; ++i)
        if (TryRecipient(hMsg, hProv, i)) return;
    FailCall("CryptMsgControl (no recipient info opens with this container)");
}

// The input's bytes as they come: DER as it is, PEM through base64.
class Reader {
  public:
    explicit Reader(Input *in) : in_(in)
    {
        const int first = std::fgetc(in_->file);
        if (first == EOF) return;
        std::ungetc(first, in_->file);
        if (first != 0x30) ReadPem();
    }
    size_t Read(BYTE *pb, size_t cb)
    {
        if (!pem_.empty() || pemRead_) {
            const size_t n = std::min(cb, pem_.size() - pemOffset_);
            std::memcpy(pb, pem_.data() + pemOffset_, n);
            pemOffset_ += n;
            return n;
        }
        return std::fread(pb, 1, cb, in_->file);
    }

  private:
    void ReadPem()
    {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_fp(in_->file, BIO_NOCLOSE), BIO_free);
        char *name = nullptr, *header = nullptr;
        unsigned char *data = nullptr;
        long cb = 0;
        if (!PEM_read_bio(bio.get(), &name, &header, &data, &cb))
            FailWithMessage("input is neither DER nor PEM");
        pem_.assign(data, data + cb);
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
        pemRead_ = true;
    }
    Input *in_;
    std::vector<BYTE> pem_;
    size_t pemOffset_ = 0;
    bool pemRead_ = false;
};

void Run(const OpenOptions &options)
{
    ScopedProvider provider;
    if (!CryptAcquireContextA(&provider.hProv, options.container.c_str(), nullptr, KV_PROV_GOST, 0))
        FailCall("CryptAcquireContext");
    Input in;
    OpenInput(options.in, &in);
    Reader reader(&in);
    Output out(options.out);
    CMSG_STREAM_INFO stream = {CMSG_INDEFINITE_LENGTH, StreamOutput, &out};
    std::unique_ptr<void, decltype(&CryptMsgClose)> message(
        CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, &stream),
        CryptMsgClose);
    if (!message) FailCall("CryptMsgOpenToDecode");
    Progress progress(in.size);
    std::vector<BYTE> chunk(kChunk);
    bool decrypted = false;
    for (;;) {
        const size_t cb = reader.Read(chunk.data(), chunk.size());
        const bool last = cb < chunk.size();
        if (!CryptMsgUpdate(message.get(), chunk.data(), static_cast<DWORD>(cb), last))
            FailCall("CryptMsgUpdate");
        progress.Advance(cb);
        DWORD count = 0, cbCount = sizeof count;
        if (!decrypted &&
            CryptMsgGetParam(message.get(), CMSG_CMS_RECIPIENT_COUNT_PARAM, 0, &count, &cbCount)) {
            Decrypt(message.get(), provider.hProv);
            decrypted = true;
        }
        if (last) break;
    }
    if (!decrypted) {
        SetLastError(CRYPT_E_ASN1_EOD);
        FailCall("CryptMsgUpdate");
    }
    message.reset();
    out.Commit();
}

} // namespace

void AddOpenCommand(CLI::App &app)
{
    auto options = std::make_shared<OpenOptions>();
    CLI::App *command =
        app.add_subcommand("open", "Decrypt GOST enveloped data (CMS) with a container's key");
    command
        ->add_option("--container", options->container,
                     "key container: a name in $KV_CSP_CONTAINER_DIR or a PEM key's path")
        ->required();
    command->add_option("IN", options->in, "enveloped data (PEM or DER), - for stdin")->required();
    command->add_option("OUT", options->out, "decrypted content to write, - for stdout")
        ->required();
    command->callback([options] { Run(*options); });
}

} // namespace kvext::tool
