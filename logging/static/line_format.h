#pragma once

// The pure pieces of a log line: signature letter, timestamps, zone suffix, prefix
// placeholders, colour sequences. No operating-system calls here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/common/platform.h"

namespace Logging {

// Placeholders of a message prefix, as bits.
enum PrefixPlaceholder : uint32_t {
    kPlaceholderPid = 0x1,
    kPlaceholderPname = 0x2,
    kPlaceholderDate = 0x4,
    kPlaceholderTarget = 0x8,
    kAllPlaceholders = 0xF,
};

// What the placeholders stand for; `date` may be null when {date} is not allowed.
struct PlaceholderValues {
    uint32_t pid = 0;
    std::string_view pname;
    const Platform::LocalTime* date = nullptr;
    std::string_view target;
};

// Appends `prefix` to `out` with the allowed placeholders expanded. Returns the bits of the
// placeholders that occur but were not allowed; they are left as they stand.
uint32_t ExpandPrefix(std::string_view prefix, uint32_t allowed, const PlaceholderValues& values, std::string& out);

// Writes "%c%08X: " (11 characters) for the level and code; returns the count.
size_t FormatSignature(char* out, int32_t level, uint32_t code);

// "2024-03-05 14:07:09:042 " or, with a zone suffix, "2024-03-05T14:07:09:042+02:00 ".
// `out` holds at least 48 characters; returns the length (no NUL written).
size_t FormatTimestamp(char* out, const Platform::LocalTime& time, const char* zoneSuffix);

// Reads back what FormatTimestamp writes without a zone suffix ("2024-03-05 14:07:09:042",
// the trailing blank optional); false for any other text.
bool ParseTimestamp(std::string_view text, Platform::LocalTime& time);

// "+02:00", "-03:30": the signed hours and the minutes of an offset east of UTC.
std::string FormatZoneSuffix(int32_t offsetMinutes);

// Decimal digits of `value` into `out` (at least 20 characters); returns the count.
size_t FormatDecimal(char* out, uint64_t value);

// Removes every ESC "[" digits-and-semicolons "m" sequence in place; returns the new length.
size_t StripColourSequences(char* text, size_t length);
size_t StripColourSequences(wchar_t* text, size_t length);

// Encodes UTF-16 units (up to a NUL) as UTF-8 into `out`, at most `capacity` bytes, never
// splitting a character; returns the byte count. Lone surrogates are encoded on their own.
size_t EncodeUtf8(const wchar_t* text, char* out, size_t capacity);

}  // namespace Logging
