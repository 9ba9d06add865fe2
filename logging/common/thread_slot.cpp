#include "logging/common/thread_slot.h"

#include <windows.h>

#include <cstdlib>

namespace Logging {

ThreadSlot::ThreadSlot() : index_(::TlsAlloc()) {
    if (index_ == TLS_OUT_OF_INDEXES) {
        // The process cannot run its logging without it; there is no caller to report to.
        std::abort();
    }
}

ThreadSlot::~ThreadSlot() {
    ::TlsFree(index_);
}

uintptr_t ThreadSlot::Get() const noexcept {
    return reinterpret_cast<uintptr_t>(::TlsGetValue(index_));
}

void ThreadSlot::Set(uintptr_t value) noexcept {
    ::TlsSetValue(index_, reinterpret_cast<void*>(value));
}

}  // namespace Logging
