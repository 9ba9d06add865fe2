#pragma once

// The channels of the manager and the routes between them: each channel's back-end carries
// its redirection target and its link list. These operations walk and mend that graph; they
// take no lock (the manager holds its own around them).

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "logging/static/backend.h"
#include "logging/static/fast_routes.h"

namespace Logging {

struct ChannelEntry {
    std::shared_ptr<Backend> backend;
    UsageCounter* usage = nullptr;
};

using ChannelMap = std::map<std::string, ChannelEntry, std::less<>>;

// True when a walk from `start` along redirections and links reaches some channel twice:
// a loop, or two paths to one channel (which the manager rejects as well).
bool ReachesAChannelTwice(const ChannelMap& channels, std::string_view start);

// Drops every link to `name` and every redirection to it, so that no route points at a
// channel that no longer exists.
void ForgetReferencesTo(ChannelMap& channels, const std::string& name);

}  // namespace Logging
