#include "logging/log.h"

#include <cstdarg>

#include "core/common/assert.h"
#include "logging/logging_manager.h"

namespace Logging {

void Log(TraceLocation location, int32_t level, const char* channel, const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", "ext/include/logging/log", 251);
    }
    va_list args;
    va_start(args, format);
    LoggingManager::Instance().TraceFormatted(channel, level, location, format, args);
    va_end(args);
}

}  // namespace Logging
