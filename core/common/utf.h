#pragma once

#include <cstddef>
#include <string>

namespace Common {

// Count meaning "up to the terminating NUL".
constexpr size_t kUntilNul = static_cast<size_t>(-1);

// Converts UTF-16 units to UTF-8 into `out` (cleared first), stopping at a NUL unit or after
// `count` units. Never fails: a unit that is not part of a surrogate pair is encoded on its own.
void Utf16ToUtf8(const wchar_t* units, size_t count, std::string& out);

// Converts the whole string, up to its first NUL.
std::string Utf16ToUtf8(const std::wstring& text);

}  // namespace Common
