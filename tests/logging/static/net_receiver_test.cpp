#include "logging/static/net_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/logging_manager.h"
#include "logging/static/gate_datagrams.h"
#include "logging/static/manager_internal.h"
#include "support/log_capture.h"
#include "support/udp_peer.h"

namespace {

using namespace Logging;
using Bytes = std::vector<uint8_t>;
using TestSupport::LogCapture;
using TestSupport::UdpPeer;

LoggingManager& M() {
    return LoggingManager::Instance();
}

Bytes Datagram(std::string_view channel, int32_t level, std::string_view text, uint32_t codeHigh = 0,
               uint32_t codeLow = 0) {
    Gate::RecordFields fields;
    fields.serial = 1;
    fields.level = level;
    fields.codeHigh = codeHigh;
    fields.codeLow = codeLow;
    fields.threadId = 77;
    fields.timestamp = "2024-03-05 14:07:09:042 ";
    fields.text = text;
    fields.channel = channel;
    Bytes out(Gate::kMaxDatagramSize);
    out.resize(Gate::EncodeRecord(fields, out.data()));
    return out;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Waits for the receive of one datagram and handles it, as the worker thread does.
bool Pump(NetReceiver& receiver) {
    if (::WaitForSingleObject(receiver.Event(), 3000) != WAIT_OBJECT_0) {
        return false;
    }
    receiver.OnReceived();
    return true;
}

std::vector<std::string> Lines(const LogCapture& capture, const std::string& containing = std::string()) {
    std::vector<std::string> lines;
    for (const LogCapture::Entry& entry : capture.Entries()) {
        if (entry.text.find(containing) != std::string::npos) {
            lines.push_back(std::to_string(entry.level) + " " + std::to_string(entry.codeHigh) + ":" +
                            std::to_string(entry.codeLow) + " " + entry.text);
        }
    }
    return lines;
}

class NetReceiverTest : public ::testing::Test {
protected:
    void TearDown() override {
        M().RemoveChannel("rx.one");
        M().RemoveChannel("rx.quiet");
    }
};

TEST_F(NetReceiverTest, EveryRecordOfABufferIsReEmittedIntoItsChannelAsTheSenderRenderedIt) {
    NetReceiver receiver(true);
    ASSERT_TRUE(receiver.Start(24100, 24300));
    LogCapture one("rx.one");
    LogCapture fallback;  // the default channel
    UdpPeer sender;
    sender.SendTo(receiver.Port(),
                  Joined({Datagram("rx.one", WARNING, "W00000000: first", 0x8007, 2), Bytes{'j', 'u', 'n', 'k'},
                          Datagram("", ERROR_TRACE, "to the default"), Datagram("rx.one", 9, "odd level")}));
    ASSERT_TRUE(Pump(receiver));
    EXPECT_EQ(Lines(one), (std::vector<std::string>{"3 32775:2 W00000000: first", "9 0:0 odd level"}));
    EXPECT_EQ(Lines(fallback), (std::vector<std::string>{"4 0:0 to the default"}));
}

TEST_F(NetReceiverTest, WithoutTheAcceptAllSwitchOnlyTheLibrarysOwnChannelIsReEmitted) {
    NetReceiver receiver(false);
    ASSERT_TRUE(receiver.Start(24100, 24300));
    LogCapture one("rx.one");
    LogCapture trace(kSelfTraceChannel);
    UdpPeer sender;
    sender.SendTo(receiver.Port(), Joined({Datagram("rx.one", WARNING, "not for us"),
                                           Datagram(kSelfTraceChannel, DEBUG_TRACE, "sent: self trace")}));
    ASSERT_TRUE(Pump(receiver));
    EXPECT_TRUE(one.Texts().empty());
    EXPECT_EQ(Lines(trace, "sent:"), (std::vector<std::string>{"1 0:0 sent: self trace"}));
}

TEST_F(NetReceiverTest, AFilterRequestIsAnsweredWithEveryChannelItsLevelAndTheDefaultFlag) {
    NetReceiver receiver(true);
    ASSERT_TRUE(receiver.Start(24100, 24300));
    ConsoleConfig quiet;
    quiet.Level = ERROR_TRACE;
    quiet.Enabled = false;
    ASSERT_EQ(M().TuneChannel("rx.quiet", quiet), LOGGING_RC_NOERROR);
    ASSERT_EQ(M().TuneChannel("rx.one", NullConfig()), LOGGING_RC_NOERROR);
    char* previousDefault = M().GetDefaultChannel();
    ASSERT_EQ(M().SetDefaultChannel("rx.one"), LOGGING_RC_NOERROR);
    UdpPeer sender;
    // Two requests in one buffer get two replies.
    sender.SendTo(receiver.Port(), Joined({Gate::EncodeFilterRequest(), Gate::EncodeFilterRequest()}));
    ASSERT_TRUE(Pump(receiver));

    M().SetDefaultChannel(previousDefault);
    Free(previousDefault);
    for (int reply = 0; reply < 2; ++reply) {
        std::vector<Gate::FilterEntry> entries;
        Bytes packet;
        Gate::FilterPacket kind = Gate::FilterPacket::More;
        while (kind == Gate::FilterPacket::More && sender.Receive(packet)) {
            kind = Gate::ReadFilterReplyPacket(packet.data(), packet.size(), entries);
        }
        ASSERT_EQ(kind, Gate::FilterPacket::Last) << reply;
        std::string names = " ";
        const Gate::FilterEntry* quietEntry = nullptr;
        for (const Gate::FilterEntry& entry : entries) {
            names += entry.name + ((entry.flags & Gate::kFilterDefaultChannel) != 0 ? "(default) " : " ");
            if (entry.name == "rx.quiet") {
                quietEntry = &entry;
            }
        }
        EXPECT_NE(names.find(" rx.one(default) "), std::string::npos) << names;
        ASSERT_NE(quietEntry, nullptr) << names;
        EXPECT_EQ(quietEntry->config->GetType(), BACKEND_CONSOLE);
        EXPECT_EQ(quietEntry->config->Level, static_cast<uint32_t>(ERROR_TRACE));
        EXPECT_FALSE(quietEntry->config->Enabled);
    }
}

TEST_F(NetReceiverTest, BackEndMessagesTravelThroughTheRedirectorToTheLibrarysChannel) {
    LogCapture trace(kSelfTraceChannel);
    TraceFromBackend(INFORMATION, "before: no redirector, %s", "dropped");
    {
        NetReceiver receiver(false);
        ASSERT_TRUE(receiver.Start(24100, 24300));
        TraceFromBackend(WARNING, "direct: %d", 5);
        ASSERT_TRUE(Pump(receiver));

        // A gate that cannot send reports it, from inside its write, the same way.
        GateConfig broadcast;
        broadcast.Server = "255.255.255.255";
        broadcast.Port = 9;
        broadcast.Filter = false;
        ASSERT_EQ(M().TuneChannel("rx.one", broadcast), LOGGING_RC_NOERROR);
        Log(TraceLocation{"tests/receiver", "Test", 1}, INFORMATION, "rx.one", "lost");
        ASSERT_TRUE(Pump(receiver));
        uint32_t serial = 0;
        EXPECT_EQ(M().GetDWordProperty("rx.one", "serial", serial), LOGGING_RC_NOERROR);
        EXPECT_EQ(serial, 1u);
    }
    TraceFromBackend(INFORMATION, "after: the redirector is gone");
    EXPECT_EQ(Lines(trace, "direct:"), (std::vector<std::string>{"3 0:0 direct: 5"}));
    EXPECT_EQ(Lines(trace, "GateBackend"),
              (std::vector<std::string>{"1 0:0 GateBackend: unable to send packet to 255.255.255.255:9 error\n"}));
    EXPECT_TRUE(Lines(trace, "before:").empty());
    EXPECT_TRUE(Lines(trace, "after:").empty());
}

TEST_F(NetReceiverTest, APortRangeWithNoFreePortIsReported) {
    LogCapture trace(kSelfTraceChannel);
    NetReceiver first(true);
    ASSERT_TRUE(first.Start(24100, 24300));
    const uint16_t taken = first.Port();
    NetReceiver second(true);
    EXPECT_FALSE(second.Start(taken, taken + 1));
    EXPECT_FALSE(NetReceiver(true).Start(24200, 24200));
    const std::string expected =
        "Unable to bind to a port in range " + std::to_string(taken) + "-" + std::to_string(taken + 1);
    EXPECT_EQ(Lines(trace, "Unable to bind"),
              (std::vector<std::string>{"2 0:0 I00000000: " + expected,
                                        "2 0:0 I00000000: Unable to bind to a port in range 24200-24200"}));
}

}  // namespace
