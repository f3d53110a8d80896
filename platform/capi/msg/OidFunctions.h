// The installed functions of enveloped-data key management, found as CryptoAPI finds them:
// in their OID-function set, by encoding type and OID. Each call holds the function's
// address only while it runs.
#pragma once

#include <wincrypt.h>

namespace kvmsg {

// The encoding type the key-management functions are installed under.
inline constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Each fails with CryptGetOIDFunctionAddress's code when nothing is installed for the OID,
// else returns what the installed function returned.
BOOL GenContentEncryptKey(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo);
BOOL ExportKeyTrans(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                    PCMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO pKeyTransEncodeInfo,
                    PCMSG_KEY_TRANS_ENCRYPT_INFO pKeyTransEncryptInfo);
BOOL ExportKeyAgree(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo,
                    PCMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO pKeyAgreeEncodeInfo,
                    PCMSG_KEY_AGREE_ENCRYPT_INFO pKeyAgreeEncryptInfo);
BOOL ImportKeyTrans(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                    PCMSG_CTRL_KEY_TRANS_DECRYPT_PARA pKeyTransDecryptPara,
                    HCRYPTKEY *phContentEncryptKey);
BOOL ImportKeyAgree(PCRYPT_ALGORITHM_IDENTIFIER pContentEncryptionAlgorithm,
                    PCMSG_CTRL_KEY_AGREE_DECRYPT_PARA pKeyAgreeDecryptPara,
                    HCRYPTKEY *phContentEncryptKey);

} // namespace kvmsg
