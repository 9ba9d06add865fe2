// The number reader: a number read from a text is read the same from each form it can be
// written in, and a text that is read holds nothing but the number.

#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "logging/static/number_reader.h"

using Logging::ReadNumber;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<uint32_t> number = ReadNumber(std::string_view(text));
    if (text.find('\0') == std::string::npos) {
        FUZZ_CHECK(ReadNumber(text.c_str()) == number);
    }
    if (!number) {
        return 0;
    }
    FUZZ_CHECK(size > 0 && text.find_first_of(" \t+-") == std::string::npos);
    char forms[3][16];
    std::snprintf(forms[0], sizeof forms[0], "%u", *number);
    std::snprintf(forms[1], sizeof forms[1], "0x%x", *number);
    std::snprintf(forms[2], sizeof forms[2], "%XH", *number);
    for (const char* form : forms) {
        FUZZ_CHECK(ReadNumber(form) == number);
    }
    // One more digit of the same base overflows or gives another number.
    const std::optional<uint32_t> longer = ReadNumber(std::string(forms[0]) + "0");
    FUZZ_CHECK(!longer || *longer == *number * 10);
    return 0;
}
