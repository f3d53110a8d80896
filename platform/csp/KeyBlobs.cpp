// Key blobs: CryptExportKey and CryptImportKey for the GOST public-key blob and the GOST
// SIMPLEBLOB.
#include "KeyWrap.h"
#include "Objects.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

using namespace kvcsp;

namespace {

constexpr BYTE kBlobVersion = 0x20;

static_assert(sizeof(GOST_PUBLICKEYBLOB_HEADER) == 16);
static_assert(sizeof(GOST_SIMPLEBLOB) == 60 && offsetof(GOST_SIMPLEBLOB, bUkm) == 16 &&
              offsetof(GOST_SIMPLEBLOB, bEncryptedKey) == 24 &&
              offsetof(GOST_SIMPLEBLOB, bMacKey) == 56);

// ----------------------------------------------------------------- public-key blobs

struct PublicKeySource {
    const KeyFamily *family;
    EVP_PKEY *pkey;
};

DWORD PublicKeyOf(const KeyObject &key, PublicKeySource *source)
{
    if (const auto *pair = std::get_if<KeyPair>(&key)) {
        if (!pair->pkey) return NTE_BAD_KEY_STATE; // CRYPT_PREGEN key not completed by KP_X yet
        *source = {pair->family, pair->pkey.get()};
        return ERROR_SUCCESS;
    }
    if (const auto *publicKey = std::get_if<PublicKey>(&key)) {
        *source = {publicKey->family, publicKey->pkey.get()};
        return ERROR_SUCCESS;
    }
    return NTE_BAD_KEY;
}

// Header, parameters TLV, key bytes. The algorithm is the public key's (ALG_GOST_SIGN_*),
// whose OID is the one a SubjectPublicKeyInfo carries for it.
std::vector<BYTE> BuildPublicKeyBlob(BYTE bType, const KeyFamily &family,
                                     const EncodedPublicKey &encoded)
{
    GOST_PUBLICKEYBLOB_HEADER header{};
    header.BlobHeader = {bType, kBlobVersion, 0, family.signAlgId};
    header.Magic = GOST_PUBKEY_MAGIC;
    header.BitLen = static_cast<DWORD>(8 * encoded.key.size());
    std::vector<BYTE> blob(sizeof header);
    std::memcpy(blob.data(), &header, sizeof header);
    blob.insert(blob.end(), encoded.parameters.begin(), encoded.parameters.end());
    blob.insert(blob.end(), encoded.key.begin(), encoded.key.end());
    return blob;
}

DWORD ExportPublicKeyBlob(const KeyObject &key, HCRYPTKEY hExpKey, DWORD dwBlobType, BYTE *pbData,
                          DWORD *pdwDataLen)
{
    if (hExpKey != 0) return NTE_BAD_KEY; // public keys travel in the clear
    PublicKeySource source{};
    const DWORD status = PublicKeyOf(key, &source);
    if (status != ERROR_SUCCESS) return status;
    EncodedPublicKey encoded;
    if (!EncodePublicKey(source.pkey, &encoded) || encoded.key.size() != source.family->keyBytes)
        return NTE_FAIL;
    return CopyOutput(BuildPublicKeyBlob(static_cast<BYTE>(dwBlobType), *source.family, encoded),
                      pbData, pdwDataLen);
}

struct PublicKeyBlob {
    const KeyFamily *family;
    std::span<const BYTE> parameters;
    std::span<const BYTE> key;
};

// Checks the layout: magic, a family the algorithm belongs to, its key length, one DER TLV
// of parameters and exactly the key bytes after it.
DWORD ParsePublicKeyBlob(std::span<const BYTE> blob, PublicKeyBlob *parsed)
{
    GOST_PUBLICKEYBLOB_HEADER header{};
    if (blob.size() < sizeof header) return NTE_BAD_DATA;
    std::memcpy(&header, blob.data(), sizeof header);
    if (header.Magic != GOST_PUBKEY_MAGIC) return NTE_BAD_DATA;
    parsed->family = FamilyByAlgId(header.BlobHeader.aiKeyAlg);
    if (!parsed->family) return NTE_BAD_ALGID;
    if (header.BitLen != 8 * parsed->family->keyBytes) return NTE_BAD_DATA;
    const std::span<const BYTE> rest = blob.subspan(sizeof header);
    const size_t cbParameters = DerTlvLength(rest);
    if (cbParameters == 0 || rest.size() != cbParameters + parsed->family->keyBytes)
        return NTE_BAD_DATA;
    parsed->parameters = rest.first(cbParameters);
    parsed->key = rest.subspan(cbParameters);
    return ERROR_SUCCESS;
}

DWORD NewPublicKey(const KeyFamily &family, Pkey peer, KeyObject *imported)
{
    PublicKey publicKey;
    publicKey.family = &family;
    publicKey.pkey = std::move(peer);
    if (!ReadParamSets(publicKey.pkey.get(), family, &publicKey.publicKeyParamSet,
                       &publicKey.hashParamSet))
        return NTE_FAIL;
    *imported = std::move(publicKey);
    return ERROR_SUCCESS;
}

// With our private key as import key, the public key gives a key-agreement key.
DWORD NewAgreementKey(HCRYPTKEY hPubKey, Pkey peer, KeyObject *imported)
{
    const KeyObject *importKey = FindKey(hPubKey);
    const auto *own = importKey ? std::get_if<KeyPair>(importKey) : nullptr;
    if (!own) return NTE_BAD_KEY;
    if (!own->pkey) return NTE_BAD_KEY_STATE;
    if (!SameDomain(own->pkey.get(), peer.get()))
        return NTE_BAD_DATA; // VKO needs both keys on one curve
    AgreementKey agreement;
    agreement.own = own->pkey;
    agreement.peer = std::move(peer);
    agreement.cipherParamSet = own->cipherParamSet;
    *imported = std::move(agreement);
    return ERROR_SUCCESS;
}

DWORD ImportPublicKeyBlob(std::span<const BYTE> blob, HCRYPTKEY hPubKey, KeyObject *imported)
{
    PublicKeyBlob parsed{};
    const DWORD status = ParsePublicKeyBlob(blob, &parsed);
    if (status != ERROR_SUCCESS) return status;
    Pkey peer = DecodePublicKey(*parsed.family, parsed.parameters, parsed.key);
    if (!peer) return NTE_BAD_DATA;
    if (hPubKey == 0) return NewPublicKey(*parsed.family, std::move(peer), imported);
    return NewAgreementKey(hPubKey, std::move(peer), imported);
}

// ----------------------------------------------------------------- SIMPLEBLOB

DWORD FindAgreementKey(HCRYPTKEY hKey, const AgreementKey **agreement)
{
    const KeyObject *key = FindKey(hKey);
    *agreement = key ? std::get_if<AgreementKey>(key) : nullptr;
    return *agreement ? ERROR_SUCCESS : NTE_BAD_KEY;
}

// A UKM of eight random bytes, never all zero (RFC 4357 section 5.2 maps 0 to 1).
bool DrawUkm(std::span<BYTE, 8> ukm)
{
    do {
        if (!RandomBytes(ukm)) return false;
    } while (std::all_of(ukm.begin(), ukm.end(), [](BYTE b) { return b == 0; }));
    return true;
}

DWORD DeriveKek(const AgreementKey &agreement, std::span<const BYTE, 8> ukm, Gost28147Key *kek)
{
    return DeriveVko(agreement.own.get(), agreement.peer.get(), ukm, kek) ? ERROR_SUCCESS
                                                                          : NTE_FAIL;
}

DWORD WrapUnderAgreement(const SessionKey &session, const AgreementKey &agreement,
                         GOST_SIMPLEBLOB *header)
{
    if (!DrawUkm(header->bUkm)) return NTE_FAIL;
    Wiped<Gost28147Key> kek{};
    DWORD status = DeriveKek(agreement, header->bUkm, &kek);
    WrappedKey wrapped{};
    if (status == ERROR_SUCCESS)
        status = WrapGost28147Key(agreement.wrapAlgId, *agreement.cipherParamSet, kek, header->bUkm,
                                  session.value, &wrapped);
    std::memcpy(header->bEncryptedKey, wrapped.encryptedKey.data(), wrapped.encryptedKey.size());
    std::memcpy(header->bMacKey, wrapped.mac.data(), wrapped.mac.size());
    return status;
}

// The fixed part with a fresh wrap of the key, then the blob parameters.
DWORD WriteSimpleBlob(const SessionKey &session, const AgreementKey &agreement,
                      std::span<const BYTE> parameters, BYTE *pbData)
{
    GOST_SIMPLEBLOB header{};
    header.BlobHeader = {SIMPLEBLOB, kBlobVersion, 0, ALG_GOST_28147};
    header.Magic = GOST_SIMPLEBLOB_MAGIC;
    header.EncryptKeyAlgId = ALG_GOST_28147;
    const DWORD status = WrapUnderAgreement(session, agreement, &header);
    if (status != ERROR_SUCCESS) return status;
    std::memcpy(pbData, &header, sizeof header);
    std::memcpy(pbData + sizeof header, parameters.data(), parameters.size());
    return ERROR_SUCCESS;
}

DWORD ExportSimpleBlob(const KeyObject &key, HCRYPTKEY hExpKey, BYTE *pbData, DWORD *pdwDataLen)
{
    const auto *session = std::get_if<SessionKey>(&key);
    if (!session) return NTE_BAD_KEY;
    if (!session->exportable) return NTE_BAD_KEY_STATE;
    const AgreementKey *agreement = nullptr;
    DWORD status = FindAgreementKey(hExpKey, &agreement);
    if (status != ERROR_SUCCESS) return status;
    const std::vector<BYTE> parameters = EncodeBlobParameters(session->paramSet->oid);
    bool write = false;
    status = PrepareOutput(static_cast<DWORD>(sizeof(GOST_SIMPLEBLOB) + parameters.size()), pbData,
                           pdwDataLen, &write);
    if (status != ERROR_SUCCESS || !write) return status; // the size alone draws no UKM
    return WriteSimpleBlob(*session, *agreement, parameters, pbData);
}

// The wrapped key's parameter set from the Gost28147-89-BlobParameters after the fixed
// part; a blob without them stands for the default set.
DWORD BlobParamSet(std::span<const BYTE> parameters, const Gost28147ParamSet **paramSet)
{
    if (parameters.empty()) {
        *paramSet = &DefaultGost28147ParamSet();
        return ERROR_SUCCESS;
    }
    std::vector<std::string> oids;
    if (!DecodeOidSequence(parameters, &oids) || !(*paramSet = FindGost28147ParamSet(oids[0])))
        return NTE_BAD_DATA;
    return ERROR_SUCCESS;
}

DWORD ParseSimpleBlob(std::span<const BYTE> blob, GOST_SIMPLEBLOB *header,
                      const Gost28147ParamSet **paramSet)
{
    if (blob.size() < sizeof *header) return NTE_BAD_DATA;
    std::memcpy(header, blob.data(), sizeof *header);
    if (header->BlobHeader.aiKeyAlg != ALG_GOST_28147 || header->EncryptKeyAlgId != ALG_GOST_28147)
        return NTE_BAD_ALGID;
    if (header->Magic != GOST_SIMPLEBLOB_MAGIC) return NTE_BAD_DATA;
    return BlobParamSet(blob.subspan(sizeof *header), paramSet);
}

DWORD UnwrapUnderAgreement(const GOST_SIMPLEBLOB &header, const AgreementKey &agreement,
                           Gost28147Key *cek)
{
    WrappedKey wrapped{};
    std::memcpy(wrapped.encryptedKey.data(), header.bEncryptedKey, wrapped.encryptedKey.size());
    std::memcpy(wrapped.mac.data(), header.bMacKey, wrapped.mac.size());
    Wiped<Gost28147Key> kek{};
    DWORD status = DeriveKek(agreement, header.bUkm, &kek);
    if (status == ERROR_SUCCESS)
        status = UnwrapGost28147Key(agreement.wrapAlgId, *agreement.cipherParamSet, kek,
                                    header.bUkm, wrapped, cek);
    return status;
}

// The imported key gets a random IV; its user sets the message's IV with KP_IV.
DWORD ImportSimpleBlob(std::span<const BYTE> blob, HCRYPTKEY hPubKey, DWORD dwFlags,
                       KeyObject *imported)
{
    GOST_SIMPLEBLOB header{};
    SessionKey session;
    const AgreementKey *agreement = nullptr;
    DWORD status = ParseSimpleBlob(blob, &header, &session.paramSet);
    if (status == ERROR_SUCCESS) status = FindAgreementKey(hPubKey, &agreement);
    if (status == ERROR_SUCCESS) status = UnwrapUnderAgreement(header, *agreement, &session.value);
    if (status != ERROR_SUCCESS) return status;
    if (!RandomBytes(session.iv)) return NTE_FAIL;
    session.exportable = dwFlags & CRYPT_EXPORTABLE;
    *imported = std::move(session);
    return ERROR_SUCCESS;
}

DWORD ImportBlob(std::span<const BYTE> blob, HCRYPTKEY hPubKey, DWORD dwFlags, KeyObject *imported)
{
    BLOBHEADER header{};
    if (blob.size() < sizeof header) return NTE_BAD_DATA;
    std::memcpy(&header, blob.data(), sizeof header);
    if (header.bVersion != kBlobVersion) return NTE_BAD_VER;
    switch (header.bType) {
    case PUBLICKEYBLOB:
    case PUBLICKEYBLOBEX:
        return ImportPublicKeyBlob(blob, hPubKey, imported);
    case SIMPLEBLOB:
        return ImportSimpleBlob(blob, hPubKey, dwFlags, imported);
    default:
        return NTE_BAD_TYPE;
    }
}

} // namespace

BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                           BYTE *pbData, DWORD *pdwDataLen)
{
    return RunEntry([&]() -> DWORD {
        const KeyObject *key = FindKey(hKey);
        if (!key) return NTE_BAD_KEY;
        if (!pdwDataLen) return ERROR_INVALID_PARAMETER;
        if (dwFlags != 0) return NTE_BAD_FLAGS;
        switch (dwBlobType) {
        case PUBLICKEYBLOB:
        case PUBLICKEYBLOBEX:
            return ExportPublicKeyBlob(*key, hExpKey, dwBlobType, pbData, pdwDataLen);
        case SIMPLEBLOB:
            return ExportSimpleBlob(*key, hExpKey, pbData, pdwDataLen);
        default:
            return NTE_BAD_TYPE;
        }
    });
}

BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, const BYTE *pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                           DWORD dwFlags, HCRYPTKEY *phKey)
{
    return RunEntry([&]() -> DWORD {
        if (!FindProvider(hProv)) return NTE_BAD_UID;
        if (!pbData || !phKey) return ERROR_INVALID_PARAMETER;
        if (dwFlags & ~DWORD{CRYPT_EXPORTABLE}) return NTE_BAD_FLAGS;
        KeyObject imported;
        const DWORD status = ImportBlob(std::span(pbData, dwDataLen), hPubKey, dwFlags, &imported);
        if (status == ERROR_SUCCESS) *phKey = AddKey(std::move(imported));
        return status;
    });
}
