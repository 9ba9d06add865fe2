#include "logging/static/backends/gate_backend.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "logging/logging_manager.h"
#include "logging/static/gate_datagrams.h"
#include "support/udp_peer.h"

namespace {

using namespace Logging;
using Bytes = std::vector<uint8_t>;
using TestSupport::UdpPeer;

LoggingManager& M() {
    return LoggingManager::Instance();
}

void LogTo(const char* channel, int32_t level, const char* text) {
    Log(TraceLocation{"tests/gate", "Test", 1}, level, channel, "%s", text);
}

GateConfig GateTo(uint16_t port, bool filter) {
    GateConfig config;
    config.Server = "127.0.0.1";
    config.Port = port;
    config.Filter = filter;
    config.Level = DEBUG_TRACE;
    return config;
}

// "<channel>/<level>/<text>" of each record datagram the peer has, waiting briefly for each.
std::vector<std::string> Received(const UdpPeer& peer, DWORD firstWaitMs = 2000) {
    std::vector<std::string> seen;
    Bytes bytes;
    for (DWORD wait = firstWaitMs; peer.Receive(bytes, wait); wait = 200) {
        Gate::RecordFields fields;
        size_t length = 0;
        if (Gate::DecodeRecord(bytes.data(), bytes.size(), fields, length) && length == bytes.size()) {
            seen.push_back(std::string(fields.channel) + "/" + std::to_string(fields.level) + "/" +
                           std::string(fields.text));
        } else {
            seen.push_back("<not a record datagram>");
        }
    }
    return seen;
}

// Reads the gate's filter request and answers it with `packets`.
void AnswerRequest(const UdpPeer& peer, const std::vector<Bytes>& packets) {
    Bytes request;
    sockaddr_in gate = {};
    ASSERT_TRUE(peer.Receive(request, 3000, &gate));
    ASSERT_EQ(request, Gate::EncodeFilterRequest());
    for (const Bytes& packet : packets) {
        peer.SendTo(gate, packet.data(), packet.size());
    }
}

TEST(GateBackend, OpenChecksItsConfigurationAndKeepsOnlyTheFlagsTheReceiverCannotRender) {
    struct Case {
        const char* what;
        const char* server;
        uint32_t port;
        bool enabled;
        uint32_t minPort, maxPort;
        int32_t rc;
    } cases[] = {
        {"no server", "", 9, true, 24100, 24300, LOGGING_RC_INVALID_PARAM},
        {"no port", "127.0.0.1", 0, true, 24100, 24300, LOGGING_RC_INVALID_PARAM},
        {"no address", "local host", 9, true, 24100, 24300, LOGGING_RC_INVALID_PARAM},
        {"empty port range", "127.0.0.1", 9, true, 24500, 24500, LOGGING_RC_INTERNAL},
        {"reversed port range", "127.0.0.1", 9, true, 24500, 24400, LOGGING_RC_INTERNAL},
        {"disabled: no socket needed", "127.0.0.1", 9, false, 24500, 24500, LOGGING_RC_NOERROR},
        {"good", "127.0.0.1", 9, true, 24100, 24300, LOGGING_RC_NOERROR},
    };
    for (const Case& c : cases) {
        GateBackend gate(c.minPort, c.maxPort);
        GateConfig config;
        config.Server = c.server;
        config.Port = c.port;
        config.Enabled = c.enabled;
        config.Filter = false;
        config.Flags = OF_TIMESTAMP | OF_SIGNATURE | OF_DUMPERROR | OF_DUMPLINE;
        EXPECT_EQ(gate.SetConfig("g", config), c.rc) << c.what;
        if (c.rc != LOGGING_RC_INVALID_PARAM) {
            EXPECT_EQ(gate.GetConfig().Flags, static_cast<uint32_t>(OF_NOLF | OF_DUMPERROR)) << c.what;
        }
    }
    GateBackend gate(24100, 24300);
    GateConfig config = GateTo(9, false);
    config.Flags = OF_TIMESTAMP;
    ASSERT_EQ(gate.SetConfig("g", config), LOGGING_RC_NOERROR);
    EXPECT_EQ(gate.GetConfig().Flags, static_cast<uint32_t>(OF_NOLF));
}

TEST(GateBackend, PropertiesAreReadOnlyAndTheFactoryTakesTheManagersPortRange) {
    UdpPeer server;
    ASSERT_EQ(M().TuneChannel("gate.props", GateTo(server.Port(), false)), LOGGING_RC_NOERROR);
    LogTo("gate.props", INFORMATION, "one");
    LogTo("gate.props", INFORMATION, "two");
    std::string value;
    const std::pair<const char*, std::string> expected[] = {
        {"server", "127.0.0.1"}, {"port", std::to_string(server.Port())},
        {"serial", "2"},         {"minPort", "24100"},
        {"maxPort", "24300"},    {"filter", "0"},
    };
    for (const auto& [name, text] : expected) {
        EXPECT_EQ(M().GetProperty("gate.props", name, value), LOGGING_RC_NOERROR) << name;
        EXPECT_EQ(value, text) << name;
        EXPECT_EQ(M().SetProperty("gate.props", name, "5"), LOGGING_RC_READ_ONLY) << name;
    }
    EXPECT_EQ(Received(server).size(), 2u);
    M().RemoveChannel("gate.props");

    // A configuration the gate refuses leaves no channel behind.
    EXPECT_EQ(M().TuneChannel("gate.props", GateTo(0, false)), LOGGING_RC_INVALID_PARAM);
    EXPECT_FALSE(M().ChannelExists("gate.props", true));
}

TEST(GateBackend, EachRecordIsOneDatagramWithItsTextPrefixTimeAndThread) {
    UdpPeer server;
    GateConfig config = GateTo(server.Port(), false);
    config.Level = INFORMATION;
    config.MsgPrefix = "[{pname}] ";
    config.Flags = kDefaultOutputFlags | OF_DUMPLINE;
    ASSERT_EQ(M().TuneChannel("gate.out", config), LOGGING_RC_NOERROR);
    for (const char* source : {"gate.src", "gate.dflt"}) {
        ASSERT_EQ(M().TuneChannel(source, NullConfig()), LOGGING_RC_NOERROR);
        ASSERT_EQ(M().LinkChannel("gate.out", source), LOGGING_RC_NOERROR);
    }
    char* previousDefault = M().GetDefaultChannel();
    ASSERT_EQ(M().SetDefaultChannel("gate.dflt"), LOGGING_RC_NOERROR);

    LogTo("gate.out", DEBUG_TRACE, "below the level");
    LogTo("gate.out", WARNING, "\x1b[1;31mred\x1b[0m");
    LogTo("gate.src#target", ERROR_TRACE, "linked");
    LogTo(nullptr, INFORMATION, "default");
    M().TraceText("gate.out", INFORMATION, 0x8007, 0x0005, L"coded");

    Bytes bytes;
    std::vector<Gate::RecordFields> records;
    std::vector<Bytes> datagrams;
    while (server.Receive(bytes, datagrams.empty() ? 2000 : 200)) {
        datagrams.push_back(bytes);
    }
    ASSERT_EQ(datagrams.size(), 4u);
    const std::string prefix = "[test_logging_gate] ";
    const char* expected[][3] = {
        {"gate.out", "3", "red"}, {"gate.src", "4", "linked"}, {"", "2", "default"}, {"gate.out", "2", "coded"}};
    for (size_t i = 0; i < datagrams.size(); ++i) {
        Gate::RecordFields fields;
        size_t length = 0;
        ASSERT_TRUE(Gate::DecodeRecord(datagrams[i].data(), datagrams[i].size(), fields, length));
        EXPECT_EQ(length, datagrams[i].size());
        EXPECT_EQ(fields.serial, i + 1);
        EXPECT_EQ(fields.channel, expected[i][0]);
        EXPECT_EQ(std::to_string(fields.level), expected[i][1]);
        // No signature, location or line end; colour sequences removed; the prefix expanded.
        EXPECT_EQ(fields.text, prefix + expected[i][2]) << i;
        EXPECT_EQ(fields.threadId, ::GetCurrentThreadId());
        EXPECT_TRUE(
            std::regex_match(std::string(fields.timestamp), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} )")))
            << fields.timestamp;
        EXPECT_EQ(fields.codeHigh, i == 3 ? 0x8007u : 0u);
        EXPECT_EQ(fields.codeLow, i == 3 ? 5u : 0u);
    }
    M().SetDefaultChannel(previousDefault);
    Free(previousDefault);
    for (const char* name : {"gate.src", "gate.dflt", "gate.out"}) {
        M().RemoveChannel(name);
    }
}

// The receiver: "a" at WARNING, its default channel disabled, "b" wide open.
std::vector<Bytes> ReceiverChannels() {
    Gate::FilterReplyWriter writer;
    ConsoleConfig a;
    a.Level = WARNING;
    DebuggerConfig main;
    main.Enabled = false;
    NullConfig b;
    b.Level = DEBUG_TRACE;
    writer.Add("a", 0, a);
    writer.Add("b", 0, b);
    writer.Add("main", Gate::kFilterDefaultChannel, main);
    return writer.Finish();
}

TEST(GateBackend, TheReceiversLevelsDropRecordsBeforeTheyAreSent) {
    UdpPeer server;
    ASSERT_EQ(M().TuneChannel("gate.f", GateTo(server.Port(), true)), LOGGING_RC_NOERROR);
    AnswerRequest(server, ReceiverChannels());
    for (const char* source : {"a", "b", "c"}) {
        ASSERT_EQ(M().TuneChannel(source, NullConfig()), LOGGING_RC_NOERROR);
        ASSERT_EQ(M().LinkChannel("gate.f", source), LOGGING_RC_NOERROR);
    }
    char* previousDefault = M().GetDefaultChannel();
    ASSERT_EQ(M().SetDefaultChannel("gate.f"), LOGGING_RC_NOERROR);

    LogTo("a", INFORMATION, "a info");
    LogTo("a", ERROR_TRACE, "a error");
    LogTo("b", DEBUG_TRACE, "b debug");
    LogTo("c", CRITICAL_ERROR, "c unknown to the receiver");
    LogTo(nullptr, CRITICAL_ERROR, "default");
    EXPECT_EQ(Received(server), (std::vector<std::string>{"a/4/a error", "b/1/b debug"}));
    uint32_t serial = 0;
    EXPECT_EQ(M().GetDWordProperty("gate.f", "serial", serial), LOGGING_RC_NOERROR);
    EXPECT_EQ(serial, 2u);

    // The receiver's channels exist for the sender's process, unless only local ones count.
    EXPECT_TRUE(M().ChannelExists("main", false));
    EXPECT_FALSE(M().ChannelExists("main", true));
    EXPECT_FALSE(M().ChannelExists("nowhere", false));

    M().SetDefaultChannel(previousDefault);
    Free(previousDefault);
    for (const char* name : {"a", "b", "c", "gate.f"}) {
        M().RemoveChannel(name);
    }
    EXPECT_FALSE(M().ChannelExists("main", false));
}

TEST(GateBackend, AFilterReplyOfManyPacketsIsReadWholeAtTheFirstRecord) {
    UdpPeer server;
    ASSERT_EQ(M().TuneChannel("gate.many", GateTo(server.Port(), true)), LOGGING_RC_NOERROR);
    Gate::FilterReplyWriter writer;
    FileConfig config;
    config.File = std::string(300, 'f');
    for (int i = 0; i < 400; ++i) {
        writer.Add("remote." + std::to_string(i), 0, config);
    }
    writer.Add("gate.many", 0, NullConfig());
    const std::vector<Bytes> packets = writer.Finish();
    ASSERT_GE(packets.size(), 5u);
    AnswerRequest(server, packets);
    EXPECT_FALSE(M().ChannelExists("remote.0", false)) << "read only when the first record is written";

    LogTo("gate.many", INFORMATION, "first");
    EXPECT_EQ(Received(server), (std::vector<std::string>{"gate.many/2/first"}));
    for (int i = 0; i < 400; ++i) {
        ASSERT_TRUE(M().ChannelExists(("remote." + std::to_string(i)).c_str(), false)) << i;
    }

    // A new Open asks again; the list changes with the next reply. (Nothing is sent after it,
    // so the wait for a datagram is short.)
    ASSERT_EQ(M().TuneChannel("gate.many", GateTo(server.Port(), true)), LOGGING_RC_NOERROR);
    AnswerRequest(server, ReceiverChannels());
    LogTo("gate.many", INFORMATION, "second");
    EXPECT_TRUE(Received(server, 300).empty()) << "no entry for gate.many any more";
    EXPECT_FALSE(M().ChannelExists("remote.0", false));
    EXPECT_TRUE(M().ChannelExists("b", false));
    M().RemoveChannel("gate.many");
}

TEST(GateBackend, AServerThatNeverAnswersDelaysTheFirstRecordOnlyAndThenEverythingPasses) {
    UdpPeer server;
    ASSERT_EQ(M().TuneChannel("gate.mute", GateTo(server.Port(), true)), LOGGING_RC_NOERROR);
    Bytes request;
    ASSERT_TRUE(server.Receive(request));
    const ULONGLONG start = ::GetTickCount64();
    LogTo("gate.mute", DEBUG_TRACE, "one");
    const ULONGLONG waited = ::GetTickCount64() - start;
    LogTo("gate.mute", DEBUG_TRACE, "two");
    EXPECT_GE(waited, 4900u);
    EXPECT_EQ(Received(server), (std::vector<std::string>{"gate.mute/1/one", "gate.mute/1/two"}));
    M().RemoveChannel("gate.mute");
}

}  // namespace
