/*
 * Calls of the CryptoAPI stand-in (libkvcapi) that the host does not have: tests use them to
 * change the OID information that CryptFindOIDInfo searches. All are thread-safe.
 */
#ifndef KV_KVCAPI_TESTING_H
#define KV_KVCAPI_TESTING_H

#include "wincrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Adds a copy of *pInfo (with the texts and ExtraInfo octets it points to), or replaces the
 * entry with the same pszOID and dwGroupId. cbSize is set to sizeof(CRYPT_OID_INFO).
 * FALSE with ERROR_INVALID_PARAMETER when pInfo or pInfo->pszOID is null. */
BOOL WINAPI KvCapiSetOIDInfo(const CRYPT_OID_INFO *pInfo);

/* Removes the entry with this pszOID and dwGroupId (built-in ones too); FALSE with
 * CRYPT_E_NOT_FOUND when there is none. */
BOOL WINAPI KvCapiRemoveOIDInfo(LPCSTR pszOID, DWORD dwGroupId);

/* Restores the built-in table. Entries returned by CryptFindOIDInfo stay valid until this
 * call; afterwards only built-in entries do. */
void WINAPI KvCapiResetOIDInfo(void);

#ifdef __cplusplus
}
#endif

#endif
