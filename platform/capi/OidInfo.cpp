// CryptFindOIDInfo over a built-in table of the algorithms the library meets, and
// CryptRegisterOIDInfo / CryptUnregisterOIDInfo, with which hosts and tests add entries.
//
// Entries handed out stay valid for the life of the process: a hidden or unregistered entry
// is only unlinked from the table, never freed.
#include "gostcsp.h" // the GOST algorithm identifiers of the provider
#include "wincrypt.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr ALG_ID kCalgRsaKeyx = 0xA400;

constexpr CRYPT_OID_INFO Entry(LPCSTR oid, LPCWSTR name, DWORD group, ALG_ID algid)
{
    CRYPT_OID_INFO info{};
    info.cbSize = sizeof(CRYPT_OID_INFO);
    info.pszOID = oid;
    info.pwszName = name;
    info.dwGroupId = group;
    info.Algid = algid;
    return info;
}

constexpr CRYPT_OID_INFO kBuiltIn[] = {
    Entry("1.3.14.3.2.26", L"sha1", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA1),
    Entry("2.16.840.1.101.3.4.2.1", L"sha256", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_256),
    Entry("2.16.840.1.101.3.4.2.2", L"sha384", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_384),
    Entry("2.16.840.1.101.3.4.2.3", L"sha512", CRYPT_HASH_ALG_OID_GROUP_ID, CALG_SHA_512),
    Entry("1.2.643.2.2.21", L"GOST 28147-89", CRYPT_ENCRYPT_ALG_OID_GROUP_ID, ALG_GOST_28147),
    Entry("1.2.643.2.2.19", L"GOST R 34.10-2001", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_SIGN_2001),
    Entry("1.2.643.7.1.1.1.1", L"GOST R 34.10-2012 256", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_SIGN_2012_256),
    Entry("1.2.643.7.1.1.1.2", L"GOST R 34.10-2012 512", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_SIGN_2012_512),
    Entry("1.2.643.2.2.98", L"GOST R 34.10-2001 DH", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_DH_2001),
    Entry("1.2.643.7.1.1.6.1", L"GOST R 34.10-2012 256 DH", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_DH_2012_256),
    Entry("1.2.643.7.1.1.6.2", L"GOST R 34.10-2012 512 DH", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_DH_2012_512),
    Entry("1.2.643.2.2.96", L"GOST R 34.10-2001 ESDH", CRYPT_PUBKEY_ALG_OID_GROUP_ID,
          ALG_GOST_AGREE_2001),
    Entry("1.2.840.113549.1.1.1", L"RSA", CRYPT_PUBKEY_ALG_OID_GROUP_ID, kCalgRsaKeyx),
    // Elliptic-curve keys are known only with their parameters, as on the host.
    Entry("1.2.840.10045.2.1", L"ECC", CRYPT_PUBKEY_ALG_OID_GROUP_ID, CALG_OID_INFO_PARAMETERS),
};

// A registered entry, owning the texts and octets it points to.
struct OwnedEntry {
    std::string oid;
    std::wstring name;
    bool hasName = false;
    std::vector<BYTE> extraInfo;
    CRYPT_OID_INFO info{};
};

class OidTable {
  public:
    OidTable()
    {
        for (const CRYPT_OID_INFO &entry : kBuiltIn)
            entries_.push_back(&entry);
    }

    PCCRYPT_OID_INFO Find(auto &&matches)
    {
        std::lock_guard hold(lock_);
        const auto found = std::find_if(entries_.begin(), entries_.end(),
                                        [&](PCCRYPT_OID_INFO entry) { return matches(*entry); });
        return found == entries_.end() ? nullptr : *found;
    }

    void Register(const CRYPT_OID_INFO &info, bool before)
    {
        OwnedEntry copy = Copy(info);
        std::lock_guard hold(lock_);
        OwnedEntry &kept = owned_.emplace_back(std::move(copy));
        Link(kept); // the texts moved with the entry; point at their new home
        PCCRYPT_OID_INFO added = &kept.info;
        const auto same = FindSameKey(info.pszOID, info.dwGroupId);
        if (same != entries_.end()) {
            *same = added;
            return;
        }
        entries_.push_back(added);
        if (before) std::rotate(entries_.begin(), entries_.end() - 1, entries_.end());
    }

    bool Unregister(LPCSTR oid, DWORD group)
    {
        std::lock_guard hold(lock_);
        const auto same = FindSameKey(oid, group);
        if (same == entries_.end() || IsBuiltIn(*same)) return false;
        const auto builtIn =
            std::find_if(std::begin(kBuiltIn), std::end(kBuiltIn),
                         [&](const CRYPT_OID_INFO &entry) { return SameKey(entry, oid, group); });
        if (builtIn != std::end(kBuiltIn))
            *same = builtIn;
        else
            entries_.erase(same);
        return true;
    }

