#pragma once

// Assertion reporting. What a failed check does (debugger output, a log line, a trace, a stack
// trace, a box, a break or an abort) is set by the environment variables TOVALIN_SAFE_ASSERT
// and TOVALIN_SAFE_ASSERT_LOGFILE, read once, on the first assertion.

#include <cstdint>

namespace Common {

// Reports a failed check (expression, source file, line). Returns 0 when the assertion was
// ignored or a debugger took it, 1 otherwise; the caller goes on unless reporting aborted the
// process.
int ReportAssertion(const char* expression, const char* file, int line);

// Receives the text of every reported assertion and its stack trace.
using AssertionTraceHook = void (*)(int32_t level, uint16_t codeHigh, uint16_t codeLow, const char* text);

// Replaces the trace hook (null: none) and returns the previous one. The hook in place from
// static initialisation on passes the texts to the common trace logic.
AssertionTraceHook SetAssertionTraceHook(AssertionTraceHook hook);

}  // namespace Common

// Checks `condition` and reports `expressionText` at an explicit source path and line.
#define COMMON_ASSERT_AT(condition, expressionText, file, line)    \
    do {                                                           \
        if (!(condition)) {                                        \
            ::Common::ReportAssertion(expressionText, file, line); \
        }                                                          \
    } while (false)

// Checks `condition` in a unit that defines `kTraceSourceFile` (as for LOG_TRACE).
#define COMMON_ASSERT(condition) COMMON_ASSERT_AT(condition, #condition, kTraceSourceFile, __LINE__)
