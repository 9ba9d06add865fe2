#include "logging/logging_manager.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <regex>
#include <string_view>

#include "core/common/assert.h"
#include "logging/channel_config.h"
#include "logging/common/platform.h"
#include "logging/common/srw_lock.h"
#include "logging/common/thread_slot.h"
#include "logging/static/backend.h"
#include "logging/static/console_backend.h"
#include "logging/static/custom_backend.h"
#include "logging/static/debugger_backend.h"
#include "logging/static/null_backend.h"
#include "logging/static/panic_logic.h"
#include "logging/static/trace_record.h"

namespace Logging {

namespace {

constexpr char kSelfTraceSource[] = "logging/static/debug_self";
constexpr std::string_view kSelfChannel = kSelfTraceChannel;
constexpr std::string_view kRegex = kRegexPrefix;

// False once the manager is destroyed at process exit: later traces are dropped.
std::atomic<bool> g_managerAlive{false};

std::atomic<LoggingManager::ConfigurationHook> g_configurationHook{nullptr};
std::atomic<LoggingManager::CommandHook> g_commandHook{nullptr};

// Set at start-up, before any thread but the first exists; read without a lock afterwards.
LoggingManager::BackendFactory g_backendFactories[kMaxBackendType + 1] = {};

// Which side of the manager's lock the current thread holds. A delivery that starts while the
// thread already holds the lock (a back-end that logs, a self-trace of an operation) runs
// under that hold instead of taking the lock again.
enum LockMode : uint8_t { kUnlocked = 0, kShared = 1, kExclusive = 2 };

bool IsInvalidPointer(const char* name) {
    return name == NoChannel();
}

bool IsRegexName(std::string_view name) {
    return name.size() >= kRegex.size() && name.compare(0, kRegex.size(), kRegex) == 0;
}

bool HasBadCharacter(std::string_view name) {
    return name.find_first_of(" \t#") != std::string_view::npos;
}

bool IsPredefined(std::string_view name) {
    return name == "null" || name == "debugger" || name == "panic";
}

std::unique_ptr<ChannelConfig> PredefinedConfig(std::string_view name) {
    if (name == "null") {
        return std::make_unique<NullConfig>();
    }
    return std::make_unique<DebuggerConfig>();
}

const char* TypeText(uint32_t type) {
    switch (type) {
        case BACKEND_NULL: return "null";
        case BACKEND_DEBUGGER: return "debugger";
        case BACKEND_CONSOLE: return "console";
        case BACKEND_FILE: return "file";
        case BACKEND_SHAREDFILE: return "shared file";
        case BACKEND_CUSTOM: return "custom";
        case BACKEND_LOGSCOPE: return "logscope";
        case BACKEND_GATE: return "gate";
        case BACKEND_FILEFOLDER: return "filefolder";
        default: return nullptr;
    }
}

std::shared_ptr<Backend> MakeBackend(uint32_t type) {
    switch (type) {
        case BACKEND_NULL: return std::make_shared<NullBackend>();
        case BACKEND_DEBUGGER: return std::make_shared<DebuggerBackend>();
        case BACKEND_CONSOLE: return std::make_shared<ConsoleBackend>();
        case BACKEND_CUSTOM: return std::make_shared<CustomBackend>();
        default: {
            const LoggingManager::BackendFactory factory = type <= kMaxBackendType ? g_backendFactories[type] : nullptr;
            return factory != nullptr ? factory() : nullptr;
        }
    }
}

// The names a delivery has reached; a record reaches each channel once.
class VisitedList {
public:
    VisitedList() {}  // NOLINT: keeps inline_ uninitialised

    // False when `name` was visited before.
    bool Visit(std::string_view name) {
        for (size_t i = 0; i < count_ && i < kInline; ++i) {
            if (inline_[i] == name) {
                return false;
            }
        }
        if (std::find(more_.begin(), more_.end(), name) != more_.end()) {
            return false;
        }
        if (count_ < kInline) {
            inline_[count_] = name;
        } else {
            if (more_.size() == more_.capacity()) {
                more_.reserve(more_.size() + kInline);
            }
            more_.push_back(name);
        }
        ++count_;
        return true;
    }

private:
    static constexpr size_t kInline = 64;
    // Left uninitialised: a delivery usually visits one or two names.
    std::string_view inline_[kInline];
    size_t count_ = 0;
    std::vector<std::string_view> more_;
};

}  // namespace

// Deliveries counted per name. Threads count in different slots, on different cache lines,
// so that two threads logging to one channel do not fight over one counter.
class UsageCounter {
public:
    void Add() { slots_[(Platform::CurrentThreadId() >> 2) % kSlots].value.fetch_add(1, std::memory_order_relaxed); }
    uint64_t Total() const {
        uint64_t total = 0;
        for (const Slot& slot : slots_) {
            total += slot.value.load(std::memory_order_relaxed);
        }
        return total;
    }

private:
    static constexpr size_t kSlots = 4;
    struct Slot {
        std::atomic<uint64_t> value{0};
        char padding[64 - sizeof(std::atomic<uint64_t>)];
    };
    Slot slots_[kSlots];
};

// A record's level from which delivering to a name does more than count it: below it the
// record would be filtered out everywhere it goes.
constexpr int64_t kAlwaysDeliver = INT64_MIN;
constexpr int64_t kNeverWritten = INT64_MAX;

// What the manager knows about names it has delivered to, readable without its lock: for a
// name whose delivery is only counting (no channel, or a channel without links and
// redirection whose filter drops the record), the record need not even be built. The slots
// are filled once and never emptied; every change of the channels refreshes their levels
// under the exclusive lock, so a reader sees either the state before a change or after it.
class FastRoutes {
public:
    struct Slot {
        std::atomic<const std::string*> name{nullptr};
        UsageCounter* usage = nullptr;
        std::atomic<int64_t> deliverFrom{kAlwaysDeliver};
    };

