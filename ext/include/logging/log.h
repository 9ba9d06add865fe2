#pragma once

// The client logging call: a printf-style message with its level and source location.

#include <cstdint>

namespace Logging {

enum TraceLevel : int32_t {
    DEBUG_TRACE = 1,
    INFORMATION = 2,
    WARNING = 3,
    ERROR_TRACE = 4,
    CRITICAL_ERROR = 5,
    BLOCKED = 6,
};

// Where a message was logged: source path, qualified function name, line.
struct TraceLocation {
    const char* file;
    const char* function;
    int32_t line;
};

// Logs a formatted message to `channel` (null: the default channel).
void Log(TraceLocation location, int32_t level, const char* channel, const char* format, ...)
    __attribute__((format(gnu_printf, 4, 5)));

}  // namespace Logging

// Logs to the default channel from a function that names itself in `function`; the unit
// defines `kTraceSourceFile`, the source path its messages carry.
#define LOG_TRACE(level, function, ...) \
    ::Logging::Log(::Logging::TraceLocation{kTraceSourceFile, function, __LINE__}, level, nullptr, __VA_ARGS__)
