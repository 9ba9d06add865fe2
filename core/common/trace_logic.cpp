#include "core/common/trace_logic.h"

#include <atomic>

namespace Common {

namespace {
std::atomic<int32_t> g_minimumTraceLevel{2};
}

void SetMinimumTraceLevel(int32_t level) {
    g_minimumTraceLevel.store(level, std::memory_order_relaxed);
}

int32_t GetMinimumTraceLevel() {
    return g_minimumTraceLevel.load(std::memory_order_relaxed);
}

void TraceText(int32_t, uint16_t, uint16_t, const wchar_t*) {}

}  // namespace Common
