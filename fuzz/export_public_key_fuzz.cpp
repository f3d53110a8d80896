// The decoding side of OrvaDllExportPublicKeyInfoEx: the GOST public-key blob a provider exports
// is taken apart into the DER parameters and key by OrvaEncodePublicKeyAndParameters. Whatever
// the blob, the call returns TRUE or FALSE and stays inside it; what it accepts converts back
// through OrvaConvertPublicKeyInfo to a blob with the same parameters and key.
#include "kvext/keys.h"

#include "FuzzInput.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeader = 16; // BLOBHEADER, magic, bit length

// The certificate OID of the blob's key algorithm, as the export would look it up.
LPCSTR OidOf(const kvfuzz::Bytes &blob)
{
    ALG_ID aiKeyAlg = 0;
    std::memcpy(&aiKeyAlg, blob.data() + 4, sizeof aiKeyAlg);
    PCCRYPT_OID_INFO info =
        CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &aiKeyAlg, CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    return info ? info->pszOID : nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096) return 0;
    kvfuzz::Bytes blob(data, data + size);
    BYTE *pbKey = nullptr, *pbParams = nullptr;
    DWORD cbKey = 0, cbParams = 0;
    const BOOL ok = OrvaEncodePublicKeyAndParameters(X509_ASN_ENCODING, nullptr, blob.data(),
                                                     static_cast<DWORD>(blob.size()), 0, nullptr,
                                                     &pbKey, &cbKey, &pbParams, &cbParams);
    LPCSTR oid = ok && blob.size() > kHeader ? OidOf(blob) : nullptr;
    if (oid) {
        CERT_PUBLIC_KEY_INFO info{};
        info.Algorithm = {const_cast<LPSTR>(oid), {cbParams, pbParams}};
        info.PublicKey = {cbKey, pbKey, 0};
        BYTE *pbBack = nullptr;
        DWORD cbBack = 0;
        if (OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, &pbBack, &cbBack)) {
            // Parameters and key follow the header in both blobs.
            const size_t cbTail = cbBack - kHeader;
            if (cbBack < kHeader || blob.size() < kHeader + cbTail ||
                std::memcmp(pbBack + kHeader, blob.data() + kHeader, cbTail) != 0)
                __builtin_trap();
            std::free(pbBack);
        }
    }
    std::free(pbKey);
    std::free(pbParams);
    return 0;
}
