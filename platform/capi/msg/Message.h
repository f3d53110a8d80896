// One object per open message: what it encodes or decodes, and everything it must release
// when it is closed (one close, every path).
#pragma once

#include <wincrypt.h>

#include "Der.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kvmsg {

// A failure with its code: every message function sets the last error and returns FALSE.
inline BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// What the message releases at close: its content key, the providers handed to it and the
// blocks the installed functions allocated for it.
struct Releases {
    HCRYPTKEY hContentKey = 0;
    std::vector<HCRYPTPROV> providers;
    std::vector<void *> blocks;

    Releases() = default;
    Releases(const Releases &) = delete;
    Releases &operator=(const Releases &) = delete;
    ~Releases();
};

// The message layer's allocator for the installed functions (PFN_CMSG_ALLOC, PFN_CMSG_FREE).
void *WINAPI MsgAlloc(size_t cb);
void WINAPI MsgFree(void *pv);

// ------------------------------------------------------------------ recipients, decoded

// A recipient info as CryptMsgGetParam gives it; its blobs point into the decoded header and
// into itself, so it is never moved.
struct DecodedRecipient {
    DWORD dwRecipientChoice = 0; // CMSG_KEY_TRANS_RECIPIENT or CMSG_KEY_AGREE_RECIPIENT
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    CMSG_KEY_AGREE_RECIPIENT_INFO keyAgree{};
    std::vector<CMSG_RECIPIENT_ENCRYPTED_KEY_INFO> encryptedKeys;
    std::vector<PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO> encryptedKeyPointers;
    std::deque<std::string> texts;   // OID texts the infos point at (a deque: they stay put)
    std::deque<Bytes> serialNumbers; // little-endian serial numbers the infos point at
};

// Decodes one RecipientInfo (RFC 5652, 6.2) of the kinds this layer knows; false when it is
// malformed or of another kind.
bool DecodeRecipientInfo(const Element &element, DecodedRecipient *pOut);

// ------------------------------------------------------------------ recipients, encoded

// Exports the content key for recipient dwIndex of the encode info through the installed
// function and appends its RecipientInfo to *pOut; *pVersion becomes 2 when the recipient needs
// EnvelopedData version 2. Blocks the function allocated are released before returning.
BOOL EncodeRecipient(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo, DWORD dwIndex, Bytes *pOut,
                     BYTE *pVersion);

// ------------------------------------------------------------------ the messages

class Message {
  public:
    virtual ~Message() = default;
    virtual BOOL Update(const BYTE *pbData, DWORD cbData, BOOL fFinal) = 0;
    virtual BOOL GetParam(DWORD dwParamType, DWORD dwIndex, void *pvData, DWORD *pcbData) = 0;
    virtual BOOL Control(DWORD dwFlags, DWORD dwCtrlType, const void *pvCtrlPara) = 0;
};

// Null with the last error set when the message cannot be opened.
std::unique_ptr<Message> OpenEnvelopedToEncode(const CMSG_ENVELOPED_ENCODE_INFO &encodeInfo,
                                               LPCSTR pszInnerContentObjID,
                                               const CMSG_STREAM_INFO *pStreamInfo);
std::unique_ptr<Message> OpenEnvelopedToDecode(DWORD dwMsgType,
                                               const CMSG_STREAM_INFO *pStreamInfo);

} // namespace kvmsg
