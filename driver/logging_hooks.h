#pragma once

// How the driver connects to the logging library: its two formatting hooks, and the routing
// of the default channel into a tracer.

#include <cstdint>

#include "logging/initialize.h"
#include "logging/tracer.h"

namespace Common {
class Error;
}

namespace Hostprobe {

// Error formatter: the error's own text (short form) or the full text of its chain (long
// form) as UTF-8, and the two halves of its code. Any out-pointer may be null.
void FormatErrorForLogging(const char* channel, int16_t level, const Common::Error* error, char** text, bool shortForm,
                           uint16_t* codeHigh, uint16_t* codeLow);

// Field formatter: the message followed by "; " and name="value" for every field.
void FormatFieldsForLogging(const wchar_t* text, const Logging::TraceField* fields, int32_t count, char** out);

// Retunes the default channel as a custom channel that hands every record of INFORMATION or
// higher to `tracer` (not owned). Returns the library's result code.
int32_t RouteDefaultChannelTo(Logging::Tracer* tracer);

}  // namespace Hostprobe
