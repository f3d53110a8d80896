// What the dispatchers of the CryptoAPI stand-in share with the OID-function registry.
#pragma once

#include "wincrypt.h"

#include <memory>
#include <string>

namespace kvcapi {

// The registration file in use: $KV_OIDFUNC_REGISTRY, else the compiled-in default.
std::string RegistrationFilePath();

// The encoding type a registration is kept under: the certificate encoding type when one is
// given, otherwise the message encoding type.
DWORD RegisteredEncodingType(DWORD dwEncodingType);

// An OID text as given, a predefined structure type as "#<number>".
std::string OidKey(LPCSTR pszOID);

struct FreeOidFunctionAddress {
    void operator()(void *hFuncAddr) const { CryptFreeOIDFunctionAddress(hFuncAddr, 0); }
};
using OidFunctionAddress = std::unique_ptr<void, FreeOidFunctionAddress>;

// The function of set `setName` for the encoding type and OID, or null with the last error
// set by CryptGetOIDFunctionAddress. *hold keeps the address until it is released.
void *FindOidFunction(LPCSTR setName, DWORD dwEncodingType, LPCSTR pszOID,
                      OidFunctionAddress *hold);

} // namespace kvcapi
