#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Hostprobe {

// The report record; every string is UTF-8.
struct DetectionResult {
    std::vector<std::string> applications;  // identifiers, in detection order
    std::vector<std::string> errors;        // failures that ended the run
    std::vector<std::string> warnings;      // failures of single add-ons
    std::vector<std::string> logMessages;   // collected log lines
    int32_t exitCode = 0;
};

}  // namespace Hostprobe
