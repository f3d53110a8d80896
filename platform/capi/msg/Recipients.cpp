// The recipient kinds of enveloped data, each as a small table entry: how its content key is
// exported and its RecipientInfo written, and how that RecipientInfo is read back.
//
// RecipientInfo ::= CHOICE {
//     ktri KeyTransRecipientInfo,
//     kari [1] KeyAgreeRecipientInfo, ... }                          -- RFC 5652, 6.2
#include "Message.h"
#include "OidFunctions.h"

#include <algorithm>
#include <cstdlib>

namespace kvmsg {

Releases::~Releases()
{
    const DWORD dwError = GetLastError(); // closing keeps the code of what went before
    if (hContentKey) CryptDestroyKey(hContentKey);
    for (HCRYPTPROV hProv : providers)
        CryptReleaseContext(hProv, 0);
    for (void *pv : blocks)
        MsgFree(pv);
    SetLastError(dwError);
}

void *WINAPI MsgAlloc(size_t cb)
{
    void *pv = std::malloc(cb ? cb : 1);
    if (!pv) SetLastError(E_OUTOFMEMORY);
    return pv;
}

void WINAPI MsgFree(void *pv)
{
    std::free(pv);
}

namespace {

// ------------------------------------------------------------------ writing

// The INTEGER of a CryptoAPI serial number (little-endian two's complement).
Bytes SerialNumberInteger(const CRYPT_INTEGER_BLOB &serial)
{
    Bytes contents(std::max<DWORD>(serial.cbData, 1), 0); // an empty serial is written as 0
    std::reverse_copy(serial.pbData, serial.pbData + serial.cbData, contents.begin());
    return Tlv(0x02, contents);
}

// IssuerAndSerialNumber ::= SEQUENCE { issuer Name, serialNumber CertificateSerialNumber }
Bytes IssuerAndSerialNumber(const CERT_ISSUER_SERIAL_NUMBER &id)
{
    return Constructed(0x30, {std::span<const BYTE>(id.Issuer.pbData, id.Issuer.cbData),
                              SerialNumberInteger(id.SerialNumber)});
}

// RecipientIdentifier ::= CHOICE { issuerAndSerialNumber, subjectKeyIdentifier [0] }
bool RecipientIdentifier(const CERT_ID &id, Bytes *pOut, BYTE *pVersion)
{
    if (id.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
        *pOut = IssuerAndSerialNumber(id.IssuerSerialNumber);
        *pVersion = 0;
        return true;
    }
    if (id.dwIdChoice != CERT_ID_KEY_IDENTIFIER) return false;
    *pOut = Tlv(0x80, {id.KeyId.pbData, id.KeyId.cbData});
    *pVersion = 2;
    return true;
}

// KeyAgreeRecipientIdentifier ::= CHOICE { issuerAndSerialNumber,
//     rKeyId [0] IMPLICIT RecipientKeyIdentifier }
bool KeyAgreeRecipientIdentifier(const CERT_ID &id, Bytes *pOut)
{
    if (id.dwIdChoice == CERT_ID_ISSUER_SERIAL_NUMBER) {
        *pOut = IssuerAndSerialNumber(id.IssuerSerialNumber);
        return true;
    }
    if (id.dwIdChoice != CERT_ID_KEY_IDENTIFIER) return false;
    *pOut = Constructed(0xA0, {Tlv(0x04, {id.KeyId.pbData, id.KeyId.cbData})});
    return true;
}

Bytes OctetString(const CRYPT_DATA_BLOB &blob)
{
    return Tlv(0x04, {blob.pbData, blob.cbData});
}

// Frees what an export handed back, by its flags, on every path.
struct KeyTransOutput {
    CMSG_KEY_TRANS_ENCRYPT_INFO info{};
    ~KeyTransOutput()
    {
        MsgFree(info.EncryptedKey.pbData);
        if (info.dwFlags & CMSG_KEY_TRANS_ENCRYPT_FREE_PARA_FLAG)
            MsgFree(info.KeyEncryptionAlgorithm.Parameters.pbData);
        if (info.dwFlags & CMSG_KEY_TRANS_ENCRYPT_FREE_OBJID_FLAG)
            MsgFree(info.KeyEncryptionAlgorithm.pszObjId);
    }
};

// KeyTransRecipientInfo ::= SEQUENCE { version CMSVersion, rid RecipientIdentifier,
//     keyEncryptionAlgorithm KeyEncryptionAlgorithmIdentifier, encryptedKey EncryptedKey }
BOOL EncodeKeyTrans(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo, DWORD dwIndex,
                    PCMSG_KEY_TRANS_RECIPIENT_ENCODE_INFO pEncodeInfo, Bytes *pOut, BYTE *pVersion)
{
    Bytes rid;
    BYTE version = 0;
    if (!pEncodeInfo || !RecipientIdentifier(pEncodeInfo->RecipientId, &rid, &version))
        return Fail(E_INVALIDARG);
    KeyTransOutput output;
    output.info.cbSize = sizeof output.info;
    output.info.dwRecipientIndex = dwIndex;
    output.info.KeyEncryptionAlgorithm = pEncodeInfo->KeyEncryptionAlgorithm;
    if (!ExportKeyTrans(pContentEncryptInfo, pEncodeInfo, &output.info)) return FALSE;
    Append(pOut, Constructed(0x30, {SmallInteger(version), rid,
                                    AlgorithmIdentifier(output.info.KeyEncryptionAlgorithm),
                                    OctetString(output.info.EncryptedKey)}));
    *pVersion = std::max(*pVersion, version);
    return TRUE;
}

struct KeyAgreeOutput {
    CMSG_KEY_AGREE_ENCRYPT_INFO info{};
    std::vector<CMSG_KEY_AGREE_KEY_ENCRYPT_INFO> keys;
    std::vector<PCMSG_KEY_AGREE_KEY_ENCRYPT_INFO> keyPointers;
    std::string keyEncryptionOid; // the export may rewrite it in place

