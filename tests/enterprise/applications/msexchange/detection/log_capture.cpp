#include "log_capture.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>

#include <gtest/gtest.h>

#include "logging/log.h"

namespace ExchangeTests {

namespace {
LogCapture* g_capture = nullptr;
}  // namespace

LogCapture::LogCapture() {
    EXPECT_EQ(g_capture, nullptr) << "log captures do not nest";
    g_capture = this;
}

LogCapture::~LogCapture() {
    g_capture = nullptr;
}

void PrintTo(const CapturedMessage& message, std::ostream* out) {
    *out << "{level " << message.level << ", " << message.function << ", " << message.file << ", \"" << message.text
         << "\"}";
}

}  // namespace ExchangeTests

// Replaces Logging::Log (see the link options of this test program).
extern "C" void __wrap__ZN7Logging3LogENS_13TraceLocationEiPKcS2_z(Logging::TraceLocation location, int32_t level,
                                                                   const char* channel, const char* format, ...) {
    (void)channel;
    if (ExchangeTests::g_capture == nullptr || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    }
    va_end(args);
    ExchangeTests::g_capture->Add({level, location.function != nullptr ? location.function : "",
                                   location.file != nullptr ? location.file : "", text});
}
