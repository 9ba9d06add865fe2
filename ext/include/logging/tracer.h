#pragma once

// The interface through which a host object receives finished messages.

#include <cstdint>

namespace Common {
class Error;
}

namespace Logging {

class Tracer {
public:
    virtual ~Tracer() = default;
    virtual void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                       const wchar_t* text) = 0;
    virtual void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                           const void* data, uint32_t size) = 0;
    virtual void TraceError(const char* channel, int32_t level, const Common::Error& error) = 0;
};

}  // namespace Logging
