// Usage counting and the fast routes of the manager.

#include <cstring>

#include "logging/static/manager_state.h"

namespace Logging {

UsageCounter* LoggingManager::Impl::Usage(std::string_view name) {
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

const std::string* LoggingManager::Impl::StableName(std::string_view name) {
    Usage(name);
    SharedGuard guard(usageLock);
    return &usage.find(name)->first;
}

int64_t LoggingManager::Impl::DeliverFrom(std::string_view name) {
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

FastRoutes::Slot* LoggingManager::Impl::AddFastRoute(std::string_view name) {
    FastRoutes::Slot* route = fastRoutes.Find(name);
    if (route == nullptr) {
        route = fastRoutes.Insert(StableName(name), Usage(name), DeliverFrom(name));
    }
    return route;
}

void LoggingManager::Impl::RefreshFastRoutes() {
    fastRoutes.ForEach([this](FastRoutes::Slot& slot) {
        slot.deliverFrom.store(DeliverFrom(*slot.name.load(std::memory_order_relaxed)), std::memory_order_release);
    });
    defaultRoute.store(AddFastRoute(defaultChannel), std::memory_order_release);
    routesStale.store(false, std::memory_order_release);
}

bool LoggingManager::Impl::CountedOnly(const char* channel, int32_t level) {
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

}  // namespace Logging