    ~KeyAgreeOutput()
    {
        for (const CMSG_KEY_AGREE_KEY_ENCRYPT_INFO &key : keys)
            MsgFree(key.EncryptedKey.pbData);
        const DWORD dwFlags = info.dwFlags;
        CERT_PUBLIC_KEY_INFO &originator = info.OriginatorPublicKeyInfo;
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PARA_FLAG)
            MsgFree(info.KeyEncryptionAlgorithm.Parameters.pbData);
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_MATERIAL_FLAG)
            MsgFree(info.UserKeyingMaterial.pbData);
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_ALG_FLAG)
            MsgFree(originator.Algorithm.pszObjId);
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_PARA_FLAG)
            MsgFree(originator.Algorithm.Parameters.pbData);
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_PUBKEY_BITS_FLAG)
            MsgFree(originator.PublicKey.pbData);
        if (dwFlags & CMSG_KEY_AGREE_ENCRYPT_FREE_OBJID_FLAG)
            MsgFree(info.KeyEncryptionAlgorithm.pszObjId);
    }
};

// OriginatorIdentifierOrKey: only the originator's public key is written.
// OriginatorPublicKey ::= SEQUENCE { algorithm AlgorithmIdentifier, publicKey BIT STRING }
Bytes OriginatorKey(const CERT_PUBLIC_KEY_INFO &key)
{
    Bytes bits = {static_cast<BYTE>(key.PublicKey.cUnusedBits)};
    Append(&bits, {key.PublicKey.pbData, key.PublicKey.cbData});
    return Constructed(0xA0,
                       {Constructed(0xA1, {AlgorithmIdentifier(key.Algorithm), Tlv(0x03, bits)})});
}

// RecipientEncryptedKeys ::= SEQUENCE OF RecipientEncryptedKey
// RecipientEncryptedKey ::= SEQUENCE { rid KeyAgreeRecipientIdentifier,
//     encryptedKey EncryptedKey }
bool RecipientEncryptedKeys(const CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO &encodeInfo,
                            const KeyAgreeOutput &output, Bytes *pOut)
{
    Bytes keys;
    for (DWORD i = 0; i < encodeInfo.cRecipientEncryptedKeys; ++i) {
        Bytes rid;
        if (!KeyAgreeRecipientIdentifier(encodeInfo.rgpRecipientEncryptedKeys[i]->RecipientId,
                                         &rid))
            return false;
        Append(&keys, Constructed(0x30, {rid, OctetString(output.keys[i].EncryptedKey)}));
    }
    *pOut = Tlv(0x30, keys);
    return true;
}

