// The control pipe served by the worker thread of an initialised manager, in-process, through
// the client end of the pipe.

#include "logging/static/control_pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/assert.h"
#include "logging/common/win_pipe.h"
#include "logging/logging_manager.h"
#include "logging/static/control_worker.h"
#include "logging/static/manager_internal.h"
#include "logging/static/trace_record.h"
#include "support/log_capture.h"
#include "support/udp_peer.h"

namespace {

using Logging::LoggingManager;

LoggingManager& M() {
    return LoggingManager::Instance();
}

std::unique_ptr<Logging::WinPipeClient> Connect(DWORD waitMs = 10000) {
    DWORD error = 0;
    auto client = Logging::WinPipeClient::Connect(Logging::ControlPipeName(), waitMs, error);
    EXPECT_TRUE(client) << "error " << error;
    return client;
}

// The reply message as it arrives, or "<no reply>".
std::string ReadReply(Logging::WinPipeClient& client) {
    char head[12];
    if (client.Read(head, sizeof head, 5000) != sizeof head) {
        return "<no reply>";
    }
    const uint32_t length = static_cast<uint8_t>(head[8]) | static_cast<uint8_t>(head[9]) << 8;
    std::string text(length, '\0');
    if (length != 0 && client.Read(&text[0], length, 5000) != length) {
        return "<short reply>";
    }
    return std::string(head, sizeof head) + text;
}

std::string Send(const std::string& bytes) {
    auto client = Connect();
    if (!client || client->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), 5000) != bytes.size()) {
        return "<not sent>";
    }
    return ReadReply(*client);
}

std::string Request(const std::string& command) {
    return Send(Logging::FrameControlMessage(command, false));
}

// The reply message of `text`: its length counts the NUL that is sent.
std::string Reply(const std::string& text) {
    return Logging::FrameControlMessage(text, true);
}

std::vector<std::string> g_assertions;

// The assertions of this program go to the trace hook alone, before the first one is reported:
// a stack trace with each would cost seconds.
const bool g_assertionsToHookOnly = (_putenv("TOVALIN_SAFE_ASSERT=event"), true);

class ControlPipe : public ::testing::Test {
protected:
    void SetUp() override {
        Logging::InitParameters parameters{};
        parameters.controlPipe = 1;
        cookie_ = M().Initialize(&parameters, nullptr);
        ASSERT_NE(cookie_, 0u);
    }
    void TearDown() override {
        M().RemoveChannel("re:cp\\..*");
        EXPECT_TRUE(M().Release(cookie_));
    }
    uint32_t cookie_ = 0;
};