    Slot* Find(const char* name) const {
        const uint32_t hash = Hash(name);
        for (size_t probe = 0; probe < kProbes; ++probe) {
            Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
            const std::string* key = slot.name.load(std::memory_order_acquire);
            if (key == nullptr) {
                return nullptr;
            }
            if (std::strcmp(key->c_str(), name) == 0) {
                return &slot;
            }
        }
        return nullptr;
    }

    Slot* Find(std::string_view name) const {
        const uint32_t hash = Hash(name);
        for (size_t probe = 0; probe < kProbes; ++probe) {
            Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
            const std::string* key = slot.name.load(std::memory_order_acquire);
            if (key == nullptr) {
                return nullptr;
            }
            if (*key == name) {
                return &slot;
            }
        }
        return nullptr;
    }

    // `name` and `usage` live as long as the manager. Null when the table is full.
    Slot* Insert(const std::string* name, UsageCounter* usage, int64_t deliverFrom) {
        ExclusiveGuard guard(insertLock_);
        const uint32_t hash = Hash(name->c_str());
        for (size_t probe = 0; probe < kProbes; ++probe) {
            Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
            const std::string* key = slot.name.load(std::memory_order_acquire);
            if (key == nullptr) {
                slot.usage = usage;
                slot.deliverFrom.store(deliverFrom, std::memory_order_relaxed);
                slot.name.store(name, std::memory_order_release);
                return &slot;
            }
            if (*key == *name) {
                return &slot;
            }
        }
        return nullptr;
    }

    template <typename Visit>
    void ForEach(const Visit& visit) {
        for (Slot& slot : slots_) {
            if (slot.name.load(std::memory_order_acquire) != nullptr) {
                visit(slot);
            }
        }
    }

private:
    static constexpr size_t kSlots = 1024;
    static constexpr size_t kProbes = 16;

    static uint32_t Hash(const char* name) {
        uint32_t hash = 2166136261u;
        for (const char* p = name; *p != '\0'; ++p) {
            hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
        }
        return hash;
    }
    static uint32_t Hash(std::string_view name) {
        uint32_t hash = 2166136261u;
        for (const char c : name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        return hash;
    }

    mutable Slot slots_[kSlots];
    SrwLock insertLock_;
};

struct ChannelEntry {
    std::shared_ptr<Backend> backend;
    UsageCounter* usage = nullptr;
};

struct LoggingManager::Impl {
    // Takes the manager's lock in a mode unless the thread holds it already; a thread that
    // holds it shared cannot have it exclusive (Held() is then false).
    class Lock {
    public:
        Lock(Impl& impl, LockMode mode) : impl_(impl) {
            const LockMode held = impl_.HeldMode();
            if (held == kUnlocked) {
                if (mode == kShared) {
                    impl_.lock.LockShared();
                } else {
                    impl_.lock.LockExclusive();
                    impl_.routesStale.store(true, std::memory_order_relaxed);
                }
                impl_.lockMode.Set(mode);
                owned_ = mode;
                held_ = true;
            } else {
                held_ = mode == kShared || held == kExclusive;
            }
        }
        ~Lock() {
            if (owned_ == kShared) {
                impl_.lockMode.Set(kUnlocked);
                impl_.lock.UnlockShared();
            } else if (owned_ == kExclusive) {
                impl_.RefreshFastRoutes();
                impl_.lockMode.Set(kUnlocked);
                impl_.lock.UnlockExclusive();
            }
        }
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
    SrwLock lock;
    std::map<std::string, ChannelEntry, std::less<>> channels;
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

    uint32_t cookie = 0;
    std::string homeDirectory;
    std::string configDirectory;
    std::string configName;
    std::string fatalErrorLog = "FatalError.log";
    std::string pipeName;
    bool controlPipe = false;
    bool listener = false;
    uint16_t minPort = 24100;
    uint16_t maxPort = 24300;
    uint32_t readingMode = 2;
    std::atomic<uint32_t> pendingMode{0};
    std::atomic<bool> shuttingDown{false};

    ~Impl() { SetPanic(nullptr); }

    // ---- self-trace -------------------------------------------------------------------