// KeyAgreeRecipientInfo ::= SEQUENCE { version CMSVersion (3),
//     originator [0] EXPLICIT OriginatorIdentifierOrKey, ukm [1] EXPLICIT UKM OPTIONAL,
//     keyEncryptionAlgorithm KeyEncryptionAlgorithmIdentifier,
//     recipientEncryptedKeys RecipientEncryptedKeys }
BOOL EncodeKeyAgree(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo, DWORD dwIndex,
                    PCMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO pEncodeInfo, Bytes *pOut, BYTE *pVersion)
{
    if (!pEncodeInfo || !pEncodeInfo->KeyEncryptionAlgorithm.pszObjId ||
        pEncodeInfo->cRecipientEncryptedKeys == 0 || !pEncodeInfo->rgpRecipientEncryptedKeys)
        return Fail(E_INVALIDARG);
    // The export is handed a copy whose key-encryption OID text is the message's own.
    KeyAgreeOutput output;
    output.keyEncryptionOid = pEncodeInfo->KeyEncryptionAlgorithm.pszObjId;
    CMSG_KEY_AGREE_RECIPIENT_ENCODE_INFO encodeInfo = *pEncodeInfo;
    encodeInfo.KeyEncryptionAlgorithm.pszObjId = output.keyEncryptionOid.data();
    output.keys.resize(encodeInfo.cRecipientEncryptedKeys);
    for (CMSG_KEY_AGREE_KEY_ENCRYPT_INFO &key : output.keys) {
        key.cbSize = sizeof key;
        output.keyPointers.push_back(&key);
    }
    output.info.cbSize = sizeof output.info;
    output.info.dwRecipientIndex = dwIndex;
    output.info.KeyEncryptionAlgorithm = encodeInfo.KeyEncryptionAlgorithm;
    output.info.cKeyAgreeKeyEncryptInfo = encodeInfo.cRecipientEncryptedKeys;
    output.info.rgpKeyAgreeKeyEncryptInfo = output.keyPointers.data();
    if (!ExportKeyAgree(pContentEncryptInfo, &encodeInfo, &output.info)) return FALSE;
    if (output.info.dwOriginatorChoice != CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY)
        return Fail(CRYPT_E_UNKNOWN_ALGO);
    Bytes keys, ukm;
    if (!RecipientEncryptedKeys(encodeInfo, output, &keys)) return Fail(E_INVALIDARG);
    if (output.info.UserKeyingMaterial.cbData)
        ukm = Constructed(0xA1, {OctetString(output.info.UserKeyingMaterial)});
    Append(pOut,
           Constructed(0xA1, {SmallInteger(3), OriginatorKey(output.info.OriginatorPublicKeyInfo),
                              ukm, AlgorithmIdentifier(output.info.KeyEncryptionAlgorithm), keys}));
    *pVersion = 2;
    return TRUE;
}

// ------------------------------------------------------------------ reading

// Reads the elements of a constructed element's contents in order; false when one is not
// there, malformed or of another tag.
class Reader {
  public:
    explicit Reader(std::span<const BYTE> contents) : rest_(contents) {}
    bool Next(BYTE tag, Element *pOut)
    {
        if (rest_.empty() || ReadElement(rest_, pOut) != ReadStatus::Ok || pOut->tag != tag)
            return false;
        rest_ = rest_.subspan(pOut->Size());
        return true;
    }
    bool Peek(BYTE tag) const { return !rest_.empty() && rest_[0] == tag; }
    bool AtEnd() const { return rest_.empty(); }

  private:
    std::span<const BYTE> rest_;
};

CRYPT_DATA_BLOB BlobOf(std::span<const BYTE> bytes)
{
    return {static_cast<DWORD>(bytes.size()), const_cast<BYTE *>(bytes.data())};
}

CRYPT_DATA_BLOB WholeOf(const Element &element)
{
    return {static_cast<DWORD>(element.Size()),
            const_cast<BYTE *>(element.contents.data() - element.cbHeader)};
}

LPSTR Keep(DecodedRecipient *pOut, std::string text)
{
    pOut->texts.push_back(std::move(text));
    return pOut->texts.back().data();
}

