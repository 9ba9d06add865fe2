#include "logging/common/local_clock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

namespace {

using namespace Logging::Platform;

uint64_t Ticks(const SYSTEMTIME& time) {
    FILETIME file;
    EXPECT_TRUE(::SystemTimeToFileTime(&time, &file));
    return static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime;
}

uint64_t Ticks(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(millisecond);
    return Ticks(time);
}

auto Fields(const LocalTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

auto Fields(const SYSTEMTIME& t) {
    return std::make_tuple(static_cast<int32_t>(t.wYear), static_cast<int32_t>(t.wMonth), static_cast<int32_t>(t.wDay),
                           static_cast<int32_t>(t.wHour), static_cast<int32_t>(t.wMinute),
                           static_cast<int32_t>(t.wSecond), static_cast<int32_t>(t.wMilliseconds));
}

TEST(CalendarTime, AgreesWithTheSystemAtTheEdgesOfDaysMonthsAndLeapYears) {
    const SYSTEMTIME edges[] = {
        {1601, 1, 1, 1, 0, 0, 0, 0},        {1900, 2, 3, 28, 23, 59, 59, 999},  {1900, 3, 4, 1, 0, 0, 0, 0},
        {2000, 2, 2, 29, 12, 0, 0, 1},      {2000, 12, 0, 31, 23, 59, 59, 999}, {2024, 2, 4, 29, 23, 59, 59, 999},
        {2024, 3, 5, 5, 14, 7, 9, 42},      {2100, 2, 0, 28, 23, 59, 59, 999},  {2100, 3, 1, 1, 0, 0, 0, 0},
        {9999, 12, 5, 31, 23, 59, 59, 999},
    };
    for (const SYSTEMTIME& edge : edges) {
        EXPECT_EQ(Fields(CalendarTime(Ticks(edge))), Fields(edge)) << edge.wYear << "-" << edge.wMonth;
    }
    // Every 18 hours or so over four centuries, at odd sub-millisecond remainders.
    uint64_t ticks = 0;
    for (int i = 0; i < 200000; ++i) {
        ticks += 18 * 3600 * kTicksPerSecond + 12345679;
        FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME expected;
        ASSERT_TRUE(::FileTimeToSystemTime(&file, &expected));
        ASSERT_EQ(Fields(CalendarTime(ticks)), Fields(expected)) << ticks;
    }
}

// A clock the test moves, and a zone whose offset it switches; the zone counts its readings.
uint64_t g_utc = 0;
int32_t g_offsetSeconds = 0;
int g_offsetReadings = 0;

uint64_t FakeUtc() {
    return g_utc;
}

int32_t FakeOffset(uint64_t) {
    ++g_offsetReadings;
    return g_offsetSeconds;
}

TEST(LocalClock, TheOffsetIsReadOncePerUtcMinuteAndTheDateFollowsTheLocalMidnight) {
    LocalClock clock(FakeUtc, FakeOffset);
    g_offsetReadings = 0;
    struct Step {
        uint64_t utc;
        int32_t offsetSeconds;  // what the zone says at this step
        int readings;           // offset readings so far
        LocalTime local;
    };
    const Step steps[] = {
        {Ticks(2024, 3, 5, 21, 59, 59, 998), 7200, 1, {2024, 3, 5, 23, 59, 59, 998}},
        // The same UTC minute: the kept offset, even though the zone has changed meanwhile.
        {Ticks(2024, 3, 5, 21, 59, 59, 999), 3600, 1, {2024, 3, 5, 23, 59, 59, 999}},
        // The next minute reads the zone again: local midnight passes and the date moves on.
        {Ticks(2024, 3, 5, 22, 0, 0, 0), 7200, 2, {2024, 3, 6, 0, 0, 0, 0}},
        {Ticks(2024, 3, 5, 22, 0, 59, 999), 7200, 2, {2024, 3, 6, 0, 0, 59, 999}},
        // A daylight-saving switch at a minute's start is seen at once.
        {Ticks(2024, 3, 5, 22, 1, 0, 0), 10800, 3, {2024, 3, 6, 1, 1, 0, 0}},
        // A clock set back to an earlier minute is a different minute too.
        {Ticks(2024, 3, 5, 22, 0, 30, 0), 7200, 4, {2024, 3, 6, 0, 0, 30, 0}},
        // West of UTC across the end of a leap year.
        {Ticks(2025, 1, 1, 4, 59, 0, 5), -5 * 3600, 5, {2024, 12, 31, 23, 59, 0, 5}},
        {Ticks(2025, 1, 1, 5, 0, 0, 0), -5 * 3600, 6, {2025, 1, 1, 0, 0, 0, 0}},
        // Zones a half or three quarters of an hour off.
        {Ticks(2024, 6, 30, 18, 29, 0, 0), 5 * 3600 + 1800, 7, {2024, 6, 30, 23, 59, 0, 0}},
        {Ticks(2024, 6, 30, 11, 15, 0, 0), 12 * 3600 + 2700, 8, {2024, 7, 1, 0, 0, 0, 0}},
    };
    for (const Step& step : steps) {
        g_utc = step.utc;
        g_offsetSeconds = step.offsetSeconds;
        const LocalTime local = clock.Now();
        EXPECT_EQ(Fields(local), Fields(step.local)) << step.local.hour << ":" << step.local.minute;
        EXPECT_EQ(g_offsetReadings, step.readings) << step.local.hour << ":" << step.local.minute;
    }
}

// The system clock: the result lies between two readings of GetLocalTime around it, give or
// take the coarser clock's step.
TEST(LocalClock, TheSystemClockAgreesWithGetLocalTime) {
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    const LocalTime now = Logging::Platform::LocalNow();
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    const uint64_t nowTicks = Ticks(now.year, now.month, now.day, now.hour, now.minute, now.second, now.millisecond);
    const uint64_t slack = 100 * 10000;  // 100 ms
    EXPECT_GE(nowTicks + slack, Ticks(before));
    EXPECT_LE(nowTicks, Ticks(after) + slack);
}

}  // namespace
