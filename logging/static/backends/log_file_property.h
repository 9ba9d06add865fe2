#pragma once

// The property "log-file-<n>" that the file-writing back-ends answer themselves: the path of
// their n-th log file.

#include <cstdint>
#include <cstring>

namespace Logging {

// The decimal number after "log-file-"; false for any other name.
inline bool ParseLogFileIndex(const char* name, uint32_t& index) {
    constexpr char prefix[] = "log-file-";
    constexpr size_t prefixLength = sizeof prefix - 1;
    if (name == nullptr || std::strncmp(name, prefix, prefixLength) != 0 || name[prefixLength] == '\0') {
        return false;
    }
    uint64_t value = 0;
    for (const char* c = name + prefixLength; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    index = static_cast<uint32_t>(value);
    return true;
}

}  // namespace Logging
