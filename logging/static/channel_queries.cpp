// The manager's operations that read channels: existence, properties, routes, usage counts
// and the default channel's name.

#include <cstring>

#include "logging/initialize.h"
#include "logging/static/backends/gate_backend.h"
#include "logging/static/manager_state.h"

namespace Logging {

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
    if (impl.Find(resolved) != nullptr) {
        return true;
    }
    if (local) {
        return false;
    }
    // A channel of a receiver that one of our gate channels sends to.
    for (const auto& channel : impl.channels) {
        const Backend& backend = *channel.second.backend;
        if (backend.GetConfig().GetType() == BACKEND_GATE &&
            static_cast<const GateBackend&>(backend).KnowsRemoteChannel(resolved)) {
            return true;
        }
    }
    return false;
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

void SetMirrorChannel(const char* name) {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kExclusive);
    if (lock.Held()) {
        impl.mirrorChannel = name != nullptr && !IsInvalidPointer(name) ? name : "";
    }
}

int32_t GetChannelConfig(const char* name, std::unique_ptr<ChannelConfig>& config) {
    LoggingManager::Impl& impl = ManagerState();
    if (IsInvalidPointer(name) || (name != nullptr && IsRegexName(name))) {
        return LOGGING_RC_INVALID_PARAM;
    }
    const std::string resolved = impl.ResolveForInspection(name);
    LoggingManager::Impl::Lock lock(impl, kShared);
    Backend* backend = impl.FindBackend(resolved);
    if (backend == nullptr) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    config = CloneConfig(backend->GetConfig());
    return config ? LOGGING_RC_NOERROR : LOGGING_RC_INTERNAL;
}

std::vector<std::string> ChannelNames() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    std::vector<std::string> names;
    names.reserve(impl.channels.size());
    for (const auto& channel : impl.channels) {
        names.push_back(channel.first);
    }
    return names;
}

std::vector<UsageStatistic> UsageStatistics() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    SharedGuard guard(impl.usageLock);
    std::vector<UsageStatistic> statistics;
    statistics.reserve(impl.usage.size());
    for (const auto& entry : impl.usage) {
        const Backend* backend = impl.FindBackend(entry.first);
        statistics.push_back(UsageStatistic{entry.first, entry.second.Total(), backend != nullptr,
                                            backend != nullptr ? backend->WriteCount() : 0});
    }
    return statistics;
}

void FlushAllChannels() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    for (auto& channel : impl.channels) {
        try {
            channel.second.backend->Flush();
        } catch (...) {
            // Flushing is best effort: it runs while the library handles a fatal error.
        }
    }
}

}  // namespace Logging
