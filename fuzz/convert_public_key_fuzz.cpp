// OrvaConvertPublicKeyInfo on a certificate's public key as another party wrote it: the
// algorithm OID, its parameters and the subject public key. Whatever the fields, the call
// returns TRUE or FALSE and stays inside its buffers; a blob it hands out is as long as it said.
// Input: the fields OID text, parameters and key (FuzzInput.h).
#include "kvext/keys.h"

#include "FuzzInput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096) return 0;
    kvfuzz::Fields fields(data, size);
    std::string oid = fields.NextText();
    kvfuzz::Bytes params = fields.Next();
    kvfuzz::Bytes key = fields.Next();
    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm = {oid.data(), kvfuzz::BlobOf(params)};
    info.PublicKey = {static_cast<DWORD>(key.size()), key.empty() ? nullptr : key.data(), 0};

    DWORD cbQueried = 0;
    const BOOL sized =
        OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, nullptr, &cbQueried);
    BYTE *pbBlob = nullptr;
    DWORD cbBlob = 0;
    if (OrvaConvertPublicKeyInfo(X509_ASN_ENCODING, &info, 0, 0, &pbBlob, &cbBlob)) {
        if (!sized || cbBlob != cbQueried) __builtin_trap();
        volatile BYTE last = pbBlob[cbBlob - 1]; // ASan: the block holds cbBlob octets
        (void)last;
        std::free(pbBlob);
    }
    return 0;
}
