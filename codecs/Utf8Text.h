// Conversions between the caller's wide strings and the UTF-8 texts of ASN.1 values.
#pragma once

#include <asn1rt.h>
#include <wintypes.h>

// Converts a zero-terminated wide string into UTF-8 on the context heap.
BOOL WideCharToUtf8String(Asn1Context *ctx, LPCWSTR pwszText, const char **ppszUtf8);
// Converts zero-terminated UTF-8 into `pwszText`, which holds `cchCapacity` wide characters
// including the terminator.
BOOL FmtUtf8Text(const char *pszUtf8, LPWSTR pwszText, int cchCapacity);
