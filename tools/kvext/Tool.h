// What the commands share: reading the files a user brings (DER, PEM, base64 or hex),
// writing DER or PEM, printing JSON or a text dump, the CryptoAPI calls, and reporting
// failures as CryptoAPI reports them.
#pragma once

#include "Command.h"
#include "json/Mapping.h"

#include <wincrypt.h>

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kvext::tool {

// Exit statuses: a file or argument the tool cannot use, and a CryptoAPI call that failed.
constexpr int kExitBadInput = 1;
constexpr int kExitCryptoApi = 2;

// The bytes of FILE, or of standard input for "-".
std::vector<BYTE> ReadInput(const std::string &path);
// DER from bytes in one of the forms accepted; `inform` is "der", "pem", "base64", "hex" or
// empty to recognise it: PEM by its armour, then hex, then base64, else DER.
std::vector<BYTE> ToDer(const std::vector<BYTE> &bytes, const std::string &inform);
// The input forms, for the --inform option.
inline const std::vector<std::string> kInputForms = {"der", "pem", "base64", "hex"};

// DER to FILE ("-": standard output), as PEM under `pemLabel` when it is not empty.
void WriteOutput(const std::vector<BYTE> &der, const std::string &path,
                 const std::string &pemLabel);
void PrintJson(const Json &json);
// The same content as an indented "name: value" dump.
void PrintText(const Json &json);

// CryptoAPI's name of an error code ("CRYPT_E_ASN1_ERROR"), or "" when the tool knows none.
std::string ErrorName(DWORD code);
// "0x80093100 (CRYPT_E_ASN1_ERROR)"
std::string ErrorText(DWORD code);
// Reports `what` with the calling thread's last error on stderr and fails the command.
[[noreturn]] void FailCryptoApi(const std::string &what);
// Reports a file or argument the tool cannot use and fails the command.
[[noreturn]] void FailInput(const std::string &message);

// A provider context and a key of the tool's, released when they go out of scope.
struct ScopedProvider {
    HCRYPTPROV hProv = 0;
    ScopedProvider() = default;
    ScopedProvider(const ScopedProvider &) = delete;
    ScopedProvider &operator=(const ScopedProvider &) = delete;
    ~ScopedProvider()
    {
        if (hProv) CryptReleaseContext(hProv, 0);
    }
};
struct ScopedKey {
    HCRYPTKEY hKey = 0;
    ScopedKey() = default;
    ScopedKey(const ScopedKey &) = delete;
    ScopedKey &operator=(const ScopedKey &) = delete;
    ~ScopedKey()
    {
        if (hKey) CryptDestroyKey(hKey);
    }
};

// The structure-type argument CryptoAPI takes: the OID text, or a predefined number.
struct StructType {
    std::string oid;            // dotted OID; empty for a numeric type
    LPCSTR numeric = nullptr;   // predefined structure type
    const Structure *structure; // the tool's mapping; null for an OID it has none for
    LPCSTR Get() const { return numeric ? numeric : oid.c_str(); }
};
// From a --type argument: a structure name, a dotted OID or a predefined number.
StructType ParseStructType(const std::string &type);

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
using Decoded = std::unique_ptr<void, FreeDeleter>;

// CryptDecodeObjectEx into a block of its own; null with the last error set on failure.
Decoded DecodeObject(LPCSTR lpszStructType, std::span<const BYTE> der);
// CryptEncodeObjectEx; false with the last error set on failure.
bool EncodeObject(LPCSTR lpszStructType, const void *pvStructInfo, std::vector<BYTE> *der);

// {"type": name, "oid": OID, "value": the structure as JSON}
Json DecodedJson(const StructType &type, const void *pvStructInfo);

} // namespace kvext::tool

namespace kvext::tool {

// Reports `what` with the calling thread's last error on stderr, for a command that goes on.
void ReportCryptoApi(const std::string &what);
// What OpenSSL parsed, in the tool's JSON forms: a dotted OID, a serial number in hex (most
// significant byte first), a name as {"text", "der"}.
std::string ObjectText(const ASN1_OBJECT *object);
std::string SerialHex(const ASN1_INTEGER *serial);
Json X509NameJson(const X509_NAME *name);
// ISO 8601 UTC text of an ASN.1 time, as TimeJson writes a FILETIME.
Json Asn1TimeJson(const ASN1_TIME *time);
// The structures of the extensions or attributes found in certificates and messages:
// {"oid", "critical"?, "type", "value"} when decoded through CryptoAPI, else the DER in hex.
// A decode failure is reported on stderr and sets *failed.
Json DecodeValue(const std::string &oid, std::span<const BYTE> der, bool *failed);

} // namespace kvext::tool
