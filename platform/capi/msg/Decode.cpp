// Enveloped messages being decoded. The encoding comes in any number of updates and is read
// as it comes: the part before the encrypted content is kept for the recipient infos, the
// encrypted content is decrypted once a control has imported the key (held until then), and
// nothing else of the input is kept.
#include "Flat.h"
#include "Message.h"
#include "OidFunctions.h"

#include <algorithm>

namespace kvmsg {
namespace {

enum class Stage { Head, Content, Tail };

class EnvelopedDecoder final : public Message {
  public:
    explicit EnvelopedDecoder(const CMSG_STREAM_INFO *pStreamInfo)
    {
        if (pStreamInfo) stream_ = *pStreamInfo;
    }
    BOOL Update(const BYTE *pbData, DWORD cbData, BOOL fFinal) override;
    BOOL GetParam(DWORD dwParamType, DWORD dwIndex, void *pvData, DWORD *pcbData) override;
    BOOL Control(DWORD dwFlags, DWORD dwCtrlType, const void *pvCtrlPara) override;

  private:
    BOOL ReadHead();
    BOOL TakeHead(size_t cbHead);
    BOOL ReadContent();
    BOOL Ciphertext(std::span<const BYTE> bytes);
    BOOL Deliver(Bytes bytes);
    BOOL Finish();
    BOOL Decrypted(HCRYPTKEY hKey, BOOL ok, DWORD dwFlags, HCRYPTPROV hProv);
    BOOL RecipientParam(DWORD dwParamType, DWORD dwIndex, void *pvData, DWORD *pcbData) const;

    Releases releases_;
    CMSG_STREAM_INFO stream_{};
    Stage stage_ = Stage::Head;
    Bytes pending_; // input not read yet
    Bytes head_;    // the encoding up to the encrypted content
    std::vector<std::unique_ptr<DecodedRecipient>> recipients_;
    DecodedRecipient algorithms_; // keeps the texts of the two algorithms below
    CRYPT_ALGORITHM_IDENTIFIER contentAlgorithm_{};
    LPSTR innerType_ = nullptr;
    // The encrypted content: a primitive [0], or a constructed one of OCTET STRING segments.
    bool constructed_ = false, indefinite_ = false;
    size_t contentLeft_ = 0, segmentLeft_ = 0;
    // What must follow the content: the end-of-contents pairs of the indefinite elements
    // around it, or (definite) the octets left of the ContentInfo.
    size_t trailerPairs_ = 0;
    size_t tailLeft_ = 0;
    bool definiteOuter_ = false;
    size_t tailSeen_ = 0;
    Bytes tailEnd_; // the last octets of the tail, for the pairs check
    Bytes held_;    // ciphertext waiting for the key
    Bytes content_; // without a stream: the content so far
    bool finalSeen_ = false, decrypted_ = false, finalDelivered_ = false;
};

// The elements in front of the encrypted content, each read from where the last one ended.
class HeadReader {
  public:
    explicit HeadReader(std::span<const BYTE> in) : in_(in) {}
    // Header only (its contents follow), or the whole element.
    ReadStatus Open(BYTE tag, Element *pOut) { return Read(tag, pOut, false); }
    ReadStatus Whole(BYTE tag, Element *pOut) { return Read(tag, pOut, true); }
    std::span<const BYTE> Rest() const { return in_.subspan(offset_); }
    size_t Offset() const { return offset_; }

