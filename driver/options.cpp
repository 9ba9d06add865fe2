#include "driver/options.h"

namespace Hostprobe {

namespace {
bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.compare(0, length, prefix) == 0;
}
}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] != nullptr ? argv[i] : "";
        if (StartsWith(arg, "--format=", 9)) {
            options.format = arg.substr(9);
        } else if (StartsWith(arg, "--output=", 9)) {
            options.output = arg.substr(9);
        }
    }
    return options;
}

bool IsValidFormat(const std::string& format) {
    return format == "text" || format == "xml";
}

}  // namespace Hostprobe
