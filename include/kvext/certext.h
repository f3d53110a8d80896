/* Caller structures of the certificate-extension codecs. */
#ifndef KVEXT_CERTEXT_H
#define KVEXT_CERTEXT_H

#include <wincrypt.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Private-key usage period (2.5.29.16): each bound optional, null when absent. */
typedef struct _KVCERT_PRIVATE_KEY_USAGE_PERIOD {
    FILETIME *pNotBefore;
    FILETIME *pNotAfter;
} KVCERT_PRIVATE_KEY_USAGE_PERIOD, *PKVCERT_PRIVATE_KEY_USAGE_PERIOD;

/* The issuer's signature and certification-authority tools (1.2.643.100.112): four required
 * zero-terminated wide strings, carried as UTF8String. */
typedef struct _KVCERT_ISSUER_SIGN_TOOL {
    LPWSTR pwszSignTool;
    LPWSTR pwszCATool;
    LPWSTR pwszSignToolCert;
    LPWSTR pwszCAToolCert;
} KVCERT_ISSUER_SIGN_TOOL, *PKVCERT_ISSUER_SIGN_TOOL;

/* The private certificate store travels as a CRYPT_BLOB_ARRAY, one complete DER value per
 * blob; the key-derivation counter decodes into a single DWORD. */

#ifdef __cplusplus
}
#endif

#endif
