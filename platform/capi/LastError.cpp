// The calling thread's last error. Only SetLastError changes it: a call that succeeds
// leaves whatever an earlier failure stored.
#include "wintypes.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

} // extern "C"
