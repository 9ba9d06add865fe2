#include "logging/initialize.h"

#include <atomic>

#include "core/common/assert.h"
#include "logging/logging_manager.h"

namespace Logging {

namespace {
constexpr char kInitializeSource[] = "ext/include/logging/include/tovalin";

// Counts every Bind ever constructed; only the first registers with the common trace logic.
std::atomic<uint32_t> g_bindCount{0};
}  // namespace

Bind::Bind() {
    if (g_bindCount.fetch_add(1) == 0) {
        Common::RegisterTraceLogic(this);
        registered_ = true;
    }
}

Bind::~Bind() {
    if (registered_) {
        Common::UnregisterTraceLogic(this);
    }
}

void Bind::Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) {
    LoggingManager::Instance().TraceText(channel, level, codeHigh, codeLow, text);
}

void Bind::TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                     const void* data, uint32_t size) {
    LoggingManager::Instance().TraceData(channel, level, codeHigh, codeLow, text, data, size);
}

void Bind::TraceError(const char* channel, int32_t level, const Common::Error& error) {
    LoggingManager::Instance().TraceError(channel, level, error);
}

Initialize::Initialize(ErrorFormatterFn errorFormatter, FieldFormatterFn fieldFormatter,
                       const InitParameters& parameters)
    : ErrorFormatter(errorFormatter), FieldFormatter(fieldFormatter) {
    cookie_ = LoggingManager::Instance().Initialize(&parameters, nullptr);
    if (cookie_ == 0) {
        Common::ReportAssertion("Cookie", kInitializeSource, 364);
    }
}

Initialize::~Initialize() {
    if (cookie_ != 0) {
        const bool f = LoggingManager::Instance().Release(cookie_);
        if (!f) {
            Common::ReportAssertion("f", kInitializeSource, 390);
        }
    }
}

}  // namespace Logging