bool ReadAlgorithm(Reader *reader, DecodedRecipient *pOut, CRYPT_ALGORITHM_IDENTIFIER *pAlg)
{
    Element sequence, oid;
    if (!reader->Next(0x30, &sequence)) return false;
    Reader inner(sequence.contents);
    if (!inner.Next(0x06, &oid)) return false;
    std::string text = ObjectIdentifierText(oid.contents);
    if (text.empty()) return false;
    pAlg->pszObjId = Keep(pOut, std::move(text));
    const std::span<const BYTE> parameters =
        sequence.contents.subspan(oid.Size()); // whatever follows: the parameters' DER
    pAlg->Parameters = parameters.empty() ? CRYPT_DATA_BLOB{} : BlobOf(parameters);
    return true;
}

bool ReadIssuerSerial(const Element &sequence, DecodedRecipient *pOut, CERT_ID *pId)
{
    Reader inner(sequence.contents);
    Element issuer, serial;
    if (!inner.Next(0x30, &issuer) || !inner.Next(0x02, &serial) || !inner.AtEnd()) return false;
    Bytes littleEndian(serial.contents.rbegin(), serial.contents.rend());
    pOut->serialNumbers.push_back(std::move(littleEndian));
    pId->dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
    pId->IssuerSerialNumber.Issuer = WholeOf(issuer);
    pId->IssuerSerialNumber.SerialNumber = BlobOf(pOut->serialNumbers.back());
    return true;
}

bool DecodeKeyTrans(const Element &element, DecodedRecipient *pOut)
{
    CMSG_KEY_TRANS_RECIPIENT_INFO &info = pOut->keyTrans;
    Reader reader(element.contents);
    Element version, rid, encryptedKey;
    if (!reader.Next(0x02, &version) || version.contents.size() != 1) return false;
    info.dwVersion = version.contents[0];
    if (reader.Next(0x30, &rid)) {
        if (!ReadIssuerSerial(rid, pOut, &info.RecipientId)) return false;
    } else if (reader.Next(0x80, &rid)) {
        info.RecipientId.dwIdChoice = CERT_ID_KEY_IDENTIFIER;
        info.RecipientId.KeyId = BlobOf(rid.contents);
    } else {
        return false;
    }
    if (!ReadAlgorithm(&reader, pOut, &info.KeyEncryptionAlgorithm) ||
        !reader.Next(0x04, &encryptedKey) || !reader.AtEnd())
        return false;
    info.EncryptedKey = BlobOf(encryptedKey.contents);
    pOut->dwRecipientChoice = CMSG_KEY_TRANS_RECIPIENT;
    return true;
}

// originator [0] EXPLICIT: only originatorKey [1] is understood.
bool ReadOriginator(Reader *reader, DecodedRecipient *pOut)
{
    CMSG_KEY_AGREE_RECIPIENT_INFO &info = pOut->keyAgree;
    Element explicitTag, key, bits;
    if (!reader->Next(0xA0, &explicitTag)) return false;
    Reader choice(explicitTag.contents);
    if (!choice.Next(0xA1, &key) || !choice.AtEnd()) return false;
    Reader inner(key.contents);
    info.dwOriginatorChoice = CMSG_KEY_AGREE_ORIGINATOR_PUBLIC_KEY;
    CERT_PUBLIC_KEY_INFO &originator = info.OriginatorPublicKeyInfo;
    if (!ReadAlgorithm(&inner, pOut, &originator.Algorithm) || !inner.Next(0x03, &bits) ||
        !inner.AtEnd() || bits.contents.empty() || bits.contents[0] > 7)
        return false;
    originator.PublicKey.cUnusedBits = bits.contents[0];
    originator.PublicKey.cbData = static_cast<DWORD>(bits.contents.size() - 1);
    originator.PublicKey.pbData = const_cast<BYTE *>(bits.contents.data() + 1);
    return true;
}

bool ReadRecipientEncryptedKey(const Element &sequence, DecodedRecipient *pOut,
                               CMSG_RECIPIENT_ENCRYPTED_KEY_INFO *pKey)
{
    Reader inner(sequence.contents);
    Element rid, keyId, encryptedKey;
    if (inner.Next(0x30, &rid)) {
        if (!ReadIssuerSerial(rid, pOut, &pKey->RecipientId)) return false;
    } else if (inner.Next(0xA0, &rid)) {
        Reader rKeyId(rid.contents);
        if (!rKeyId.Next(0x04, &keyId)) return false;
        pKey->RecipientId.dwIdChoice = CERT_ID_KEY_IDENTIFIER;
        pKey->RecipientId.KeyId = BlobOf(keyId.contents);
    } else {
        return false;
    }
    if (!inner.Next(0x04, &encryptedKey) || !inner.AtEnd()) return false;
    pKey->EncryptedKey = BlobOf(encryptedKey.contents);
    return true;
}

