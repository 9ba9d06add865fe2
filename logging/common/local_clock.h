#pragma once

// Local calendar time from the UTC clock and the local offset. Asking the system for local
// time looks up the time zone on every call, which is most of a log record's cost for its
// timestamp; the offset is therefore kept for the UTC minute in which it was read. Zone
// offsets are whole minutes, so a change of offset (a daylight-saving switch) falls on the
// start of a UTC minute and is seen from the first reading in that minute on.

#include <atomic>
#include <cstdint>

#include "logging/common/platform.h"

namespace Logging {
namespace Platform {

// FILETIME ticks: 100 ns since 1601-01-01 00:00.
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicksPerMinute = 60 * kTicksPerSecond;

// The calendar fields of an instant in ticks, the milliseconds truncated.
LocalTime CalendarTime(uint64_t ticks);

class LocalClock {
public:
    // The UTC time now, in ticks.
    using UtcSource = uint64_t (*)();
    // Local time minus UTC at the UTC instant given, in seconds.
    using OffsetSource = int32_t (*)(uint64_t utcTicks);

    constexpr LocalClock(UtcSource utcNow, OffsetSource localOffset) noexcept
        : utcNow_(utcNow), localOffset_(localOffset) {}
    LocalClock(const LocalClock&) = delete;
    LocalClock& operator=(const LocalClock&) = delete;

    LocalTime Now();

private:
    UtcSource utcNow_;
    OffsetSource localOffset_;
    // One word, so that threads read minute and offset together without a lock: the UTC
    // minute plus one in the upper half (0 before the first reading), the offset in seconds
    // in the lower half.
    std::atomic<uint64_t> cached_{0};
};

}  // namespace Platform
}  // namespace Logging
