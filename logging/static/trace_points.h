#pragma once

// Trace points: named places in the code that count their passes and that an operator can
// switch on and off at run time with the control command "trace". A trace point is meant to
// be a static object; its entry in the registry lives as long as the process.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Logging {

struct TracePointEntry;

class TracePoint {
public:
    // Registers the point; its id is its position in the registry, counted from 0.
    TracePoint(const char* name, const char* function, const char* file, int32_t line, bool enabled = false);
    TracePoint(const TracePoint&) = delete;
    TracePoint& operator=(const TracePoint&) = delete;

    uint32_t Id() const;
    // Counts one pass; true when the point is enabled.
    bool Hit() const;
    bool Enabled() const;

private:
    TracePointEntry* entry_;
};

struct TracePointInfo {
    uint32_t id;
    std::string name;
    uint64_t count;
    bool enabled;
    std::string function;
    std::string file;
    int32_t line;
};

// Every registered point, in id order.
std::vector<TracePointInfo> ListTracePoints();
std::optional<TracePointInfo> FindTracePoint(uint32_t id);
// False when no point has that id.
bool EnableTracePoint(uint32_t id, bool enabled);

}  // namespace Logging
