#include "logging/static/trace_points.h"

#include <atomic>
#include <deque>

#include "logging/common/srw_lock.h"

namespace Logging {

struct TracePointEntry {
    TracePointEntry(uint32_t id, const char* name, const char* function, const char* file, int32_t line, bool on)
        : id(id),
          name(name != nullptr ? name : ""),
          function(function != nullptr ? function : ""),
          file(file != nullptr ? file : ""),
          line(line),
          enabled(on) {}

    const uint32_t id;
    const std::string name;
    const std::string function;
    const std::string file;
    const int32_t line;
    std::atomic<uint64_t> count{0};
    std::atomic<bool> enabled;
};

namespace {

struct Registry {
    SrwLock lock;
    // A deque never moves its elements: the points keep pointers to theirs.
    std::deque<TracePointEntry> entries;
};

// Constructed by the first point, so destroyed after every static point.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

TracePointInfo Describe(const TracePointEntry& entry) {
    return TracePointInfo{entry.id,
                          entry.name,
                          entry.count.load(std::memory_order_relaxed),
                          entry.enabled.load(std::memory_order_relaxed),
                          entry.function,
                          entry.file,
                          entry.line};
}

}  // namespace

TracePoint::TracePoint(const char* name, const char* function, const char* file, int32_t line, bool enabled) {
    Registry& registry = TheRegistry();
    ExclusiveGuard guard(registry.lock);
    entry_ = &registry.entries.emplace_back(static_cast<uint32_t>(registry.entries.size()), name, function, file, line,
                                            enabled);
}

uint32_t TracePoint::Id() const {
    return entry_->id;
}

bool TracePoint::Hit() const {
    entry_->count.fetch_add(1, std::memory_order_relaxed);
    return entry_->enabled.load(std::memory_order_relaxed);
}

bool TracePoint::Enabled() const {
    return entry_->enabled.load(std::memory_order_relaxed);
}

std::vector<TracePointInfo> ListTracePoints() {
    Registry& registry = TheRegistry();
    SharedGuard guard(registry.lock);
    std::vector<TracePointInfo> points;
    points.reserve(registry.entries.size());
    for (const TracePointEntry& entry : registry.entries) {
        points.push_back(Describe(entry));
    }
    return points;
}

std::optional<TracePointInfo> FindTracePoint(uint32_t id) {
    Registry& registry = TheRegistry();
    SharedGuard guard(registry.lock);
    if (id >= registry.entries.size()) {
        return std::nullopt;
    }
    return Describe(registry.entries[id]);
}

bool EnableTracePoint(uint32_t id, bool enabled) {
    Registry& registry = TheRegistry();
    SharedGuard guard(registry.lock);
    if (id >= registry.entries.size()) {
        return false;
    }
    registry.entries[id].enabled.store(enabled, std::memory_order_relaxed);
    return true;
}

}  // namespace Logging
