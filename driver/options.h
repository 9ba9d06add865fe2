#pragma once

#include <string>

namespace Hostprobe {

struct Options {
    std::string format = "text";
    std::string output;  // empty: standard output
};

// Reads --format= and --output= from argv[1..argc-1]; the last occurrence wins and every
// other argument is ignored.
Options ParseOptions(int argc, const char* const* argv);

// True for the two report formats, compared case-sensitively.
bool IsValidFormat(const std::string& format);

}  // namespace Hostprobe
