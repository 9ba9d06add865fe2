#include "driver/log_collecting_tracer.h"

#include "core/common/utf.h"

namespace Hostprobe {

namespace {
std::vector<std::string> ToUtf8(const std::vector<std::wstring>& texts) {
    std::vector<std::string> converted;
    converted.reserve(texts.size());
    for (const std::wstring& text : texts) {
        converted.push_back(Common::Utf16ToUtf8(text));
    }
    return converted;
}
}  // namespace

void LogCollectingTracer::Trace(const char*, int32_t level, uint16_t, uint16_t, const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    if (level == 2) {
        infoMessages.emplace_back(text);
    } else if (level == 3) {
        warningMessages.emplace_back(text);
    } else if (level >= 4) {
        errorMessages.emplace_back(text);
    }
}

void LogCollectingTracer::TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                                    const wchar_t* text, const void*, uint32_t) {
    Trace(channel, level, codeHigh, codeLow, text);
}

void LogCollectingTracer::TraceError(const char*, int32_t, const Common::Error&) {}

std::vector<std::string> LogCollectingTracer::InfoMessagesUtf8() const {
    return ToUtf8(infoMessages);
}
std::vector<std::string> LogCollectingTracer::WarningMessagesUtf8() const {
    return ToUtf8(warningMessages);
}
std::vector<std::string> LogCollectingTracer::ErrorMessagesUtf8() const {
    return ToUtf8(errorMessages);
}

}  // namespace Hostprobe
