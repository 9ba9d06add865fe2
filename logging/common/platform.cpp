#include "logging/common/platform.h"

#include "core/common/handles.h"

#include <cstdlib>
#include <vector>

namespace Logging {
namespace Platform {

namespace {

LocalTime FromSystemTime(const SYSTEMTIME& t) {
    LocalTime local;
    local.year = t.wYear;
    local.month = t.wMonth;
    local.day = t.wDay;
    local.hour = t.wHour;
    local.minute = t.wMinute;
    local.second = t.wSecond;
    local.millisecond = t.wMilliseconds;
    return local;
}

// Minutes since an arbitrary epoch, for the difference of two calendar times.
int64_t MinutesOf(const SYSTEMTIME& t) {
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&t, &ft)) {
        return 0;
    }
    ULARGE_INTEGER value;
    value.LowPart = ft.dwLowDateTime;
    value.HighPart = ft.dwHighDateTime;
    return static_cast<int64_t>(value.QuadPart / (10000000ull * 60));
}

}  // namespace

LocalTime LocalNow() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return FromSystemTime(t);
}

int32_t LocalUtcOffsetMinutes() {
    FILETIME utcFile;
    ::GetSystemTimeAsFileTime(&utcFile);
    FILETIME localFile;
    SYSTEMTIME utc;
    SYSTEMTIME local;
    if (!::FileTimeToLocalFileTime(&utcFile, &localFile) || !::FileTimeToSystemTime(&utcFile, &utc) ||
        !::FileTimeToSystemTime(&localFile, &local)) {
        return 0;
    }
    return static_cast<int32_t>(MinutesOf(local) - MinutesOf(utc));
}

uint64_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

namespace {

std::wstring ExecutablePath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& directory, const char* pattern) {
    std::vector<std::string> names;
    std::string query = directory;
    if (!query.empty() && query.back() != '\\') {
        query += '\\';
    }
    query += pattern;
    WIN32_FIND_DATAA found;
    const Common::UniqueFindHandle search(::FindFirstFileA(query.c_str(), &found));
    if (!search) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.emplace_back(found.cFileName);
        }
    } while (::FindNextFileA(search.get(), &found));
    return names;
}

std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, &narrow[0], bytes, nullptr, nullptr);
    }
    return narrow;
}

std::string ExecutableBaseName() {
    std::wstring name = ExecutablePath();
    if (name.empty()) {
        return std::string();
    }
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.erase(dot);
    }
    if (name.empty()) {
        return std::string();
    }
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), &narrow[0], bytes, nullptr,
                              nullptr);
    }
    return narrow;
}

std::string ExecutableDirectory() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            const std::string full(path.data(), length);
            const size_t slash = full.rfind('\\');
            return slash != std::string::npos ? full.substr(0, slash) : std::string();
        }
        path.resize(path.size() * 2);
    }
}

uint64_t MonotonicMilliseconds() {
    return ::GetTickCount64();
}

void DebugOutput(const char* text) {
    ::OutputDebugStringA(text);
}

uint32_t RandomNumber() {
    return static_cast<uint32_t>(std::rand());
}

}  // namespace Platform
}  // namespace Logging
