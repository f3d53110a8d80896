/*
 * CryptoAPI 2.0 low-level messages, the enveloped-data subset (libkvmsg), with Microsoft's
 * published prototypes, constants and structure layouts. wincrypt.h includes it.
 *
 * Encoding: CryptMsgOpenToEncode(CMSG_ENVELOPED) makes the content-encryption key and every
 * recipient's encrypted key at once, through the installed functions of the OID-function sets
 * CMSG_OID_GEN_CONTENT_ENCRYPT_KEY_FUNC (by content-encryption OID),
 * CMSG_OID_EXPORT_KEY_TRANS_FUNC (by the recipient's public-key algorithm OID) and
 * CMSG_OID_EXPORT_KEY_AGREE_FUNC (by the key-encryption OID). CryptMsgUpdate encrypts the
 * content as it comes. With a CMSG_STREAM_INFO the encoding goes out through its callback as
 * it is made (BER with indefinite lengths when cbContent is CMSG_INDEFINITE_LENGTH, DER
 * otherwise); without one, CMSG_CONTENT_PARAM gives the DER once the final update is in.
 *
 * Decoding: CryptMsgOpenToDecode takes the encoding in any number of updates. Recipient infos
 * are there as soon as the part before the encrypted content is in; CryptMsgControl with
 * CMSG_CTRL_KEY_TRANS_DECRYPT or CMSG_CTRL_KEY_AGREE_DECRYPT imports the content key through
 * CMSG_OID_IMPORT_KEY_TRANS_FUNC or CMSG_OID_IMPORT_KEY_AGREE_FUNC (by the recipient info's
 * key-encryption OID). The content is decrypted as it comes once the key is in: to the stream
 * callback, or into CMSG_CONTENT_PARAM.
 *
 * CryptMsgClose releases everything the message holds: its keys, the blocks and providers the
 * installed functions handed over with their flags, and the provider of a control with
 * CMSG_CRYPT_RELEASE_CONTEXT_FLAG.
 */
#ifndef KV_WINCRYPT_MSG_H
#define KV_WINCRYPT_MSG_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void *HCRYPTMSG;

#define CMSG_DATA 1
#define CMSG_SIGNED 2
#define CMSG_ENVELOPED 3

#define CMSG_INDEFINITE_LENGTH 0xFFFFFFFF

#define szOID_RSA_data "1.2.840.113549.1.7.1"
#define szOID_RSA_envelopedData "1.2.840.113549.1.7.3"

typedef struct _CRYPT_ATTRIBUTE {
    LPSTR pszObjId;
    DWORD cValue;
    PCRYPT_ATTR_BLOB rgValue;
} CRYPT_ATTRIBUTE, *PCRYPT_ATTRIBUTE;

typedef struct _CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber; /* little-endian, as CryptoAPI keeps integers */
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef BOOL(WINAPI *PFN_CMSG_STREAM_OUTPUT)(const void *pvArg, BYTE *pbData, DWORD cbData,
                                             BOOL fFinal);

typedef struct _CMSG_STREAM_INFO {
    DWORD cbContent;
    PFN_CMSG_STREAM_OUTPUT pfnStreamOutput;
    void *pvArg;
} CMSG_STREAM_INFO, *PCMSG_STREAM_INFO;

/* rgpRecipients: key-transport recipients by certificate (CERT_INFO); rgCmsRecipients, when
 * set, replaces them and may hold key-agreement recipients too. */
typedef struct _CMSG_ENVELOPED_ENCODE_INFO {
    DWORD cbSize;
    HCRYPTPROV_LEGACY hCryptProv;
    CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
    void *pvEncryptionAuxInfo;
    DWORD cRecipients;
    PCERT_INFO *rgpRecipients;
    PCMSG_RECIPIENT_ENCODE_INFO rgCmsRecipients;
    DWORD cCertEncoded;
    PCERT_BLOB rgCertEncoded;
    DWORD cCrlEncoded;
    PCRL_BLOB rgCrlEncoded;
    DWORD cAttrCertEncoded;
    PCERT_BLOB rgAttrCertEncoded;
    DWORD cUnprotectedAttr;
    PCRYPT_ATTRIBUTE rgUnprotectedAttr;
} CMSG_ENVELOPED_ENCODE_INFO, *PCMSG_ENVELOPED_ENCODE_INFO;

typedef struct _CMSG_CMS_RECIPIENT_INFO {
    DWORD dwRecipientChoice;
    union {
        PCMSG_KEY_TRANS_RECIPIENT_INFO pKeyTrans;
        PCMSG_KEY_AGREE_RECIPIENT_INFO pKeyAgree;
        void *pMailList;
    };
} CMSG_CMS_RECIPIENT_INFO, *PCMSG_CMS_RECIPIENT_INFO;

/* CryptMsgGetParam */
#define CMSG_TYPE_PARAM 1
#define CMSG_CONTENT_PARAM 2
#define CMSG_INNER_CONTENT_TYPE_PARAM 4
#define CMSG_ENVELOPE_ALGORITHM_PARAM 15
#define CMSG_RECIPIENT_COUNT_PARAM 17
#define CMSG_RECIPIENT_INFO_PARAM 19
#define CMSG_CMS_RECIPIENT_COUNT_PARAM 33
#define CMSG_CMS_RECIPIENT_INFO_PARAM 36

/* CryptMsgControl */
#define CMSG_CTRL_KEY_TRANS_DECRYPT 16
#define CMSG_CTRL_KEY_AGREE_DECRYPT 17
#define CMSG_CRYPT_RELEASE_CONTEXT_FLAG 0x00008000

#define CRYPT_E_MSG_ERROR ((DWORD)0x80091001L)
#define CRYPT_E_OID_FORMAT ((DWORD)0x80091003L)
#define CRYPT_E_INVALID_MSG_TYPE ((DWORD)0x80091004L)
#define CRYPT_E_UNEXPECTED_ENCODING ((DWORD)0x80091005L)
#define CRYPT_E_INVALID_INDEX ((DWORD)0x80091008L)
#define CRYPT_E_ALREADY_DECRYPTED ((DWORD)0x80091009L)
#define CRYPT_E_NOT_DECRYPTED ((DWORD)0x8009100AL)
#define CRYPT_E_CONTROL_TYPE ((DWORD)0x8009100CL)
#define CRYPT_E_STREAM_MSG_NOT_READY ((DWORD)0x80091010L)
#define CRYPT_E_STREAM_INSUFFICIENT_DATA ((DWORD)0x80091011L)

HCRYPTMSG WINAPI CryptMsgOpenToEncode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      const void *pvMsgEncodeInfo, LPSTR pszInnerContentObjID,
                                      PCMSG_STREAM_INFO pStreamInfo);
HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                      PCMSG_STREAM_INFO pStreamInfo);
BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE *pbData, DWORD cbData, BOOL fFinal);
BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void *pvData,
                             DWORD *pcbData);
BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD dwFlags, DWORD dwCtrlType,
                            const void *pvCtrlPara);
BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg);

#ifdef __cplusplus
}
#endif

#endif