bool DecodeKeyAgree(const Element &element, DecodedRecipient *pOut)
{
    CMSG_KEY_AGREE_RECIPIENT_INFO &info = pOut->keyAgree;
    Reader reader(element.contents);
    Element version, ukmTag, ukm, keys, key;
    if (!reader.Next(0x02, &version) || version.contents.size() != 1 ||
        !ReadOriginator(&reader, pOut))
        return false;
    info.dwVersion = version.contents[0];
    if (reader.Peek(0xA1)) {
        if (!reader.Next(0xA1, &ukmTag)) return false;
        Reader inner(ukmTag.contents);
        if (!inner.Next(0x04, &ukm) || !inner.AtEnd()) return false;
        info.UserKeyingMaterial = BlobOf(ukm.contents);
    }
    if (!ReadAlgorithm(&reader, pOut, &info.KeyEncryptionAlgorithm) || !reader.Next(0x30, &keys) ||
        !reader.AtEnd())
        return false;
    for (Reader inner(keys.contents); !inner.AtEnd();) {
        if (!inner.Next(0x30, &key)) return false;
        pOut->encryptedKeys.emplace_back();
        if (!ReadRecipientEncryptedKey(key, pOut, &pOut->encryptedKeys.back())) return false;
    }
    if (pOut->encryptedKeys.empty()) return false;
    for (CMSG_RECIPIENT_ENCRYPTED_KEY_INFO &encrypted : pOut->encryptedKeys)
        pOut->encryptedKeyPointers.push_back(&encrypted);
    info.cRecipientEncryptedKeys = static_cast<DWORD>(pOut->encryptedKeys.size());
    info.rgpRecipientEncryptedKeys = pOut->encryptedKeyPointers.data();
    pOut->dwRecipientChoice = CMSG_KEY_AGREE_RECIPIENT;
    return true;
}

// ------------------------------------------------------------------ the table

struct RecipientKind {
    DWORD dwRecipientChoice;
    BYTE tag; // of its RecipientInfo
    BOOL(*encode)
    (PCMSG_CONTENT_ENCRYPT_INFO, DWORD, const CMSG_RECIPIENT_ENCODE_INFO &, Bytes *, BYTE *);
    bool (*decode)(const Element &, DecodedRecipient *);
};

const RecipientKind kRecipientKinds[] = {
    {CMSG_KEY_TRANS_RECIPIENT, 0x30,
     [](PCMSG_CONTENT_ENCRYPT_INFO pInfo, DWORD dwIndex, const CMSG_RECIPIENT_ENCODE_INFO &r,
        Bytes *pOut,
        BYTE *pVersion) { return EncodeKeyTrans(pInfo, dwIndex, r.pKeyTrans, pOut, pVersion); },
     DecodeKeyTrans},
    {CMSG_KEY_AGREE_RECIPIENT, 0xA1,
     [](PCMSG_CONTENT_ENCRYPT_INFO pInfo, DWORD dwIndex, const CMSG_RECIPIENT_ENCODE_INFO &r,
        Bytes *pOut,
        BYTE *pVersion) { return EncodeKeyAgree(pInfo, dwIndex, r.pKeyAgree, pOut, pVersion); },
     DecodeKeyAgree},
};

} // namespace

BOOL EncodeRecipient(PCMSG_CONTENT_ENCRYPT_INFO pContentEncryptInfo, DWORD dwIndex, Bytes *pOut,
                     BYTE *pVersion)
{
    const CMSG_RECIPIENT_ENCODE_INFO &recipient = pContentEncryptInfo->rgCmsRecipients[dwIndex];
    for (const RecipientKind &kind : kRecipientKinds)
        if (kind.dwRecipientChoice == recipient.dwRecipientChoice)
            return kind.encode(pContentEncryptInfo, dwIndex, recipient, pOut, pVersion);
    return Fail(E_INVALIDARG);
}

bool DecodeRecipientInfo(const Element &element, DecodedRecipient *pOut)
{
    for (const RecipientKind &kind : kRecipientKinds)
        if (kind.tag == element.tag) return kind.decode(element, pOut);
    return false;
}

} // namespace kvmsg