    void SelfTrace(int line, const char* format, ...) __attribute__((format(gnu_printf, 3, 4))) {
        if (format == nullptr) {
            Common::ReportAssertion("format", kSelfTraceSource, line);
            return;
        }
        if (shuttingDown.load(std::memory_order_relaxed)) {
            return;
        }
        va_list args;
        va_start(args, format);
        TraceRecord record;
        record.SetFormatted(kSelfTraceChannel, INFORMATION,
                            TraceLocation{kSelfTraceSource, "Logging::LoggingManager", line}, format, args);
        va_end(args);
        DeliverRecord(record);
    }

    // ---- usage ------------------------------------------------------------------------

    UsageCounter* Usage(std::string_view name) {
        {
            SharedGuard guard(usageLock);
            const auto it = usage.find(name);
            if (it != usage.end()) {
                return &it->second;
            }
        }
        ExclusiveGuard guard(usageLock);
        auto it = usage.find(name);
        if (it == usage.end()) {
            it = usage.emplace(std::piecewise_construct, std::forward_as_tuple(name), std::forward_as_tuple()).first;
        }
        return &it->second;
    }

    const std::string* StableName(std::string_view name) {
        Usage(name);
        SharedGuard guard(usageLock);
        return &usage.find(name)->first;
    }

    // ---- fast routes (lock held) -----------------------------------------------------

    int64_t DeliverFrom(std::string_view name) {
        if (!mirrorChannel.empty()) {
            return kAlwaysDeliver;
        }
        const ChannelEntry* entry = Find(name);
        if (entry == nullptr) {
            return IsPredefined(name) ? kAlwaysDeliver : kNeverWritten;
        }
        const Backend& backend = *entry->backend;
        if (!backend.GetRedirection().empty() || !backend.GetLinks().empty()) {
            return kAlwaysDeliver;
        }
        return backend.LowestWrittenLevel();
    }

    FastRoutes::Slot* AddFastRoute(std::string_view name) {
        FastRoutes::Slot* route = fastRoutes.Find(name);
        if (route == nullptr) {
            route = fastRoutes.Insert(StableName(name), Usage(name), DeliverFrom(name));
        }
        return route;
    }

    void RefreshFastRoutes() {
        fastRoutes.ForEach([this](FastRoutes::Slot& slot) {
            slot.deliverFrom.store(DeliverFrom(*slot.name.load(std::memory_order_relaxed)), std::memory_order_release);
        });
        defaultRoute.store(AddFastRoute(defaultChannel), std::memory_order_release);
        routesStale.store(false, std::memory_order_release);
    }

    // True when a record of `level` for `channel` only needs counting, which is then done.
    bool CountedOnly(const char* channel, int32_t level) {
        if (pendingMode.load(std::memory_order_relaxed) != 0 || routesStale.load(std::memory_order_acquire)) {
            return false;
        }
        FastRoutes::Slot* route = channel == nullptr || *channel == '\0' ? defaultRoute.load(std::memory_order_acquire)
                                                                         : fastRoutes.Find(channel);
        if (route == nullptr || level >= route->deliverFrom.load(std::memory_order_acquire)) {
            return false;
        }
        route->usage->Add();
        return true;
    }

    // ---- delivery ---------------------------------------------------------------------

    void ApplyPendingConfiguration() {
        if (pendingMode.load(std::memory_order_acquire) == 0 || HeldMode() != kUnlocked) {
            return;
        }
        Lock lock(*this, kExclusive);
        const uint32_t mode = pendingMode.exchange(0);
        if (mode == 0) {
            return;
        }
        if (const ConfigurationHook hook = g_configurationHook.load()) {
            hook(LoggingManager::Instance(), mode);
        }
        if (const CommandHook hook = g_commandHook.load()) {
            hook(LoggingManager::Instance(), "LOGGING_POST_INIT_CMD");
        }
    }

    void DeliverRecord(TraceRecord& record) {
        std::string_view name = record.Channel() != nullptr ? record.Channel() : "";
        if (name != kSelfChannel) {
            ApplyPendingConfiguration();
        }
        Lock lock(*this, kShared);
        if (name.empty()) {
            record.SetChannel(defaultChannel.c_str());
            name = defaultChannel;
        } else if (!IsRegexName(name)) {
            // "<channel>#<target>" is delivered to the channel; the target stays in the record.
            name = name.substr(0, name.find('#'));
        }
        if (IsPredefined(name) && lock.OwnsShared() && channels.find(name) == channels.end()) {
            // The default channel may change while the lock is exchanged: keep our own copy.
            const std::string wanted(name);
            const bool isDefault = name.data() == defaultChannel.data();
            lock.WithExclusive([&] {
                if (channels.find(wanted) == channels.end()) {
                    CreatePredefined(wanted);
                }
            });
            if (isDefault) {
                record.SetChannel(defaultChannel.c_str());
                name = defaultChannel;
            }
        }
        if (!IsRegexName(name)) {
            FastRoutes::Slot* route = AddFastRoute(name);
            if (name.data() == defaultChannel.data()) {
                defaultRoute.store(route, std::memory_order_release);
            }
        }
        VisitedList visited;
        if (!mirrorChannel.empty() && name != kSelfChannel && std::strchr(record.Channel(), '#') == nullptr) {
            Deliver(mirrorChannel, record, visited);
        }
        if (IsRegexName(name)) {
            try {
                const std::regex expression(name.begin() + kRegex.size(), name.end(), std::regex::ECMAScript);
                for (const auto& channel : channels) {
                    if (std::regex_match(channel.first, expression)) {
                        Deliver(channel.first, record, visited);
                    }
                }
            } catch (const std::regex_error& error) {
                SelfTrace(__LINE__, "regex_error caught: %s", error.what());
            }
            return;
        }
        Deliver(name, record, visited);
    }

