// UecSymmetricKeyDeriveCounter ::= INTEGER (0..MAX), decoded into one DWORD.
#include "asn1/Asn1Types.h"
#include "frame/EntryPoints.h"
#include "frame/FlatLayout.h"

namespace {

BOOL PrivateKeyDeriveCounter_Layout(Asn1Context *, UecSymmetricKeyDeriveCounter *counter,
                                    FlatCursor *cursor)
{
    if (DWORD *pdwCounter = cursor->Take<DWORD>()) *pdwCounter = *counter;
    return TRUE;
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(PrivateKeyDeriveCounter, PrivateKeyDeriveCounter_Layout)

} // namespace

KV_DEFINE_DECODE_ENTRY_POINTS(PrivateKeyDeriveCounter, UecSymmetricKeyDeriveCounter,
                              asn1D_UecSymmetricKeyDeriveCounter,
                              PrivateKeyDeriveCounter_GetBufferSize,
                              PrivateKeyDeriveCounter_FillBuffer)
