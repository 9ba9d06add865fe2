#pragma once

#include <exception>
#include <string>

#include "core/common/error.h"
#include "core/common/utf.h"
#include "driver/detection_result.h"
#include "driver/log_collecting_tracer.h"

namespace Hostprobe {

// Runs the four detection add-ons in their fixed order and collects what they report.
DetectionResult RunDetection(LogCollectingTracer* tracer);

// Runs one add-on: its identifiers go to `applications`, what escapes it becomes a warning
// named after `label`. Errors raised while recording the warning escape to the caller.
template <typename AddonType>
void RunAddon(const char* label, DetectionResult& result) {
    try {
        AddonType addon;
        const auto applications = addon.GetMachineInstalledApplications();
        for (const auto& entry : applications) {
            result.applications.push_back(entry.first);
        }
    } catch (const Common::Error& error) {
        result.warnings.push_back(std::string(label) + " detection error: " + Common::Utf16ToUtf8(error.Text()));
    } catch (const std::exception& exception) {
        result.warnings.push_back(std::string(label) + " detection exception: " + exception.what());
    }
}

}  // namespace Hostprobe
