// Flag words: a word stands for configurable bits only, adding a word that is no flag
// changes nothing, and the names a flag word is listed with name its bits again.

#include <string>

#include "fuzz_support.h"
#include "logging/trace_flags.h"

using namespace Logging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view word(reinterpret_cast<const char*>(data), size);
    const std::optional<uint32_t> bits = ParseTraceFlag(word);
    uint32_t flags = 0x5a5a5a5a;
    const bool added = AddTraceFlag(word, flags);
    FUZZ_CHECK(added == bits.has_value());
    if (!bits) {
        FUZZ_CHECK(flags == 0x5a5a5a5a);
        return 0;
    }
    FUZZ_CHECK((*bits & ~kConfigurableFlagsMask) == 0);
    FUZZ_CHECK(flags == (0x5a5a5a5aU | *bits));
    // Every listed name parses back, and together they give the configurable bits again.
    const std::string listed = TraceFlagsToString(*bits);
    if (listed == "<none>") {
        FUZZ_CHECK(*bits == 0);
        return 0;
    }
    uint32_t rebuilt = 0;
    size_t start = 0;
    for (;;) {
        const size_t bar = listed.find(" | ", start);
        // The line-end flag is printed by its constant's name but written as "eol".
        const std::string_view name = std::string_view(listed).substr(start, bar - start);
        FUZZ_CHECK(AddTraceFlag(name == "OF_NATIVE_EOL" ? "eol" : name, rebuilt));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 3;
    }
    FUZZ_CHECK(rebuilt == *bits);
    return 0;
}
