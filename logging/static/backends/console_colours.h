#pragma once

// Terminal colour sequences (ESC "[" n;...;n "m") read as console text attributes.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Logging {

struct ColourSequence {
    enum Kind {
        NotASequence,  // the ESC does not start a complete sequence: it is ordinary text
        Ignored,       // a complete sequence with a number we do not know: dropped
        SetAttribute,  // switch to `attribute`
        Restore,       // go back to the attribute in force before the line
    };
    Kind kind = NotASequence;
    size_t length = 0;  // bytes of the sequence
    uint16_t attribute = 0;
};

// Reads the sequence at the start of `text` (which starts with ESC), relative to the
// attribute in force.
ColourSequence ReadColourSequence(std::string_view text, uint16_t current);

}  // namespace Logging
