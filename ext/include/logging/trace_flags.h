#pragma once

// Output-format flags of a channel: how a record is rendered into a line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Logging {

enum OutputFlags : uint32_t {
    OF_NATIVE_EOL = 0x4,
    OF_DEBUG = 0x8,
    OF_TIMESTAMP = 0x10,
    OF_TID = 0x20,
    OF_SIGNATURE = 0x40,
    OF_DUMPERROR = 0x80,
    OF_NOLF = 0x100,
    OF_DUMPLINE = 0x200,
    OF_DUMPFUNCTION = 0x400,
    OF_HIGHLIGHT = 0x800,
    OF_PID = 0x1000,
    OF_PNAME = 0x2000,
    OF_TZD = 0x100000,
    OF_NOSTDERR = 0x200000,
};

// The bits a configuration may set; the others belong to the back-end.
constexpr uint32_t kConfigurableFlagsMask = 0x303ffc;
// Every channel's default flag word.
constexpr uint32_t kDefaultOutputFlags = 0x1000f4;

// Back-end bits OR-ed into the effective flag word.
constexpr uint32_t kKeepColourSequences = 0x1;
constexpr uint32_t kPrefixExpanded = 0x4000;
constexpr uint32_t kSerialisedWrites = 0x8000;

// The bits one word of a flag list stands for: a flag name ("timestamp", "of_tid", any case)
// or a number, of which only the configurable bits count. nullopt when the word is neither.
std::optional<uint32_t> ParseTraceFlag(std::string_view word) noexcept;

// ORs the bits of `word` into `flags`; false, with `flags` unchanged, when the word is no flag.
bool AddTraceFlag(std::string_view word, uint32_t& flags) noexcept;

// The names of the flags set in `flags`, timestamp pieces first, joined by " | "; "<none>"
// when none is set. Back-end bits are not listed.
std::string TraceFlagsToString(uint32_t flags);

}  // namespace Logging
