// What the CMS key-management tests share: the OpenSSL-made envelopes of tests/data/cms, a
// caller allocator that keeps count of its blocks, a DER builder, a check that a call left no
// key of its own alive, and the structures CryptoAPI hands the key-transport and key-agreement
// functions.
#pragma once

#include <wincrypt.h>

#include "keys/GostVocabulary.h"
#include "kvext/keys.h"

#include "GostKeyVectors.h"
#include "ProviderHandles.h"
#include "common/Der.h"
#include "common/FileTest.h"
#include "common/TraceFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

// GOST 28147-89 as CryptoAPI lists it in the encryption-algorithm group (RFC 4357, 10.1).
inline constexpr char kGost28147Oid[] = "1.2.643.2.2.21";
// The last error a call set before it is made: a call that leaves it gave no code of its own.
inline constexpr DWORD kUntouched = 0x5EED;

// A call's result and the last error it left.
struct Outcome {
    BOOL ok;
    DWORD error;
};

// ------------------------------------------------------------------ vectors

// A data-file case's value as hex, or after file: the contents of a file under tests/data.
inline Bytes HexOrFile(const FileCase &c, const std::string &key)
{
    const std::string &value = c.Get(key);
    return value.starts_with("file:") ? ReadDataFile(value.substr(5)) : c.Hex(key);
}

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
// failAt (counted from 1 since Reset) fails with kAllocError. Threads may share it.
struct CallerMemory {
    static constexpr DWORD kAllocError = 0xA110CA7E;
    static inline std::mutex mutex;
    static inline std::set<void *> live;
    static inline int count = 0;
    static inline int failAt = 0;

    static void *WINAPI Alloc(size_t cb)
    {
        const std::lock_guard lock(mutex);
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
        const std::lock_guard lock(mutex);
        EXPECT_EQ(1u, live.erase(pv)) << "a block the allocator never gave";
        std::free(pv);
    }
    static void Reset(int failAtCall = 0)
    {
        const std::lock_guard lock(mutex);
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

// A content-encryption key made by the library in hProv (0: one the library acquires), with its
// parameters block.
struct ContentKey {
    CMSG_CONTENT_ENCRYPT_INFO info{};
    ScopedKey hKey = NewScopedKey();
    Bytes parameters;
};

inline Outcome MakeContentKey(HCRYPTPROV hProv, ContentKey *key, LPCSTR pszObjId = kGost28147Oid)
{
    key->info.cbSize = sizeof key->info;
    key->info.hCryptProv = hProv;
    key->info.ContentEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(pszObjId);
    key->info.pfnAlloc = CallerMemory::Alloc;
    key->info.pfnFree = CallerMemory::Free;
    key->info.hContentEncryptKey = 0xBAD;
    SetLastError(kUntouched);
    const Outcome made = {OrvaMsgDllGenContentEncryptKey(&key->info, 0, nullptr), GetLastError()};
    *key->hKey = key->info.hContentEncryptKey;
    key->parameters = BytesOf(key->info.ContentEncryptionAlgorithm.Parameters);
    return made;
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

// ------------------------------------------------------------------ key transport

// The import of a key transport in hProv's key pair, for content under contentParams.
inline Outcome ImportKeyTrans(HCRYPTPROV hProv, const Bytes &encryptedKey,
                              const Bytes &contentParams, HCRYPTKEY *phKey)
{
    CMSG_KEY_TRANS_RECIPIENT_INFO keyTrans{};
    keyTrans.EncryptedKey = BlobOf(encryptedKey);
    CMSG_CTRL_KEY_TRANS_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = AT_KEYEXCHANGE;
    para.pKeyTrans = &keyTrans;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kGost28147Oid), BlobOf(contentParams)};
    *phKey = 0xBAD;
    SetLastError(kUntouched);
    const BOOL ok = OrvaMsgDllImportKeyTrans(&content, &para, 0, nullptr, phKey);
    return {ok, GetLastError()};
}

// What the sender's CryptoAPI passes for a key-transport recipient, and what it gets back.
struct KeyTransSender {
    std::string oid;
    Bytes params, publicKey;
    CMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO encodeInfo{};
    CMSG_KEY_TRANS_ENCRYPT_INFO encryptInfo{};

