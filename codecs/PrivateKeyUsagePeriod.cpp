// PrivateKeyUsagePeriod ::= SEQUENCE {
//     notBefore  [0] GeneralizedTime OPTIONAL,
//     notAfter   [1] GeneralizedTime OPTIONAL }                    -- RFC 3280, 4.2.1.4
#include "codecs/PrivateKeyUsagePeriod.h"

#include "frame/EntryPoints.h"
#include "frame/FlatLayout.h"

#include <cstdio>

namespace {

constexpr unsigned kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    return kDaysPerMonth[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
}

} // namespace

BOOL FileTimeToAsn1cGeneralizedTime(Asn1Context *ctx, const FILETIME *pFileTime,
                                    const char **ppszTime)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(pFileTime, &st))
        return FailKeepingLastError(); // its own last error is the caller's answer
    Asn1DateTime dateTime{};
    dateTime.year = st.wYear;
    dateTime.month = st.wMonth;
    dateTime.day = st.wDay;
    dateTime.hour = st.wHour;
    dateTime.minute = st.wMinute;
    dateTime.second = st.wSecond;
    dateTime.utc = 1;
    char *pszTime = nullptr;
    const int status = rtMakeGeneralizedTime(ctx, &dateTime, &pszTime, 0);
    if (status != 0)
        return KV_FAIL(CRYPT_E_ASN1_ERROR, "call to rtMakeGeneralizedTime() failed, result = %d",
                       status);
    *ppszTime = pszTime;
    return TRUE;
}

// A day of the month past the month's end is carried once into the next month; the year
// never changes, so a December overflow gives month 13 and the parser decides.
int TryFixBadDate(Asn1Context *ctx, const char *const *ppszTime, Asn1DateTime *pDateTime)
{
    unsigned short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(*ppszTime, "%4hu%02hu%02hu%02hu%02hu%02hu", &year, &month, &day, &hour, &minute,
                &second);
    if (month < 1 || month > 12) return -1;
    const unsigned daysInMonth = DaysInMonth(year, month);
    if (day <= daysInMonth) return -1;
    // The scan widths keep every field within its digits; the remainders only say so.
    char repaired[16]; // YYYYMMDDHHMMSSZ and its terminator
    std::snprintf(repaired, sizeof repaired, "%4u%02u%02u%02u%02u%02uZ", year % 10000u,
                  (month + 1u) % 100u, (day - daysInMonth) % 100u, hour % 100u, minute % 100u,
                  second % 100u);
    return rtParseGeneralizedTime(ctx, repaired, pDateTime);
}

BOOL Asn1cGeneralizedTimeToFileTime(Asn1Context *ctx, const char *const *ppszTime,
                                    FILETIME *pFileTime)
{
    Asn1DateTime dateTime{};
    SYSTEMTIME st{};
    if (rtParseGeneralizedTime(ctx, *ppszTime, &dateTime) != 0) {
        const int status = TryFixBadDate(ctx, ppszTime, &dateTime);
        if (status != 0)
            return KV_FAIL(CRYPT_E_ASN1_ERROR,
                           "call to rtParseGeneralizedTime() failed, result = %d", status);
    }
    // The six fields are taken as UTC as they stand; fraction and offset are not applied.
    st.wYear = dateTime.year;
    st.wMonth = dateTime.month;
    st.wDay = dateTime.day;
    st.wHour = dateTime.hour;
    st.wMinute = dateTime.minute;
    st.wSecond = dateTime.second;
    if (!SystemTimeToFileTime(&st, pFileTime)) {
        KV_TRACE_ERROR("call to SystemTimeToFileTime() failed");
        return FailKeepingLastError();
    }
    return TRUE;
}

BOOL PrivateKeyUsagePeriod_FillAsn1cObject(Asn1Context *ctx, const void *pvStructInfo, void *value)
{
    const auto *period = static_cast<const KVCERT_PRIVATE_KEY_USAGE_PERIOD *>(pvStructInfo);
    auto *asn1Period = static_cast<PrivateKeyUsagePeriod *>(value);
    if (period->pNotBefore) {
        asn1Period->m.notBeforePresent = 1;
        if (!FileTimeToAsn1cGeneralizedTime(ctx, period->pNotBefore, &asn1Period->notBefore))
            return FALSE;
    }
    if (period->pNotAfter) {
        asn1Period->m.notAfterPresent = 1;
        if (!FileTimeToAsn1cGeneralizedTime(ctx, period->pNotAfter, &asn1Period->notAfter))
            return FALSE;
    }
    return TRUE;
}

// One FILETIME for a present bound, converted only when there is a block to hold it.
BOOL GeneralizedTime_Layout(Asn1Context *ctx, const char *const *ppszTime, FlatCursor *cursor,
                            FILETIME **ppFileTime)
{
    FILETIME *pFileTime = cursor->Take<FILETIME>();
    *ppFileTime = pFileTime;
    return !pFileTime || Asn1cGeneralizedTimeToFileTime(ctx, ppszTime, pFileTime);
}

// The structure, then one FILETIME per present bound, notBefore's first; no padding.
BOOL PrivateKeyUsagePeriod_Layout(Asn1Context *ctx, PrivateKeyUsagePeriod *asn1Period,
                                  FlatCursor *cursor)
{
    KVCERT_PRIVATE_KEY_USAGE_PERIOD scratch{};
    KVCERT_PRIVATE_KEY_USAGE_PERIOD &period =
        ElementOr(cursor->Take<KVCERT_PRIVATE_KEY_USAGE_PERIOD>(), 0, scratch);
    return (!asn1Period->m.notBeforePresent ||
            GeneralizedTime_Layout(ctx, &asn1Period->notBefore, cursor, &period.pNotBefore)) &&
           (!asn1Period->m.notAfterPresent ||
            GeneralizedTime_Layout(ctx, &asn1Period->notAfter, cursor, &period.pNotAfter));
}

KV_DEFINE_FLAT_RESULT_CALLBACKS(PrivateKeyUsagePeriod, PrivateKeyUsagePeriod_Layout)

KV_DEFINE_ENCODE_ENTRY_POINTS(PrivateKeyUsagePeriod, PrivateKeyUsagePeriod,
                              asn1E_PrivateKeyUsagePeriod, PrivateKeyUsagePeriod_FillAsn1cObject)
KV_DEFINE_DECODE_ENTRY_POINTS(PrivateKeyUsagePeriod, PrivateKeyUsagePeriod,
                              asn1D_PrivateKeyUsagePeriod, PrivateKeyUsagePeriod_GetBufferSize,
                              PrivateKeyUsagePeriod_FillBuffer)
