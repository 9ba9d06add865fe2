#include "core/common/trace_logic.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace Common {

namespace {

std::atomic<int32_t> g_minimumTraceLevel{2};

void DefaultTraceTextHook(int32_t, uint16_t, uint16_t, const wchar_t*) {}

std::atomic<TraceTextHook> g_traceTextHook{DefaultTraceTextHook};
std::atomic<bool> g_traceTextHookEnabled{true};

// Fans every trace out to the observers (subject to the minimum level) and the callbacks.
class CompositeTraceLogic final : public TraceLogic {
public:
    using TraceLogic::Trace;
    using TraceLogic::TraceData;
    using TraceLogic::TraceError;

    void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) override {
        ForEach(level, [&](TraceLogic* target) { target->Trace(channel, level, codeHigh, codeLow, text); });
    }
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void* data, uint32_t size) override {
        ForEach(level,
                [&](TraceLogic* target) { target->TraceData(channel, level, codeHigh, codeLow, text, data, size); });
    }
    void TraceError(const char* channel, int32_t level, const Error& error) override {
        ForEach(level, [&](TraceLogic* target) { target->TraceError(channel, level, error); });
    }
    bool ReceivesAllLevels() const override { return false; }

    std::vector<TraceLogic*> observers;
    std::vector<TraceLogic*> callbacks;

private:
    template <typename Call>
    void ForEach(int32_t level, const Call& call) {
        const bool admitted = level >= GetMinimumTraceLevel();
        for (TraceLogic* observer : observers) {
            if (admitted || observer->ReceivesAllLevels()) {
                call(observer);
            }
        }
        for (TraceLogic* callback : callbacks) {
            call(callback);
        }
    }
};

// Traces take the lock shared, (un)registration exclusive. An observer must not register or
// unregister from inside a trace.
SRWLOCK g_lock = SRWLOCK_INIT;
CompositeTraceLogic* g_composite = nullptr;

// How many traces this thread is inside.
thread_local int t_traceDepth = 0;

// Only a thread's outermost trace takes the lock: a trace from inside a delivery (an observer
// that asserts, and the assertion's hook traces) would queue behind a registration waiting on
// another thread, which in turn waits for the outer trace to end.
class SharedLock {
public:
    SharedLock() : outer_(t_traceDepth++ == 0) {
        if (outer_) {
            ::AcquireSRWLockShared(&g_lock);
        }
    }
    ~SharedLock() {
        if (outer_) {
            ::ReleaseSRWLockShared(&g_lock);
        }
        --t_traceDepth;
    }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    bool outer_;
};
class ExclusiveLock {
public:
    ExclusiveLock() { ::AcquireSRWLockExclusive(&g_lock); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&g_lock); }
};

void Add(std::vector<TraceLogic*> CompositeTraceLogic::*list, TraceLogic* object) {
    if (object == nullptr) {
        return;
    }
    ExclusiveLock lock;
    if (g_composite == nullptr) {
        g_composite = new CompositeTraceLogic;
    }
    auto& entries = g_composite->*list;
    if (std::find(entries.begin(), entries.end(), object) == entries.end()) {
        entries.push_back(object);
    }
}

void Remove(std::vector<TraceLogic*> CompositeTraceLogic::*list, TraceLogic* object) {
    ExclusiveLock lock;
    if (g_composite == nullptr) {
        return;
    }
    auto& entries = g_composite->*list;
    entries.erase(std::remove(entries.begin(), entries.end(), object), entries.end());
    if (g_composite->observers.empty() && g_composite->callbacks.empty()) {
        delete g_composite;
        g_composite = nullptr;
    }
}

}  // namespace

void SetMinimumTraceLevel(int32_t level) {
    g_minimumTraceLevel.store(level, std::memory_order_relaxed);
}

int32_t GetMinimumTraceLevel() {
    return g_minimumTraceLevel.load(std::memory_order_relaxed);
}

void RegisterTraceLogic(TraceLogic* observer) {
    Add(&CompositeTraceLogic::observers, observer);
}

void UnregisterTraceLogic(TraceLogic* observer) {
    Remove(&CompositeTraceLogic::observers, observer);
}

void RegisterTraceCallback(TraceLogic* callback) {
    Add(&CompositeTraceLogic::callbacks, callback);
}

void UnregisterTraceCallback(TraceLogic* callback) {
    Remove(&CompositeTraceLogic::callbacks, callback);
}

bool IsTraceLogicRegistered(const TraceLogic* observer) {
    SharedLock lock;
    return g_composite != nullptr && std::find(g_composite->observers.begin(), g_composite->observers.end(),
                                               observer) != g_composite->observers.end();
}

TraceTextHook SetTraceTextHook(TraceTextHook hook) {
    const TraceTextHook previous = g_traceTextHook.exchange(hook != nullptr ? hook : DefaultTraceTextHook);
    return previous == DefaultTraceTextHook ? nullptr : previous;
}

void EnableTraceTextHook(bool enabled) {
    g_traceTextHookEnabled.store(enabled);
}

void TraceText(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) {
    if (level >= GetMinimumTraceLevel() && g_traceTextHookEnabled.load()) {
        g_traceTextHook.load()(level, codeHigh, codeLow, text);
    }
    SharedLock lock;
    if (g_composite != nullptr) {
        g_composite->Trace(level, codeHigh, codeLow, text);
    }
}

void TraceData(int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text, const void* data,
               uint32_t size) {
    SharedLock lock;
    if (g_composite != nullptr) {
        g_composite->TraceData(level, codeHigh, codeLow, text, data, size);
    }
}

void TraceError(int32_t level, const Error& error) {
    SharedLock lock;
    if (g_composite != nullptr) {
        g_composite->TraceError(level, error);
    }
}

}  // namespace Common
