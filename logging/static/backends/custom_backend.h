#pragma once

#include "logging/static/backend.h"

namespace Logging {

// Hands every record to a host Tracer through the configuration's TracerIf handle: text,
// data and error records as they are, every other record as its line without line end.
class CustomBackend final : public BaseBackend<CustomConfig, 0> {
public:
    void Write(TraceRecord& record) override;
    int32_t Open(const char* channel) override;
};

}  // namespace Logging
