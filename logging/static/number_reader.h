#pragma once

// The one reader of numbers written as text in the logging library: flag words, property
// values and configuration attributes all accept the same forms.

#include <cstdint>
#include <optional>
#include <string_view>

namespace Logging {

// Reads an unsigned 32-bit number: decimal ("1234"), hexadecimal with a "0x"/"0X" prefix
// ("0x4d2") or with an "h"/"H" suffix ("4d2h"). The whole text must be the number: signs,
// blanks, empty text, a bare "0x" or "h" and values above 0xFFFFFFFF are rejected.
std::optional<uint32_t> ReadNumber(std::string_view text) noexcept;

// As above; a null text is rejected.
std::optional<uint32_t> ReadNumber(const char* text) noexcept;

}  // namespace Logging
