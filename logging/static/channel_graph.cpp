#include "logging/static/channel_graph.h"

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
    if (!backend.GetRedirection().empty()) {
        next.push_back(backend.GetRedirection());
    }
    for (const std::string& link : backend.GetLinks()) {
        next.push_back(link);
    }
    return next;
}

}  // namespace

bool HasLoop(const ChannelMap& channels, std::string_view start) {
    enum State : uint8_t { kOnPath = 1, kDone = 2 };
    std::map<std::string_view, uint8_t> state;
    struct Frame {
        std::string_view name;
        std::vector<std::string_view> next;
        size_t index = 0;
    };
    std::vector<Frame> path;
    path.push_back(Frame{start, Successors(channels, start)});
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
        if (seen == 0 && channels.find(next) != channels.end()) {
            state[next] = kOnPath;
            path.push_back(Frame{next, Successors(channels, next)});
        }
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