    void Deliver(std::string_view name, TraceRecord& record, VisitedList& visited) {
        if (!visited.Visit(name)) {
            return;
        }
        const auto it = channels.find(name);
        if (it == channels.end()) {
            Usage(name)->Add();
            return;
        }
        const ChannelEntry& entry = it->second;
        entry.usage->Add();
        Backend& backend = *entry.backend;
        if (!backend.GetRedirection().empty()) {
            Deliver(backend.GetRedirection(), record, visited);
            return;
        }
        if (!backend.IsFiltered(record)) {
            backend.WriteRecord(record);
        }
        for (const std::string& link : backend.GetLinks()) {
            if (channels.find(link) == channels.end()) {
                Common::ReportAssertion("it != Channels.end() || !\"logging: Invalid link\"", kSelfTraceSource,
                                        __LINE__);
                continue;
            }
            Deliver(link, record, visited);
        }
    }

    // ---- channels (exclusive lock held) -----------------------------------------------

    ChannelEntry* Find(std::string_view name) {
        const auto it = channels.find(name);
        return it == channels.end() ? nullptr : &it->second;
    }

    // Null or empty: the default channel. Call with the lock held.
    std::string Resolve(const char* name) const {
        return name == nullptr || *name == '\0' ? defaultChannel : std::string(name);
    }

    // Resolves `name` and creates it when it is a missing predefined channel, for operations
    // that inspect one channel under the shared lock.
    std::string ResolveForInspection(const char* name) {
        std::string resolved;
        {
            Lock lock(*this, kShared);
            resolved = Resolve(name);
        }
        if (IsPredefined(resolved)) {
            Lock lock(*this, kExclusive);
            if (lock.Held()) {
                EnsurePredefined(resolved);
            }
        }
        return resolved;
    }

    Backend* FindBackend(std::string_view name) {
        ChannelEntry* entry = Find(name);
        return entry != nullptr ? entry->backend.get() : nullptr;
    }

    void CreatePredefined(std::string_view name) {
        const std::unique_ptr<ChannelConfig> config = PredefinedConfig(name);
        CreateLocked(std::string(name), *config);
    }

    void EnsurePredefined(std::string_view name) {
        if (IsPredefined(name) && channels.find(name) == channels.end()) {
            CreatePredefined(name);
        }
    }

    // The names an operation acts on: every match of a regular-expression name, else the name
    // itself when it exists. Throws std::regex_error for a bad expression.
    std::vector<std::string> Matches(const std::string& name) {
        std::vector<std::string> names;
        if (IsRegexName(name)) {
            const std::regex expression(name.substr(kRegex.size()), std::regex::ECMAScript);
            for (const auto& channel : channels) {
                if (std::regex_match(channel.first, expression)) {
                    names.push_back(channel.first);
                }
            }
        } else {
            EnsurePredefined(name);
            if (channels.find(name) != channels.end()) {
                names.push_back(name);
            }
        }
        return names;
    }

    std::vector<std::string> MatchesOrNone(const std::string& name) {
        try {
            return Matches(name);
        } catch (const std::regex_error& error) {
            SelfTrace(__LINE__, "regex_error caught: %s", error.what());
            return {};
        }
    }

    int32_t CreateLocked(const std::string& name, const ChannelConfig& config) {
        if (channels.find(name) != channels.end()) {
            Common::ReportAssertion("!exists", kSelfTraceSource, __LINE__);
            return LOGGING_RC_CHANNEL_IS_ALREADY_EXISTS;
        }
        const uint32_t type = config.GetType();
        const char* typeText = TypeText(type);
        std::shared_ptr<Backend> backend = typeText != nullptr ? MakeBackend(type) : nullptr;
        if (typeText != nullptr) {
            SelfTrace(__LINE__, "CreateChannel: %s (%s)", name.c_str(), typeText);
        }
        if (!backend) {
            Common::ReportAssertion("!\"Unsupported backend type\"", kSelfTraceSource, __LINE__);
            return LOGGING_RC_UNSUPPORTED_BACKEND_TYPE;
        }
        const int32_t rc = backend->SetConfig(name.c_str(), config);
        if (rc != LOGGING_RC_NOERROR) {
            SelfTrace(__LINE__, "CreateChannel: SetConfig for channel %s. status=%Xh", name.c_str(),
                      static_cast<unsigned>(rc));
            backend->Close();
            return rc;
        }
        ChannelEntry entry;
        entry.backend = std::move(backend);
        entry.usage = Usage(name);
        const auto inserted = channels.emplace(name, std::move(entry)).first;
        if (name == "panic") {
            SetPanic(MakePanicLogic(inserted->second.backend));
        }
        return LOGGING_RC_NOERROR;
    }