  private:
    ReadStatus Read(BYTE tag, Element *pOut, bool whole)
    {
        const std::span<const BYTE> rest = Rest();
        const ReadStatus status = whole ? ReadElement(rest, pOut) : ReadHeader(rest, pOut);
        if (status != ReadStatus::Ok) return status;
        if (pOut->tag != tag) return ReadStatus::Bad;
        offset_ += whole ? pOut->Size() : pOut->cbHeader;
        return ReadStatus::Ok;
    }
    std::span<const BYTE> in_;
    size_t offset_ = 0;
};

// Turns a read status into the message's answer: FALSE with the code for bad input, TRUE
// with *pReady false when more input is needed.
BOOL Check(ReadStatus status, bool *pReady)
{
    *pReady = status == ReadStatus::Ok;
    return status == ReadStatus::Bad ? Fail(CRYPT_E_ASN1_BADTAG) : TRUE;
}

BOOL EnvelopedDecoder::ReadHead()
{
    HeadReader reader(pending_);
    Element contentInfo, contentType, explicitTag, envelopedData, version, originator, infos,
        encryptedContentInfo, innerType, algorithm, encryptedContent;
    bool ready = false;
#define KV_READ(call)                                                                              \
    if (!Check(reader.call, &ready)) return FALSE;                                                 \
    if (!ready) return TRUE
    KV_READ(Open(0x30, &contentInfo));
    KV_READ(Whole(0x06, &contentType));
    if (ObjectIdentifierText(contentType.contents) != szOID_RSA_envelopedData)
        return Fail(CRYPT_E_INVALID_MSG_TYPE);
    KV_READ(Open(0xA0, &explicitTag));
    KV_READ(Open(0x30, &envelopedData));
    KV_READ(Whole(0x02, &version));
    if (!reader.Rest().empty() && reader.Rest()[0] == 0xA0) {
        KV_READ(Whole(0xA0, &originator));
    }
    KV_READ(Whole(0x31, &infos));
    KV_READ(Open(0x30, &encryptedContentInfo));
    const size_t eciStart = reader.Offset();
    KV_READ(Whole(0x06, &innerType));
    KV_READ(Whole(0x30, &algorithm));
#undef KV_READ
    // The encrypted content, when there is one, starts here.
    const std::span<const BYTE> rest = reader.Rest();
    const bool eciEnds = encryptedContentInfo.indefinite
                             ? rest.size() >= 2 && rest[0] == 0 && rest[1] == 0
                             : reader.Offset() - eciStart == encryptedContentInfo.length;
    size_t cbHead = reader.Offset();
    if (eciEnds) {
        contentLeft_ = 0;
    } else {
        if (rest.empty()) return TRUE;
        if (rest[0] != 0x80 && rest[0] != 0xA0) return Fail(CRYPT_E_ASN1_BADTAG);
        if (!Check(ReadHeader(rest, &encryptedContent), &ready)) return FALSE;
        if (!ready) return TRUE;
        constructed_ = encryptedContent.tag == 0xA0;
        indefinite_ = encryptedContent.indefinite;
        contentLeft_ = encryptedContent.length;
        cbHead += encryptedContent.cbHeader;
    }
    trailerPairs_ = contentInfo.indefinite + explicitTag.indefinite + envelopedData.indefinite +
                    encryptedContentInfo.indefinite;
    definiteOuter_ = !contentInfo.indefinite;
    if (definiteOuter_) {
        const size_t cbTotal = contentInfo.cbHeader + contentInfo.length;
        const size_t cbContent = indefinite_ ? 0 : contentLeft_;
        if (cbTotal < cbHead + cbContent) return Fail(CRYPT_E_ASN1_CORRUPT);
        tailLeft_ = cbTotal - cbHead - cbContent; // less for an indefinite content, checked last
    }
    return TakeHead(cbHead);
}

// Keeps the head and decodes what points into it: the recipient infos and the algorithms.
BOOL EnvelopedDecoder::TakeHead(size_t cbHead)
{
    head_.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(cbHead));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(cbHead));
    HeadReader reader(head_);
    Element element, infos, innerType, algorithm;
    reader.Open(0x30, &element);
    reader.Whole(0x06, &element);
    reader.Open(0xA0, &element);
    reader.Open(0x30, &element);
    reader.Whole(0x02, &element);
    if (reader.Rest()[0] == 0xA0) reader.Whole(0xA0, &element);
    reader.Whole(0x31, &infos);
    reader.Open(0x30, &element);
    reader.Whole(0x06, &innerType);
    reader.Whole(0x30, &algorithm);
    for (std::span<const BYTE> rest = infos.contents; !rest.empty();) {
        Element info;
        auto recipient = std::make_unique<DecodedRecipient>();
        if (ReadElement(rest, &info) != ReadStatus::Ok ||
            !DecodeRecipientInfo(info, recipient.get()))
            return Fail(CRYPT_E_ASN1_CORRUPT);
        recipients_.push_back(std::move(recipient));
        rest = rest.subspan(info.Size());
    }
    // The content type and algorithm go through the key-transport reader's algorithm code.
    algorithms_.texts.push_back(ObjectIdentifierText(innerType.contents));
    innerType_ = algorithms_.texts.back().data();
    Element oid;
    if (ReadElement(algorithm.contents, &oid) != ReadStatus::Ok || oid.tag != 0x06)
        return Fail(CRYPT_E_ASN1_CORRUPT);
    algorithms_.texts.push_back(ObjectIdentifierText(oid.contents));
    contentAlgorithm_.pszObjId = algorithms_.texts.back().data();
    const std::span<const BYTE> parameters = algorithm.contents.subspan(oid.Size());
    contentAlgorithm_.Parameters = {static_cast<DWORD>(parameters.size()),
                                    const_cast<BYTE *>(parameters.data())};
    if (recipients_.empty() || !*innerType_ || !*contentAlgorithm_.pszObjId)
        return Fail(CRYPT_E_ASN1_CORRUPT);
    stage_ = Stage::Content;
    return TRUE;
}

