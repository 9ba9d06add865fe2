#pragma once

// A pointer-sized value of each thread (the system's thread-local storage): the runtime's own
// thread_local costs a library call on every access here, the system slot does not.

#include <cstdint>

namespace Logging {

class ThreadSlot {
public:
    ThreadSlot();
    ~ThreadSlot();
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    // 0 for a thread that never set it.
    uintptr_t Get() const noexcept;
    void Set(uintptr_t value) noexcept;

private:
    unsigned long index_;
};

}  // namespace Logging