    void SetPanic(PanicLogicIf* handle) {
        PanicLogicIf* old = panic;
        panic = handle;
        if (old != nullptr) {
            old->Release(old);
        }
    }

    // Drops every link to `name` and every redirection to it.
    void ForgetReferencesTo(const std::string& name) {
        for (auto& channel : channels) {
            Backend& backend = *channel.second.backend;
            backend.RemoveLink(name);
            if (backend.GetRedirection() == name) {
                backend.SetRedirection(std::string());
            }
        }
    }

    // True when the channels reachable from `start` along redirections and links form a loop.
    bool HasLoop(const std::string& start) {
        enum State : uint8_t { kOnPath = 1, kDone = 2 };
        std::map<std::string_view, uint8_t> state;
        struct Frame {
            std::string_view name;
            std::vector<std::string_view> next;
            size_t index = 0;
        };
        auto successors = [this](std::string_view name) {
            std::vector<std::string_view> next;
            const ChannelEntry* entry = Find(name);
            if (entry == nullptr) {
                return next;
            }
            const Backend& backend = *entry->backend;
            if (!backend.GetRedirection().empty()) {
                next.push_back(backend.GetRedirection());
            }
            for (const std::string& link : backend.GetLinks()) {
                next.push_back(link);
            }
            return next;
        };
        std::vector<Frame> path;
        path.push_back(Frame{start, successors(start)});
        state[start] = kOnPath;
        while (!path.empty()) {
            Frame& top = path.back();
            if (top.index == top.next.size()) {
                state[top.name] = kDone;
                path.pop_back();
                continue;
            }
            const std::string_view next = top.next[top.index++];
            const uint8_t seen = state[next];
            if (seen == kOnPath) {
                return true;
            }
            if (seen == 0 && Find(next) != nullptr) {
                state[next] = kOnPath;
                path.push_back(Frame{next, successors(next)});
            }
        }
        return false;
    }
};

// ---- construction ----------------------------------------------------------------------

LoggingManager& LoggingManager::Instance() {
    static LoggingManager manager;
    return manager;
}

namespace {
// The manager exists before main, so that every static object constructed later may log
// until its destruction.
const bool g_managerCreated = (LoggingManager::Instance(), true);
}  // namespace

LoggingManager::LoggingManager() : impl_(std::make_unique<Impl>()) {
    g_managerAlive.store(true);
}

LoggingManager::~LoggingManager() {
    g_managerAlive.store(false);
    impl_->shuttingDown.store(true);
    Impl::Lock lock(*impl_, kExclusive);
    for (auto& channel : impl_->channels) {
        channel.second.backend->Close();
    }
}

void LoggingManager::SetConfigurationHook(ConfigurationHook hook) {
    g_configurationHook.store(hook);
}

void LoggingManager::SetCommandHook(CommandHook hook) {
    g_commandHook.store(hook);
}

void LoggingManager::RegisterBackendFactory(uint32_t type, BackendFactory factory) {
    if (type <= kMaxBackendType) {
        g_backendFactories[type] = factory;
    }
}

void LoggingManager::SetConfigurationMode(uint32_t mode) {
    Impl::Lock lock(*impl_, kExclusive);
    impl_->readingMode = mode;
}

// ---- operations ------------------------------------------------------------------------

bool LoggingManager::ChannelExists(const char* name, bool local) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || (!local && (name == nullptr || *name == '\0' || IsRegexName(name)))) {
        impl.SelfTrace(__LINE__, "ChannelExists: invalid param");
        return false;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    if (IsRegexName(resolved)) {
        return !impl.MatchesOrNone(resolved).empty();
    }
    // Remote channels known to gate back-ends are looked up here once those exist.
    return impl.Find(resolved) != nullptr;
}

int32_t LoggingManager::CreateChannel(const char* name, const ChannelConfig& config) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    if (IsRegexName(resolved) || HasBadCharacter(resolved)) {
        return LOGGING_RC_INVALID_PARAM;
    }
    return impl.CreateLocked(resolved, config);
}

int32_t LoggingManager::TuneChannel(const char* name, const ChannelConfig& config) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    if (IsRegexName(resolved)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    if (HasBadCharacter(resolved)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid channel name - %s", resolved.c_str());
        return LOGGING_RC_INVALID_PARAM;
    }
    const uint32_t type = config.GetType();
    if (resolved == "panic" && type != BACKEND_DEBUGGER && type != BACKEND_CONSOLE && type != BACKEND_FILE) {
        impl.SelfTrace(__LINE__, "TuneChannel: not allowed type(%i) for panic channel", static_cast<int>(type));
        return LOGGING_RC_INVALID_PARAM;
    }
    ChannelEntry* entry = impl.Find(resolved);
    if (entry == nullptr) {
        return impl.CreateLocked(resolved, config);
    }
    if (entry->backend->GetConfig().GetType() != type) {
        entry->backend->Close();
        impl.channels.erase(resolved);
        return impl.CreateLocked(resolved, config);
    }
    const int32_t rc = entry->backend->SetConfig(resolved.c_str(), config);
    if (rc != LOGGING_RC_NOERROR) {
        impl.SelfTrace(__LINE__, "TuneChannel: SetConfig for channel %s. status=%Xh", resolved.c_str(),
                       static_cast<unsigned>(rc));
        return rc;
    }
    if (resolved == "panic") {
        impl.SetPanic(MakePanicLogic(entry->backend));
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::TuneChannel(const char* name, const _log_channel_config* flat) {
    const std::unique_ptr<ChannelConfig> config = CreateConfigFromFlat(flat);
    if (!config) {
        impl_->SelfTrace(__LINE__, "TuneChannel: invalid param");
        return kLoggingRcNotSupported;
    }
    return TuneChannel(name, *config);
}

int32_t LoggingManager::RemoveChannel(const char* name) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "RemoveChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "RemoveChannel: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    for (const std::string& removed : names) {
        const auto it = impl.channels.find(removed);
        if (it == impl.channels.end()) {
            continue;
        }
        it->second.backend->Close();
        impl.channels.erase(it);
        impl.ForgetReferencesTo(removed);
        if (removed == impl.defaultChannel && !IsPredefined(removed)) {
            impl.defaultChannel = "debugger";
        }
        impl.SelfTrace(__LINE__, "RemoveChannel: %s", removed.c_str());
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetDefaultChannel(const char* name) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || name == nullptr || *name == '\0' || IsRegexName(name)) {
        impl.SelfTrace(__LINE__, "SetDefaultChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    if (impl.Find(name) == nullptr && !IsPredefined(name)) {
        impl.SelfTrace(__LINE__, "SetDefaultChannel: channel does not exist %s", name);
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    impl.defaultChannel = name;
    impl.SelfTrace(__LINE__, "SetDefaultChannel: %s", name);
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetLevel(const char* name, int32_t level) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "SetLevel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "SetLevel: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    for (const std::string& channel : names) {
        impl.Find(channel)->backend->SetLevel(level);
        impl.SelfTrace(__LINE__, "SetLevel: %s level=%i", channel.c_str(), static_cast<int>(level));
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetProperty(const char* name, const char* property, const char* value) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || property == nullptr || IsInvalidPointer(property) || IsInvalidPointer(value)) {
        impl.SelfTrace(__LINE__, "SetProperty: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "SetProp: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const char* shown = value != nullptr ? value : "<clear>";
    int32_t first = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = impl.Find(channel)->backend->SetProperty(property, value);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "SetProp: channel=%s %s=%s. Failed rc=%i", channel.c_str(), property, shown,
                           static_cast<int>(rc));
            if (first == LOGGING_RC_NOERROR) {
                first = rc;
            }
        } else {
            impl.SelfTrace(__LINE__, "SetProp: channel=%s %s=%s", channel.c_str(), property, shown);
        }
    }
    return first;
}

int32_t LoggingManager::GetProperty(const char* name, const char* property, std::string& value) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || property == nullptr || IsInvalidPointer(property) ||
        (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetProperty: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    return backend != nullptr ? backend->GetProperty(property, value) : LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
}

int32_t LoggingManager::GetDWordProperty(const char* name, const char* property, uint32_t& value) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || property == nullptr || IsInvalidPointer(property) ||
        (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetDWordProperty: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    return backend != nullptr ? backend->GetDWordProperty(property, value) : LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
}

int32_t LoggingManager::GetPropertyName(const char* name, uint32_t index, bool all, std::string& property) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetPropertyName: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    if (backend == nullptr) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const std::vector<std::string> names = backend->GetPropertyNames(all);
    if (index >= names.size()) {
        return LOGGING_RC_NO_SUCH_PROPERTY;
    }
    property = names[index];
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::RedirectChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || (!IsInvalidPointer(to) && to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "RedirectChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "RedirectChannel: no such channel (from) %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    if (IsInvalidPointer(to)) {
        for (const std::string& channel : names) {
            impl.Find(channel)->backend->SetRedirection(std::string());
            impl.SelfTrace(__LINE__, "RedirectChannel: Remove redirection of channel %s", channel.c_str());
        }
        return LOGGING_RC_NOERROR;
    }
    const std::string target = impl.Resolve(to);
    impl.EnsurePredefined(target);
    if (impl.Find(target) == nullptr) {
        impl.SelfTrace(__LINE__, "RedirectChannel: no such channel (to) %s", target.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        Backend& backend = *impl.Find(channel)->backend;
        std::string previous = backend.GetRedirection();
        backend.SetRedirection(target);
        if (impl.HasLoop(channel)) {
            backend.SetRedirection(std::move(previous));
            impl.SelfTrace(__LINE__, "RedirectChannel: invalid redirection %s->%s", channel.c_str(), target.c_str());
            result = LOGGING_RC_ENDLESS_LOOP;
            continue;
        }
        impl.SelfTrace(__LINE__, "RedirectChannel: %s->%s", channel.c_str(), target.c_str());
    }
    return result;
}

int32_t LoggingManager::LinkChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || IsInvalidPointer(to) || (to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "LinkChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel (from) %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const std::string target = impl.Resolve(to);
    impl.EnsurePredefined(target);
    ChannelEntry* targetEntry = impl.Find(target);
    if (targetEntry == nullptr) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel (to) %s", target.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    Backend& backend = *targetEntry->backend;
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = backend.AddLink(channel);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "LinkChannel: add link %s->%s error %Xh", channel.c_str(), target.c_str(),
                           static_cast<unsigned>(rc));
            if (result == LOGGING_RC_NOERROR) {
                result = rc;
            }
            continue;
        }
        if (impl.HasLoop(target)) {
            backend.RemoveLink(channel);
            impl.SelfTrace(__LINE__, "LinkChannel: invalid link %s->%s", channel.c_str(), target.c_str());
            if (result == LOGGING_RC_NOERROR) {
                result = LOGGING_RC_ENDLESS_LOOP;
            }
            continue;
        }
        impl.SelfTrace(__LINE__, "LinkChannel: %s linked to %s", channel.c_str(), target.c_str());
    }
    return result;
}

int32_t LoggingManager::UnlinkChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || IsInvalidPointer(to) || (to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "LinkChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string target = impl.Resolve(to);
    ChannelEntry* targetEntry = impl.Find(target);
    if (targetEntry == nullptr) {
        impl.SelfTrace(__LINE__, "UnlinkChannel: channel does not exist");
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = targetEntry->backend->RemoveLink(channel);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "UnlinkChannel: unlink %s from %s. Failed rc=%i", channel.c_str(), target.c_str(),
                           static_cast<int>(rc));
            if (result == LOGGING_RC_NOERROR) {
                result = rc;
            }
            continue;
        }
        impl.SelfTrace(__LINE__, "UnlinkChannel: unlink %s from %s", channel.c_str(), target.c_str());
    }
    return result;
}