BOOL EnvelopedDecoder::Deliver(Bytes bytes)
{
    if (!stream_.pfnStreamOutput) {
        Append(&content_, bytes);
        return TRUE;
    }
    if (bytes.empty()) return TRUE;
    return stream_.pfnStreamOutput(stream_.pvArg, bytes.data(), static_cast<DWORD>(bytes.size()),
                                   FALSE);
}

BOOL EnvelopedDecoder::Ciphertext(std::span<const BYTE> bytes)
{
    if (!decrypted_) {
        Append(&held_, bytes);
        return TRUE;
    }
    Bytes plain(bytes.begin(), bytes.end());
    DWORD cb = static_cast<DWORD>(plain.size());
    if (cb && !CryptDecrypt(releases_.hContentKey, 0, FALSE, 0, plain.data(), &cb)) return FALSE;
    return Deliver(std::move(plain));
}

// Reads segments and content octets as far as the input goes.
BOOL EnvelopedDecoder::ReadContent()
{
    auto take = [&](size_t cb) {
        const std::span<const BYTE> bytes(pending_.data(), cb);
        const BOOL ok = Ciphertext(bytes);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(cb));
        return ok;
    };
    while (stage_ == Stage::Content) {
        if (!constructed_ || segmentLeft_) {
            size_t &left = constructed_ ? segmentLeft_ : contentLeft_;
            if (left == 0) break;
            const size_t cb = std::min(left, pending_.size());
            if (cb == 0) return TRUE;
            left -= cb;
            if (constructed_ && !indefinite_) contentLeft_ -= cb;
            if (!take(cb)) return FALSE;
            continue;
        }
        // Between the segments of a constructed encrypted content.
        if (indefinite_ && pending_.size() >= 2 && pending_[0] == 0 && pending_[1] == 0) {
            pending_.erase(pending_.begin(), pending_.begin() + 2);
            break;
        }
        if (!indefinite_ && contentLeft_ == 0) break;
        Element segment;
        const ReadStatus status = ReadHeader(pending_, &segment);
        if (status == ReadStatus::NeedMore) return TRUE;
        if (status == ReadStatus::Bad || segment.tag != 0x04) return Fail(CRYPT_E_ASN1_BADTAG);
        if (!indefinite_ && segment.cbHeader + segment.length > contentLeft_)
            return Fail(CRYPT_E_ASN1_CORRUPT);
        if (!indefinite_) contentLeft_ -= segment.cbHeader;
        segmentLeft_ = segment.length;
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(segment.cbHeader));
    }
    if (stage_ == Stage::Content) stage_ = Stage::Tail;
    // The tail: end-of-contents pairs, unprotected attributes; only its length is checked.
    tailSeen_ += pending_.size();
    Append(&tailEnd_, pending_);
    if (tailEnd_.size() > 2 * trailerPairs_)
        tailEnd_.erase(tailEnd_.begin(),
                       tailEnd_.end() - static_cast<std::ptrdiff_t>(2 * trailerPairs_));
    pending_.clear();
    return TRUE;
}

