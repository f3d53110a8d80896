#include "codecs/GeneralNames.h"
#include "frame/Trace.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

// ------------------------------------------------------------------ caller -> ASN.1 value
// The helpers report at the site of GeneralNames_FillAsn1cObject, which sees each failure.

// The wide string as IA5String text on the context heap, converted as the decoder reads it
// back (UTF-8), so that a name decoded from UTF-8 in an IA5String encodes to the same octets.
// The conversion is measured first and the block sized for it; a string that does not convert
// is refused rather than cut short.
BOOL IA5String_FillAsn1cObject(TraceSite site, Asn1Context *ctx, LPCWSTR pwsz, const char **ppsz)
{
    // Plain ASCII, the usual case, is its own UTF-8: narrowed and checked in one loop over a
    // known length, which the compiler vectorises; other text is converted again below.
    const size_t cch = std::wcslen(pwsz);
    auto *psz = static_cast<char *>(ContextAllocToWrite(site, ctx, cch + 1, "ASN1MALLOC() failed"));
    if (!psz) return FALSE;
    uint32_t bits = 0;
    for (size_t i = 0; i <= cch; ++i) { // the terminator included
        bits |= static_cast<uint32_t>(pwsz[i]);
        psz[i] = static_cast<char>(pwsz[i]);
    }
    if (bits < 0x80) {
        *ppsz = psz;
        return TRUE;
    }
    mbstate_t state{};
    const wchar_t *source = pwsz;
    const size_t cb = safe_wcsrtombs(nullptr, &source, 0, &state);
    if (cb == static_cast<size_t>(-1))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed CERT_ALT_NAME_INFO");
    psz = static_cast<char *>(ContextAllocToWrite(site, ctx, cb + 1, "ASN1MALLOC() failed"));
    if (!psz) return FALSE;
    state = mbstate_t{};
    source = pwsz;
    safe_wcsrtombs(psz, &source, cb + 1, &state);
    *ppsz = psz;
    return TRUE;
}

BOOL OtherName_FillAsn1cObject(TraceSite site, Asn1Context *ctx, const CERT_OTHER_NAME *pOtherName,
                               GeneralName *name)
{
    auto *otherName = ContextNew<GeneralName_otherName>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!otherName) return FALSE;
    if (!rtStrToOid(pOtherName->pszObjId, &otherName->type_id))
        return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "rtStrToOid() failed");
    otherName->value.numocts = pOtherName->Value.cbData;
    otherName->value.data = pOtherName->Value.pbData;
    name->u.otherName = otherName;
    return TRUE;
}

BOOL IPAddress_FillAsn1cObject(TraceSite site, Asn1Context *ctx, const CRYPT_DATA_BLOB *pAddress,
                               GeneralName *name)
{
    auto *address = ContextNew<ASN1DynOctStr>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!address) return FALSE;
    address->numocts = pAddress->cbData;
    address->data = pAddress->pbData;
    name->u.iPAddress = address;
    return TRUE;
}