    KeyTransSender(const std::string &algorithmOid, const Bytes &recipientParams,
                   const Bytes &recipientKey)
        : oid(algorithmOid), params(recipientParams), publicKey(recipientKey)
    {
        encodeInfo.cbSize = sizeof encodeInfo;
        encodeInfo.KeyEncryptionAlgorithm = {oid.data(), BlobOf(params)};
        encodeInfo.RecipientPublicKey = {static_cast<DWORD>(publicKey.size()), publicKey.data(), 0};
        encryptInfo.cbSize = sizeof encryptInfo;
    }
    KeyTransSender(const KeyTransSender &) = delete;
    Outcome Export(CMSG_CONTENT_ENCRYPT_INFO *pContent)
    {
        SetLastError(kUntouched);
        const BOOL ok = OrvaMsgDllExportKeyTrans(pContent, &encodeInfo, &encryptInfo, 0, nullptr);
        return {ok, GetLastError()};
    }
};

// ------------------------------------------------------------------ key agreement

// What the sender's CryptoAPI passes for one key-agreement recipient, and what it gets back.
// Two recipient encrypted keys: only the first is the export's business.
struct KeyAgreeSender {
    std::array<char, 32> keyEncryptionOid{}; // rewritten in place by the export
    std::string ephemeralOid;
    Bytes ephemeralParams, recipientKey;
    CRYPT_ALGORITHM_IDENTIFIER ephemeral{};
    std::array<CMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO, 2> recipientKeys{};
    std::array<PCMSG_RECIPIENT_ENCRYPTED_KEY_ENCODE_INFO, 2> rgpRecipientKeys{};
    CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO encodeInfo{};
    std::array<CMSG_KEY_AGREE_KEY_ENCRYPT_INFO, 2> keyEncryptInfos{};
    std::array<PCMSG_KEY_AGREE_KEY_ENCRYPT_INFO, 2> rgpKeyEncryptInfos{};
    CMSG_KEY_AGREE_ENCRYPT_INFO encryptInfo{};

    KeyAgreeSender(const std::string &keyEncryption, const std::string &ephemeralAlgorithm,
                   const Bytes &params, const Bytes &publicKey)
        : ephemeralOid(ephemeralAlgorithm), ephemeralParams(params), recipientKey(publicKey)
    {
        std::strncpy(keyEncryptionOid.data(), keyEncryption.c_str(), keyEncryptionOid.size() - 1);
        ephemeral = {ephemeralOid.data(), BlobOf(ephemeralParams)};
        for (size_t i = 0; i < recipientKeys.size(); ++i) {
            recipientKeys[i].cbSize = sizeof recipientKeys[i];
            recipientKeys[i].RecipientPublicKey = {static_cast<DWORD>(recipientKey.size()),
                                                   recipientKey.data(), 0};
            rgpRecipientKeys[i] = &recipientKeys[i];
            rgpKeyEncryptInfos[i] = &keyEncryptInfos[i];
        }
        encodeInfo.cbSize = sizeof encodeInfo;
        encodeInfo.KeyEncryptionAlgorithm.pszObjId = keyEncryptionOid.data();
        encodeInfo.dwKeyChoice = CMSG_KEY_AGREE_EPHEMERAL_KEY_CHOICE;
        encodeInfo.pEphemeralAlgorithm = &ephemeral;
        encodeInfo.cRecipientEncryptedKeys = 2;
        encodeInfo.rgpRecipientEncryptedKeys = rgpRecipientKeys.data();
        encryptInfo.cbSize = sizeof encryptInfo;
        encryptInfo.cKeyAgreeKeyEncryptInfo = 2;
        encryptInfo.rgpKeyAgreeKeyEncryptInfo = rgpKeyEncryptInfos.data();
    }
    KeyAgreeSender(const KeyAgreeSender &) = delete;

    Outcome Export(CMSG_CONTENT_ENCRYPT_INFO *pContent)
    {
        SetLastError(kUntouched);
        const BOOL ok = OrvaMsgDllExportKeyAgree(pContent, &encodeInfo, &encryptInfo, 0, nullptr);
        return {ok, GetLastError()};
    }
    // Releases the blocks the flags give to CryptoAPI, as it would.
    void ReleaseByFlags() const
    {
        const DWORD flags = encryptInfo.dwFlags;
        const CERT_PUBLIC_KEY_INFO &originator = encryptInfo.OriginatorPublicKeyInfo;
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PARA_FLAG)
            CallerMemory::Free(encryptInfo.KeyEncryptionAlgorithm.Parameters.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_MATERIAL_FLAG)
            CallerMemory::Free(encryptInfo.UserKeyingMaterial.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_PARA_FLAG)
            CallerMemory::Free(originator.Algorithm.Parameters.pbData);
        if (flags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_BITS_FLAG)
            CallerMemory::Free(originator.PublicKey.pbData);
        CallerMemory::Free(keyEncryptInfos[0].EncryptedKey.pbData); // the caller's in any case
    }
};

