#pragma once

#include "logging/static/backend.h"

namespace Logging {

// Accepts every record and writes nothing.
class NullBackend final : public BaseBackend<NullConfig, 0> {
public:
    void Write(TraceRecord&) override {}
    void RegisterProperties(const char*, const ChannelConfig&) override { properties_.clear(); }
    int32_t Open(const char* channel) override;
};

}  // namespace Logging
