#pragma once

#include <string>

#include "driver/detection_result.h"

namespace Hostprobe {

// Writes the XML report to std::cout.
void WriteXmlReport(const DetectionResult& result);

// Writes the application lines to std::cout and the log lines to std::cerr.
void WriteTextReport(const DetectionResult& result);

// Replaces the five XML special characters by their entities, in one pass.
std::string EscapeXml(const std::string& text);

}  // namespace Hostprobe
