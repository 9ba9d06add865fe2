#include "logging/static/channel_graph.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/static/backends/null_backend.h"

namespace {

using Logging::ChannelMap;

// Channels "a".."e"; each route is "x>y" (x links to y: x's records also go to y) or "x=y"
// (x is redirected to y).
ChannelMap Graph(const std::vector<std::string>& routes) {
    ChannelMap channels;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        channels[name].backend = std::make_shared<Logging::NullBackend>();
    }
    for (const std::string& route : routes) {
        Logging::Backend& from = *channels[route.substr(0, 1)].backend;
        if (route[1] == '>') {
            from.AddLink(route.substr(2));
        } else {
            from.SetRedirection(route.substr(2));
        }
    }
    return channels;
}

TEST(ChannelGraph, AWalkThatReachesAChannelTwiceIsALoop) {
    struct Case {
        std::vector<std::string> routes;
        const char* start;
        bool twice;
    };
    const Case cases[] = {
        {{}, "a", false},
        {{"a>b", "b>c"}, "a", false},
        {{"a>b", "b>a"}, "a", true},
        {{"a=a"}, "a", true},
        {{"a>b", "a>c", "b>d", "c>d"}, "a", true},   // a diamond
        {{"a>b", "a>c", "b>d", "c>d"}, "b", false},  // seen from below the fork: one path
        {{"a=b", "a>b"}, "a", false},                // a redirected channel's links see nothing
        {{"a=b", "b>c", "c=a"}, "a", true},
        {{"a>x", "a>b"}, "a", false},  // a link to a missing channel leads nowhere
    };
    for (const Case& c : cases) {
        const ChannelMap channels = Graph(c.routes);
        EXPECT_EQ(Logging::ReachesAChannelTwice(channels, c.start), c.twice)
            << testing::PrintToString(c.routes) << " from " << c.start;
    }
}

TEST(ChannelGraph, ForgettingAChannelDropsEveryLinkAndRedirectionToIt) {
    ChannelMap channels = Graph({"a>c", "a>b", "b=c", "d=a", "e>c"});
    Logging::ForgetReferencesTo(channels, "c");
    EXPECT_EQ(channels["a"].backend->GetLinks(), std::vector<std::string>{"b"});
    EXPECT_EQ(channels["b"].backend->GetRedirection(), "");
    EXPECT_EQ(channels["d"].backend->GetRedirection(), "a");
    EXPECT_TRUE(channels["e"].backend->GetLinks().empty());
}

}  // namespace
