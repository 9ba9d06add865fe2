#include "logging/log.h"

#include <cstdarg>

#include "core/common/assert.h"

namespace Logging {

void Log(TraceLocation location, int32_t level, const char* channel, const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", "ext/include/logging/log", 251);
    }
    (void)location;
    (void)level;
    (void)channel;
}

}  // namespace Logging
