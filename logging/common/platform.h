#pragma once

// The few operating-system facts the line builder and the manager need, behind plain
// functions so that the code using them needs no <windows.h>.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The names of the files (not folders) of `directory` that match `pattern` ("*.config"), in the
// order the directory lists them.
std::vector<std::string> ListFiles(const std::string& directory, const char* pattern);

// Text in the ANSI code page, in which the library's narrow names and paths are (as the
// runtime's file calls read them); a character the code page lacks becomes "?".
std::string ToAnsi(std::wstring_view text);

// A monotonic clock in milliseconds, for durations.
uint64_t MonotonicMilliseconds();

// One call of the debugger output.
void DebugOutput(const char* text);

// A 32-bit random number (never used for security).
uint32_t RandomNumber();

}  // namespace Platform
}  // namespace Logging