// The last update: the encoding must be complete.
BOOL EnvelopedDecoder::Finish()
{
    if (stage_ != Stage::Tail) return Fail(CRYPT_E_ASN1_EOD);
    const bool complete =
        definiteOuter_
            ? tailSeen_ == tailLeft_ || (indefinite_ && tailSeen_ <= tailLeft_)
            : tailSeen_ >= 2 * trailerPairs_ &&
                  std::all_of(tailEnd_.begin(), tailEnd_.end(), [](BYTE b) { return b == 0; });
    // Input that stops short of what the lengths (or the end-of-contents pairs) promise was
    // cut, not corrupted.
    const size_t cbPromised = definiteOuter_ ? tailLeft_ : 2 * trailerPairs_;
    if (!complete) return Fail(tailSeen_ < cbPromised ? CRYPT_E_ASN1_EOD : CRYPT_E_ASN1_CORRUPT);
    return TRUE;
}

BOOL EnvelopedDecoder::Update(const BYTE *pbData, DWORD cbData, BOOL fFinal)
{
    if (finalSeen_) return Fail(CRYPT_E_MSG_ERROR);
    if (cbData && !pbData) return Fail(E_INVALIDARG);
    pending_.insert(pending_.end(), pbData, pbData + cbData);
    if (stage_ == Stage::Head && !ReadHead()) return FALSE;
    if (stage_ != Stage::Head && !ReadContent()) return FALSE;
    if (!fFinal) return TRUE;
    if (!Finish()) return FALSE;
    finalSeen_ = true;
    if (decrypted_ && stream_.pfnStreamOutput && !finalDelivered_) {
        finalDelivered_ = true;
        return stream_.pfnStreamOutput(stream_.pvArg, nullptr, 0, TRUE);
    }
    return TRUE;
}

// A key is in: the held ciphertext goes out, and the provider is released at close when the
// control asked for it (not when it failed).
BOOL EnvelopedDecoder::Decrypted(HCRYPTKEY hKey, BOOL ok, DWORD dwFlags, HCRYPTPROV hProv)
{
    if (!ok) return FALSE;
    releases_.hContentKey = hKey;
    decrypted_ = true;
    if (dwFlags & CMSG_CRYPT_RELEASE_CONTEXT_FLAG) releases_.providers.push_back(hProv);
    Bytes held;
    held.swap(held_);
    if (!held.empty() && !Ciphertext(held)) return FALSE;
    if (finalSeen_ && stream_.pfnStreamOutput && !finalDelivered_) {
        finalDelivered_ = true;
        return stream_.pfnStreamOutput(stream_.pvArg, nullptr, 0, TRUE);
    }
    return TRUE;
}

BOOL EnvelopedDecoder::Control(DWORD dwFlags, DWORD dwCtrlType, const void *pvCtrlPara)
{
    if (dwCtrlType != CMSG_CTRL_KEY_TRANS_DECRYPT && dwCtrlType != CMSG_CTRL_KEY_AGREE_DECRYPT)
        return Fail(CRYPT_E_CONTROL_TYPE);
    if (!pvCtrlPara) return Fail(E_INVALIDARG);
    if (stage_ == Stage::Head) return Fail(CRYPT_E_STREAM_MSG_NOT_READY);
    if (decrypted_) return Fail(CRYPT_E_ALREADY_DECRYPTED);
    HCRYPTKEY hKey = 0;
    if (dwCtrlType == CMSG_CTRL_KEY_TRANS_DECRYPT) {
        auto *pPara =
            static_cast<CMSG_CTRL_KEY_TRANS_DECRYPT_PARA *>(const_cast<void *>(pvCtrlPara));
        if (!pPara->pKeyTrans) return Fail(E_INVALIDARG);
        if (pPara->dwRecipientIndex >= recipients_.size()) return Fail(CRYPT_E_INVALID_INDEX);
        const BOOL ok = ImportKeyTrans(&contentAlgorithm_, pPara, &hKey);
        return Decrypted(hKey, ok, dwFlags, pPara->hCryptProv);
    }
    auto *pPara = static_cast<CMSG_CTRL_KEY_AGREE_DECRYPT_PARA *>(const_cast<void *>(pvCtrlPara));
    if (!pPara->pKeyAgree) return Fail(E_INVALIDARG);
    if (pPara->dwRecipientIndex >= recipients_.size() ||
        pPara->dwRecipientEncryptedKeyIndex >= pPara->pKeyAgree->cRecipientEncryptedKeys)
        return Fail(CRYPT_E_INVALID_INDEX);
    const BOOL ok = ImportKeyAgree(&contentAlgorithm_, pPara, &hKey);
    return Decrypted(hKey, ok, dwFlags, pPara->hCryptProv);
}

