// OrvaMsgDllImportKeyTrans on what another party sent: the GostR3410-KeyTransport of the
// recipient info and the content-encryption parameters, opened with a recipient's container.
// Input: a selector octet, then the fields encrypted key and content parameters (FuzzInput.h).
#include "kvext/keys.h"

#include "FuzzInput.h"
#include "RecipientKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    const HCRYPTPROV hProv = kvfuzz::Recipient(data[0]);
    kvfuzz::Fields fields(data + 1, size - 1);
    kvfuzz::Bytes encryptedKey = fields.Next();
    kvfuzz::Bytes contentParams = fields.Next();

    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    keyTrans.EncryptedKey = kvfuzz::BlobOf(encryptedKey);
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyTrans = &keyTrans;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvfuzz::kGost28147Oid),
                                          kvfuzz::BlobOf(contentParams)};
    HCRYPTKEY hKey = 0;
    if (OrvaMsgDllImportKeyTrans(&content, &para, 0, nullptr, &hKey)) CryptDestroyKey(hKey);
    return 0;
}
