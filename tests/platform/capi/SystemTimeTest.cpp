#include "wintypes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

FILETIME MakeFileTime(uint64_t ticks)
{
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME &ft)
{
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

SYSTEMTIME MakeSystemTime(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0,
                          WORD second = 0, WORD ms = 0, WORD dayOfWeek = 0)
{
    return {year, month, dayOfWeek, day, hour, minute, second, ms};
}

std::string Show(const SYSTEMTIME &st)
{
    char text[64];
    std::snprintf(text, sizeof text, "%05u-%02u-%02u %02u:%02u:%02u.%03u dow %u", st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                  st.wDayOfWeek);
    return text;
}

// Reference points: the FILETIME epoch; the Unix epoch (the well-known 116444736000000000);
// a leap day with milliseconds; the largest convertible FILETIME, whose date and weekday are
// those Win32 documents for it; and the last SYSTEMTIME Win32 accepts. Ticks computed with
// Python's datetime, moved by whole 400-year cycles where its years end.
struct TimePoint {
    const char *name;
    uint64_t ticks;
    SYSTEMTIME utc; // with its day of week
};
const TimePoint kTimePoints[] = {
    {"fileTimeEpoch", 0, MakeSystemTime(1601, 1, 1, 0, 0, 0, 0, 1)},
    {"unixEpoch", 116444736000000000, MakeSystemTime(1970, 1, 1, 0, 0, 0, 0, 4)},
    {"leapDay2000", 125963012967890000, MakeSystemTime(2000, 2, 29, 12, 34, 56, 789, 2)},
    {"lastSystemTime", 0x7FFF35F4F06C58F0, MakeSystemTime(30827, 12, 31, 23, 59, 59, 999, 5)},
    {"largestFileTime", 0x7FFFFFFFFFFFFFF0, MakeSystemTime(30828, 9, 14, 2, 48, 5, 477, 4)},
};

TEST(FileTimeToSystemTime, KnownPoints)
{
    for (const TimePoint &point : kTimePoints) {
        SCOPED_TRACE(point.name);
        const FILETIME ft = MakeFileTime(point.ticks);
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(Show(point.utc), Show(st));
    }
}

TEST(FileTimeToSystemTime, DropsSubMillisecondTicks)
{
    const FILETIME ft = MakeFileTime(0x7FFFFFFFFFFFFFFF); // 477.5807 ms past the second
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(Show(MakeSystemTime(30828, 9, 14, 2, 48, 5, 477, 4)), Show(st));
}

TEST(FileTimeToSystemTime, TopBitSetFails)
{
    for (const uint64_t ticks : {UINT64_C(0x8000000000000000), UINT64_C(0xFFFFFFFFFFFFFFFF)}) {
        SCOPED_TRACE(ticks);
        const FILETIME ft = MakeFileTime(ticks);
        SYSTEMTIME st = MakeSystemTime(1, 2, 3);
        SetLastError(0);
        EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    }
}

TEST(SystemTimeToFileTime, KnownPoints)
{
    for (const TimePoint &point : kTimePoints) {
        if (point.utc.wYear > 30827) continue; // beyond the SYSTEMTIME range
        SCOPED_TRACE(point.name);
        SYSTEMTIME st = point.utc;
        st.wDayOfWeek = 6; // ignored on input
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
        EXPECT_EQ(point.ticks, Ticks(ft));
    }
}

TEST(SystemTimeToFileTime, FieldsOutOfRangeFail)
{
    const struct {
        const char *name;
        SYSTEMTIME st;
    } kInvalid[] = {
        {"year1600", MakeSystemTime(1600, 12, 31, 23, 59, 59, 999)},
        {"year30828", MakeSystemTime(30828, 1, 1)},
        {"month0", MakeSystemTime(2010, 0, 1)},
        {"month13", MakeSystemTime(2010, 13, 1)},
        {"day0", MakeSystemTime(2010, 1, 0)},
        {"january32", MakeSystemTime(2010, 1, 32)},
        {"april31", MakeSystemTime(2010, 4, 31)},
        {"february29NonLeap", MakeSystemTime(2010, 2, 29)},
        {"february29Century", MakeSystemTime(1900, 2, 29)},
        {"february30Leap", MakeSystemTime(2012, 2, 30)},
        {"hour24", MakeSystemTime(2010, 1, 1, 24)},
        {"minute60", MakeSystemTime(2010, 1, 1, 0, 60)},
        {"second60", MakeSystemTime(2010, 1, 1, 0, 0, 60)},
        {"ms1000", MakeSystemTime(2010, 1, 1, 0, 0, 0, 1000)},
    };
    for (const auto &row : kInvalid) {
        SCOPED_TRACE(row.name);
        FILETIME ft = {0xA5A5A5A5, 0xA5A5A5A5};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&row.st, &ft));
        EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
        EXPECT_EQ(0xA5A5A5A5A5A5A5A5u, Ticks(ft)); // output untouched
    }
}

// Every day from 1601 to 2500 and every 97th day up to the end of the FILETIME range, against
// the standard library's own proleptic Gregorian calendar (std::chrono).
TEST(SystemTimeConversions, AgreeWithChronoCalendar)
{
    using namespace std::chrono;
    constexpr uint64_t kTicksPerDay = UINT64_C(864000000000);
    const sys_days epoch = sys_days{year{1601} / January / 1};
    const uint64_t lastDay = UINT64_C(0x7FFFFFFFFFFFFFFF) / kTicksPerDay;
    const uint64_t denseDays =
        static_cast<uint64_t>((sys_days{year{2501} / January / 1} - epoch).count());
    for (uint64_t day = 0; day <= lastDay; day += day < denseDays ? 1 : 97) {
        const year_month_day expected{epoch + days{day}};
        const FILETIME ft = MakeFileTime(day * kTicksPerDay + 12 * 36000000000);
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << day;
        const SYSTEMTIME want = MakeSystemTime(
            static_cast<WORD>(int{expected.year()}), static_cast<WORD>(unsigned{expected.month()}),
            static_cast<WORD>(unsigned{expected.day()}), 12, 0, 0, 0,
            static_cast<WORD>(weekday{sys_days{expected}}.c_encoding()));
        ASSERT_EQ(Show(want), Show(st));
        if (st.wYear > 30827) continue;
        FILETIME again;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &again));
        ASSERT_EQ(Ticks(ft), Ticks(again));
    }
}

} // namespace