  private:
    static bool SameKey(const CRYPT_OID_INFO &entry, LPCSTR oid, DWORD group)
    {
        return entry.dwGroupId == group && std::strcmp(entry.pszOID, oid) == 0;
    }
    static bool IsBuiltIn(PCCRYPT_OID_INFO entry)
    {
        return entry >= std::begin(kBuiltIn) && entry < std::end(kBuiltIn);
    }
    std::vector<PCCRYPT_OID_INFO>::iterator FindSameKey(LPCSTR oid, DWORD group)
    {
        return std::find_if(entries_.begin(), entries_.end(),
                            [&](PCCRYPT_OID_INFO entry) { return SameKey(*entry, oid, group); });
    }

    static OwnedEntry Copy(const CRYPT_OID_INFO &info)
    {
        OwnedEntry copy;
        copy.oid = info.pszOID;
        copy.hasName = info.pwszName != nullptr;
        if (copy.hasName) copy.name = info.pwszName;
        if (info.ExtraInfo.cbData && info.ExtraInfo.pbData)
            copy.extraInfo.assign(info.ExtraInfo.pbData,
                                  info.ExtraInfo.pbData + info.ExtraInfo.cbData);
        copy.info = info;
        copy.info.cbSize = sizeof(CRYPT_OID_INFO);
        return copy;
    }

    static void Link(OwnedEntry &entry)
    {
        entry.info.pszOID = entry.oid.c_str();
        entry.info.pwszName = entry.hasName ? entry.name.c_str() : nullptr;
        entry.info.ExtraInfo.cbData = static_cast<DWORD>(entry.extraInfo.size());
        entry.info.ExtraInfo.pbData = entry.extraInfo.empty() ? nullptr : entry.extraInfo.data();
    }

    std::mutex lock_;
    std::vector<PCCRYPT_OID_INFO> entries_; // searched in order
    std::list<OwnedEntry> owned_;           // stable addresses for the life of the process
};

OidTable &Table()
{
    static OidTable table;
    return table;
}

bool InGroup(const CRYPT_OID_INFO &entry, DWORD dwGroupId)
{
    return dwGroupId == 0 || entry.dwGroupId == dwGroupId;
}

} // namespace

extern "C" {

// Keys handled: CRYPT_OID_INFO_OID_KEY (dotted text, exact match), CRYPT_OID_INFO_NAME_KEY
// (wide name, case-insensitive) and CRYPT_OID_INFO_ALGID_KEY (pointer to an ALG_ID). Other
// keys find nothing. The last error is not touched.
PCCRYPT_OID_INFO WINAPI CryptFindOIDInfo(DWORD dwKeyType, void *pvKey, DWORD dwGroupId)
{
    if (!pvKey) return nullptr;
    switch (dwKeyType) {
    case CRYPT_OID_INFO_OID_KEY: {
        const auto *oid = static_cast<const char *>(pvKey);
        return Table().Find([&](const CRYPT_OID_INFO &entry) {
            return InGroup(entry, dwGroupId) && std::strcmp(entry.pszOID, oid) == 0;
        });
    }
    case CRYPT_OID_INFO_NAME_KEY: {
        const auto *name = static_cast<const wchar_t *>(pvKey);
        return Table().Find([&](const CRYPT_OID_INFO &entry) {
            return InGroup(entry, dwGroupId) && entry.pwszName &&
                   wcscasecmp(entry.pwszName, name) == 0;
        });
    }
    case CRYPT_OID_INFO_ALGID_KEY: {
        ALG_ID algid;
        std::memcpy(&algid, pvKey, sizeof algid);
        return Table().Find([&](const CRYPT_OID_INFO &entry) {
            return InGroup(entry, dwGroupId) && entry.Algid == algid;
        });
    }
    default:
        return nullptr;
    }
}

BOOL WINAPI CryptRegisterOIDInfo(PCCRYPT_OID_INFO pInfo, DWORD dwFlags)
{
    if (!pInfo || !pInfo->pszOID) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        Table().Register(*pInfo, dwFlags & CRYPT_INSTALL_OID_INFO_BEFORE_FLAG);
    } catch (...) { // only allocation can fail; nothing is thrown across the C ABI
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CryptUnregisterOIDInfo(PCCRYPT_OID_INFO pInfo)
{
    if (pInfo && pInfo->pszOID && Table().Unregister(pInfo->pszOID, pInfo->dwGroupId)) return TRUE;
    SetLastError(CRYPT_E_NOT_FOUND);
    return FALSE;
}

} // extern "C"
