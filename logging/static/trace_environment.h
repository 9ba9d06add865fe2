#pragma once

// Where a trace record takes its time, thread, process and time-zone facts from. Records use
// the system environment; tests hand a record a fixed one.

#include <cstdint>
#include <string>

#include "logging/common/platform.h"

namespace Logging {

class TraceEnvironment {
public:
    virtual ~TraceEnvironment() = default;
    virtual Platform::LocalTime LocalNow() const = 0;
    virtual uint64_t MonotonicMilliseconds() const = 0;
    virtual uint64_t ThreadId() const = 0;
    virtual uint32_t ProcessId() const = 0;
    // The executable's name without extension.
    virtual const std::string& ProcessName() const = 0;
    // The local offset from UTC, "+02:00".
    virtual const std::string& ZoneSuffix() const = 0;
};

// The running process; its name and zone suffix are computed once, at first use.
const TraceEnvironment& SystemTraceEnvironment();

}  // namespace Logging
