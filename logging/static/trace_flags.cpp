#include "logging/trace_flags.h"

#include "logging/static/number_reader.h"
#include "logging/static/text_case.h"

namespace Logging {

namespace {

struct FlagNames {
    uint32_t flag;
    const char* printedName;
    // Compared with the lower-cased word; unused slots are null.
    const char* acceptedNames[3];
};

// In the order a flag word is printed.
constexpr FlagNames kFlags[] = {
    {OF_TIMESTAMP, "OF_TIMESTAMP", {"of_timestamp", "timestamp"}},
    {OF_TZD, "OF_TZD", {"of_tzd", "tzd"}},
    {OF_PNAME, "OF_PNAME", {"of_pname", "pname"}},
    {OF_PID, "OF_PID", {"of_pid", "pid"}},
    {OF_TID, "OF_TID", {"of_tid", "tid"}},
    {OF_SIGNATURE, "OF_SIGNATURE", {"of_signature", "signature", "sign"}},
    {OF_DUMPERROR, "OF_DUMPERROR", {"of_dumperror", "dumperror"}},
    {OF_DUMPLINE, "OF_DUMPLINE", {"of_dumpline", "dumpline"}},
    {OF_DUMPFUNCTION, "OF_DUMPFUNCTION", {"of_dumpfunction", "dumpfunction"}},
    {OF_NOLF, "OF_NOLF", {"of_nolf", "nolf"}},
    {OF_HIGHLIGHT, "OF_HIGHLIGHT", {"of_highlight", "highlight"}},
    {OF_DEBUG, "OF_DEBUG", {"of_debug", "debug"}},
    {OF_NOSTDERR, "OF_NOSTDERR", {"of_nostderr", "nostderr"}},
    {OF_NATIVE_EOL, "OF_NATIVE_EOL", {"of_eol", "eol"}},
};

bool NamesFlag(std::string_view word, const FlagNames& entry) {
    for (const char* name : entry.acceptedNames) {
        if (name != nullptr && EqualsIgnoringCase(word, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<uint32_t> ParseTraceFlag(std::string_view word) noexcept {
    for (const FlagNames& entry : kFlags) {
        if (NamesFlag(word, entry)) {
            return entry.flag;
        }
    }
    if (std::optional<uint32_t> number = ReadNumber(word)) {
        return *number & kConfigurableFlagsMask;
    }
    return std::nullopt;
}

bool AddTraceFlag(std::string_view word, uint32_t& flags) noexcept {
    std::optional<uint32_t> bits = ParseTraceFlag(word);
    if (!bits) {
        return false;
    }
    flags |= *bits;
    return true;
}

std::string TraceFlagsToString(uint32_t flags) {
    std::string text;
    for (const FlagNames& entry : kFlags) {
        if ((flags & entry.flag) != 0) {
            if (!text.empty()) {
                text += " | ";
            }
            text += entry.printedName;
        }
    }
    return text.empty() ? "<none>" : text;
}

}  // namespace Logging