// ------------------------------------------------------------------ parameters

void PutCertId(FlatWriter &writer, const CERT_ID &from, CERT_ID *pTo)
{
    pTo->dwIdChoice = from.dwIdChoice;
    if (from.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
        pTo->IssuerSerialNumber.Issuer = writer.Blob(from.IssuerSerialNumber.Issuer);
        pTo->IssuerSerialNumber.SerialNumber = writer.Blob(from.IssuerSerialNumber.SerialNumber);
    } else {
        pTo->KeyId = writer.Blob(from.KeyId);
    }
}

void PutAlgorithm(FlatWriter &writer, const CRYPT_ALGORITHM_IDENTIFIER &from,
                  CRYPT_ALGORITHM_IDENTIFIER *pTo)
{
    pTo->pszObjId = writer.Text(from.pszObjId);
    pTo->Parameters = writer.Blob(from.Parameters);
}

void PutKeyTrans(FlatWriter &writer, const CMSG_KEY_TRANS_RECIPIENT_INFO &from,
                 CMSG_KEY_TRANS_RECIPIENT_INFO *pTo)
{
    pTo->dwVersion = from.dwVersion;
    PutCertId(writer, from.RecipientId, &pTo->RecipientId);
    PutAlgorithm(writer, from.KeyEncryptionAlgorithm, &pTo->KeyEncryptionAlgorithm);
    pTo->EncryptedKey = writer.Blob(from.EncryptedKey);
}

void PutKeyAgree(FlatWriter &writer, const CMSG_KEY_AGREE_RECIPIENT_INFO &from,
                 CMSG_KEY_AGREE_RECIPIENT_INFO *pTo)
{
    pTo->dwVersion = from.dwVersion;
    pTo->dwOriginatorChoice = from.dwOriginatorChoice;
    const CERT_PUBLIC_KEY_INFO &originator = from.OriginatorPublicKeyInfo;
    PutAlgorithm(writer, originator.Algorithm, &pTo->OriginatorPublicKeyInfo.Algorithm);
    pTo->OriginatorPublicKeyInfo.PublicKey = {
        originator.PublicKey.cbData,
        writer.Copy({originator.PublicKey.pbData, originator.PublicKey.cbData}),
        originator.PublicKey.cUnusedBits};
    pTo->UserKeyingMaterial = writer.Blob(from.UserKeyingMaterial);
    PutAlgorithm(writer, from.KeyEncryptionAlgorithm, &pTo->KeyEncryptionAlgorithm);
    pTo->cRecipientEncryptedKeys = from.cRecipientEncryptedKeys;
    const DWORD cKeys = from.cRecipientEncryptedKeys;
    std::vector<PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO> keys;
    for (DWORD i = 0; i < cKeys; ++i)
        keys.push_back(writer.New<CMSG_RECIPIENT_ENCRYPTED_KEY_INFO>());
    auto **ppKeys = reinterpret_cast<PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO *>(
        writer.Copy({reinterpret_cast<const BYTE *>(keys.data()), cKeys * sizeof keys[0]}));
    pTo->rgpRecipientEncryptedKeys = ppKeys;
    for (DWORD i = 0; i < cKeys; ++i) {
        const CMSG_RECIPIENT_ENCRYPTED_KEY_INFO &key = *from.rgpRecipientEncryptedKeys[i];
        PutCertId(writer, key.RecipientId, &keys[i]->RecipientId);
        keys[i]->EncryptedKey = writer.Blob(key.EncryptedKey);
    }
}

