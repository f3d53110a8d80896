// FILETIME <-> SYSTEMTIME in UTC with the ranges of the Win32 functions: a FILETIME
// converts while its top bit is clear (up to 30828-09-14 02:48:05.477), a SYSTEMTIME when
// every field is in range and its year lies in 1601..30827. The proleptic Gregorian
// calendar is used throughout, as Windows does.
#include "wintypes.h"

#include <cstdint>

namespace {

constexpr int64_t kTicksPerMillisecond = 10'000; // 100-ns ticks
constexpr int64_t kMillisecondsPerDay = 86'400'000;
constexpr WORD kFirstYear = 1601;
constexpr WORD kLastYear = 30827;
constexpr uint64_t kFirstInvalidFileTime = UINT64_C(1) << 63;

struct CivilDate {
    int64_t year;
    unsigned month; // 1..12
    unsigned day;   // 1..31
};

// Days since 1970-01-01 of a Gregorian date, and back (Howard Hinnant's "chrono-compatible
// low-level date algorithms"; exact for every date handled here).
constexpr int64_t DaysFromCivil(CivilDate date)
{
    const int64_t year = date.year - (date.month <= 2 ? 1 : 0);
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t monthFromMarch = date.month > 2 ? date.month - 3 : date.month + 9;
    const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + date.day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

constexpr CivilDate CivilFromDays(int64_t days)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr int64_t kFileTimeEpochDays = DaysFromCivil({kFirstYear, 1, 1});
static_assert(CivilFromDays(kFileTimeEpochDays).year == kFirstYear);

bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidSystemTime(const SYSTEMTIME &st)
{
    if (st.wYear < kFirstYear || st.wYear > kLastYear || st.wMonth < 1 || st.wMonth > 12)
        return false;
    if (st.wDay < 1 || st.wDay > DaysInMonth(st.wYear, st.wMonth)) return false;
    return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

BOOL FailInvalidParameter()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (!lpFileTime || !lpSystemTime) return FailInvalidParameter();
    const uint64_t ticks = (uint64_t{lpFileTime->dwHighDateTime} << 32) | lpFileTime->dwLowDateTime;
    if (ticks >= kFirstInvalidFileTime) return FailInvalidParameter();

    // Unsigned throughout: every value here is non-negative, and the time of day fits 32 bits.
    const uint64_t milliseconds = ticks / kTicksPerMillisecond;
    const uint64_t daysSince1601 = milliseconds / kMillisecondsPerDay;
    auto msOfDay = static_cast<uint32_t>(milliseconds - daysSince1601 * kMillisecondsPerDay);
    const CivilDate date = CivilFromDays(kFileTimeEpochDays + static_cast<int64_t>(daysSince1601));

    lpSystemTime->wYear = static_cast<WORD>(date.year);
    lpSystemTime->wMonth = static_cast<WORD>(date.month);
    lpSystemTime->wDay = static_cast<WORD>(date.day);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((daysSince1601 + 1) % 7); // 1601-01-01: Monday
    lpSystemTime->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
    msOfDay /= 1000;
    lpSystemTime->wSecond = static_cast<WORD>(msOfDay % 60);
    msOfDay /= 60;
    lpSystemTime->wMinute = static_cast<WORD>(msOfDay % 60);
    lpSystemTime->wHour = static_cast<WORD>(msOfDay / 60);
    return TRUE;
}

// wDayOfWeek is ignored, as Windows ignores it.
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime, LPFILETIME lpFileTime)
{
    if (!lpSystemTime || !lpFileTime || !IsValidSystemTime(*lpSystemTime))
        return FailInvalidParameter();
    const SYSTEMTIME &st = *lpSystemTime;
    const int64_t days = DaysFromCivil({st.wYear, st.wMonth, st.wDay}) - kFileTimeEpochDays;
    const int64_t milliseconds = days * kMillisecondsPerDay +
                                 ((int64_t{st.wHour} * 60 + st.wMinute) * 60 + st.wSecond) * 1000 +
                                 st.wMilliseconds;
    const auto ticks = static_cast<uint64_t>(milliseconds * kTicksPerMillisecond);
    lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

} // extern "C"
