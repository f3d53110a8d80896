// The private-key usage period codec and its FILETIME <-> GeneralizedTime conversions.
#pragma once

#include "asn1/Asn1Types.h"

#include <wintypes.h>

BOOL PrivateKeyUsagePeriod_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value);
BOOL PrivateKeyUsagePeriod_GetBufferSize(Asn1Context *ctx, void *value, DWORD *pcbStructInfo);
BOOL PrivateKeyUsagePeriod_FillBuffer(Asn1Context *ctx, void *value, void *pvBuffer,
                                      DWORD cbBuffer);

// Makes the text YYYYMMDDHHMMSSZ on the context heap; fractions of a second are dropped.
BOOL FileTimeToAsn1cGeneralizedTime(Asn1Context *ctx, const FILETIME *pFileTime,
                                    const char **ppszTime);
// Reads a GeneralizedTime text as UTC, repairing a day past the end of its month.
BOOL Asn1cGeneralizedTimeToFileTime(Asn1Context *ctx, const char *const *ppszTime,
                                    FILETIME *pFileTime);
// 0 when the repaired text parsed into *pDateTime, -1 when no repair applies, otherwise the
// parser's status on the repaired text.
int TryFixBadDate(Asn1Context *ctx, const char *const *ppszTime, Asn1DateTime *pDateTime);
