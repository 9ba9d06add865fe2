#include "logging/common/local_clock.h"

namespace Logging {
namespace Platform {

namespace {

constexpr uint64_t kTicksPerDay = 24 * 60 * kTicksPerMinute;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysBefore1970 = 134774;

}  // namespace

LocalTime CalendarTime(uint64_t ticks) {
    const uint64_t inDay = ticks % kTicksPerDay;
    // The civil date of a day count (H. Hinnant's algorithm): eras of 400 years starting on
    // 1 March, so that the leap day ends a year.
    const int64_t days = static_cast<int64_t>(ticks / kTicksPerDay) - kDaysBefore1970 + 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    LocalTime time;
    time.day = static_cast<int32_t>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    time.month = static_cast<int32_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    time.year = static_cast<int32_t>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
    time.hour = static_cast<int32_t>(inDay / (60 * kTicksPerMinute));
    time.minute = static_cast<int32_t>(inDay / kTicksPerMinute % 60);
    time.second = static_cast<int32_t>(inDay / kTicksPerSecond % 60);
    time.millisecond = static_cast<int32_t>(inDay / 10000 % 1000);
    return time;
}

LocalTime LocalClock::Now() {
    const uint64_t utc = utcNow_();
    const uint64_t minuteKey = utc / kTicksPerMinute + 1;
    uint64_t cached = cached_.load(std::memory_order_relaxed);
    if (cached >> 32 != minuteKey) {
        const int32_t offset = localOffset_(utc);
        cached = minuteKey << 32 | static_cast<uint32_t>(offset);
        cached_.store(cached, std::memory_order_relaxed);
    }
    const int64_t offsetTicks =
        static_cast<int64_t>(static_cast<int32_t>(cached & 0xFFFFFFFF)) * static_cast<int64_t>(kTicksPerSecond);
    const int64_t local = static_cast<int64_t>(utc) + offsetTicks;
    return CalendarTime(local > 0 ? static_cast<uint64_t>(local) : 0);
}

}  // namespace Platform
}  // namespace Logging
