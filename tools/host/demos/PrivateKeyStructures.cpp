// Demos of the private-key usage period, the issuer sign tool, the private certificate
// store and the key-derivation counter.
#include "Host.h"

#include "kvext/kvext.h"

#include <cstdlib>
#include <cwchar>

namespace {

using kvhost::Library;

void ShowUsagePeriod(const Library &lib)
{
    FILETIME notBefore, notAfter;
    SYSTEMTIME start = {2024, 1, 0, 15, 9, 30, 0, 0}, end = {2027, 1, 0, 14, 23, 59, 59, 0};
    SystemTimeToFileTime(&start, &notBefore);
    SystemTimeToFileTime(&end, &notAfter);
    const KVCERT_PRIVATE_KEY_USAGE_PERIOD period = {&notBefore, &notAfter};
    kvhost::EncodeAndShow(lib, "OrvaDllPrivateKeyUsagePeriodEncodeEx",
                          szOID_PRIVATEKEY_USAGE_PERIOD, &period);

    auto *decoded = static_cast<KVCERT_PRIVATE_KEY_USAGE_PERIOD *>(
        kvhost::Decode(lib, "OrvaDllPrivateKeyUsagePeriodDecodeEx", szOID_PRIVATEKEY_USAGE_PERIOD,
                       kvhost::ReadSample("private_key_usage_period.der")));
    if (!decoded) return;
    std::printf("  notBefore: %s\n", decoded->pNotBefore
                                         ? kvhost::FileTimeText(*decoded->pNotBefore).c_str()
                                         : "(absent)");
    std::printf("  notAfter:  %s\n", decoded->pNotAfter
                                         ? kvhost::FileTimeText(*decoded->pNotAfter).c_str()
                                         : "(absent)");
    std::free(decoded);
}

void ShowIssuerSignTool(const Library &lib)
{
    wchar_t signTool[] = L"СКЗИ «Пример»", caTool[] = L"УЦ «Пример»";
    wchar_t signToolCert[] = L"СФ/124-0000", caToolCert[] = L"СФ/128-0000";
    const KVCERT_ISSUER_SIGN_TOOL tool = {signTool, caTool, signToolCert, caToolCert};
    kvhost::EncodeAndShow(lib, "OrvaDllIssuerSignToolEncodeEx", "1.2.643.100.112", &tool);

    auto *decoded = static_cast<KVCERT_ISSUER_SIGN_TOOL *>(
        kvhost::Decode(lib, "OrvaDllIssuerSignToolDecodeEx", "1.2.643.100.112",
                       kvhost::ReadSample("issuer_sign_tool.der")));
    if (!decoded) return;
    std::printf("  signTool:     %ls\n  cATool:       %ls\n  signToolCert: %ls\n"
                "  cAToolCert:   %ls\n",
                decoded->pwszSignTool, decoded->pwszCATool, decoded->pwszSignToolCert,
                decoded->pwszCAToolCert);
    std::free(decoded);
}

void ShowPrivateStore(const Library &lib)
{
    BYTE second[] = {0x31, 0x03, 0x02, 0x01, 0x05}, first[] = {0x30, 0x03, 0x02, 0x01, 0x07};
    CRYPT_DER_BLOB blobs[] = {{sizeof second, second}, {sizeof first, first}};
    const CRYPT_BLOB_ARRAY store = {2, blobs};
    const auto der = kvhost::EncodeAndShow(lib, "OrvaDllGostPrivateCertificateStoreEncodeEx",
                                           "1.2.643.2.2.37.3.1", &store);
    auto *decoded = static_cast<CRYPT_BLOB_ARRAY *>(kvhost::Decode(
        lib, "OrvaDllGostPrivateCertificateStoreDecodeEx", "1.2.643.2.2.37.3.1", der));
    if (!decoded) return;
    for (DWORD i = 0; i < decoded->cBlob; ++i)
        kvhost::PrintHex("  element", decoded->rgBlob[i].pbData, decoded->rgBlob[i].cbData);
    std::free(decoded);

    auto *counter = static_cast<DWORD *>(
        kvhost::Decode(lib, "OrvaDllPrivateKeyDeriveCounterDecodeEx", "1.2.643.2.2.37.3.6",
                       kvhost::ReadSample("derive_counter.der")));
    if (counter) std::printf("  derive counter: %u\n", static_cast<unsigned>(*counter));
    std::free(counter);
}

const bool kRegistered = kvhost::RegisterDemo({"PrivateKeyUsagePeriod", ShowUsagePeriod}) &&
                         kvhost::RegisterDemo({"IssuerSignTool", ShowIssuerSignTool}) &&
                         kvhost::RegisterDemo({"GostPrivateCertificateStore", ShowPrivateStore});

} // namespace
