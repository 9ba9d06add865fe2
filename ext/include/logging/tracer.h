#pragma once

// The interface through which a host object receives finished messages, and the flat,
// reference-counted handle through which channel configurations carry such an object.

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

// "trsb" in memory order.
constexpr uint32_t TRACER_STUB_SIGNATURE = 0x62737274;

struct TracerIf {
    void (*AddRef)(TracerIf* me);
    void (*Release)(TracerIf* me);
    void (*Trace)(TracerIf* me, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                  const wchar_t* text);
    void (*TraceData)(TracerIf* me, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                      const wchar_t* text, const void* data, uint32_t size);
    void (*TraceError)(TracerIf* me, const char* channel, int32_t level, const Common::Error* error);
    uint32_t Signature;
    int32_t RefCount;
    Tracer* TracerObject;
    uint8_t OwnsTracer;
};

// A new handle around `tracer` with one reference; with `ownsTracer` the last Release
// deletes the tracer.
TracerIf* MakeTracerStub(Tracer* tracer, bool ownsTracer);

}  // namespace Logging