BOOL RegisteredID_FillAsn1cObject(TraceSite site, Asn1Context *ctx, LPCSTR pszRegisteredID,
                                  GeneralName *name)
{
    auto *oid = ContextNew<ASN1OBJID>(site, ctx, "ALLOC_ASN1ELEM() failed");
    if (!oid) return FALSE;
    if (!rtStrToOid(pszRegisteredID, oid))
        return KV_FAIL_AT(site, CRYPT_E_ASN1_ERROR, "rtStrToOid() failed");
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

BOOL GeneralName_FillAsn1cObject(TraceSite site, Asn1Context *ctx, const CERT_ALT_NAME_ENTRY *entry,
                                 GeneralName *name)
{
    if (IsMissingData(entry))
        return KV_FAIL_AT(site, ERROR_INVALID_PARAMETER, "Malformed CERT_ALT_NAME_INFO");
    switch (entry->dwAltNameChoice) {
    case CERT_ALT_NAME_OTHER_NAME:
        return OtherName_FillAsn1cObject(site, ctx, entry->pOtherName, name);
    case CERT_ALT_NAME_RFC822_NAME:
        return IA5String_FillAsn1cObject(site, ctx, entry->pwszRfc822Name, &name->u.rfc822Name);
    case CERT_ALT_NAME_DNS_NAME:
        return IA5String_FillAsn1cObject(site, ctx, entry->pwszDNSName, &name->u.dNSName);
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
        return IA5String_FillAsn1cObject(site, ctx, entry->pwszURL,
                                         &name->u.uniformResourceIdentifier);
    case CERT_ALT_NAME_IP_ADDRESS:
        return IPAddress_FillAsn1cObject(site, ctx, &entry->IPAddress, name);
    default:
        return RegisteredID_FillAsn1cObject(site, ctx, entry->pszRegisteredID, name);
    }
}

bool IsGeneralNameChoice(DWORD choice)
{
    return choice >= T_GeneralName_otherName && choice <= T_GeneralName_registeredID;
}

// ------------------------------------------------------------------ ASN.1 value -> flat result

// Dotted text of `oid` and its NUL; written only when there is a block.
BOOL ObjectIdentifier_Layout(const ASN1OBJID *oid, FlatCursor *cursor, LPSTR *ppsz)
{
    const size_t cb = rtOidToStrLen(oid) + 1;
    char *psz = reinterpret_cast<char *>(TakeItemToWrite(cursor, cb)); // text and NUL fill it
    if (psz && !rtOidToStr(oid, psz, cb))
        return KV_FAIL_AT(cursor->site, CRYPT_E_ASN1_ERROR, "rtOidToStr() failed");
    *ppsz = psz;
    return TRUE;
}

// A copy of `cb` bytes; the blob points at its place even when it is empty.
void Bytes_Layout(const BYTE *pb, DWORD cb, FlatCursor *cursor, CRYPT_DATA_BLOB *pBlob)
{
    BYTE *at = TakeItemToWrite(cursor, cb);
    if (!at) return;
    if (cb) std::memcpy(at, pb, cb);
    *pBlob = {cb, at};
}

// Whether the `cch` octets at `psz` are all ASCII, read eight at a time.
bool IsAscii(const char *psz, size_t cch)
{
    uint64_t bits = 0;
    size_t i = 0;
    for (; i + sizeof bits <= cch; i += sizeof bits) {
        uint64_t word;
        std::memcpy(&word, psz + i, sizeof word);
        bits |= word;
    }
    for (; i < cch; ++i)
        bits |= static_cast<unsigned char>(psz[i]);
    return (bits & 0x8080808080808080) == 0;
}

// The decoded IA5String as a wide string in 4 × (bytes + 1) bytes: room for one character
// per byte and the NUL. Text that is not valid UTF-8 (and so not IA5 either) is refused while
// measuring, before any block is handed out, instead of coming back cut short; the room past
// the NUL of a UTF-8 text that needed fewer characters stays zero.
BOOL IA5String_Layout(const char *psz, FlatCursor *cursor, LPWSTR *ppwsz)
{
    const size_t cch = std::strlen(psz) + 1;
    const size_t cb = cch * sizeof(wchar_t);
    auto *pwsz = reinterpret_cast<wchar_t *>(TakeItemToWrite(cursor, cb));
    mbstate_t state{};
    const char *source = psz;
    if (!pwsz) {
        if (!IsAscii(psz, cch) &&
            safe_mbsrtowcs(nullptr, &source, 0, &state) == static_cast<size_t>(-1))
            return KV_FAIL_AT(cursor->site, CRYPT_E_ASN1_ERROR, "call to safe_mbsrtowcs() failed");
        return TRUE;
    }
    // Plain ASCII, the usual case, needs no checking conversion: it is widened as it stands,
    // checked in the same loop, and fills its room. Other text is converted again into room
    // cleared first, since it may end before the room does.
    unsigned bits = 0;
    for (size_t i = 0; i < cch; ++i) { // the terminator included
        bits |= static_cast<unsigned char>(psz[i]);
        pwsz[i] = static_cast<unsigned char>(psz[i]);
    }
    if (bits >= 0x80) {
        std::memset(pwsz, 0, cb);
        safe_mbsrtowcs(pwsz, &source, cch, &state);
    }
    *ppwsz = pwsz;
    return TRUE;
}

BOOL OtherName_Layout(const GeneralName_otherName *otherName, FlatCursor *cursor,
                      CERT_OTHER_NAME **ppOtherName)
{
    CERT_OTHER_NAME scratch{};
    CERT_OTHER_NAME *pOtherName = TakeItems<CERT_OTHER_NAME>(cursor, 1);
    *ppOtherName = pOtherName;
    CERT_OTHER_NAME &out = ElementOr(pOtherName, 0, scratch);
    if (!ObjectIdentifier_Layout(&otherName->type_id, cursor, &out.pszObjId)) return FALSE;
    Bytes_Layout(otherName->value.data, otherName->value.numocts, cursor, &out.Value);
    return TRUE;
}

// The DER of a decoded x400Address, directoryName or ediPartyName, on the context heap.
template <auto Encoder, typename Value>
BOOL EncodedName_Layout(Asn1Context *ctx, Value *value, FlatCursor *cursor, CRYPT_DATA_BLOB *pBlob)
{
    CRYPT_DATA_BLOB encoding{};
    if (!Asn1cObjectEncodeContextAlloc(ctx, value, EncodeAs<Encoder>, &encoding.pbData,
                                       &encoding.cbData))
        return FALSE;
    Bytes_Layout(encoding.pbData, encoding.cbData, cursor, pBlob);
    return TRUE;
}

// The choice and the data of one name.
BOOL GeneralName_Layout(Asn1Context *ctx, const GeneralName *name, CERT_ALT_NAME_ENTRY *entry,
                        FlatCursor *cursor)
{
    entry->dwAltNameChoice = name->t;
    switch (name->t) {
    case T_GeneralName_otherName:
        return OtherName_Layout(name->u.otherName, cursor, &entry->pOtherName);
    case T_GeneralName_rfc822Name:
        return IA5String_Layout(name->u.rfc822Name, cursor, &entry->pwszRfc822Name);
    case T_GeneralName_dNSName:
        return IA5String_Layout(name->u.dNSName, cursor, &entry->pwszDNSName);
    case T_GeneralName_x400Address:
        return EncodedName_Layout<asn1E_ORAddress>(ctx, name->u.x400Address, cursor,
                                                   &entry->DirectoryName);
    case T_GeneralName_directoryName:
        return EncodedName_Layout<asn1E_Name>(ctx, name->u.directoryName, cursor,
                                              &entry->DirectoryName);
    case T_GeneralName_ediPartyName:
        return EncodedName_Layout<asn1E_EDIPartyName>(ctx, name->u.ediPartyName, cursor,
                                                      &entry->DirectoryName);
    case T_GeneralName_uniformResourceIdentifier:
        return IA5String_Layout(name->u.uniformResourceIdentifier, cursor, &entry->pwszURL);
    case T_GeneralName_iPAddress:
        Bytes_Layout(name->u.iPAddress->data, name->u.iPAddress->numocts, cursor,
                     &entry->IPAddress);
        return TRUE;
    case T_GeneralName_registeredID:
        return ObjectIdentifier_Layout(name->u.registeredID, cursor, &entry->pszRegisteredID);
    default:
        return KV_FAIL_AT(cursor->site, CRYPT_E_ASN1_ERROR, "unknown GeneralName choice value");
    }
}

} // namespace

