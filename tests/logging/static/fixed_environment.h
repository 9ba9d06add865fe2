#pragma once

// A trace environment with a fixed clock, thread, process and zone, counting how often each
// fact is asked for.

#include <string>

#include "logging/static/trace_environment.h"

namespace LoggingTest {

class FixedEnvironment : public Logging::TraceEnvironment {
public:
    FixedEnvironment() {
        time.year = 2024;
        time.month = 3;
        time.day = 5;
        time.hour = 14;
        time.minute = 7;
        time.second = 9;
        time.millisecond = 42;
    }

    Logging::Platform::LocalTime LocalNow() const override {
        ++timeReads;
        return time;
    }
    uint64_t MonotonicMilliseconds() const override { return monotonic; }
    uint64_t ThreadId() const override {
        ++threadReads;
        return threadId;
    }
    uint32_t ProcessId() const override { return processId; }
    const std::string& ProcessName() const override { return processName; }
    const std::string& ZoneSuffix() const override { return zoneSuffix; }

    Logging::Platform::LocalTime time;
    uint64_t monotonic = 100000;
    uint64_t threadId = 4711;
    uint32_t processId = 1234;
    std::string processName = "probe";
    std::string zoneSuffix = "+02:00";
    mutable int timeReads = 0;
    mutable int threadReads = 0;
};

}  // namespace LoggingTest
