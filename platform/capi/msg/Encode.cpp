// Enveloped messages being encoded.
//
// ContentInfo ::= SEQUENCE { contentType ContentType, content [0] EXPLICIT ANY }
// EnvelopedData ::= SEQUENCE { version CMSVersion, originatorInfo [0] IMPLICIT OPTIONAL,
//     recipientInfos RecipientInfos, encryptedContentInfo EncryptedContentInfo, ... }
// EncryptedContentInfo ::= SEQUENCE { contentType ContentType,
//     contentEncryptionAlgorithm ContentEncryptionAlgorithmIdentifier,
//     encryptedContent [0] IMPLICIT EncryptedContent OPTIONAL }       -- RFC 5652, 3 and 6.1
#include "Flat.h"
#include "Message.h"
#include "OidFunctions.h"

#include <algorithm>

namespace kvmsg {
namespace {

// The end-of-contents pairs after the content of an indefinite-length encoding: the
// encryptedContent, EncryptedContentInfo, EnvelopedData, [0] and ContentInfo.
constexpr size_t kIndefiniteTrailer = 10;

class EnvelopedEncoder final : public Message {
  public:
    BOOL Open(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo, LPCSTR pszInnerContentObjID,
              const CMSG_STREAM_INFO *pStreamInfo);
    BOOL Update(const BYTE *pbData, DWORD cbData, BOOL fFinal) override;
    BOOL GetParam(DWORD dwParamType, DWORD dwIndex, void *pvData, DWORD *pcbData) override;
    BOOL Control(DWORD, DWORD, const void *) override { return Fail(CRYPT_E_CONTROL_TYPE); }

  private:
    void TakeRecipients(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo);
    BOOL MakeContentKey(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo);
    BOOL EncodeRecipients();
    Bytes Prefix(size_t cbContent, bool indefinite) const;
    BOOL Output(std::span<const BYTE> bytes, bool fFinal);
    BOOL Encrypt(const BYTE *pbData, DWORD cbData, BOOL fFinal, Bytes *pOut);

