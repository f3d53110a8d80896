// What the CMS key-management tests share: the OpenSSL-made envelopes of tests/data/cms, a
// caller allocator that keeps count of its blocks, a DER builder, a check that a call left no
// key of its own alive, and openssl run as a peer.
#pragma once

#include <wincrypt.h>

#include "keys/GostVocabulary.h"
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "ProviderHandles.h"
#include "common/Der.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

// GOST 28147-89 as CryptoAPI lists it in the encryption-algorithm group (RFC 4357, 10.1).
inline constexpr char kGost28147Oid[] = "1.2.643.2.2.21";

inline Bytes BytesOf(const CRYPT_DATA_BLOB &blob)
{
    return blob.pbData ? Bytes(blob.pbData, blob.pbData + blob.cbData) : Bytes();
}

inline CRYPT_DATA_BLOB BlobOf(const Bytes &bytes)
{
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE *>(bytes.data())};
}

// ------------------------------------------------------------------ vectors

// A recipient of tests/data/cms/make.sh and openssl's envelope for it.
struct CmsVector {
    std::string name;
    std::string algorithmOid;
    Bytes params;        // the certificate's public-key parameters
    Bytes publicKey;     // the certificate's GostR3410-PublicKey
    Bytes rid;           // IssuerAndSerialNumber of the certificate
    Bytes encryptedKey;  // the envelope's GostR3410-KeyTransport
    Bytes contentParams; // the envelope's Gost28147-89-Parameters
    Bytes ciphertext;    // the envelope's encrypted content
    std::string keyPemPath;
    std::string certPemPath;
};

inline Bytes PlainText()
{
    return ReadDataFile("cms/plain.bin");
}

inline std::vector<CmsVector> LoadCmsVectors()
{
    std::vector<CmsVector> vectors;
    std::ifstream list(DataPath("cms/vectors.txt"));
    for (std::string line; std::getline(list, line);) {
        CmsVector v;
        std::istringstream(line) >> v.name >> v.algorithmOid;
        const std::string base = "cms/" + v.name;
        v.params = ReadDataFile(base + ".params.der");
        v.publicKey = ReadDataFile(base + ".pubkey.der");
        v.rid = ReadDataFile(base + ".rid.der");
        v.encryptedKey = ReadDataFile(base + ".encryptedkey.der");
        v.contentParams = ReadDataFile(base + ".content-params.der");
        v.ciphertext = ReadDataFile(base + ".ciphertext.bin");
        v.keyPemPath = DataPath(base + ".key.pem");
        v.certPemPath = DataPath(base + ".cert.pem");
        vectors.push_back(v);
    }
    return vectors;
}

// ------------------------------------------------------------------ the caller's allocator

// PFN_CMSG_ALLOC / PFN_CMSG_FREE over malloc that remember the live blocks; allocation number
// failAt (counted from 1 since Reset) fails with kAllocError.
struct CallerMemory {
    static constexpr DWORD kAllocError = 0xA110CA7E;
    static inline std::set<void *> live;
    static inline int count = 0;
    static inline int failAt = 0;

    static void *WINAPI Alloc(size_t cb)
    {
        if (++count == failAt) {
            SetLastError(kAllocError);
            return nullptr;
        }
        void *pv = std::malloc(cb ? cb : 1);
        live.insert(pv);
        return pv;
    }
    static void WINAPI Free(void *pv)
    {
        if (!pv) return;
        EXPECT_EQ(1u, live.erase(pv)) << "a block the allocator never gave";
        std::free(pv);
    }
    static void Reset(int failAtCall = 0)
    {
        for (void *pv : live)
            std::free(pv);
        live.clear();
        count = 0;
        failAt = failAtCall;
    }
};

// ------------------------------------------------------------------ keys left alive

// The platform provider numbers its provider and key handles consecutively, so the handles a
// call made lie between a key made before it and one made after it. Every one of them must be
// gone (the provider answers NTE_BAD_KEY) except the keys the call hands out.
class KeyWatch {
  public:
    explicit KeyWatch(HCRYPTPROV hProv) : hProv_(hProv) { first_ = Marker(); }
    void ExpectOnlyAlive(std::initializer_list<HCRYPTKEY> handedOut) const
    {
        const HCRYPTKEY last = Marker();
        for (HCRYPTKEY h = first_ + 1; h < last; ++h) {
            if (std::find(handedOut.begin(), handedOut.end(), h) != handedOut.end()) continue;
            ALG_ID algId = 0;
            DWORD cb = sizeof algId;
            SetLastError(0);
            EXPECT_FALSE(CryptGetKeyParam(h, KP_ALGID, reinterpret_cast<BYTE *>(&algId), &cb, 0))
                << "key " << h << " outlived the call";
        }
    }

  private:
    HCRYPTKEY Marker() const
    {
        HCRYPTKEY hKey = 0;
        EXPECT_TRUE(CryptGenKey(hProv_, ALG_GOST_28147, 0, &hKey));
        CryptDestroyKey(hKey);
        return hKey;
    }
    HCRYPTPROV hProv_;
    HCRYPTKEY first_ = 0;
};

// ------------------------------------------------------------------ content keys

// A content-encryption key made by the library in hProv, with its parameters block.
struct ContentKey {
    CMSG_CONTENT_ENCRYPT_INFO info{};
    ScopedKey hKey = NewScopedKey();
    Bytes parameters;
};

inline void MakeContentKey(HCRYPTPROV hProv, ContentKey *key)
{
    key->info.cbSize = sizeof key->info;
    key->info.hCryptProv = hProv;
    key->info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(kGost28147Oid);
    key->info.pfnAlloc = CallerMemory::Alloc;
    key->info.pfnFree = CallerMemory::Free;
    ASSERT_TRUE(OrvaMsgDllGenContentEncryptKey(&key->info, 0, nullptr));
    *key->hKey = key->info.hContentEncryptKey;
    key->parameters = BytesOf(key->info.ContentEncryptionAlgorithm.Parameters);
}

inline Bytes Encrypt(HCRYPTKEY hKey, Bytes data)
{
    DWORD cb = static_cast<DWORD>(data.size());
    EXPECT_TRUE(CryptEncrypt(hKey, 0, TRUE, 0, data.data(), &cb, cb));
    return data;
}

inline Bytes Decrypt(HCRYPTKEY hKey, Bytes data)
{
    DWORD cb = static_cast<DWORD>(data.size());
    EXPECT_TRUE(CryptDecrypt(hKey, 0, TRUE, 0, data.data(), &cb));
    return data;
}

// ------------------------------------------------------------------ openssl as the peer

inline bool OpenSslWithGostEngine()
{
    return std::system("openssl engine gost -t >/dev/null 2>&1") == 0;
}

inline std::string TempPath(const std::string &name)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/kvext-cms-" + std::to_string(getpid()) + "-" + name;
}

inline void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace kvtest
