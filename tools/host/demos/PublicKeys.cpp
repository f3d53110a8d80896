// Demo of the public-key functions: a key container's public key exported as a
// CERT_PUBLIC_KEY_INFO, turned back into the provider's GOST public-key blob and imported.
#include "Host.h"

#include "kvext/kvext.h"

#include <gostcsp.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using ExportFn = decltype(&OrvaDllExportPublicKeyInfoEx);
using ConvertFn = decltype(&OrvaConvertPublicKeyInfo);

// The container's CERT_PUBLIC_KEY_INFO, laid out in one caller buffer (empty on failure).
std::vector<BYTE> ExportPublicKeyInfo(ExportFn exportInfo, HCRYPTPROV hProv)
{
    DWORD cbInfo = 0;
    if (!exportInfo(hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, 0, nullptr, nullptr,
                    &cbInfo))
        return {};
    std::vector<BYTE> info(cbInfo);
    if (!exportInfo(hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, 0, nullptr,
                    reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(info.data()), &cbInfo))
        return {};
    return info;
}

void ShowPublicKeys(const kvhost::Library &lib)
{
    auto exportInfo = reinterpret_cast<ExportFn>(lib.Find("OrvaDllExportPublicKeyInfoEx"));
    auto convert = reinterpret_cast<ConvertFn>(lib.Find("OrvaConvertPublicKeyInfo"));
    if (!exportInfo || !convert) return;

    const std::string container = kvhost::SamplePath("gost2012_256_A.key.pem");
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextA(&hProv, container.c_str(), nullptr, KV_PROV_GOST, 0)) {
        std::printf("  no container %s: 0x%08X\n", container.c_str(),
                    static_cast<unsigned>(GetLastError()));
        return;
    }
    std::vector<BYTE> info = ExportPublicKeyInfo(exportInfo, hProv);
    if (info.empty()) {
        std::printf("  export failed: 0x%08X\n", static_cast<unsigned>(GetLastError()));
        CryptReleaseContext(hProv, 0);
        return;
    }
    auto *pInfo = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(info.data());
    std::printf("  algorithm: %s\n", pInfo->Algorithm.pszObjId);
    kvhost::PrintHex("  parameters", pInfo->Algorithm.Parameters.pbData,
                     pInfo->Algorithm.Parameters.cbData);
    kvhost::PrintHex("  public key", pInfo->PublicKey.pbData, pInfo->PublicKey.cbData);

    BYTE *pbBlob = nullptr;
    DWORD cbBlob = 0;
    HCRYPTKEY hPublic = 0;
    if (convert(X509_ASN_ENCODING, pInfo, 0, 0, &pbBlob, &cbBlob) &&
        CryptImportKey(hProv, pbBlob, cbBlob, 0, 0, &hPublic)) {
        std::printf("  provider blob of %u bytes imported\n", static_cast<unsigned>(cbBlob));
        CryptDestroyKey(hPublic);
    } else {
        std::printf("  conversion or import failed: 0x%08X\n",
                    static_cast<unsigned>(GetLastError()));
    }
    std::free(pbBlob); // the default allocator's block
    CryptReleaseContext(hProv, 0);
}

const bool kRegistered = kvhost::RegisterDemo({"PublicKeys", ShowPublicKeys});

} // namespace