BYTE *TakeItem(FlatCursor *cursor, size_t cb, size_t alignment)
{
    BYTE *at = cursor->Take(cb, std::max(kItemAlignment, alignment));
    cursor->Align(kItemAlignment);
    return at;
}

BYTE *TakeItemToWrite(FlatCursor *cursor, size_t cb)
{
    BYTE *at = cursor->TakeToWrite(cb, kItemAlignment);
    cursor->Align(kItemAlignment);
    return at;
}

BOOL FillAsn1cEncodedObject(Asn1Context *ctx, const BYTE *pbEncoded, DWORD cbEncoded,
                            size_t cbValue, DecodeFun decodeFun, void **ppValue)
{
    void *value = ContextAlloc(KV_HERE, ctx, cbValue, "ASN1MALLOCZ() failed");
    if (!value) return FALSE;
    if (!Asn1cObjectDecode(ctx, pbEncoded, cbEncoded, value, decodeFun)) return FALSE;
    *ppValue = value;
    return TRUE;
}

BOOL GeneralNames_FillAsn1cObject(Asn1Context *ctx, const CERT_ALT_NAME_INFO *pInfo,
                                  GeneralNames *names)
{
    if (!pInfo->cAltEntry) return TRUE;
    if (!pInfo->rgAltEntry) return KV_FAIL(ERROR_INVALID_PARAMETER, "Malformed CERT_ALT_NAME_INFO");
    for (DWORD i = 0; i < pInfo->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY *entry = &pInfo->rgAltEntry[i];
        auto *name = NewListElement<GeneralName>(KV_HERE, ctx);
        if (!name) return FALSE;
        if (!IsGeneralNameChoice(entry->dwAltNameChoice))
            return KV_FAIL(ERROR_INVALID_PARAMETER, "Unsupported dwAltNameChoice");
        name->t = entry->dwAltNameChoice;
        if (!GeneralName_FillAsn1cObject(KV_HERE, ctx, entry, name)) return FALSE;
        rtDListAppendNode(ctx, names, name);
    }
    return TRUE;
}

BOOL GeneralNames_Layout(Asn1Context *ctx, const GeneralNames *names, CERT_ALT_NAME_INFO *pInfo,
                         FlatCursor *cursor)
{
    pInfo->cAltEntry = names->count;
    pInfo->rgAltEntry = TakeItems<CERT_ALT_NAME_ENTRY>(cursor, names->count);
    CERT_ALT_NAME_ENTRY scratch{};
    size_t index = 0;
    for (const DListNode *node = names->head; node; node = node->next, ++index) {
        const auto *name = static_cast<const GeneralName *>(node->data);
        if (!GeneralName_Layout(ctx, name, &ElementOr(pInfo->rgAltEntry, index, scratch), cursor))
            return FALSE;
    }
    return TRUE;
}
