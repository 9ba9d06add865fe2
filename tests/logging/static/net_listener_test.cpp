// The network listener on the worker thread of an initialised manager: the switch's two
// values, the trace redirector it starts, and the port range it may not get.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "logging/logging_manager.h"
#include "logging/static/backend.h"
#include "logging/static/control_worker.h"
#include "logging/static/gate_datagrams.h"
#include "logging/static/manager_internal.h"
#include "support/log_capture.h"
#include "support/udp_peer.h"

namespace {

using namespace Logging;
using TestSupport::LogCapture;
using Texts = std::vector<std::string>;

LoggingManager& M() {
    return LoggingManager::Instance();
}

// The texts of `capture` that hold `part`, once there are `count` of them (or after 5 s):
// the worker delivers on its own thread.
Texts WaitFor(const LogCapture& capture, const std::string& part, size_t count) {
    Texts found;
    for (int attempt = 0; attempt < 500; ++attempt, ::Sleep(10)) {
        found.clear();
        for (const std::string& text : capture.Texts()) {
            if (text.find(part) != std::string::npos) {
                found.push_back(text);
            }
        }
        if (found.size() >= count) {
            break;
        }
    }
    return found;
}

std::vector<uint8_t> Datagram(std::string_view channel, std::string_view text) {
    Gate::RecordFields fields;
    fields.level = WARNING;
    fields.text = text;
    fields.channel = channel;
    std::vector<uint8_t> out(Gate::kMaxDatagramSize);
    out.resize(Gate::EncodeRecord(fields, out.data()));
    return out;
}

uint32_t Start(uint8_t listener, uint32_t minPort = 0, uint32_t maxPort = 0) {
    InitParameters parameters{};
    parameters.listener = listener;
    parameters.minPort = minPort;
    parameters.maxPort = maxPort;
    return M().Initialize(&parameters, nullptr);
}

TEST(NetListener, BackEndMessagesReachTheLibrarysChannelThroughTheWorkerUntilRelease) {
    LogCapture trace(kSelfTraceChannel);
    const uint32_t cookie = Start(kListenerSelfTrace);
    ASSERT_NE(cookie, 0u);
    EXPECT_EQ(WaitFor(trace, "Worker thread started", 1),
              Texts{"I00000000: Worker thread started. NetListener=yes ControlPipe=no"});
    const uint16_t port = ControlWorkerListenerPort();
    EXPECT_TRUE(port >= 24100 && port < 24300) << port;
    EXPECT_NE(port, ControlWorkerPort());

    // From another thread, as a back-end's own thread would.
    std::thread([] { TraceFromBackend(WARNING, "from a back-end: %d", 1); }).join();
    EXPECT_EQ(WaitFor(trace, "from a back-end", 1), Texts{"from a back-end: 1"});
    uint32_t sent = 0;
    Backend* redirector = AcquireTraceRedirector();
    ASSERT_NE(redirector, nullptr);
    EXPECT_EQ(redirector->GetDWordProperty("serial", sent), LOGGING_RC_NOERROR);
    EXPECT_EQ(sent, 1u);
    std::string server;
    redirector->GetProperty("port", server);
    EXPECT_EQ(server, std::to_string(port));
    ReleaseTraceRedirector();

    // Without the accept-all switch, other channels' records are not taken in.
    LogCapture other("ln.other");
    TestSupport::UdpPeer peer;
    peer.SendTo(port, Datagram("ln.other", "not taken"));
    peer.SendTo(port, Datagram(kSelfTraceChannel, "taken"));
    EXPECT_EQ(WaitFor(trace, "taken", 1), Texts{"taken"});
    EXPECT_TRUE(other.Texts().empty());

    ASSERT_TRUE(M().Release(cookie));
    EXPECT_EQ(ControlWorkerListenerPort(), 0);
    EXPECT_EQ(AcquireTraceRedirector(), nullptr) << "the redirector ends with the listener";
    // Dropped at once: no redirector, and no worker that could deliver it later.
    TraceFromBackend(WARNING, "from a back-end: %d", 2);
    EXPECT_EQ(trace.Texts().back(), "taken");
}

TEST(NetListener, WithTheAcceptAllSwitchEveryChannelIsTakenIn) {
    const uint32_t cookie = Start(kListenerAllChannels);
    ASSERT_NE(cookie, 0u);
    LogCapture other("ln.other");
    TestSupport::UdpPeer peer;
    peer.SendTo(ControlWorkerListenerPort(), Datagram("ln.other", "from another process"));
    EXPECT_EQ(WaitFor(other, "from another process", 1), Texts{"from another process"});
    ASSERT_TRUE(M().Release(cookie));
}

TEST(NetListener, APortRangeTheWakeUpSocketFillsLeavesTheWorkerWithoutListener) {
    // The wake-up socket takes p or p + 1; the listener finds no free port in [p, p + 1).
    uint16_t first = 0;
    {
        const uint32_t cookie = Start(kListenerSelfTrace, 24150, 24300);
        ASSERT_NE(cookie, 0u);
        first = ControlWorkerPort();
        ASSERT_TRUE(M().Release(cookie));
    }
    LogCapture trace(kSelfTraceChannel);
    const uint32_t cookie = Start(kListenerSelfTrace, first, first + 1u);
    ASSERT_NE(cookie, 0u);
    const std::string range = std::to_string(first) + "-" + std::to_string(first + 1);
    EXPECT_EQ(WaitFor(trace, "Unable to bind", 1), Texts{"I00000000: Unable to bind to a port in range " + range});
    EXPECT_EQ(ControlWorkerListenerPort(), 0);
    EXPECT_EQ(AcquireTraceRedirector(), nullptr);
    EXPECT_TRUE(ControlWorkerRunning());
    ASSERT_TRUE(M().Release(cookie));
}

}  // namespace