int32_t LoggingManager::GetRedirect(const char* name, std::string& target) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetRedirect: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    if (backend == nullptr) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    target = backend->GetRedirection();
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::GetLinks(const char* name, std::vector<std::string>& links) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetLinks: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    if (backend == nullptr) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    links = backend->GetLinks();
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::GetUsageCount(const char* name, uint64_t& count) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || (name != nullptr && IsRegexName(name))) {
        impl.SelfTrace(__LINE__, "GetUsageCount: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kShared);
    const std::string resolved = impl.Resolve(name);
    SharedGuard guard(impl.usageLock);
    const auto it = impl.usage.find(resolved);
    count = it != impl.usage.end() ? it->second.Total() : 0;
    return LOGGING_RC_NOERROR;
}

char* LoggingManager::GetDefaultChannel() {
    Impl::Lock lock(*impl_, kShared);
    const std::string& name = impl_->defaultChannel;
    char* copy = static_cast<char*>(Allocate(name.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, name.c_str(), name.size() + 1);
    }
    return copy;
}

void LoggingManager::SetMirrorChannel(const char* name) {
    Impl::Lock lock(*impl_, kExclusive);
    if (lock.Held()) {
        impl_->mirrorChannel = name != nullptr && !IsInvalidPointer(name) ? name : "";
    }
}

void LoggingManager::FlushAll() {
    Impl::Lock lock(*impl_, kShared);
    for (auto& channel : impl_->channels) {
        try {
            channel.second.backend->Flush();
        } catch (...) {
            // Flushing is best effort: it runs while the library handles a fatal error.
        }
    }
}

// ---- trace entries -----------------------------------------------------------------------

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
    if (!g_managerAlive.load(std::memory_order_relaxed) || impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kFormattedEntry, [&](TraceRecord& record) {
        record.SetFormatted(channel, level, location, format, args);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceText(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                               const wchar_t* text) {
    if (!g_managerAlive.load(std::memory_order_relaxed) || impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kTextEntry, [&](TraceRecord& record) {
        record.SetText(channel, level, codeHigh, codeLow, text);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                               const wchar_t* text, const void* data, uint32_t size) {
    if (!g_managerAlive.load(std::memory_order_relaxed) || impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kDataEntry, [&](TraceRecord& record) {
        record.SetData(channel, level, codeHigh, codeLow, text, data, size);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::TraceError(const char* channel, int32_t level, const Common::Error& error) {
    if (!g_managerAlive.load(std::memory_order_relaxed) || impl_->CountedOnly(channel, level)) {
        return;
    }
    WithRecord(level, kErrorEntry, [&](TraceRecord& record) {
        record.SetError(channel, level, error);
        impl_->DeliverRecord(record);
    });
}

void LoggingManager::Deliver(TraceRecord& record) {
    if (g_managerAlive.load(std::memory_order_relaxed)) {
        impl_->DeliverRecord(record);
    }
}

void LoggingManager::TraceFromBackend(int32_t level, const char* format, ...) {
    if (format == nullptr) {
        Common::ReportAssertion("format", kSelfTraceSource, __LINE__);
    }
    // Back-ends call this while they hold their own locks, so the message may only travel
    // through the trace redirector's worker; until one runs, it is dropped.
    (void)level;
}

void LoggingManager::PanicTrace(const char* format, ...) {
    Impl& impl = *impl_;
    if (format == nullptr) {
        Common::ReportAssertion("format", kSelfTraceSource, __LINE__);
        return;
    }
    va_list args;
    va_start(args, format);
    {
        TraceRecord record;
        record.SetFormatted("panic", ERROR_TRACE, TraceLocation{kSelfTraceSource, "Logging::LoggingManager", 0}, format,
                            args);
        PanicLogicIf* panic = nullptr;
        {
            Impl::Lock lock(impl, kShared);
            panic = impl.panic;
            if (panic != nullptr) {
                panic->AddRef(panic);
            }
        }
        if (panic != nullptr) {
            const std::string_view line = record.BuildLine(0x1000b4, std::string_view(), true);
            std::wstring wide(line.begin(), line.end());
            for (size_t i = 0; i < line.size(); ++i) {
                wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(line[i]));
            }
            panic->TraceText(panic, ERROR_TRACE, 0, 0, wide.c_str());
            panic->Release(panic);
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
    va_end(args);
}

// ---- initialisation ----------------------------------------------------------------------

uint32_t LoggingManager::Initialize(const InitParameters* parameters, PanicLogicIf* panic) {
    Impl& impl = *impl_;
    {
        Impl::Lock lock(impl, kExclusive);
        if (!lock.Held() || impl.cookie != 0) {
            return 0;
        }
        const InitParameters none{};
        const InitParameters& p = parameters != nullptr ? *parameters : none;
        impl.homeDirectory = p.homeDirectory != nullptr ? p.homeDirectory : "";
        impl.configDirectory = p.configDirectory != nullptr ? p.configDirectory : "";
        impl.configName = p.configName != nullptr ? p.configName : "";
        impl.controlPipe = p.controlPipe != 0;
        impl.listener = p.listener != 0;
        if (p.minPort != 0 && p.maxPort != 0) {
            if (p.maxPort < p.minPort) {
                Common::ReportAssertion("config->MaxPort >= config->MinPort", kSelfTraceSource, __LINE__);
            }
            if (p.listener != 0 && !(p.maxPort > p.minPort)) {
                Common::ReportAssertion("config->MaxPort > config->MinPort || !config->Listener", kSelfTraceSource,
                                        __LINE__);
            }
            impl.minPort = static_cast<uint16_t>(p.minPort);
            impl.maxPort = static_cast<uint16_t>(p.maxPort);
        }
        impl.fatalErrorLog = impl.homeDirectory;
        if (!impl.fatalErrorLog.empty() && impl.fatalErrorLog.back() != '\\') {
            impl.fatalErrorLog += '\\';
        }
        impl.fatalErrorLog += "FatalError.log";
        impl.SetPanic(panic);
        if (panic != nullptr) {
            panic->AddRef(panic);
        }

        // Computed now so that the first line pays nothing for them.
        SystemTraceEnvironment();
        uint32_t cookie;
        do {
            cookie = Platform::RandomNumber();
        } while (cookie == 0);
        impl.cookie = cookie;
        impl.pendingMode.store(impl.readingMode);
        impl.pipeName = "logging-control-" + std::to_string(Platform::CurrentProcessId());
        impl.shuttingDown.store(false);
    }
    // The commands run outside the lock: they are ordinary operations.
    if (const CommandHook hook = g_commandHook.load()) {
        hook(*this, "LOGGING_INIT_CMD");
        if (impl.pendingMode.load() == 0) {
            hook(*this, "LOGGING_POST_INIT_CMD");
        }
    }
    // The control pipe, the listener and their worker thread start here once they exist.
    return impl.cookie;
}

bool LoggingManager::Release(uint32_t cookie) {
    Impl& impl = *impl_;
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held() || cookie == 0 || cookie != impl.cookie) {
        return false;
    }
    impl.shuttingDown.store(true);
    // The worker thread, the network and the background compressor stop here once they exist.
    impl.SetPanic(nullptr);
    impl.pendingMode.store(0);
    impl.cookie = 0;
    impl.shuttingDown.store(false);
    return true;
}

bool LoggingManager::IsInitialized() const {
    Impl::Lock lock(*impl_, kShared);
    return impl_->cookie != 0;
}

const std::string& LoggingManager::HomeDirectory() const {
    return impl_->homeDirectory;
}
const std::string& LoggingManager::ConfigDirectory() const {
    return impl_->configDirectory;
}
const std::string& LoggingManager::ConfigName() const {
    return impl_->configName;
}
const std::string& LoggingManager::FatalErrorLogPath() const {
    return impl_->fatalErrorLog;
}
const std::string& LoggingManager::ControlPipeName() const {
    return impl_->pipeName;
}

}  // namespace Logging
