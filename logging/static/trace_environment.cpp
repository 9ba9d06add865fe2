#include "logging/static/trace_environment.h"

#include <new>

#include "logging/static/line_format.h"

namespace Logging {

namespace {

class SystemEnvironment final : public TraceEnvironment {
public:
    SystemEnvironment()
        : processId_(Platform::CurrentProcessId()),
          processName_(Platform::ExecutableBaseName()),
          zoneSuffix_(FormatZoneSuffix(Platform::LocalUtcOffsetMinutes())) {}

    Platform::LocalTime LocalNow() const override { return Platform::LocalNow(); }
    uint64_t MonotonicMilliseconds() const override { return Platform::MonotonicMilliseconds(); }
    uint64_t ThreadId() const override { return Platform::CurrentThreadId(); }
    uint32_t ProcessId() const override { return processId_; }
    const std::string& ProcessName() const override { return processName_; }
    const std::string& ZoneSuffix() const override { return zoneSuffix_; }

private:
    uint32_t processId_;
    std::string processName_;
    std::string zoneSuffix_;
};

}  // namespace

const TraceEnvironment& SystemTraceEnvironment() {
    // Never destroyed: static destructors of other units may still log.
    alignas(SystemEnvironment) static unsigned char storage[sizeof(SystemEnvironment)];
    static const SystemEnvironment* const environment = new (storage) SystemEnvironment;
    return *environment;
}

}  // namespace Logging
