#include "codecs/GeneralNames.h"
#include "frame/Trace.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr size_t RoundUp(size_t offset, size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

// ------------------------------------------------------------------ caller -> ASN.1 value

// The wide string as IA5String text on the context heap, converted as the decoder reads it
// back (UTF-8), so that a name decoded from UTF-8 in an IA5String encodes to the same octets.
// The conversion is measured first and the block sized for it; a string that does not convert
// is refused rather than cut short.
BOOL IA5String_FillAsn1cObject(Asn1Context *ctx, LPCWSTR pwsz, const char **ppsz)
{
    mbstate_t state{};
    const wchar_t *source = pwsz;
    const size_t cb = safe_wcsrtombs(nullptr, &source, 0, &state);
    if (cb == static_cast<size_t>(-1)) {
        KV_TRACE_ERROR("Malformed CERT_ALT_NAME_INFO");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    auto *psz = static_cast<char *>(ASN1MALLOC(ctx, cb + 1));
    if (!psz) {
        KV_TRACE_ERROR("ASN1MALLOC() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    state = mbstate_t{};
    source = pwsz;
    safe_wcsrtombs(psz, &source, cb + 1, &state);
    *ppsz = psz;
    return TRUE;
}

BOOL OtherName_FillAsn1cObject(Asn1Context *ctx, const CERT_OTHER_NAME *pOtherName,
                               GeneralName *name)
{
    auto *otherName =
        static_cast<GeneralName_otherName *>(ASN1MALLOCZ(ctx, sizeof(GeneralName_otherName)));
    if (!otherName) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    if (!rtStrToOid(pOtherName->pszObjId, &otherName->type_id)) {
        KV_TRACE_ERROR("rtStrToOid() failed");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    otherName->value.numocts = pOtherName->Value.cbData;
    otherName->value.data = pOtherName->Value.pbData;
    name->u.otherName = otherName;
    return TRUE;
}

BOOL IPAddress_FillAsn1cObject(Asn1Context *ctx, const CRYPT_DATA_BLOB *pAddress, GeneralName *name)
{
    auto *address = static_cast<ASN1DynOctStr *>(ASN1MALLOCZ(ctx, sizeof(ASN1DynOctStr)));
    if (!address) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    address->numocts = pAddress->cbData;
    address->data = pAddress->pbData;
    name->u.iPAddress = address;
    return TRUE;
}

BOOL RegisteredID_FillAsn1cObject(Asn1Context *ctx, LPCSTR pszRegisteredID, GeneralName *name)
{
    auto *oid = static_cast<ASN1OBJID *>(ASN1MALLOCZ(ctx, sizeof(ASN1OBJID)));
    if (!oid) {
        KV_TRACE_ERROR("ALLOC_ASN1ELEM() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    if (!rtStrToOid(pszRegisteredID, oid)) {
        KV_TRACE_ERROR("rtStrToOid() failed");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    name->u.registeredID = oid;
    return TRUE;
}

// A pointer the chosen alternative reads is null, or a blob's bytes are missing.
bool IsMissingData(const CERT_ALT_NAME_ENTRY *entry)
{
    switch (entry->dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        return !entry->pOtherName || !entry->pOtherName->pszObjId ||
               (entry->pOtherName->Value.cbData && !entry->pOtherName->Value.pbData);
    case CERT_ALT_NAME_X400_ADDRESS:
    case CERT_ALT_NAME_DIRECTORY_NAME:
    case CERT_ALT_NAME_EDI_PARTY_NAME:
        return !entry->DirectoryName.cbData || !entry->DirectoryName.pbData;
    case CERT_ALT_NAME_IP_ADDRESS:
        return entry->IPAddress.cbData && !entry->IPAddress.pbData;
    case CERT_ALT_NAME_RFC822_NAME:
        return !entry->pwszRfc822Name;
    case CERT_ALT_NAME_DNS_NAME:
        return !entry->pwszDNSName;
    case CERT_ALT_NAME_URL:
        return !entry->pwszURL;
    default:
        return !entry->pszRegisteredID;
    }
}

// x400Address, directoryName, ediPartyName: the caller's DER through the generated decoder.
template <typename Value, auto Decoder>
BOOL EncodedName_FillAsn1cObject(Asn1Context *ctx, const CRYPT_DATA_BLOB *pBlob, Value **ppValue)
{
    void *value = nullptr;
    if (!FillAsn1cEncodedObject(ctx, pBlob->pbData, pBlob->cbData, sizeof(Value), DecodeAs<Decoder>,
                                &value))
        return FALSE;
    *ppValue = static_cast<Value *>(value);
    return TRUE;
}

BOOL GeneralName_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_ENTRY *entry,
                                 GeneralName *name)
{
    if (IsMissingData(entry)) {
        KV_TRACE_ERROR("Malformed CERT_ALT_NAME_INFO");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    switch (entry->dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        return OtherName_FillAsn1cObject(ctx, entry->pOtherName, name);
    case CERT_ALT_NAME_RFC822_NAME:
        return IA5String_FillAsn1cObject(ctx, entry->pwszRfc822Name, &name->u.rfc822Name);
    case CERT_ALT_NAME_DNS_NAME:
        return IA5String_FillAsn1cObject(ctx, entry->pwszDNSName, &name->u.dNSName);
    case CERT_ALT_NAME_X400_ADDRESS:
        return EncodedName_FillAsn1cObject<ORAddress, asn1D_ORAddress>(ctx, &entry->DirectoryName,
                                                                       &name->u.x400Address);
    case CERT_ALT_NAME_DIRECTORY_NAME:
        return EncodedName_FillAsn1cObject<Name, asn1D_Name>(ctx, &entry->DirectoryName,
                                                             &name->u.directoryName);
    case CERT_ALT_NAME_EDI_PARTY_NAME:
        return EncodedName_FillAsn1cObject<EDIPartyName, asn1D_EDIPartyName>(
            ctx, &entry->DirectoryName, &name->u.ediPartyName);
    case CERT_ALT_NAME_URL:
        return IA5String_FillAsn1cObject(ctx, entry->pwszURL, &name->u.uniformResourceIdentifier);
    case CERT_ALT_NAME_IP_ADDRESS:
        return IPAddress_FillAsn1cObject(ctx, &entry->IPAddress, name);
    default:
        return RegisteredID_FillAsn1cObject(ctx, entry->pszRegisteredID, name);
    }
}

bool IsGeneralNameChoice(DWORD choice)
{
    return choice >= CERT_ALT_NAME_OTHER_NAME && choice <= CERT_ALT_NAME_REGISTERED_ID;
}

// ------------------------------------------------------------------ ASN.1 value -> flat result

// Dotted text of `oid` and its NUL at `cursor`; only measured in the size step.
BOOL ObjectIdentifier_Place(const ASN1OBJID *oid, FlatCursor *cursor, LPSTR *ppsz)
{
    const size_t cb = rtOidToStrLen(oid) + 1;
    char *psz = reinterpret_cast<char *>(cursor->Take(cb));
    if (psz && !rtOidToStr(oid, psz, cb)) {
        KV_TRACE_ERROR("rtOidToStr() failed");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    if (ppsz) *ppsz = psz;
    return TRUE;
}

// A copy of `cb` bytes at `cursor`, or only the room for it in the size step.
void Bytes_Place(const BYTE *pb, DWORD cb, FlatCursor *cursor, CRYPT_DATA_BLOB *pBlob)
{
    BYTE *at = cursor->Take(cb);
    if (!at || !pBlob) return; // the size step: the cursor takes no bytes and no entry exists
    if (cb) std::memcpy(at, pb, cb);
    pBlob->cbData = cb;
    pBlob->pbData = at;
}

// The decoded IA5String as a wide string in 4 × (bytes + 1) bytes: room for one character
// per byte and the NUL. Text that is not valid UTF-8 (and so not IA5 either) is refused in
// the size step, before any block is handed out, instead of coming back cut short; the room
// past the NUL of a UTF-8 text that needed fewer characters is zeroed.
BOOL IA5String_Place(const char *psz, FlatCursor *cursor, LPWSTR *ppwsz)
{
    const size_t cch = std::strlen(psz) + 1;
    wchar_t *pwsz = cursor->TakeArray<wchar_t>(cch);
    mbstate_t state{};
    const char *source = psz;
    if (!pwsz) {
        if (safe_mbsrtowcs(nullptr, &source, 0, &state) == static_cast<size_t>(-1)) {
            KV_TRACE_ERROR("call to safe_mbsrtowcs() failed");
            return FailWith(CRYPT_E_ASN1_ERROR);
        }
        return TRUE;
    }
    std::memset(pwsz, 0, cch * sizeof(wchar_t));
    safe_mbsrtowcs(pwsz, &source, cch, &state);
    *ppwsz = pwsz;
    return TRUE;
}

BOOL OtherName_Place(const GeneralName_otherName *otherName, FlatCursor *cursor,
                     CERT_OTHER_NAME **ppOtherName)
{
    CERT_OTHER_NAME *pOtherName = cursor->TakeArray<CERT_OTHER_NAME>(1);
    if (!ObjectIdentifier_Place(&otherName->type_id, cursor,
                                pOtherName ? &pOtherName->pszObjId : nullptr))
        return FALSE;
    Bytes_Place(otherName->value.data, otherName->value.numocts, cursor,
                pOtherName ? &pOtherName->Value : nullptr);
    if (ppOtherName) *ppOtherName = pOtherName;
    return TRUE;
}

// The DER of a decoded x400Address, directoryName or ediPartyName, kept on the context heap
// from the size step to the fill step.
template <auto Encoder, typename Value>
BOOL EncodedName_Encode(Asn1Context *ctx, Value *value, CRYPT_DATA_BLOB *pEncoding)
{
    return Asn1cObjectEncodeContextAlloc(ctx, value, EncodeAs<Encoder>, &pEncoding->pbData,
                                         &pEncoding->cbData);
}

BOOL EncodedName_Encode(Asn1Context *ctx, const GeneralName *name, CRYPT_DATA_BLOB *pEncoding)
{
    switch (name->t) {
    case CERT_ALT_NAME_X400_ADDRESS:
        return EncodedName_Encode<asn1E_ORAddress>(ctx, name->u.x400Address, pEncoding);
    case CERT_ALT_NAME_DIRECTORY_NAME:
        return EncodedName_Encode<asn1E_Name>(ctx, name->u.directoryName, pEncoding);
    case CERT_ALT_NAME_EDI_PARTY_NAME:
        return EncodedName_Encode<asn1E_EDIPartyName>(ctx, name->u.ediPartyName, pEncoding);
    default: // the other alternatives carry no DER
        return TRUE;
    }
}

// The data of one name at `cursor`. `entry` is null in the size step, which measures only.
BOOL GeneralName_Place(const GeneralName *name, FlatCursor *cursor,
                       const CRYPT_DATA_BLOB *pEncoding, CERT_ALT_NAME_ENTRY *entry)
{
    switch (name->t) {
    case CERT_ALT_NAME_OTHER_NAME:
        return OtherName_Place(name->u.otherName, cursor, entry ? &entry->pOtherName : nullptr);
    case CERT_ALT_NAME_RFC822_NAME:
        return IA5String_Place(name->u.rfc822Name, cursor,
                               entry ? &entry->pwszRfc822Name : nullptr);
    case CERT_ALT_NAME_DNS_NAME:
        return IA5String_Place(name->u.dNSName, cursor, entry ? &entry->pwszDNSName : nullptr);
    case CERT_ALT_NAME_URL:
        return IA5String_Place(name->u.uniformResourceIdentifier, cursor,
                               entry ? &entry->pwszURL : nullptr);
    case CERT_ALT_NAME_IP_ADDRESS:
        Bytes_Place(name->u.iPAddress->data, name->u.iPAddress->numocts, cursor,
                    entry ? &entry->IPAddress : nullptr);
        return TRUE;
    case CERT_ALT_NAME_REGISTERED_ID:
        return ObjectIdentifier_Place(name->u.registeredID, cursor,
                                      entry ? &entry->pszRegisteredID : nullptr);
    default: // x400Address, directoryName, ediPartyName: the DER the size step made
        Bytes_Place(pEncoding->pbData, pEncoding->cbData, cursor,
                    entry ? &entry->DirectoryName : nullptr);
        return TRUE;
    }
}

BOOL GeneralName_GetBufferSize(Asn1Context *ctx, const GeneralName *name, FlatCursor *cursor,
                               CRYPT_DATA_BLOB *pEncoding)
{
    if (!IsGeneralNameChoice(name->t)) {
        KV_TRACE_ERROR("unknown GeneralName choice value");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    if (!EncodedName_Encode(ctx, name, pEncoding)) return FALSE;
    return GeneralName_Place(name, cursor, pEncoding, nullptr);
}

BOOL GeneralName_FillBuffer(const GeneralName *name, CERT_ALT_NAME_ENTRY *entry, FlatCursor *cursor,
                            const CRYPT_DATA_BLOB *pEncoding)
{
    if (!IsGeneralNameChoice(name->t)) {
        KV_TRACE_ERROR("unknown GeneralName choice value");
        return FailWith(CRYPT_E_ASN1_ERROR);
    }
    std::memset(entry, 0, sizeof *entry);
    entry->dwAltNameChoice = name->t;
    return GeneralName_Place(name, cursor, pEncoding, entry);
}

} // namespace

BYTE *FlatCursor::Take(size_t cb, size_t alignment)
{
    offset = RoundUp(offset, alignment);
    BYTE *at = block ? block + offset : nullptr;
    offset = RoundUp(offset + cb, kItemAlignment);
    return at;
}

BOOL FillAsn1cEncodedObject(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded,
                            size_t cbValue, DecodeFun decodeFun, void **ppValue)
{
    void *value = ASN1MALLOCZ(ctx, cbValue);
    if (!value) {
        KV_TRACE_ERROR("ASN1MALLOCZ() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    if (!Asn1cObjectDecode(ctx, pbEncoded, cbEncoded, value, decodeFun)) return FALSE;
    *ppValue = value;
    return TRUE;
}

BOOL GeneralNames_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_INFO *pInfo,
                                  GeneralNames *names)
{
    if (!pInfo->cAltEntry) return TRUE;
    if (!pInfo->rgAltEntry) {
        KV_TRACE_ERROR("Malformed CERT_ALT_NAME_INFO");
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    for (DWORD i = 0; i < pInfo->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY *entry = &pInfo->rgAltEntry[i];
        auto *name = static_cast<GeneralName *>(rtDListNewNodeAndData(ctx, sizeof(GeneralName)));
        if (!name) {
            KV_TRACE_ERROR("ALLOC_ASN1ELEMDNODE() failed");
            return FailWith(NTE_NO_MEMORY);
        }
        if (!IsGeneralNameChoice(entry->dwAltNameChoice)) {
            KV_TRACE_ERROR("Unsupported dwAltNameChoice");
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        name->t = entry->dwAltNameChoice;
        if (!GeneralName_FillAsn1cObject(ctx, entry, name)) return FALSE;
        rtDListAppendNode(ctx, names, name);
    }
    return TRUE;
}

BOOL GeneralNames_GetBufferSize(Asn1Context *ctx, const GeneralNames *names, FlatCursor *cursor,
                                CRYPT_DATA_BLOB **ppEncodings)
{
    auto *encodings = static_cast<CRYPT_DATA_BLOB *>(
        ASN1MALLOCZ(ctx, size_t{names->count} * sizeof(CRYPT_DATA_BLOB)));
    if (!encodings) {
        KV_TRACE_ERROR("ASN1MALLOCZ() failed");
        return FailWith(NTE_NO_MEMORY);
    }
    cursor->TakeArray<CERT_ALT_NAME_ENTRY>(names->count);
    CRYPT_DATA_BLOB *pEncoding = encodings;
    for (const DListNode *node = names->head; node; node = node->next, ++pEncoding) {
        const auto *name = static_cast<const GeneralName *>(node->data);
        if (!GeneralName_GetBufferSize(ctx, name, cursor, pEncoding)) return FALSE;
    }
    *ppEncodings = encodings;
    return TRUE;
}

BOOL GeneralNames_FillBuffer(Asn1Context *, const GeneralNames *names, CERT_ALT_NAME_INFO *pInfo,
                             FlatCursor *cursor, const CRYPT_DATA_BLOB *encodings)
{
    pInfo->cAltEntry = names->count;
    pInfo->rgAltEntry = cursor->TakeArray<CERT_ALT_NAME_ENTRY>(names->count);
    CERT_ALT_NAME_ENTRY *entry = pInfo->rgAltEntry;
    const CRYPT_DATA_BLOB *pEncoding = encodings;
    for (const DListNode *node = names->head; node; node = node->next, ++entry, ++pEncoding) {
        const auto *name = static_cast<const GeneralName *>(node->data);
        if (!GeneralName_FillBuffer(name, entry, cursor, pEncoding)) return FALSE;
    }
    return TRUE;
}
