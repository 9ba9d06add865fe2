// The trace entries: a record is built (off the stack for critical messages) and delivered,
// unless the fast routes say that it would only be counted. Also the library's fatal
// messages and the back-ends' own ones.

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "core/common/assert.h"
#include "logging/static/backends/debugger_backend.h"
#include "logging/static/manager_state.h"

namespace Logging {

namespace {

// The records of levels CRITICAL_ERROR and above, one per entry, kept off the stack of a
// thread that may be failing; a second critical message while one is delivered uses the
// stack after all. Never destroyed: static destructors may still log.
struct CriticalRecord {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    TraceRecord record;
};

enum CriticalEntry { kFormattedEntry, kTextEntry, kDataEntry, kErrorEntry, kEntryCount };

CriticalRecord& Critical(CriticalEntry entry) {
    alignas(CriticalRecord) static unsigned char storage[kEntryCount][sizeof(CriticalRecord)];
    static CriticalRecord* const records = [] {
        CriticalRecord* first = nullptr;
        for (int i = 0; i < kEntryCount; ++i) {
            CriticalRecord* record = new (storage[i]) CriticalRecord;
            if (i == 0) {
                first = record;
            }
        }
        return first;
    }();
    return records[entry];
}

template <typename Fill>
void WithRecord(int32_t level, CriticalEntry entry, const Fill& fill) {
    if (level >= CRITICAL_ERROR) {
        CriticalRecord& critical = Critical(entry);
        if (!critical.busy.test_and_set(std::memory_order_acquire)) {
            fill(critical.record);
            critical.busy.clear(std::memory_order_release);
            return;
        }
    }
    TraceRecord record;
    fill(record);
}

}  // namespace

void LoggingManager::TraceFormatted(const char* channel, int32_t level, const TraceLocation& location,
                                    const char* format, va_list args) {
    if (IsInvalidPointer(channel) || !g_managerAlive.load(std::memory_order_relaxed) ||
        impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kFormattedEntry, [&](TraceRecord& record) {
        record.SetFormatted(channel, level, location, format, args);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceText(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                               const wchar_t* text) {
    if (IsInvalidPointer(channel) || !g_managerAlive.load(std::memory_order_relaxed) ||
        impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kTextEntry, [&](TraceRecord& record) {
        record.SetText(channel, level, codeHigh, codeLow, text);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                               const wchar_t* text, const void* data, uint32_t size) {
    if (IsInvalidPointer(channel) || !g_managerAlive.load(std::memory_order_relaxed) ||
        impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kDataEntry, [&](TraceRecord& record) {
        record.SetData(channel, level, codeHigh, codeLow, text, data, size);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceError(const char* channel, int32_t level, const Common::Error& error) {
    if (IsInvalidPointer(channel) || !g_managerAlive.load(std::memory_order_relaxed) ||
        impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kErrorEntry, [&](TraceRecord& record) {
        record.SetError(channel, level, error);
        impl_->DeliverRecord(record);
    });
}

namespace {

std::atomic<BackendTraceObserver> g_traceObserver{nullptr};

// Never destroyed: threads may report until the process ends.
ThreadSlot& ReportSinkSlot() {
    static ThreadSlot* const slot = new ThreadSlot;
    return *slot;
}

std::string FormatText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

void SetBackendTraceObserver(BackendTraceObserver observer) {
    g_traceObserver.store(observer);
}

void SetThreadReportSink(BackendReportSink sink) {
    ReportSinkSlot().Set(reinterpret_cast<uintptr_t>(sink));
}

void TraceFromBackend(int32_t level, const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", kSelfTraceSource, __LINE__);
        return;
    }
    // Tests watch what back-ends report without a listener.
    if (const BackendTraceObserver observer = g_traceObserver.load()) {
        va_list args;
        va_start(args, format);
        observer(level, FormatText(format, args).c_str());
        va_end(args);
    }
    if (!g_managerAlive.load(std::memory_order_relaxed)) {
        return;
    }
    LoggingManager::Impl& impl = ManagerState();
    if (impl.shuttingDown.load(std::memory_order_relaxed) || impl.inRedirectorWrite.Get() != 0) {
        return;
    }
    // Back-ends call this while they hold their own locks, so the message travels to the
    // listener's thread; the redirector's write takes no lock but its own.
    Backend* redirector = AcquireTraceRedirector();
    if (redirector == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    {
        TraceRecord record;
        record.SetFormatted(kSelfTraceChannel, level, TraceLocation{kSelfTraceSource, "Logging::Backend", 0}, format,
                            args);
        record.SetForwarded(true);
        impl.inRedirectorWrite.Set(1);
        try {
            ExclusiveGuard guard(impl.redirectorWriteLock);
            redirector->Write(record);
        } catch (...) {
            // A message that cannot be sent is lost; the back-end that raised it goes on.
        }
        impl.inRedirectorWrite.Set(0);
    }
    va_end(args);
    ReleaseTraceRedirector();
}

namespace {

void PanicTraceV(LoggingManager::Impl& impl, const char* format, va_list args) {
    {
        va_list copy;
        va_copy(copy, args);
        TraceRecord record;
        record.SetFormatted("panic", ERROR_TRACE, TraceLocation{kSelfTraceSource, "Logging::LoggingManager", 0}, format,
                            copy);
        va_end(copy);
        // The write happens under the shared side of the lock, so that re-tuning or removing
        // "panic" (exclusive) cannot close the back-end while its line is being written.
        LoggingManager::Impl::Lock lock(impl, kShared);
        if (PanicLogicIf* panic = impl.panic) {
            const std::string_view line = record.BuildLine(0x1000b4, std::string_view(), true);
            std::wstring wide(line.size(), L'\0');
            for (size_t i = 0; i < line.size(); ++i) {
                wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(line[i]));
            }
            panic->TraceText(panic, ERROR_TRACE, 0, 0, wide.c_str());
        } else {
            DebuggerBackend debugger;
            DebuggerConfig config;
            debugger.SetConfig("panic", config);
            debugger.Write(record);
        }
    }
    if (!impl.shuttingDown.load(std::memory_order_relaxed)) {
        TraceRecord record;
        record.SetFormatted(kSelfTraceChannel, CRITICAL_ERROR,
                            TraceLocation{kSelfTraceSource, "Logging::LoggingManager", 0}, format, args);
        impl.DeliverRecord(record);
    }
}

}  // namespace

void PanicTrace(const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", kSelfTraceSource, __LINE__);
        return;
    }
    va_list args;
    va_start(args, format);
    PanicTraceV(ManagerState(), format, args);
    va_end(args);
}

void ReportBackendError(const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", kSelfTraceSource, __LINE__);
        return;
    }
    if (!g_managerAlive.load(std::memory_order_relaxed)) {
        return;
    }
    LoggingManager::Impl& impl = ManagerState();
    if (impl.shuttingDown.load(std::memory_order_relaxed)) {
        return;
    }
    va_list args;
    va_start(args, format);
    if (const auto sink = reinterpret_cast<BackendReportSink>(ReportSinkSlot().Get())) {
        sink(FormatText(format, args).c_str());
    } else {
        PanicTraceV(impl, format, args);
    }
    va_end(args);
}

bool TryReportBackendError(const char* text) {
    if (!g_managerAlive.load(std::memory_order_relaxed)) {
        return true;
    }
    LoggingManager::Impl& impl = ManagerState();
    if (impl.HeldMode() == kUnlocked) {
        if (!impl.lock.TryLockShared()) {
            return false;
        }
        // The nested holds of the delivery then take the shared side that this thread has.
        impl.lockMode.Set(kShared);
        ReportBackendError("%s", text);
        impl.lockMode.Set(kUnlocked);
        impl.lock.UnlockShared();
    } else {
        ReportBackendError("%s", text);
    }
    return true;
}

}  // namespace Logging
