#pragma once

// The evidence of an Exchange installation as the tests lay it out: keys below the registry
// roots (64-bit view) and a stand-in ese.dll with a real version resource.

#include <windows.h>

#include <string>

#include "support/temp_dir.h"

namespace ExchangeTests {

// The registry roots in the order the detector probes them.
extern const wchar_t* const kRoots[4];

// The file versions of the stand-in libraries built beside the test program.
constexpr wchar_t kEse15[] = L"15.1.2507.6";
constexpr wchar_t kEse14[] = L"14.3.123.4";

// Copies the stand-in ese.dll of `fileVersion` to <dir><folder>\bin\ese.dll and returns
// <dir><folder>, without a trailing separator.
std::wstring InstallEse(const TestSupport::TempDir& dir, const std::wstring& folder, const wchar_t* fileVersion);

// Creates <dir><folder>\bin\ without a library in it; returns <dir><folder>.
std::wstring InstallWithoutEse(const TestSupport::TempDir& dir, const std::wstring& folder);

// Sets a value with raw data, for types and layouts the plain setters cannot make.
void SetRawValue(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size);

// True when none of the roots exists in the 64-bit view, so a test starts from a machine
// without Exchange.
bool NoExchangeKeys();

}  // namespace ExchangeTests
