#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Allocations still allowed before they fail; negative: no limit.
std::atomic<int> g_allowed{-1};
std::atomic<int> g_refused{0};
}  // namespace

// The default operator delete frees with std::free, so blocks from here may go back through it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    int allowed = g_allowed.load();
    while (allowed >= 0) {
        if (allowed == 0) {
            g_refused.fetch_add(1);
            return nullptr;
        }
        if (g_allowed.compare_exchange_weak(allowed, allowed - 1)) {
            break;
        }
    }
    return std::malloc(size != 0 ? size : 1);
}

namespace TestSupport {

FailingNothrowAllocations::FailingNothrowAllocations(int successes) {
    g_refused.store(0);
    g_allowed.store(successes);
}

FailingNothrowAllocations::~FailingNothrowAllocations() {
    g_allowed.store(-1);
}

int FailingNothrowAllocations::refused() const {
    return g_refused.load();
}

}  // namespace TestSupport
