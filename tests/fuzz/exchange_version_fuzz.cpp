// Exchange's major-version parser against the C library's strtol: both read the part
// before the first "." the same, with a long of the target's 32 bits.

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"
#include "fuzz_support.h"

namespace {

// What the detector would compute with strtol where long has 32 bits.
bool ReferenceMajor(const std::wstring& version, uint32_t& major) {
    major = 0;
    const std::wstring head = version.substr(0, version.find(L'.'));
    if (version.empty()) {
        return false;
    }
    // Only ASCII can be white space, a sign or a digit; anything else stops strtol.
    std::string narrow;
    for (const wchar_t c : head) {
        narrow += c > 0 && c < 0x80 ? static_cast<char>(c) : '\x01';
    }
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(narrow.c_str(), &end, 10);
    if (end == narrow.c_str() || static_cast<size_t>(end - narrow.c_str()) != narrow.size()) {
        return false;
    }
    value = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value;
    if (value < 0) {
        return false;
    }
    major = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring version;
    for (size_t i = 0; i + 1 < size; i += 2) {
        version += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    }
    uint32_t major = 12345;
    const bool parsed = MsExchange::ParseMajorVersion(version, major);
    uint32_t expected = 0;
    const bool reference = ReferenceMajor(version, expected);
    FUZZ_CHECK(parsed == reference);
    FUZZ_CHECK(major == expected);
    return 0;
}
