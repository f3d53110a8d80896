// CRYPT_BLOB_ARRAY of the private certificate store <-> {"Blobs": [DER in hex, ...]}.
#include "json/Mapping.h"

namespace kvext::tool {

Json GostPrivateCertificateStoreToJson(const void *pvStructInfo)
{
    const auto *store = static_cast<const CRYPT_BLOB_ARRAY *>(pvStructInfo);
    Json blobs = Json::array();
    for (DWORD i = 0; i < store->cBlob; ++i) blobs.push_back(BlobJson(store->rgBlob[i]));
    return Json{{"Blobs", std::move(blobs)}};
}

const void *GostPrivateCertificateStoreFromJson(const Field &value, Arena &arena)
{
    value.ExpectMembers({"Blobs"});
    const std::vector<Field> items = value.At("Blobs").Items();
    auto *store = arena.New<CRYPT_BLOB_ARRAY>();
    auto *blobs = arena.New<CRYPT_DATA_BLOB>(items.size());
    for (size_t i = 0; i < items.size(); ++i) blobs[i] = BlobFrom(items[i], arena);
    store->cBlob = static_cast<DWORD>(items.size());
    store->rgBlob = items.empty() ? nullptr : blobs;
    return store;
}

} // namespace kvext::tool
