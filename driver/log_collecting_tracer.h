#pragma once

#include <string>
#include <vector>

#include "logging/tracer.h"

namespace Hostprobe {

// Keeps the text of every message of level INFORMATION or higher, sorted into three lists.
class LogCollectingTracer : public Logging::Tracer {
public:
    void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) override;
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void* data, uint32_t size) override;
    void TraceError(const char* channel, int32_t level, const Common::Error& error) override;

    std::vector<std::string> InfoMessagesUtf8() const;
    std::vector<std::string> WarningMessagesUtf8() const;
    std::vector<std::string> ErrorMessagesUtf8() const;

private:
    std::vector<std::wstring> infoMessages;
    std::vector<std::wstring> warningMessages;
    std::vector<std::wstring> errorMessages;
};

}  // namespace Hostprobe
