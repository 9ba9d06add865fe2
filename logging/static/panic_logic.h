#pragma once

// The panic handle: a flat, reference-counted record around the back-end of the channel
// "panic", through which the library's fatal messages are written.

#include <cstdint>
#include <memory>

namespace Common {
class Error;
}

namespace Logging {

class Backend;

// "plsb" in memory order.
constexpr uint32_t PANIC_LOGIC_STUB_SIGN = 0x62736c70;

struct PanicLogicIf {
    void (*AddRef)(PanicLogicIf* me);
    void (*Release)(PanicLogicIf* me);
    void (*TraceText)(PanicLogicIf* me, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text);
    void (*TraceError)(PanicLogicIf* me, int32_t level, const Common::Error* error);
    void (*TraceData)(PanicLogicIf* me, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                      const void* data, uint32_t size);
    uint32_t Signature;
    int32_t RefCount;
    std::shared_ptr<Backend> Target;
};

// A new handle with one reference around `backend`.
PanicLogicIf* MakePanicLogic(std::shared_ptr<Backend> backend);

}  // namespace Logging
