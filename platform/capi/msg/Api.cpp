// The message functions of CryptoAPI 2.0: a message handle is the message object itself, and
// nothing thrown inside leaves through them.
#include "Message.h"

#include <new>

namespace {

template <typename Body> auto Guarded(Body &&body, decltype(body()) onThrow) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        SetLastError(E_OUTOFMEMORY);
    } catch (...) {
        SetLastError(CRYPT_E_MSG_ERROR);
    }
    return onThrow;
}

kvmsg::Message *MessageOf(HCRYPTMSG hCryptMsg)
{
    return static_cast<kvmsg::Message *>(hCryptMsg);
}

bool IsMessageEncoding(DWORD dwMsgEncodingType)
{
    return (dwMsgEncodingType & CMSG_ENCODING_TYPE_MASK) == PKCS_7_ASN_ENCODING;
}

} // namespace

extern "C" HCRYPTMSG WINAPI CryptMsgOpenToEncode(DWORD dwMsgEncodingType, DWORD, DWORD dwMsgType,
                                                 const void *pvMsgEncodeInfo,
                                                 LPSTR pszInnerContentObjID,
                                                 PCMSG_STREAM_INFO pStreamInfo)
{
    return Guarded(
        [&]() -> HCRYPTMSG {
            if (!IsMessageEncoding(dwMsgEncodingType) || !pvMsgEncodeInfo) {
                kvmsg::Fail(E_INVALIDARG);
                return nullptr;
            }
            if (dwMsgType != CMSG_ENVELOPED) {
                kvmsg::Fail(CRYPT_E_INVALID_MSG_TYPE);
                return nullptr;
            }
            return kvmsg::OpenEnvelopedToEncode(
                       *static_cast<const CMSG_ENVELOPED_ENCODE_INFO *>(pvMsgEncodeInfo),
                       pszInnerContentObjID, pStreamInfo)
                .release();
        },
        nullptr);
}

extern "C" HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD, DWORD dwMsgType,
                                                 HCRYPTPROV_LEGACY, PCERT_INFO,
                                                 PCMSG_STREAM_INFO pStreamInfo)
{
    return Guarded(
        [&]() -> HCRYPTMSG {
            if (!IsMessageEncoding(dwMsgEncodingType)) {
                kvmsg::Fail(E_INVALIDARG);
                return nullptr;
            }
            return kvmsg::OpenEnvelopedToDecode(dwMsgType, pStreamInfo).release();
        },
        nullptr);
}

extern "C" BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE *pbData, DWORD cbData,
                                      BOOL fFinal)
{
    if (!hCryptMsg) return kvmsg::Fail(E_INVALIDARG);
    return Guarded([&] { return MessageOf(hCryptMsg)->Update(pbData, cbData, fFinal); }, FALSE);
}

extern "C" BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex,
                                        void *pvData, DWORD *pcbData)
{
    if (!hCryptMsg) return kvmsg::Fail(E_INVALIDARG);
    return Guarded(
        [&] { return MessageOf(hCryptMsg)->GetParam(dwParamType, dwIndex, pvData, pcbData); },
        FALSE);
}

extern "C" BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD dwFlags, DWORD dwCtrlType,
                                       const void *pvCtrlPara)
{
    if (!hCryptMsg) return kvmsg::Fail(E_INVALIDARG);
    return Guarded([&] { return MessageOf(hCryptMsg)->Control(dwFlags, dwCtrlType, pvCtrlPara); },
                   FALSE);
}

extern "C" BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg)
{
    delete MessageOf(hCryptMsg);
    return TRUE;
}
