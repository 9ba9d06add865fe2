#pragma once

namespace Common {

// Reports a failed check (expression, source file, line). Returns 0 or 1; the caller goes on
// unless the configured reporting aborted the process.
int ReportAssertion(const char* expression, const char* file, int line);

}  // namespace Common
