#include "logging/static/backends/console_colours.h"

namespace Logging {

namespace {

// Terminal colour numbers 0-7 (black, red, green, yellow, blue, magenta, cyan, white) as
// console colour bits (blue 1, green 2, red 4).
constexpr uint16_t kConsoleColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

constexpr uint16_t kForegroundIntensity = 0x08;
constexpr uint16_t kBackgroundIntensity = 0x80;

}  // namespace

ColourSequence ReadColourSequence(std::string_view text, uint16_t current) {
    ColourSequence result;
    if (text.size() < 3 || text[0] != '\x1b' || text[1] != '[') {
        return result;
    }
    size_t end = 2;
    while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == ';')) {
        ++end;
    }
    if (end >= text.size() || text[end] != 'm') {
        return result;
    }
    result.length = end + 1;

    int style = -1;
    int foreground = -1;
    int background = -1;
    bool anyNumber = false;
    size_t pos = 2;
    while (pos < end) {
        size_t next = pos;
        uint32_t value = 0;
        bool digits = false;
        while (next < end && text[next] != ';') {
            if (value < 1000) {
                value = value * 10 + static_cast<uint32_t>(text[next] - '0');
            }
            digits = true;
            ++next;
        }
        if (digits) {
            anyNumber = true;
            if (value <= 8) {
                style = static_cast<int>(value);
            } else if (value >= 30 && value <= 37) {
                foreground = static_cast<int>(value - 30);
            } else if (value >= 40 && value <= 47) {
                background = static_cast<int>(value - 40);
            } else {
                result.kind = ColourSequence::Ignored;
                return result;
            }
        }
        pos = next + 1;
    }
    if (!anyNumber || (style == 0 && foreground < 0 && background < 0)) {
        result.kind = ColourSequence::Restore;
        return result;
    }
    const bool bold = style == 1;
    uint16_t attribute = current;
    if (foreground >= 0) {
        attribute =
            static_cast<uint16_t>((attribute & ~0x0F) | kConsoleColour[foreground] | (bold ? kForegroundIntensity : 0));
    } else if (bold) {
        attribute = static_cast<uint16_t>(attribute | kForegroundIntensity);
    }
    if (background >= 0) {
        attribute = static_cast<uint16_t>((attribute & ~0xF0) | (kConsoleColour[background] << 4) |
                                          (bold ? kBackgroundIntensity : 0));
    }
    result.kind = ColourSequence::SetAttribute;
    result.attribute = attribute;
    return result;
}

}  // namespace Logging
