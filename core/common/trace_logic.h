#pragma once

// The process-wide trace fan-out of the common runtime: observers (the logging library binds
// itself as one) receive the runtime's own traces.

#include <cstdint>

namespace Common {

class Error;

class TraceLogic {
public:
    virtual ~TraceLogic() = default;
    virtual void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                       const wchar_t* text) = 0;
    virtual void Trace(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) {
        Trace(nullptr, level, codeHigh, codeLow, text);
    }
    virtual void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                           const wchar_t* text, const void* data, uint32_t size) = 0;
    virtual void TraceData(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                           const void* data, uint32_t size) {
        TraceData(nullptr, level, codeHigh, codeLow, text, data, size);
    }
    virtual void TraceError(const char* channel, int32_t level, const Error& error) = 0;
    virtual void TraceError(int32_t level, const Error& error) { TraceError(nullptr, level, error); }
    virtual bool ReceivesAllLevels() const = 0;
};

// The process-wide minimum level of the common trace logic (INFORMATION until changed).
void SetMinimumTraceLevel(int32_t level);
int32_t GetMinimumTraceLevel();

// A text trace of the common runtime: the replaceable hook first (when the level is at least
// the minimum level), then every registered observer.
void TraceText(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text);

}  // namespace Common
