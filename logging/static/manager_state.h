#pragma once

// The logging manager's private state and its lock. The manager's operations are spread over
// the files named after what they do (delivery, channel operations and queries, trace
// entries, start and end); they all work on this one object.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logging/channel_config.h"
#include "logging/common/srw_lock.h"
#include "logging/common/thread_slot.h"
#include "logging/logging_manager.h"
#include "logging/static/backend.h"
#include "logging/static/channel_graph.h"
#include "logging/static/fast_routes.h"
#include "logging/static/manager_internal.h"
#include "logging/static/panic_logic.h"
#include "logging/static/trace_record.h"

namespace Logging {

// The source that the library's own messages and assertions name.
constexpr char kSelfTraceSource[] = "logging/static/debug_self";

// False once the manager is destroyed at process exit: later traces are dropped.
extern std::atomic<bool> g_managerAlive;
extern std::atomic<ConfigurationHook> g_configurationHook;
extern std::atomic<CommandHook> g_commandHook;
// Set at start-up, before any thread but the first exists; read without a lock afterwards.
extern BackendFactory g_backendFactories[kMaxBackendType + 1];

// Which side of the manager's lock the current thread holds. A delivery that starts while the
// thread already holds the lock (a back-end that logs, a self-trace of an operation) runs
// under that hold instead of taking the lock again.
enum LockMode : uint8_t { kUnlocked = 0, kShared = 1, kExclusive = 2 };

inline bool IsInvalidPointer(const char* name) {
    return name == NoChannel();
}

inline bool IsRegexName(std::string_view name) {
    constexpr std::string_view prefix = kRegexPrefix;
    return name.size() >= prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
}

inline bool IsPredefined(std::string_view name) {
    return name == "null" || name == "debugger" || name == "panic";
}

class VisitedList;

struct LoggingManager::Impl {
    // Takes the manager's lock in a mode unless the thread holds it already; a thread that
    // holds it shared cannot have it exclusive (Held() is then false).
    class Lock {
    public:
        Lock(Impl& impl, LockMode mode);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        bool Held() const { return held_; }
        bool OwnsShared() const { return owned_ == kShared; }

        // Runs `change` under the exclusive side, then returns to the shared side.
        template <typename Change>
        void WithExclusive(const Change& change) {
            impl_.lock.UnlockShared();
            impl_.lock.LockExclusive();
            impl_.routesStale.store(true, std::memory_order_relaxed);
            impl_.lockMode.Set(kExclusive);
            change();
            impl_.RefreshFastRoutes();
            impl_.lock.UnlockExclusive();
            impl_.lock.LockShared();
            impl_.lockMode.Set(kShared);
        }

    private:
        Impl& impl_;
        LockMode owned_ = kUnlocked;
        bool held_ = false;
    };

    LockMode HeldMode() const { return static_cast<LockMode>(lockMode.Get()); }

    ThreadSlot lockMode;
    // How many deliveries the current thread is inside of (a back-end or tracer that logs).
    ThreadSlot deliveryDepth;
    SrwLock lock;
    ChannelMap channels;
    std::string defaultChannel = "debugger";
    std::string mirrorChannel;

    // Entries are never removed: the fast routes point at their names and counters.
    SrwLock usageLock;
    std::map<std::string, UsageCounter, std::less<>> usage;
    FastRoutes fastRoutes;
    std::atomic<FastRoutes::Slot*> defaultRoute{nullptr};
    // Set while a change runs under the exclusive lock: the thread making the change may log
    // (its own messages) before the routes are refreshed, and must not trust them meanwhile.
    std::atomic<bool> routesStale{false};

    PanicLogicIf* panic = nullptr;

    // The trace redirector (trace_redirector.cpp): its back-end is not a channel, so that no
    // change of the channels ever waits for it. Its writes have a lock of their own.
    SrwLock redirectorLock;
    std::unique_ptr<Backend> redirectorBackend;
    int32_t redirectorUsage = 0;
    SrwLock redirectorWriteLock;
    // Set while the current thread writes to the redirector: what that write raises is dropped.
    ThreadSlot inRedirectorWrite;

    uint32_t cookie = 0;
    std::string homeDirectory;
    std::string configDirectory;
    std::string configName;
    std::string fatalErrorLog = "FatalError.log";
    std::string pipeName;
    bool controlPipe = false;
    bool listener = false;
    bool listenerAcceptsAll = false;
    uint16_t minPort = 24100;
    uint16_t maxPort = 24300;
    uint32_t readingMode = 2;
    std::atomic<uint32_t> pendingMode{0};
    std::atomic<bool> shuttingDown{false};

    ~Impl() { SetPanic(nullptr); }

    // The library's own message to "logging-trace" (delivery.cpp).
    void SelfTrace(int line, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));

    // Usage counting and fast routes (fast_routes.cpp).
    UsageCounter* Usage(std::string_view name);
    const std::string* StableName(std::string_view name);
    int64_t DeliverFrom(std::string_view name);
    FastRoutes::Slot* AddFastRoute(std::string_view name);
    void RefreshFastRoutes();
    // True when a record of `level` for `channel` only needs counting, which is then done.
    bool CountedOnly(const char* channel, int32_t level);

    // Delivery (delivery.cpp).
    void ApplyPendingConfiguration();
    void DeliverRecord(TraceRecord& record);
    void Deliver(std::string_view name, TraceRecord& record, VisitedList& visited);

    // Channels, with the lock held (channel_operations.cpp).
    ChannelEntry* Find(std::string_view name);
    Backend* FindBackend(std::string_view name);
    // Null or empty: the default channel.
    std::string Resolve(const char* name) const;
    // Resolves `name` and creates it when it is a missing predefined channel, for operations
    // that inspect one channel under the shared lock.
    std::string ResolveForInspection(const char* name);
    void CreatePredefined(std::string_view name);
    void EnsurePredefined(std::string_view name);
    // The names an operation acts on: every match of a regular-expression name, else the name
    // itself when it exists. Throws std::regex_error for a bad expression.
    std::vector<std::string> Matches(const std::string& name);
    std::vector<std::string> MatchesOrNone(const std::string& name);
    int32_t CreateLocked(const std::string& name, const ChannelConfig& config);
    // After `name` stopped existing: no route points at it, the default and the panic handle
    // do not name it.
    void Forget(const std::string& name, const Backend* gone);
    void SetPanic(PanicLogicIf* handle);
};

struct LoggingManagerInternals {
    static LoggingManager::Impl& State(LoggingManager& manager) { return *manager.impl_; }
};

// The manager's state, for the library's own files.
inline LoggingManager::Impl& ManagerState() {
    return LoggingManagerInternals::State(LoggingManager::Instance());
}

}  // namespace Logging