    Releases releases_;
    CMSG_CONTENT_ENCRYPT_INFO contentInfo_{};
    std::string contentOid_;
    std::vector<CMSG_RECIPIENT_ENCODE_INFO> recipients_;
    std::vector<CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO> certRecipients_;
    Bytes innerType_, contentAlgorithm_, recipientInfos_;
    BYTE version_ = 0;
    bool streaming_ = false;
    CMSG_STREAM_INFO stream_{};
    bool prefixSent_ = false;
    bool finished_ = false;
    size_t cbContent_ = 0;
    Bytes ciphertext_; // without a stream: the content so far, encrypted
    Bytes encoded_;    // without a stream: the message, once finished
};

// Certificates (rgpRecipients) are key-transport recipients by issuer and serial number.
void EnvelopedEncoder::TakeRecipients(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo)
{
    if (encodeInfo.rgCmsRecipients) {
        recipients_.assign(encodeInfo.rgCmsRecipients,
                           encodeInfo.rgCmsRecipients + encodeInfo.cRecipients);
        return;
    }
    certRecipients_.resize(encodeInfo.cRecipients);
    for (DWORD i = 0; i < encodeInfo.cRecipients; ++i) {
        const CERT_INFO &cert = *encodeInfo.rgpRecipients[i];
        CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO &keyTrans = certRecipients_[i];
        keyTrans.cbSize = sizeof keyTrans;
        keyTrans.KeyEncryptionAlgorithm = cert.SubjectPublicKeyInfo.Algorithm;
        keyTrans.RecipientPublicKey = cert.SubjectPublicKeyInfo.PublicKey;
        keyTrans.RecipientId.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
        keyTrans.RecipientId.IssuerSerialNumber = {cert.Issuer, cert.SerialNumber};
        CMSG_RECIPIENT_ENCODE_INFO recipient{};
        recipient.dwRecipientChoice = CMSG_KEY_TRANS_RECIPIENT;
        recipient.pKeyTrans = &keyTrans;
        recipients_.push_back(recipient);
    }
}

// The content key comes from the function installed for the content-encryption OID; what it
// hands over by its flags (a provider, blocks) is released at close, also when it failed.
BOOL EnvelopedEncoder::MakeContentKey(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo)
{
    contentOid_ = encodeInfo.ContentEncryptionAlgorithm.pszObjId;
    contentInfo_.cbSize = sizeof contentInfo_;
    contentInfo_.hCryptProv = encodeInfo.hCryptProv;
    contentInfo_.ContentEncryptionAlgorithm = {contentOid_.data(),
                                               encodeInfo.ContentEncryptionAlgorithm.Parameters};
    contentInfo_.pvEncryptionAuxInfo = encodeInfo.pvEncryptionAuxInfo;
    contentInfo_.cRecipients = static_cast<DWORD>(recipients_.size());
    contentInfo_.rgCmsRecipients = recipients_.data();
    contentInfo_.pfnAlloc = MsgAlloc;
    contentInfo_.pfnFree = MsgFree;
    const BOOL ok = GenContentEncryptKey(&contentInfo_);
    releases_.hContentKey = contentInfo_.hContentEncryptKey;
    if (contentInfo_.dwFlags & CMSG_CONTENT_ENCRYPT_RELEASE_CONTEXT_FLAG)
        releases_.providers.push_back(contentInfo_.hCryptProv);
    if (contentInfo_.dwFlags & CMSG_CONTENT_ENCRYPT_FREE_PARA_FLAG)
        releases_.blocks.push_back(contentInfo_.ContentEncryptionAlgorithm.Parameters.pbData);
    if (contentInfo_.dwFlags & CMSG_CONTENT_ENCRYPT_FREE_OBJID_FLAG)
        releases_.blocks.push_back(contentInfo_.ContentEncryptionAlgorithm.pszObjId);
    return ok;
}

// RecipientInfos ::= SET SIZE (1..MAX) OF RecipientInfo, in DER order.
BOOL EnvelopedEncoder::EncodeRecipients()
{
    std::vector<Bytes> infos(recipients_.size());
    for (DWORD i = 0; i < recipients_.size(); ++i)
        if (!EncodeRecipient(&contentInfo_, i, &infos[i], &version_)) return FALSE;
    std::sort(infos.begin(), infos.end(), [](const Bytes &a, const Bytes &b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    });
    Bytes set;
    for (const Bytes &info : infos)
        Append(&set, info);
    recipientInfos_ = Tlv(0x31, set);
    return TRUE;
}

BOOL EnvelopedEncoder::Open(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo,
                            LPCSTR pszInnerContentObjID, const CMSG_STREAM_INFO *pStreamInfo)
{
    if (!encodeInfo.ContentEncryptionAlgorithm.pszObjId || encodeInfo.cRecipients == 0 ||
        (!encodeInfo.rgCmsRecipients && !encodeInfo.rgpRecipients))
        return Fail(E_INVALIDARG);
    innerType_ = ObjectIdentifier(pszInnerContentObjID ? pszInnerContentObjID : szOID_RSA_data);
    if (innerType_.empty()) return Fail(CRYPT_E_OID_FORMAT);
    if (pStreamInfo) {
        streaming_ = true;
        stream_ = *pStreamInfo;
    }
    TakeRecipients(encodeInfo);
    if (!MakeContentKey(encodeInfo) || !EncodeRecipients()) return FALSE;
    contentAlgorithm_ = AlgorithmIdentifier(contentInfo_.ContentEncryptionAlgorithm);
    return TRUE;
}

// Everything before the encrypted content's octets: with definite lengths for cbContent of
// them, or with indefinite ones and the content to come in OCTET STRING segments.
Bytes EnvelopedEncoder::Prefix(size_t cbContent, bool indefinite) const
{
    const Bytes contentType = ObjectIdentifier(szOID_RSA_envelopedData);
    const Bytes version = SmallInteger(version_);
    auto header = [&](BYTE tag, size_t cb) {
        return indefinite ? Bytes{tag, 0x80} : Header(tag, cb);
    };
    Bytes encryptedContentInfo = innerType_;
    Append(&encryptedContentInfo, contentAlgorithm_);
    Append(&encryptedContentInfo, indefinite ? Bytes{0xA0, 0x80} : Header(0x80, cbContent));
    Bytes envelopedData = version;
    Append(&envelopedData, recipientInfos_);
    Append(&envelopedData, header(0x30, encryptedContentInfo.size() + cbContent));
    Append(&envelopedData, encryptedContentInfo);
    Bytes content = header(0x30, envelopedData.size() + cbContent);
    Append(&content, envelopedData);
    Bytes contentInfo = contentType;
    Append(&contentInfo, header(0xA0, content.size() + cbContent));
    Append(&contentInfo, content);
    Bytes prefix = header(0x30, contentInfo.size() + cbContent);
    Append(&prefix, contentInfo);
    return prefix;
}

BOOL EnvelopedEncoder::Output(std::span<const BYTE> bytes, bool fFinal)
{
    if (!stream_.pfnStreamOutput) return Fail(E_INVALIDARG);
    return stream_.pfnStreamOutput(stream_.pvArg, const_cast<BYTE *>(bytes.data()),
                                   static_cast<DWORD>(bytes.size()), fFinal);
}

// The provider's CFB over the content, in the order it comes.
BOOL EnvelopedEncoder::Encrypt(const BYTE *pbData, DWORD cbData, BOOL fFinal, Bytes *pOut)
{
    pOut->assign(pbData, pbData + cbData);
    DWORD cb = cbData;
    if (cbData == 0) return TRUE;
    return CryptEncrypt(releases_.hContentKey, 0, fFinal, 0, pOut->data(), &cb, cbData);
}

BOOL EnvelopedEncoder::Update(const BYTE *pbData, DWORD cbData, BOOL fFinal)
{
    if (finished_) return Fail(CRYPT_E_MSG_ERROR);
    if (cbData && !pbData) return Fail(E_INVALIDARG);
    Bytes encrypted;
    if (!Encrypt(pbData, cbData, fFinal, &encrypted)) return FALSE;
    cbContent_ += cbData;
    finished_ = fFinal != FALSE;
    if (!streaming_) {
        Append(&ciphertext_, encrypted);
        if (finished_) {
            encoded_ = Prefix(ciphertext_.size(), false);
            Append(&encoded_, ciphertext_);
            Bytes().swap(ciphertext_);
        }
        return TRUE;
    }
    const bool indefinite = stream_.cbContent == CMSG_INDEFINITE_LENGTH;
    if (!indefinite &&
        (cbContent_ > stream_.cbContent || (finished_ && cbContent_ != stream_.cbContent)))
        return Fail(CRYPT_E_MSG_ERROR);
    Bytes out;
    if (!prefixSent_) out = Prefix(stream_.cbContent, indefinite);
    prefixSent_ = true;
    if (indefinite && !encrypted.empty()) Append(&out, Header(0x04, encrypted.size()));
    Append(&out, encrypted);
    if (indefinite && finished_) out.resize(out.size() + kIndefiniteTrailer, 0);
    return Output(out, finished_);
}

BOOL EnvelopedEncoder::GetParam(DWORD dwParamType, DWORD, void *pvData, DWORD *pcbData)
{
    if (!pcbData) return Fail(E_INVALIDARG);
    if (dwParamType != CMSG_CONTENT_PARAM) return Fail(CRYPT_E_INVALID_MSG_TYPE);
    if (streaming_) return Fail(E_INVALIDARG);
    if (!finished_) return Fail(CRYPT_E_STREAM_MSG_NOT_READY);
    return OutputBytes(encoded_, pvData, pcbData);
}

} // namespace

std::unique_ptr<Message> OpenEnvelopedToEncode(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo,
                                               LPCSTR pszInnerContentObjID,
                                               const CMSG_STREAM_INFO *pStreamInfo)
{
    auto message = std::make_unique<EnvelopedEncoder>();
    if (!message->Open(encodeInfo, pszInnerContentObjID, pStreamInfo)) return nullptr;
    return message;
}

} // namespace kvmsg
