/*
 * Win32 base types, error codes and the Win32-style services (last error, time and
 * character-set conversion) that come with CryptoAPI on this platform. Layouts and
 * values are Microsoft's published ones; DWORD is 32 bits and wchar_t 4 bytes.
 */
#ifndef KV_WINTYPES_H
#define KV_WINTYPES_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WINAPI
#define WINAPI
#endif

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t HRESULT;
typedef uintptr_t ULONG_PTR;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef void *LPVOID, *PVOID;
typedef const void *LPCVOID;
typedef BYTE *PBYTE, *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef DWORD *PDWORD, *LPDWORD;
typedef BOOL *PBOOL, *LPBOOL;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* 100-nanosecond intervals since 1601-01-01 00:00:00 UTC. */
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

/* Win32 error codes. */
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_FAULT 29L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_MORE_DATA 234L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADDB 1009L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

/* Provider and CryptoAPI codes (HRESULTs stored as the last error). */
#define E_OUTOFMEMORY ((DWORD)0x8007000EL)
#define E_INVALIDARG ((DWORD)0x80070057L)
#define NTE_BAD_UID ((DWORD)0x80090001L)
#define NTE_BAD_HASH ((DWORD)0x80090002L)
#define NTE_BAD_KEY ((DWORD)0x80090003L)
#define NTE_BAD_LEN ((DWORD)0x80090004L)
#define NTE_BAD_DATA ((DWORD)0x80090005L)
#define NTE_BAD_SIGNATURE ((DWORD)0x80090006L)
#define NTE_BAD_VER ((DWORD)0x80090007L)
#define NTE_BAD_ALGID ((DWORD)0x80090008L)
#define NTE_BAD_FLAGS ((DWORD)0x80090009L)
#define NTE_BAD_TYPE ((DWORD)0x8009000AL)
#define NTE_BAD_KEY_STATE ((DWORD)0x8009000BL)
#define NTE_BAD_HASH_STATE ((DWORD)0x8009000CL)
#define NTE_NO_KEY ((DWORD)0x8009000DL)
#define NTE_NO_MEMORY ((DWORD)0x8009000EL)
#define NTE_EXISTS ((DWORD)0x8009000FL)
#define NTE_PERM ((DWORD)0x80090010L)
#define NTE_NOT_FOUND ((DWORD)0x80090011L)
#define NTE_BAD_PROVIDER ((DWORD)0x80090013L)
#define NTE_BAD_PROV_TYPE ((DWORD)0x80090014L)
#define NTE_BAD_KEYSET ((DWORD)0x80090016L)
#define NTE_PROV_TYPE_NOT_DEF ((DWORD)0x80090017L)
#define NTE_BAD_KEYSET_PARAM ((DWORD)0x8009001FL)
#define NTE_FAIL ((DWORD)0x80090020L)
#define CRYPT_E_UNKNOWN_ALGO ((DWORD)0x80091002L)
#define CRYPT_E_BAD_ENCODE ((DWORD)0x80092002L)
#define CRYPT_E_NOT_FOUND ((DWORD)0x80092004L)
#define CRYPT_E_ISSUER_SERIALNUMBER ((DWORD)0x8009100DL)
#define CRYPT_E_ASN1_ERROR ((DWORD)0x80093100L)
#define CRYPT_E_ASN1_INTERNAL ((DWORD)0x80093101L)
#define CRYPT_E_ASN1_EOD ((DWORD)0x80093102L)
#define CRYPT_E_ASN1_CORRUPT ((DWORD)0x80093103L)
#define CRYPT_E_ASN1_LARGE ((DWORD)0x80093104L)
#define CRYPT_E_ASN1_CONSTRAINT ((DWORD)0x80093105L)
#define CRYPT_E_ASN1_MEMORY ((DWORD)0x80093106L)
#define CRYPT_E_ASN1_BADTAG ((DWORD)0x8009310BL)

/* Code pages and conversion flags. */
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080

/* The last error is kept per thread and never cleared by a successful call. */
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

/* UTC conversions with Windows' ranges: a FILETIME below 0x8000000000000000 converts,
 * a SYSTEMTIME converts when its fields are valid and the year lies in 1601..30827. */
BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime);
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime, LPFILETIME lpFileTime);

/* CP_UTF8 only. cbMultiByte / cchWideChar of -1 means zero-terminated input (the terminator
 * is converted and counted); a zero output size asks for the size. */
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);

#ifdef __cplusplus
}
#endif

#endif
