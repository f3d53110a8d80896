// The enveloped-data decoder on any input, whole and split in two updates at a point the
// input's first octet chooses: every parameter it offers is asked for, and the message closed.
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

BOOL WINAPI Discard(const void *, BYTE *, DWORD, BOOL)
{
    return TRUE;
}

void AskEverything(HCRYPTMSG hMsg)
{
    for (DWORD param :
         {CMSG_TYPE_PARAM, CMSG_INNER_CONTENT_TYPE_PARAM, CMSG_ENVELOPE_ALGORITHM_PARAM,
          CMSG_CMS_RECIPIENT_COUNT_PARAM, CMSG_CMS_RECIPIENT_INFO_PARAM, CMSG_CONTENT_PARAM}) {
        for (DWORD index : {0u, 1u}) {
            DWORD cb = 0;
            if (!CryptMsgGetParam(hMsg, param, index, nullptr, &cb)) continue;
            std::vector<BYTE> block(cb);
            CryptMsgGetParam(hMsg, param, index, block.data(), &cb);
        }
    }
}

void Decode(const uint8_t *data, size_t size, size_t split, bool stream)
{
    CMSG_STREAM_INFO streamInfo = {CMSG_INDEFINITE_LENGTH, Discard, nullptr};
    HCRYPTMSG hMsg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr,
                                          stream ? &streamInfo : nullptr);
    if (CryptMsgUpdate(hMsg, data, static_cast<DWORD>(split), FALSE))
        CryptMsgUpdate(hMsg, data + split, static_cast<DWORD>(size - split), TRUE);
    AskEverything(hMsg);
    CryptMsgClose(hMsg);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const size_t split = data[0] % size;
    Decode(data, size, 0, false);
    Decode(data, size, split, true);
    return 0;
}
