#include "logging/common/thread_win.h"

#include <cstring>

#include "core/common/assert.h"
#include "core/common/handles.h"

namespace Logging {

namespace {
constexpr char kThreadSource[] = "logging/common/thread_win";
constexpr char kThreadMark[8] = {'W', 'i', 'n', 'T', 'h', 'r', 'e', 'a'};
}  // namespace

struct ThreadRecord {
    char mark[8];
    ThreadFunction function;
    void* argument;
    DWORD id;
    Common::UniqueHandle handle;
};

namespace {

bool CheckThreadHandle(const ThreadRecord* thread) {
    return thread != nullptr && std::memcmp(thread->mark, kThreadMark, sizeof kThreadMark) == 0 &&
           thread->handle.valid();
}

DWORD WINAPI ThreadMain(void* parameter) {
    const ThreadRecord* thread = static_cast<const ThreadRecord*>(parameter);
    return thread->function(thread->argument);
}

}  // namespace

void ThreadJoiner::operator()(ThreadRecord* thread) const noexcept {
    const std::unique_ptr<ThreadRecord> owned(thread);
    if (!CheckThreadHandle(thread)) {
        Common::ReportAssertion("CheckThreadHandle(thread)", kThreadSource, __LINE__);
        return;
    }
    ::WaitForSingleObject(thread->handle.get(), INFINITE);
}

ThreadHandle StartThread(ThreadFunction function, void* argument) {
    if (function == nullptr) {
        return nullptr;
    }
    auto thread = std::make_unique<ThreadRecord>();
    std::memcpy(thread->mark, kThreadMark, sizeof kThreadMark);
    thread->function = function;
    thread->argument = argument;
    thread->id = 0;
    // Started suspended so that the record is complete before the thread reads it.
    thread->handle.reset(::CreateThread(nullptr, 0, ThreadMain, thread.get(), CREATE_SUSPENDED, &thread->id));
    if (!thread->handle) {
        return nullptr;
    }
    ::ResumeThread(thread->handle.get());
    return ThreadHandle(thread.release());
}

uint32_t ThreadId(const ThreadHandle& thread) noexcept {
    return thread ? thread->id : 0;
}

}  // namespace Logging
