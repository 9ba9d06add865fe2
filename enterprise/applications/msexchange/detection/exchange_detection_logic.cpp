#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"

namespace MsExchange {

namespace {

// The white space that strtol skips in the "C" locale; the version text is UTF-16, so
// anything beyond ASCII is neither white space nor a digit.
bool IsCWhiteSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

constexpr int64_t kLongMax = 2147483647;
constexpr int64_t kLongMin = -kLongMax - 1;

}  // namespace

bool ParseMajorVersion(const std::wstring& version, uint32_t& major) {
    major = 0;
    if (version.empty()) {
        return false;
    }
    const size_t end = version.find(L'.');
    const size_t headLength = end == std::wstring::npos ? version.size() : end;

    size_t pos = 0;
    while (pos < headLength && IsCWhiteSpace(version[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < headLength && (version[pos] == L'+' || version[pos] == L'-')) {
        negative = version[pos] == L'-';
        ++pos;
    }
    const size_t firstDigit = pos;
    int64_t magnitude = 0;
    bool saturated = false;
    for (; pos < headLength && version[pos] >= L'0' && version[pos] <= L'9'; ++pos) {
        if (!saturated) {
            magnitude = magnitude * 10 + (version[pos] - L'0');
            saturated = magnitude > kLongMax + 1;
        }
    }
    // Without a digit strtol consumes nothing, not even the white space or the sign.
    if (pos == firstDigit || pos != headLength) {
        return false;
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > kLongMax) {
        value = kLongMax;
    } else if (value < kLongMin) {
        value = kLongMin;
    }
    if (value < 0) {
        return false;
    }
    major = static_cast<uint32_t>(value);
    return true;
}

bool IsFixedFileInfoInside(size_t offset, size_t valueLength, size_t bufferSize, uint16_t declaredLength) {
    const size_t resourceSize = bufferSize < declaredLength ? bufferSize : declaredLength;
    return valueLength >= kFixedFileInfoSize && offset <= resourceSize && resourceSize - offset >= kFixedFileInfoSize;
}

std::wstring FormatFileVersion(uint32_t fileVersionMS, uint32_t fileVersionLS) {
    return std::to_wstring(fileVersionMS >> 16) + L'.' + std::to_wstring(fileVersionMS & 0xFFFF) + L'.' +
           std::to_wstring(fileVersionLS >> 16) + L'.' + std::to_wstring(fileVersionLS & 0xFFFF);
}

std::wstring BuildEseLibraryPath(const std::wstring& installPath) {
    std::wstring path = installPath;
    if (path.empty() || (path.back() != L'\\' && path.back() != L'/')) {
        path += L'\\';
    }
    path += L"bin\\ese.dll";
    return path;
}

bool IsArchitectureProbed(uint16_t nativeProcessorArchitecture, bool runsUnderWow64) {
    constexpr uint16_t kIa64 = 6;
    constexpr uint16_t kAmd64 = 9;
    constexpr uint16_t kArm64 = 12;
    switch (nativeProcessorArchitecture) {
        case kIa64:
        case kAmd64:
        case kArm64: return true;
        default: return runsUnderWow64;
    }
}

}  // namespace MsExchange
