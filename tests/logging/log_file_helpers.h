#pragma once

// What the tests of the file-writing parts of the logging library share: reading and ageing
// files, listing a folder, inflating gzip files, and watching the library's own messages.

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/static/manager_internal.h"
#include "support/log_capture.h"

namespace TestSupport {

inline std::string ReadFileText(const std::string& path) {
    std::string text;
    Common::UniqueStdioFile file(std::fopen(path.c_str(), "rb"));
    if (file) {
        char block[4096];
        for (size_t read; (read = std::fread(block, 1, sizeof block, file.get())) > 0;) {
            text.append(block, read);
        }
    }
    return text;
}

inline void WriteFileText(const std::string& path, const std::string& text) {
    Common::UniqueStdioFile file(std::fopen(path.c_str(), "wb"));
    if (file) {
        std::fwrite(text.data(), 1, text.size(), file.get());
    }
}

inline bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in `folder` (ending in "\"), sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Sets the file's modification time `days` days back.
inline bool AgeFile(const std::string& path, int days) {
    Common::UniqueFileHandle file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return false;
    }
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    value.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000ull;
    FILETIME then;
    then.dwLowDateTime = value.LowPart;
    then.dwHighDateTime = value.HighPart;
    return ::SetFileTime(file.get(), nullptr, nullptr, &then) != 0;
}

// The inflated text of a gzip file; `valid` tells whether zlib read it to its end cleanly.
inline std::string Gunzip(const std::string& path, bool& valid) {
    std::string text;
    valid = false;
    Common::UniqueGzFile file(gzopen(path.c_str(), "rb"));
    if (!file || gzdirect(file.get()) != 0) {
        return text;
    }
    char block[4096];
    int read;
    while ((read = gzread(file.get(), block, sizeof block)) > 0) {
        text.append(block, static_cast<size_t>(read));
    }
    int error = Z_OK;
    gzerror(file.get(), &error);
    valid = read == 0 && error == Z_OK;
    return text;
}

// Collects the back-ends' traces while it lives.
class BackendTraces {
public:
    BackendTraces() {
        Texts().clear();
        Logging::SetBackendTraceObserver(&Add);
    }
    ~BackendTraces() { Logging::SetBackendTraceObserver(nullptr); }
    BackendTraces(const BackendTraces&) = delete;
    BackendTraces& operator=(const BackendTraces&) = delete;

    std::vector<std::string> Get() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Texts();
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Texts() {
        static std::vector<std::string> texts;
        return texts;
    }
    static void Add(int32_t, const char* text) {
        std::lock_guard<std::mutex> lock(Mutex());
        Texts().push_back(text);
    }
};

// The library's own error reports, as "logging-trace" receives them, that contain `part`.
inline std::vector<std::string> ErrorsContaining(const LogCapture& capture, const std::string& part) {
    std::vector<std::string> found;
    for (const LogCapture::Entry& entry : capture.Entries()) {
        if (entry.level == Logging::CRITICAL_ERROR && entry.text.find(part) != std::string::npos) {
            found.push_back(entry.text);
        }
    }
    return found;
}

}  // namespace TestSupport
