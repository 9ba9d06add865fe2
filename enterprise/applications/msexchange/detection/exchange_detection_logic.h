#pragma once

// The decisions of the Exchange detector that need no registry and no file system.

#include <cstddef>
#include <cstdint>
#include <string>

namespace MsExchange {

// The major number of a version text: the part before the first "." (the whole text when
// there is none), read as a base-10 signed 32-bit long with optional leading white space and
// sign, which must consume that whole part and must not be negative. `major` is 0 on failure.
// As with strtol, a value beyond the range of a long saturates (to 2147483647 when positive).
bool ParseMajorVersion(const std::wstring& version, uint32_t& major);

// The size of the fixed file information (VS_FIXEDFILEINFO) of a version resource.
constexpr size_t kFixedFileInfoSize = 52;

// Whether the fixed file information that the version query found at `offset` in a resource
// buffer, with the value length `valueLength` that the resource gives it, lies within the
// `bufferSize` bytes read and within the `declaredLength` bytes that the resource's root block
// says it has. A damaged resource gives lengths that reach past its own bytes.
bool IsFixedFileInfoInside(size_t offset, size_t valueLength, size_t bufferSize, uint16_t declaredLength);

// "major.minor.build.revision" of the fixed file version fields of a version resource.
std::wstring FormatFileVersion(uint32_t fileVersionMS, uint32_t fileVersionLS);

// The database engine library below an install path, which may or may not end with a separator.
std::wstring BuildEseLibraryPath(const std::wstring& installPath);

// Whether the registry is probed at all: only a 64-bit Windows can host the versions looked
// for, whether it is seen natively or from a WOW64 process.
bool IsArchitectureProbed(uint16_t nativeProcessorArchitecture, bool runsUnderWow64);

}  // namespace MsExchange
