#pragma once

// The library's own threads (the control worker and the like): a checked heap record around
// the system thread, joined when its owner lets go of it.

#include <cstdint>
#include <memory>

namespace Logging {

using ThreadFunction = uint32_t (*)(void* argument);

struct ThreadRecord;

// Waits for the thread to end, without time-out, then frees its record.
struct ThreadJoiner {
    void operator()(ThreadRecord* thread) const noexcept;
};
using ThreadHandle = std::unique_ptr<ThreadRecord, ThreadJoiner>;

// Runs function(argument) on a new thread; null when the thread cannot be created.
ThreadHandle StartThread(ThreadFunction function, void* argument);

// The system id of the thread (0 for none).
uint32_t ThreadId(const ThreadHandle& thread) noexcept;

}  // namespace Logging