BOOL EnvelopedDecoder::RecipientParam(DWORD dwParamType, DWORD dwIndex, void *pvData,
                                      DWORD *pcbData) const
{
    if (dwParamType == CMSG_CMS_RECIPIENT_COUNT_PARAM) {
        const DWORD count = static_cast<DWORD>(recipients_.size());
        return OutputBytes({reinterpret_cast<const BYTE *>(&count), sizeof count}, pvData, pcbData);
    }
    if (dwIndex >= recipients_.size()) return Fail(CRYPT_E_INVALID_INDEX);
    const DecodedRecipient &recipient = *recipients_[dwIndex];
    return OutputFlat(
        [&](FlatWriter &writer) {
            auto *pInfo = writer.New<CMSG_CMS_RECIPIENT_INFO>();
            pInfo->dwRecipientChoice = recipient.dwRecipientChoice;
            if (recipient.dwRecipientChoice == CMSG_KEY_TRANS_RECIPIENT) {
                pInfo->pKeyTrans = writer.New<CMSG_KEY_TRANS_RECIPIENT_INFO>();
                PutKeyTrans(writer, recipient.keyTrans, pInfo->pKeyTrans);
            } else {
                pInfo->pKeyAgree = writer.New<CMSG_KEY_AGREE_RECIPIENT_INFO>();
                PutKeyAgree(writer, recipient.keyAgree, pInfo->pKeyAgree);
            }
        },
        pvData, pcbData);
}

BOOL EnvelopedDecoder::GetParam(DWORD dwParamType, DWORD dwIndex, void *pvData, DWORD *pcbData)
{
    if (!pcbData) return Fail(E_INVALIDARG);
    if (dwParamType == CMSG_TYPE_PARAM) {
        const DWORD type = CMSG_ENVELOPED;
        return OutputBytes({reinterpret_cast<const BYTE *>(&type), sizeof type}, pvData, pcbData);
    }
    if (stage_ == Stage::Head) return Fail(CRYPT_E_STREAM_MSG_NOT_READY);
    switch (dwParamType) {
    case CMSG_CMS_RECIPIENT_COUNT_PARAM:
    case CMSG_CMS_RECIPIENT_INFO_PARAM:
        return RecipientParam(dwParamType, dwIndex, pvData, pcbData);
    case CMSG_INNER_CONTENT_TYPE_PARAM:
        return OutputFlat([&](FlatWriter &writer) { writer.Text(innerType_); }, pvData, pcbData);
    case CMSG_ENVELOPE_ALGORITHM_PARAM:
        return OutputFlat(
            [&](FlatWriter &writer) {
                PutAlgorithm(writer, contentAlgorithm_, writer.New<CRYPT_ALGORITHM_IDENTIFIER>());
            },
            pvData, pcbData);
    case CMSG_CONTENT_PARAM:
        if (stream_.pfnStreamOutput) return Fail(E_INVALIDARG);
        if (!decrypted_) return Fail(CRYPT_E_NOT_DECRYPTED);
        if (!finalSeen_) return Fail(CRYPT_E_STREAM_MSG_NOT_READY);
        return OutputBytes(content_, pvData, pcbData);
    default:
        return Fail(CRYPT_E_INVALID_MSG_TYPE);
    }
}

} // namespace

std::unique_ptr<Message> OpenEnvelopedToDecode(DWORD dwMsgType, const CMSG_STREAM_INFO *pStreamInfo)
{
    if (dwMsgType != 0 && dwMsgType != CMSG_ENVELOPED) {
        Fail(CRYPT_E_INVALID_MSG_TYPE);
        return nullptr;
    }
    return std::make_unique<EnvelopedDecoder>(pStreamInfo);
}

} // namespace kvmsg
