#pragma once

#include "logging/static/backend.h"

namespace Logging {

// Accepts every record and writes nothing.
class NullBackend final : public BaseBackend<NullConfig, 0> {
public:
    void Write(TraceRecord&) override {}
    void RegisterProperties(const char*, const ChannelConfig&) override { properties_.clear(); }
    int32_t Open(const char* channel) override;
    // Nothing written here can be seen, so no record needs to be built for it.
    int64_t LowestWrittenLevel() const override { return INT64_MAX; }
};

}  // namespace Logging
