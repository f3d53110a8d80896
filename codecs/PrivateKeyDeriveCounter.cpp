// UecSymmetricKeyDeriveCounter ::= INTEGER (0..MAX), decoded into one DWORD.
#include "asn1/Asn1Types.h"
#include "frame/EntryPoints.h"

namespace {

BOOL PrivateKeyDeriveCounter_GetBufferSize(Asn1Context *, void *, DWORD *pcbStructInfo, void **)
{
    *pcbStructInfo = sizeof(DWORD);
    return TRUE;
}

// The frame always hands the size given above, so there is nothing to check.
BOOL PrivateKeyDeriveCounter_FillBuffer(Asn1Context *, void *value, void *pvBuffer, DWORD, void **)
{
    *static_cast<DWORD *>(pvBuffer) = *static_cast<const UecSymmetricKeyDeriveCounter *>(value);
    return TRUE;
}

} // namespace

KV_DEFINE_DECODE_ENTRY_POINTS(PrivateKeyDeriveCounter, UecSymmetricKeyDeriveCounter,
                              asn1D_UecSymmetricKeyDeriveCounter,
                              PrivateKeyDeriveCounter_GetBufferSize,
                              PrivateKeyDeriveCounter_FillBuffer)
