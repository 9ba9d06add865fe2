#pragma once

// Text forms of the trace levels: display names, the names accepted in configuration and
// commands, and the one-letter signature that starts a signed line.

#include <cstdint>
#include <optional>
#include <string_view>

#include "logging/log.h"

namespace Logging {

// "DEBUG_TRACE", "INFORMATION", ... "BLOCKED"; the empty string for any other number.
const char* TraceLevelName(int32_t level) noexcept;

// The level named by `text`, compared as a whole after lower-casing: the display names and
// the short forms "debug", "info", "warn", "error" and "critical". Anything else: nullopt.
std::optional<int32_t> ParseTraceLevel(std::string_view text) noexcept;

// 'D', 'I', 'W', 'E' or 'C' for levels 1-5; a blank for every other number (BLOCKED included).
char TraceLevelSignature(int32_t level) noexcept;

}  // namespace Logging
