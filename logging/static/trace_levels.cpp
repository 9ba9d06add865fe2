#include "logging/trace_levels.h"

#include "logging/static/text_case.h"

namespace Logging {

namespace {

struct LevelNames {
    int32_t level;
    const char* displayName;
    const char* shortName;
    char signature;
};

constexpr LevelNames kLevels[] = {
    {DEBUG_TRACE, "DEBUG_TRACE", "debug", 'D'},
    {INFORMATION, "INFORMATION", "info", 'I'},
    {WARNING, "WARNING", "warn", 'W'},
    {ERROR_TRACE, "ERROR_TRACE", "error", 'E'},
    {CRITICAL_ERROR, "CRITICAL_ERROR", "critical", 'C'},
    {BLOCKED, "BLOCKED", nullptr, ' '},
};

}  // namespace

const char* TraceLevelName(int32_t level) noexcept {
    for (const LevelNames& entry : kLevels) {
        if (entry.level == level) {
            return entry.displayName;
        }
    }
    return "";
}

std::optional<int32_t> ParseTraceLevel(std::string_view text) noexcept {
    for (const LevelNames& entry : kLevels) {
        if (EqualsIgnoringCase(text, entry.displayName) ||
            (entry.shortName != nullptr && EqualsIgnoringCase(text, entry.shortName))) {
            return entry.level;
        }
    }
    return std::nullopt;
}

char TraceLevelSignature(int32_t level) noexcept {
    for (const LevelNames& entry : kLevels) {
        if (entry.level == level) {
            return entry.signature;
        }
    }
    return ' ';
}

}  // namespace Logging
