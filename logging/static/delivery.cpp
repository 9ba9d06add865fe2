// How a record travels: the manager's lock, the deferred configuration, and the walk of a
// record along redirections and links to the back-ends that write it.

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <regex>

#include "core/common/assert.h"
#include "logging/static/manager_state.h"

namespace Logging {

LoggingManager::Impl::Lock::Lock(Impl& impl, LockMode mode) : impl_(impl) {
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

LoggingManager::Impl::Lock::~Lock() {
    if (owned_ == kShared) {
        impl_.lockMode.Set(kUnlocked);
        impl_.lock.UnlockShared();
    } else if (owned_ == kExclusive) {
        impl_.RefreshFastRoutes();
        impl_.lockMode.Set(kUnlocked);
        impl_.lock.UnlockExclusive();
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

void LoggingManager::Impl::SelfTrace(int line, const char* format, ...) {
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

void LoggingManager::Impl::ApplyPendingConfiguration() {
    if (pendingMode.load(std::memory_order_acquire) == 0 || HeldMode() != kUnlocked) {
        return;
    }
    Lock guard(*this, kExclusive);
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

namespace {

// Records raised while delivering records, this deep, are dropped: whatever logs from inside a
// delivery (a tracer, an assertion's trace, a back-end's error) can never recurse without end.
constexpr uintptr_t kMaxNestedDeliveries = 8;

class NestedDelivery {
public:
    explicit NestedDelivery(ThreadSlot& depth) : depth_(depth), outer_(depth.Get()) { depth_.Set(outer_ + 1); }
    ~NestedDelivery() { depth_.Set(outer_); }
    NestedDelivery(const NestedDelivery&) = delete;
    NestedDelivery& operator=(const NestedDelivery&) = delete;
    bool TooDeep() const { return outer_ >= kMaxNestedDeliveries; }

private:
    ThreadSlot& depth_;
    uintptr_t outer_;
};

}  // namespace

void LoggingManager::Impl::DeliverRecord(TraceRecord& record) {
    const NestedDelivery nested(deliveryDepth);
    if (nested.TooDeep()) {
        return;
    }
    constexpr std::string_view selfChannel = kSelfTraceChannel;
    constexpr size_t regexPrefixLength = sizeof kRegexPrefix - 1;
    std::string_view name = record.Channel() != nullptr ? record.Channel() : "";
    if (name != selfChannel) {
        ApplyPendingConfiguration();
    }
    Lock guard(*this, kShared);
    if (name.empty()) {
        record.SetChannel(defaultChannel.c_str());
        name = defaultChannel;
    } else if (!IsRegexName(name)) {
        // "<channel>#<target>" is delivered to the channel; the target stays in the record.
        name = name.substr(0, name.find('#'));
    }
    if (IsPredefined(name) && guard.OwnsShared() && channels.find(name) == channels.end()) {
        // The default channel may change while the lock is exchanged: keep our own copy.
        const std::string wanted(name);
        const bool isDefault = name.data() == defaultChannel.data();
        guard.WithExclusive([&] {
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
    if (!mirrorChannel.empty() && name != selfChannel && std::strchr(record.Channel(), '#') == nullptr) {
        Deliver(mirrorChannel, record, visited);
    }
    if (IsRegexName(name)) {
        try {
            const std::regex expression(name.begin() + regexPrefixLength, name.end(), std::regex::ECMAScript);
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

void LoggingManager::Impl::Deliver(std::string_view name, TraceRecord& record, VisitedList& visited) {
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
            Common::ReportAssertion("it != Channels.end() || !\"logging: Invalid link\"", kSelfTraceSource, __LINE__);
            continue;
        }
        Deliver(link, record, visited);
    }
}

void DeliverRecord(TraceRecord& record) {
    if (g_managerAlive.load(std::memory_order_relaxed)) {
        ManagerState().DeliverRecord(record);
    }
}

}  // namespace Logging
