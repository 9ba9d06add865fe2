#pragma once

// A printf format rendered for a consumer of UTF-16 text: wide-string and wide-character
// arguments keep their UTF-16 units, and every other byte of the result becomes one unit of
// the same value, exactly as the byte-by-byte widening of a narrow line. The runtime's own
// printf narrows a wide argument through the C locale and stops at the first character it
// cannot narrow; this rendering loses none. Pure: no operating-system calls.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace Logging {

// Whether `format` has a conversion that takes a wide string (%S, %ls, %ws) or a wide
// character (%C, %lc, %wc).
bool HasWideConversion(const char* format);

// Appends the rendering of `format` with `args` to `out`, which then holds at most `limit`
// units. The arguments are read exactly as printf reads them; every conversion other than a
// wide one is rendered on its own by the runtime's printf. A %n argument is read, but nothing
// is stored through it. At a conversion it does not know, the rest of the format is copied as
// it stands and no further argument is read.
void AppendWideFormatted(std::wstring& out, size_t limit, const char* format, va_list args);

}  // namespace Logging
