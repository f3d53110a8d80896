/*
 * A call of the provider stand-in (libkvcsp) that a real provider does not have: tests count
 * the providers and keys alive to prove that a caller destroyed every one it made.
 */
#ifndef KV_KVCSP_TESTING_H
#define KV_KVCSP_TESTING_H

#include "wincrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Provider handles not released plus key handles not destroyed, in this process. */
DWORD WINAPI KvCspLiveObjectCount(void);

#ifdef __cplusplus
}
#endif

#endif
