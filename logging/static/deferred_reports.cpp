#include "logging/static/deferred_reports.h"

#include <process.h>

#include <atomic>
#include <deque>
#include <string>

#include "core/common/handles.h"
#include "logging/common/srw_lock.h"
#include "logging/static/manager_internal.h"

namespace Logging {
namespace DeferredReports {

namespace {

// A writer that fails on every batch must not fill the memory with its reports.
constexpr size_t kMaxQueued = 256;
// How long the thread waits before it tries the manager's lock again.
constexpr DWORD kRetryMs = 10;

struct Relay {
    SrwLock lock;
    std::deque<std::string> texts;
    Common::UniqueHandle thread;
    bool running = false;  // the thread exists and has not seen the queue empty
    std::atomic<bool> stopped{false};
};

// Never destroyed: the writer thread may report until the manager ends.
Relay& State() {
    static Relay* const relay = new Relay;
    return *relay;
}

unsigned __stdcall Run(void*) {
    Relay& relay = State();
    for (;;) {
        std::string text;
        {
            ExclusiveGuard guard(relay.lock);
            if (relay.texts.empty() || relay.stopped.load()) {
                relay.running = false;
                return 0;
            }
            text = std::move(relay.texts.front());
            relay.texts.pop_front();
        }
        while (!TryReportBackendError(text.c_str())) {
            if (relay.stopped.load()) {
                break;
            }
            ::Sleep(kRetryMs);
        }
    }
}

void Queue(const char* text) {
    Relay& relay = State();
    ExclusiveGuard guard(relay.lock);
    if (relay.stopped.load() || relay.texts.size() >= kMaxQueued) {
        return;
    }
    relay.texts.emplace_back(text);
    if (relay.running) {
        return;
    }
    if (relay.thread) {
        // It has seen the queue empty and needs no lock to end.
        ::WaitForSingleObject(relay.thread.get(), INFINITE);
        relay.thread.reset();
    }
    relay.thread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, nullptr, 0, nullptr)));
    relay.running = relay.thread.valid();
    if (!relay.running) {
        relay.texts.clear();
    }
}

}  // namespace

void DeferOnThisThread() {
    SetThreadReportSink(&Queue);
}

void Stop() {
    Relay& relay = State();
    Common::UniqueHandle thread;
    {
        ExclusiveGuard guard(relay.lock);
        relay.stopped.store(true);
        relay.texts.clear();
        thread = std::move(relay.thread);
    }
    if (thread) {
        ::WaitForSingleObject(thread.get(), INFINITE);
    }
}

}  // namespace DeferredReports
}  // namespace Logging
