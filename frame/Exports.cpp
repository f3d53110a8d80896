// libkvext.so.4 is linked from kvext_core; its version script exports the Orva entry points
// and nothing else. Here each entry point is checked against the CryptoAPI prototype of the
// function set it is installed in, so a wrapper whose signature drifts fails to build.
#include "kvext/kvext.h"

#include <type_traits>

namespace {

using CryptEncodeObjectExFn = BOOL(DWORD, LPCSTR, const void *, DWORD, PCRYPT_ENCODE_PARA, void *,
                                   DWORD *);
using CryptEncodeObjectFn = BOOL(DWORD, LPCSTR, const void *, BYTE *, DWORD *);
using CryptDecodeObjectExFn = BOOL(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                   void *, DWORD *);
using CryptDecodeObjectFn = BOOL(DWORD, LPCSTR, const BYTE *, DWORD, DWORD, void *, DWORD *);

#define KV_CHECK_DECODE(Struct)                                                                    \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##DecodeEx), CryptDecodeObjectExFn>);     \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##Decode), CryptDecodeObjectFn>)
#define KV_CHECK_ALL(Struct)                                                                       \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##EncodeEx), CryptEncodeObjectExFn>);     \
    static_assert(std::is_same_v<decltype(OrvaDll##Struct##Encode), CryptEncodeObjectFn>);         \
    KV_CHECK_DECODE(Struct)

KV_CHECK_ALL(PrivateKeyUsagePeriod);
KV_CHECK_ALL(GostPrivateCertificateStore);
KV_CHECK_DECODE(PrivateKeyDeriveCounter);
KV_CHECK_ALL(SigningCertificate);
KV_CHECK_ALL(SigningCertificateV2);
KV_CHECK_ALL(OtherSigningCertificate);
KV_CHECK_ALL(CrlDistributionPoints);
KV_CHECK_ALL(IssuerSignTool);

static_assert(
    std::is_same_v<decltype(&OrvaMsgDllGenContentEncryptKey), PFN_CMSG_GEN_CONTENT_ENCRYPT_KEY>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllExportKeyTrans), PFN_CMSG_EXPORT_KEY_TRANS>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllImportKeyTrans), PFN_CMSG_IMPORT_KEY_TRANS>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllExportKeyAgree), PFN_CMSG_EXPORT_KEY_AGREE>);
static_assert(std::is_same_v<decltype(&OrvaMsgDllImportKeyAgree), PFN_CMSG_IMPORT_KEY_AGREE>);

} // namespace
