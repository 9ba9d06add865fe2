// Level words: a parsed level has a display name that parses back to it and a signature
// letter of its own.

#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "logging/trace_levels.h"

using namespace Logging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view word(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> level = ParseTraceLevel(word);
    if (size >= 4) {
        int32_t number;
        std::memcpy(&number, data, 4);
        const char* name = TraceLevelName(number);
        FUZZ_CHECK(name != nullptr);
        if (*name != '\0') {
            FUZZ_CHECK(ParseTraceLevel(name) == number);
        }
        TraceLevelSignature(number);
    }
    if (!level) {
        return 0;
    }
    const std::string name = TraceLevelName(*level);
    FUZZ_CHECK(!name.empty() && ParseTraceLevel(name) == level);
    return 0;
}
