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
    virtual void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                           const void* data, uint32_t size) = 0;
    virtual void TraceData(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text, const void* data,
                           uint32_t size) {
        TraceData(nullptr, level, codeHigh, codeLow, text, data, size);
    }
    virtual void TraceError(const char* channel, int32_t level, const Error& error) = 0;
    virtual void TraceError(int32_t level, const Error& error) { TraceError(nullptr, level, error); }
    virtual bool ReceivesAllLevels() const = 0;
};

// The process-wide minimum level of the common trace logic (INFORMATION until changed).
void SetMinimumTraceLevel(int32_t level);
int32_t GetMinimumTraceLevel();

// Observers receive every trace of at least the minimum level, or every trace at all when
// they say so in ReceivesAllLevels. Callback objects receive every trace after them.
// Registering an object twice keeps one entry; unregistering an unknown object does nothing.
void RegisterTraceLogic(TraceLogic* observer);
void UnregisterTraceLogic(TraceLogic* observer);
void RegisterTraceCallback(TraceLogic* callback);
void UnregisterTraceCallback(TraceLogic* callback);

// Whether `observer` is registered; the composite of the registered objects exists from the
// first registration to the last unregistration.
bool IsTraceLogicRegistered(const TraceLogic* observer);

// Replaces the hook that sees every text trace of at least the minimum level before the
// observers (null: the default, which does nothing); returns the previous hook.
using TraceTextHook = void (*)(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text);
TraceTextHook SetTraceTextHook(TraceTextHook hook);
void EnableTraceTextHook(bool enabled);

// A text trace of the common runtime: the hook first (when the level is at least the minimum
// level and the hook is enabled), then every registered object.
void TraceText(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text);
void TraceData(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text, const void* data,
               uint32_t size);
void TraceError(int32_t level, const Error& error);

}  // namespace Common
