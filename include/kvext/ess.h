/*
 * Caller structures of the ESS signing-certificate codecs: SigningCertificate (RFC 2634),
 * SigningCertificateV2 (RFC 5035) and OtherSigningCertificate.
 *
 * A decoded structure is flat: the structure, its arrays and every byte they point to lie
 * in the one block the decode call returned.
 */
#ifndef KVEXT_ESS_H
#define KVEXT_ESS_H

#include <wincrypt.h>

#ifdef __cplusplus
extern "C" {
#endif

/* IssuerSerial ::= SEQUENCE { issuer GeneralNames, serialNumber CertificateSerialNumber,
 *                             issuerUID UniqueIdentifier OPTIONAL }   -- RFC 2634, 5.4.1
 * The issuer travels as one directoryName. */
typedef struct _KVCMSG_ISSUER_SERIAL {
    CERT_NAME_BLOB Issuer;           /* DER of the issuer's X.501 Name */
    CRYPT_INTEGER_BLOB SerialNumber; /* as X509_MULTI_BYTE_INTEGER holds it: little-endian */
} KVCMSG_ISSUER_SERIAL, *PKVCMSG_ISSUER_SERIAL;

/* ESSCertID ::= SEQUENCE { certHash Hash, issuerSerial IssuerSerial OPTIONAL }
 * IssuerSerial is present exactly when IssuerSerial.Issuer.cbData is non-zero. */
typedef struct _KVCMSG_ESS_CERT_ID {
    CRYPT_HASH_BLOB CertHash; /* SHA-1 of the certificate, written as given */
    KVCMSG_ISSUER_SERIAL IssuerSerial;
} KVCMSG_ESS_CERT_ID, *PKVCMSG_ESS_CERT_ID;

/* SigningCertificate ::= SEQUENCE { certs SEQUENCE OF ESSCertID,
 *                                   policies SEQUENCE OF PolicyInformation OPTIONAL } */
typedef struct _KVCMSG_SIGNING_CERTIFICATE {
    DWORD cCerts;
    PKVCMSG_ESS_CERT_ID rgCerts;
    DWORD cPolicies;
    PCERT_POLICY_INFO rgPolicies; /* none: no policies component */
} KVCMSG_SIGNING_CERTIFICATE, *PKVCMSG_SIGNING_CERTIFICATE;

/* ESSCertIDv2 ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier DEFAULT {id-sha256},
 *                            certHash Hash, issuerSerial IssuerSerial OPTIONAL }
 *                                                                    -- RFC 5035, 4
 * HashAlgorithm.pszObjId must be set; "2.16.840.1.101.3.4.2.1" (SHA-256) is left out of the
 * encoding as the default, together with any parameters. */
typedef struct _KVCMSG_ESS_CERT_ID_V2 {
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_HASH_BLOB CertHash;
    KVCMSG_ISSUER_SERIAL IssuerSerial;
} KVCMSG_ESS_CERT_ID_V2, *PKVCMSG_ESS_CERT_ID_V2;

typedef struct _KVCMSG_SIGNING_CERTIFICATEV2 {
    DWORD cCerts;
    PKVCMSG_ESS_CERT_ID_V2 rgCerts;
    DWORD cPolicies;
    PCERT_POLICY_INFO rgPolicies;
} KVCMSG_SIGNING_CERTIFICATEV2, *PKVCMSG_SIGNING_CERTIFICATEV2;

/* OtherCertID ::= SEQUENCE { otherCertHash OtherHash, issuerSerial IssuerSerial OPTIONAL }
 * OtherHash ::= CHOICE { sha1Hash OtherHashValue, otherHash OtherHashAlgAndValue }
 * "1.3.14.3.2.26" (SHA-1) and "1.2.840.10045.4.1" select the bare sha1Hash form, which
 * decodes as "1.3.14.3.2.26" without parameters. */
typedef struct _KVCMSG_OTHER_CERT_ID {
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_HASH_BLOB CertHash;
    KVCMSG_ISSUER_SERIAL IssuerSerial;
} KVCMSG_OTHER_CERT_ID, *PKVCMSG_OTHER_CERT_ID;

typedef struct _KVCMSG_OTHER_SIGNING_CERTIFICATE {
    DWORD cCerts;
    PKVCMSG_OTHER_CERT_ID rgCerts;
    DWORD cPolicies;
    PCERT_POLICY_INFO rgPolicies;
} KVCMSG_OTHER_SIGNING_CERTIFICATE, *PKVCMSG_OTHER_SIGNING_CERTIFICATE;

#ifdef __cplusplus
}
#endif

#endif
