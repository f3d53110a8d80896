#include "common/FileTest.h"
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

std::string Show(const SYSTEMTIME &st)
{
    char text[64];
    std::snprintf(text, sizeof text, "%u-%02u-%02u %02u:%02u:%02u.%03u dow %u", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
    return text;
}

SYSTEMTIME Parse(const std::string &text)
{
    SYSTEMTIME st{};
    EXPECT_EQ(8, std::sscanf(text.c_str(), "%hu-%hu-%hu %hu:%hu:%hu.%hu dow %hu", &st.wYear,
                             &st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond,
                             &st.wMilliseconds, &st.wDayOfWeek));
    return st;
}

// The cases of tests/data/capi/system_time.txt, in each direction they give.
TEST(SystemTimeConversions, KnownPointsAndRefusals)
{
    for (const kvtest::FileCase &c : kvtest::ReadFileCases("capi/system_time.txt")) {
        SCOPED_TRACE(c.where);
        const DWORD error = static_cast<DWORD>(c.Number("Error", "0"));
        const uint64_t ticks = std::stoull(c.Get("Ticks", "0"), nullptr, 0);
        if (c.Has("Ticks")) {
            const FILETIME ft = MakeFileTime(ticks);
            SYSTEMTIME st{};
            SetLastError(0);
            EXPECT_EQ(error == 0, FileTimeToSystemTime(&ft, &st) != FALSE);
            EXPECT_EQ(error, GetLastError());
            EXPECT_EQ(c.Get("Utc", ""), error ? "" : Show(st));
        }
        SYSTEMTIME st = c.Has("Utc") ? Parse(c.Get("Utc")) : SYSTEMTIME{};
        if (!c.Has("Utc") || (st.wYear > 30827 && error == 0)) continue;
        st.wDayOfWeek = 6; // ignored on input
        FILETIME ft = {0xA5A5A5A5, 0xA5A5A5A5};
        SetLastError(0);
        EXPECT_EQ(error == 0, SystemTimeToFileTime(&st, &ft) != FALSE);
        EXPECT_EQ(error == 0 ? ticks : 0xA5A5A5A5A5A5A5A5u, Ticks(ft)); // untouched on failure
        EXPECT_EQ(error, GetLastError());
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
        char want[64];
        std::snprintf(want, sizeof want, "%d-%02u-%02u 12:00:00.000 dow %u", int{expected.year()},
                      unsigned{expected.month()}, unsigned{expected.day()},
                      weekday{sys_days{expected}}.c_encoding());
        ASSERT_EQ(want, Show(st));
        if (st.wYear > 30827) continue;
        FILETIME again;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &again));
        ASSERT_EQ(Ticks(ft), Ticks(again));
    }
}

} // namespace
