#pragma once

// A file's bytes and age as a test sets and reads them, with "no file" as a state of its own.

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "core/common/handles.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace TestSupport {

using FileBytes = std::optional<std::string>;  // nothing: no such file

inline FileBytes Contents(const std::string& path) {
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return ReadFileBytes(Widen(path));
}

inline void SetContents(const std::string& path, const FileBytes& bytes) {
    bytes ? WriteFileBytes(Widen(path), *bytes) : void(std::remove(path.c_str()));
}

// Sets the time of the last write to `minutes` before now.
inline bool SetMinutesSinceWrite(const std::string& path, uint64_t minutes) {
    const Common::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= minutes * 60 * 10000000;
    const FILETIME written{time.LowPart, time.HighPart};
    return ::SetFileTime(file.get(), nullptr, nullptr, &written) != FALSE;
}

// Sets the time of the last write to `time`, in seconds since 1970 (UTC).
inline bool SetWriteTime(const std::string& path, int64_t time) {
    const Common::UniqueFileHandle file(
        ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (static_cast<uint64_t>(time) + 11644473600ull) * 10000000;  // from 1601, in 100 ns
    const FILETIME written{ticks.LowPart, ticks.HighPart};
    return ::SetFileTime(file.get(), nullptr, nullptr, &written) != FALSE;
}

}  // namespace TestSupport
