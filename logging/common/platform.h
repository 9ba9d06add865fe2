#pragma once

// The few operating-system facts the line builder and the manager need, behind plain
// functions so that the code using them needs no <windows.h>.

#include <cstdint>
#include <string>

namespace Logging {
namespace Platform {

// A local calendar time with milliseconds.
struct LocalTime {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};

LocalTime LocalNow();

// Minutes east of UTC, from the local and UTC calendar times of one instant.
int32_t LocalUtcOffsetMinutes();

uint64_t CurrentThreadId();
uint32_t CurrentProcessId();

// The executable's file name without folder and extension ("hostprobe").
std::string ExecutableBaseName();

// The directory of the running executable, without a trailing "\" (empty when unknown).
std::string ExecutableDirectory();

// A monotonic clock in milliseconds, for durations.
uint64_t MonotonicMilliseconds();

// One call of the debugger output.
void DebugOutput(const char* text);

// A 32-bit random number (never used for security).
uint32_t RandomNumber();

}  // namespace Platform
}  // namespace Logging