TEST(ControlWorker, StartsWithThePipeTracesItsStartAndEndsAtRelease) {
    TestSupport::LogCapture trace(Logging::kSelfTraceChannel);
    Logging::InitParameters parameters{};
    parameters.controlPipe = 1;
    const uint32_t cookie = M().Initialize(&parameters, nullptr);
    ASSERT_NE(cookie, 0u);
    EXPECT_EQ(Logging::ControlPipeName(), "logging-control-" + std::to_string(::GetCurrentProcessId()));
    EXPECT_TRUE(Logging::ControlWorkerRunning());
    const uint16_t port = Logging::ControlWorkerPort();
    EXPECT_TRUE(port >= 24100 && port <= 24300) << port;
    const std::vector<std::string> texts = trace.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "I00000000: Worker thread started. NetListener=no ControlPipe=yes"),
              texts.end());
    EXPECT_EQ(Request("default"), Reply("name=debugger"));
    // Another socket that knows the port cannot stop the worker.
    TestSupport::UdpPeer stranger;
    stranger.SendTo(port, std::vector<uint8_t>{'e', 'x', 'i', 't'});
    stranger.SendTo(port, std::vector<uint8_t>{'f', 'a', 't', 'a', 'l'});
    EXPECT_EQ(Request("default"), Reply("name=debugger"));
    EXPECT_TRUE(Logging::ControlWorkerRunning());
    ASSERT_TRUE(M().Release(cookie));
    EXPECT_FALSE(Logging::ControlWorkerRunning());
    DWORD error = 0;
    EXPECT_FALSE(Logging::WinPipeClient::Connect(Logging::ControlPipeName(), 0, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ControlPipe, ClientsAreServedOneAfterAnotherEachWithItsOwnReply) {
    EXPECT_EQ(Request("tune cp.two console"), std::string("Log-mcsg\x03\0\0\0ok\0", 15));
    EXPECT_EQ(Request("level cp.two loud"), Reply("Error: invalid level identifier"));
    EXPECT_EQ(Request(""), Reply("Error: unsupported command"));
    // Anything before the marker is skipped 8 bytes at a time; a NUL ends the command.
    EXPECT_EQ(Send("12345678" + Logging::FrameControlMessage(std::string("delete cp.two\0junk", 18), false)),
              Reply("ok"));
    EXPECT_EQ(Request("delete cp.two"), Reply("Error: unable to delete channel: LOGGING_RC_CHANNEL_DOES_NOT_EXIST"));
}

TEST_F(ControlPipe, RequestsOf256BytesOrMoreAndNopAreAnsweredByDisconnecting) {
    const Common::AssertionTraceHook previous =
        Common::SetAssertionTraceHook([](int32_t, uint16_t, uint16_t, const char* text) {
            if (std::string(text).rfind("Assertion failed: ", 0) == 0) {
                g_assertions.push_back(text);
            }
        });
    g_assertions.clear();
    const std::string command = "tune cp.long console";
    EXPECT_EQ(Request(command + std::string(255 - command.size(), ' ')), Reply("ok"));
    EXPECT_EQ(Request("delete cp.long" + std::string(256 - 14, ' ')), "<no reply>");
    EXPECT_EQ(Request("delete cp.long" + std::string(300 - 14, ' ')), "<no reply>");
    EXPECT_EQ(g_assertions.size(), std::getenv("TOVALIN_SAFE_ASSERT") == nullptr ? 2u : g_assertions.size());
    if (!g_assertions.empty()) {
        EXPECT_EQ(g_assertions[0],
                  "Assertion failed: numBytes < sizeof(command), file logging/static/control, line 145");
    }
    Common::SetAssertionTraceHook(previous);
    EXPECT_EQ(Send("Nop--Nop" + Logging::FrameControlMessage("delete cp.long", false)), "<no reply>");
    EXPECT_EQ(Request("delete cp.long"), Reply("ok"));  // neither refused request ran
}

TEST_F(ControlPipe, AStalledClientIsDroppedAfterTheTimeOutAndOneThatLeavesAtOnce) {
    // Leaves in the middle of its text: nothing runs, the next client is served at once.
    {
        auto leaving = Connect();
        const std::string message = Logging::FrameControlMessage("tune cp.half console", false);
        ASSERT_EQ(leaving->Write(message.data(), 20, 1000), 20u);
    }
    EXPECT_EQ(Request("config cp.half"),
              Reply("Error: unable to retrieve channel config: LOGGING_RC_CHANNEL_DOES_NOT_EXIST"));
    // Sends half its text and waits: the worker gives up on it after its read time-out.
    auto stalled = Connect();
    const std::string message = Logging::FrameControlMessage("tune cp.half console", false);
    ASSERT_EQ(stalled->Write(message.data(), 20, 1000), 20u);
    EXPECT_EQ(Request("config cp.half"),
              Reply("Error: unable to retrieve channel config: LOGGING_RC_CHANNEL_DOES_NOT_EXIST"));
    EXPECT_EQ(stalled->Write(message.data() + 20, static_cast<uint32_t>(message.size() - 20), 1000), 0u);
    EXPECT_EQ(ReadReply(*stalled), "<no reply>");
}

// Remembers the thread each record arrives on.
class ThreadRecorder : public Logging::Tracer {
public:
    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t*) override {
        threads.push_back(::GetCurrentThreadId());
    }
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {}
    void TraceError(const char*, int32_t, const Common::Error&) override {}
    std::vector<DWORD> threads;
};

TEST_F(ControlPipe, AFatalRecordIsDeliveredByTheWorkerOrWithoutOneByTheCaller) {
    ThreadRecorder recorder;
    Logging::CustomConfig config;
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&recorder, false));
    ASSERT_EQ(M().TuneChannel("cp.fatal", config), 0);
    Logging::TraceRecord record;
    record.SetText("cp.fatal", Logging::CRITICAL_ERROR, 0, 0, L"going down");
    Logging::DeliverFatalRecord(record);
    ASSERT_EQ(recorder.threads.size(), 1u);
    EXPECT_NE(recorder.threads[0], ::GetCurrentThreadId());
    M().Release(cookie_);
    Logging::TraceRecord again;
    again.SetText("cp.fatal", Logging::CRITICAL_ERROR, 0, 0, L"going down");
    Logging::DeliverFatalRecord(again);
    ASSERT_EQ(recorder.threads.size(), 2u);
    EXPECT_EQ(recorder.threads[1], ::GetCurrentThreadId());
    M().RemoveChannel("cp.fatal");
    cookie_ = M().Initialize(nullptr, nullptr);  // for TearDown
}

}  // namespace
