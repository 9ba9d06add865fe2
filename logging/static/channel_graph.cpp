#include "logging/static/channel_graph.h"

#include <set>
#include <vector>

namespace Logging {

namespace {

std::vector<std::string_view> Successors(const ChannelMap& channels, std::string_view name) {
    std::vector<std::string_view> next;
    const auto it = channels.find(name);
    if (it == channels.end()) {
        return next;
    }
    const Backend& backend = *it->second.backend;
    // As in delivery: a redirected channel's links see nothing.
    if (!backend.GetRedirection().empty()) {
        next.push_back(backend.GetRedirection());
        return next;
    }
    for (const std::string& link : backend.GetLinks()) {
        next.push_back(link);
    }
    return next;
}

}  // namespace

bool ReachesAChannelTwice(const ChannelMap& channels, std::string_view start) {
    std::set<std::string_view> reached{start};
    std::vector<std::string_view> pending = Successors(channels, start);
    while (!pending.empty()) {
        const std::string_view name = pending.back();
        pending.pop_back();
        if (channels.find(name) == channels.end()) {
            continue;
        }
        if (!reached.insert(name).second) {
            return true;
        }
        const std::vector<std::string_view> next = Successors(channels, name);
        pending.insert(pending.end(), next.begin(), next.end());
    }
    return false;
}

void ForgetReferencesTo(ChannelMap& channels, const std::string& name) {
    for (auto& channel : channels) {
        Backend& backend = *channel.second.backend;
        backend.RemoveLink(name);
        if (backend.GetRedirection() == name) {
            backend.SetRedirection(std::string());
        }
    }
}

}  // namespace Logging