// A KeyAgreeRecipientInfo as the recipient's CryptoAPI decoded it.
struct KeyAgreeRecipientInfo {
    std::string keyEncryptionOid;
    Bytes keyEncryptionParams, ukm, encryptedKey;
    std::string originatorOid;
    Bytes originatorParams, originatorKey;
    bool nullKeyEncryptionOid = false;
    DWORD originatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    bool noUkm = false;
};

inline KeyAgreeRecipientInfo ReceivedFrom(const KeyAgreeSender &sender)
{
    const CMSG_KEY_AGREE_ENCRYPT_INFO &out = sender.encryptInfo;
    const CERT_PUBLIC_KEY_INFO &originator = out.OriginatorPublicKeyInfo;
    return {sender.keyEncryptionOid.data(),
            BytesOf(out.KeyEncryptionAlgorithm.Parameters),
            BytesOf(out.UserKeyingMaterial),
            BytesOf(sender.keyEncryptInfos[0].EncryptedKey),
            originator.Algorithm.pszObjId,
            BytesOf(originator.Algorithm.Parameters),
            BytesOf({originator.PublicKey.cbData, originator.PublicKey.pbData})};
}

// The import in the recipient's container; a second recipient encrypted key that decodes to
// nothing stands behind the first.
inline Outcome ImportKeyAgree(HCRYPTPROV hProv, DWORD dwKeySpec, KeyAgreeRecipientInfo info,
                              const Bytes &contentParams, HCRYPTKEY *phKey)
{
    static const Bytes kNotAKey = {0x05, 0x00};
    std::array<CMSG_RECIPIENT_ENCRYPTED_KEY_INFO, 2> keys{};
    keys[0].EncryptedKey = BlobOf(info.encryptedKey);
    keys[1].EncryptedKey = BlobOf(kNotAKey);
    std::array<PCMSG_RECIPIENT_ENCRYPTED_KEY_INFO, 2> rgpKeys = {&keys[0], &keys[1]};
    CMSG_KEY_AGREE_RECIPIENT_INFO keyAgree{};
    keyAgree.dwVersion = 3;
    keyAgree.dwOriginatorChoice = info.originatorChoice;
    keyAgree.OriginatorPublicKeyInfo.Algorithm = {info.originatorOid.data(),
                                                  BlobOf(info.originatorParams)};
    keyAgree.OriginatorPublicKeyInfo.PublicKey = {static_cast<DWORD>(info.originatorKey.size()),
                                                  info.originatorKey.data(), 0};
    keyAgree.UserKeyingMaterial = info.noUkm ? CRYPT_DATA_BLOB{} : BlobOf(info.ukm);
    keyAgree.KeyEncryptionAlgorithm = {info.nullKeyEncryptionOid ? nullptr
                                                                 : info.keyEncryptionOid.data(),
                                       BlobOf(info.keyEncryptionParams)};
    keyAgree.cRecipientEncryptedKeys = 2;
    keyAgree.rgpRecipientEncryptedKeys = rgpKeys.data();
    CMSG_CTRL_KEY_AGREE_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = hProv;
    para.dwKeySpec = dwKeySpec;
    para.pKeyAgree = &keyAgree;
    CRYPT_ALGORITHM_IDENTIFIER content = {const_cast<LPSTR>(kGost28147Oid), BlobOf(contentParams)};
    *phKey = 0xBAD;
    SetLastError(kUntouched);
    const BOOL ok = OrvaMsgDllImportKeyAgree(&content, &para, 0, nullptr, phKey);
    return {ok, GetLastError()};
}

// ------------------------------------------------------------------ the fixture

// openssl's envelopes and the message, the caller's allocator emptied around each test, and a
// provider of the sender's without a container.
class CmsTest : public testing::Test {
  protected:
    void SetUp() override
    {
        CallerMemory::Reset();
        ASSERT_EQ(3u, vectors_.size());
        ASSERT_NE(0u, *hSender_);
    }
    void TearDown() override { CallerMemory::Reset(); }
    const std::vector<CmsVector> vectors_ = LoadCmsVectors();
    const Bytes plain_ = ReadDataFile("cms/plain.bin");
    ScopedProv hSender_ = AcquireProvider(nullptr);
};

} // namespace kvtest
