// OrvaMsgDllImportKeyAgree on what another party sent: the recipient encrypted key, the UKM,
// the key-wrap algorithm and its parameters, the originator's public key and the
// content-encryption parameters, opened with a recipient's container. Input: a selector octet,
// then the fields (FuzzInput.h) in the order read below.
#include "kvext/keys.h"

#include "FuzzInput.h"
#include "RecipientKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    const HCRYPTPROV hProv = kvfuzz::Recipient(data[0]);
    kvfuzz::Fields fields(data + 1, size - 1);
    kvfuzz::Bytes encryptedKey = fields.Next();
    kvfuzz::Bytes ukm = fields.Next();
    std::string keyEncryptionOid = fields.NextText();
    kvfuzz::Bytes keyEncryptionParams = fields.Next();
    std::string originatorOid = fields.NextText();
    kvfuzz::Bytes originatorParams = fields.Next();
    kvfuzz::Bytes originatorKey = fields.Next();
    kvfuzz::Bytes contentParams = fields.Next();

    CMSG_RECIPIENT_ENCRYPTED_KEY_INFO recipientKey{};
    recipientKey.EncryptedKey = kvfuzz::BlobOf(encryptedKey);
    PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO rgpKeys[] = {&recipientKey};
    CMSG_KEY_AGREE_RECIPIENT_INFO keyAgree{};
    keyAgree.dwVersion = 3;
    keyAgree.dwOriginatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    keyAgree.OriginatorPublicKeyInfo.Algorithm = {originatorOid.data(),
                                                  kvfuzz::BlobOf(originatorParams)};
    keyAgree.OriginatorPublicKeyInfo.PublicKey = {static_cast<DWORD>(originatorKey.size()),
                                                  originatorKey.data(), 0};
    keyAgree.UserKeyingMaterial = kvfuzz::BlobOf(ukm);
    keyAgree.KeyEncryptionAlgorithm = {keyEncryptionOid.data(),
                                       kvfuzz::BlobOf(keyEncryptionParams)};
    keyAgree.cRecipientEncryptedKeys = 1;
    keyAgree.rgpRecipientEncryptedKeys = rgpKeys;
    CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyAgree = &keyAgree;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kvfuzz::kGost28147Oid),
                                          kvfuzz::BlobOf(contentParams)};
    HCRYPTKEY hKey = 0;
    if (OrvaMsgDllImportKeyAgree(&content, &para, 0, nullptr, &hKey)) CryptDestroyKey(hKey);
    return 0;
}
