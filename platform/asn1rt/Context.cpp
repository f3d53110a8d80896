// The per-call context and its error record.
#include "Internal.h"

#include <cstdio>
#include <cstring>

extern "C" int rtInitContext(Asn1Context *pctxt, void *pMemHeap)
{
    if (!pctxt || pMemHeap) return ASN_E_INVPARAM;
    // The caller zero-fills the record; the fields the runtime reads before writing them are
    // set again all the same, which is cheaper than clearing the error texts a second time.
    pctxt->buffer = Asn1DecodeBuffer{};
    pctxt->ebuf = Asn1EncodeBuffer{};
    pctxt->errInfo.status = ASN_OK;
    pctxt->errInfo.module = nullptr;
    pctxt->errInfo.lineno = 0;
    pctxt->errInfo.parmcount = 0;
    pctxt->depth = 0;
    pctxt->pMemHeap = asn1rt::NewHeap();
    return pctxt->pMemHeap ? ASN_OK : ASN_E_NOMEM;
}

extern "C" void rtFreeContext(Asn1Context *pctxt)
{
    if (!pctxt) return;
    xe_free(pctxt);
    asn1rt::DeleteHeap(pctxt->pMemHeap);
    // Nothing left points into the released heap or buffer.
    pctxt->pMemHeap = nullptr;
    pctxt->buffer = Asn1DecodeBuffer{};
}

extern "C" int rtErrSetData(Asn1ErrInfo *pErrInfo, int status, const char *module, int lineno)
{
    if (pErrInfo) {
        pErrInfo->status = status;
        pErrInfo->module = module;
        pErrInfo->lineno = lineno;
    }
    return status;
}

extern "C" int rtErrReset(Asn1ErrInfo *pErrInfo)
{
    if (pErrInfo) std::memset(pErrInfo, 0, sizeof *pErrInfo);
    return ASN_OK;
}

extern "C" int rtErrAddStrParm(Asn1ErrInfo *pErrInfo, const char *text)
{
    if (!pErrInfo || !text) return ASN_E_INVPARAM;
    if (pErrInfo->parmcount >= ASN_K_MAXERRP) return ASN_E_STROVFLW;
    char *slot = pErrInfo->parms[pErrInfo->parmcount++];
    std::snprintf(slot, sizeof pErrInfo->parms[0], "%s", text);
    return ASN_OK;
}

extern "C" int rtErrAddIntParm(Asn1ErrInfo *pErrInfo, int value)
{
    char text[16]; // "-2147483648" and the terminator
    std::snprintf(text, sizeof text, "%d", value);
    return rtErrAddStrParm(pErrInfo, text);
}

extern "C" int xu_addTagErrParm(Asn1ErrInfo *pErrInfo, ASN1TAG tag)
{
    static const char *const kClassNames[] = {"UNIVERSAL", "APPLICATION", "CONTEXT", "PRIVATE"};
    char text[32]; // "[APPLICATION 536870911]" and the terminator
    std::snprintf(text, sizeof text, "[%s %u]", kClassNames[tag >> 30],
                  static_cast<unsigned>(tag & TM_IDCODE));
    return rtErrAddStrParm(pErrInfo, text);
}
