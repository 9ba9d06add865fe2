#include "logging/initialize.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/common/trace_logic.h"
#include "logging/logging_manager.h"
#include "support/log_capture.h"

namespace {

using Logging::LoggingManager;

std::vector<std::string> g_hookCalls;

void NoErrorText(const char*, int16_t, const Common::Error*, char**, bool, uint16_t*, uint16_t*) {}
void NoFieldText(const wchar_t*, const Logging::TraceField*, int32_t, char**) {}

void CountConfiguration(LoggingManager&, uint32_t mode) {
    g_hookCalls.push_back("configure " + std::to_string(mode));
}
void CountCommands(LoggingManager&, const char* variable) {
    g_hookCalls.push_back(variable);
}

void LogTo(const char* channel, const char* text) {
    Logging::Log(Logging::TraceLocation{"tests/initialize", "Test", 1}, Logging::INFORMATION, channel, "%s", text);
}

class LoggingInitialize : public ::testing::Test {
protected:
    void SetUp() override {
        g_hookCalls.clear();
        LoggingManager::SetConfigurationHook(CountConfiguration);
        LoggingManager::SetCommandHook(CountCommands);
    }
    void TearDown() override {
        LoggingManager::SetConfigurationHook(nullptr);
        LoggingManager::SetCommandHook(nullptr);
        LoggingManager::Instance().SetConfigurationMode(2);
        Logging::SetErrorFormatter(nullptr);
        Logging::SetFieldFormatter(nullptr);
    }
};

// The only test of this program that constructs Bind objects: the first Bind of a process
// registers, every later one does not.
TEST_F(LoggingInitialize, BindsTheCommonRuntimeAndInitialisesOnce) {
    {
        Logging::Initialize logging(NoErrorText, NoFieldText, Logging::InitParameters{});
        EXPECT_NE(logging.Cookie(), 0u);
        EXPECT_TRUE(LoggingManager::Instance().IsInitialized());
        EXPECT_EQ(Logging::GetErrorFormatter(), &NoErrorText);
        EXPECT_EQ(Logging::GetFieldFormatter(), &NoFieldText);
        EXPECT_TRUE(Common::IsTraceLogicRegistered(&logging));
        EXPECT_EQ(g_hookCalls, std::vector<std::string>{"LOGGING_INIT_CMD"});

        // The common runtime's traces reach the default channel, every level of them.
        TestSupport::LogCapture capture;
        Common::TraceText(Logging::DEBUG_TRACE, 0, 0, L"from the runtime");
        ASSERT_EQ(capture.Entries().size(), 1u);
        EXPECT_EQ(capture.Entries()[0].text, "from the runtime");
        EXPECT_EQ(capture.Entries()[0].kind, TestSupport::LogCapture::Kind::Text);

        // A second initialisation is refused and releases nothing on its way out.
        {
            Logging::Initialize second(NoErrorText, NoFieldText, Logging::InitParameters{});
            EXPECT_EQ(second.Cookie(), 0u);
            EXPECT_FALSE(Common::IsTraceLogicRegistered(&second));
        }
        EXPECT_TRUE(LoggingManager::Instance().IsInitialized());
        EXPECT_FALSE(LoggingManager::Instance().Release(logging.Cookie() + 1));
    }
    EXPECT_FALSE(LoggingManager::Instance().IsInitialized());
    Common::TraceText(Logging::WARNING, 0, 0, L"nobody binds now");
}

TEST_F(LoggingInitialize, ConfigurationIsReadAtTheFirstDeliveryOutsideTheLibrarysOwnChannel) {
    const uint32_t cookie = LoggingManager::Instance().Initialize(nullptr, nullptr);
    ASSERT_NE(cookie, 0u);
    LogTo(Logging::kSelfTraceChannel, "own channel");
    EXPECT_EQ(g_hookCalls, std::vector<std::string>{"LOGGING_INIT_CMD"});
    LogTo("somewhere", "first");
    LogTo("somewhere", "second");
    EXPECT_EQ(g_hookCalls, (std::vector<std::string>{"LOGGING_INIT_CMD", "configure 2", "LOGGING_POST_INIT_CMD"}));
    EXPECT_TRUE(LoggingManager::Instance().Release(cookie));
    EXPECT_FALSE(LoggingManager::Instance().Release(cookie));

    // Without configuration files the post-initialisation commands run at once.
    g_hookCalls.clear();
    LoggingManager::Instance().SetConfigurationMode(0);
    const uint32_t again = LoggingManager::Instance().Initialize(nullptr, nullptr);
    LogTo("somewhere", "third");
    EXPECT_EQ(g_hookCalls, (std::vector<std::string>{"LOGGING_INIT_CMD", "LOGGING_POST_INIT_CMD"}));
    EXPECT_TRUE(LoggingManager::Instance().Release(again));
}

std::vector<std::string> g_seenInHook;

void ConfigureAndLog(LoggingManager&, uint32_t) {
    TestSupport::LogCapture capture("cfg.seen");
    LogTo("cfg.seen", "configured");
    g_seenInHook = capture.Texts();
}

// The configuration runs under the exclusive lock; what it logs must see what it just did.
TEST_F(LoggingInitialize, TheConfigurationsOwnMessagesSeeItsChanges) {
    LogTo("cfg.seen", "nowhere to go yet");
    LoggingManager::SetConfigurationHook(ConfigureAndLog);
    const uint32_t cookie = LoggingManager::Instance().Initialize(nullptr, nullptr);
    LogTo("elsewhere", "triggers the configuration");
    EXPECT_EQ(g_seenInHook, std::vector<std::string>{"I00000000: configured"});
    EXPECT_TRUE(LoggingManager::Instance().Release(cookie));
}

TEST_F(LoggingInitialize, ParametersGiveTheFatalErrorLogPath) {
    Logging::InitParameters parameters{};
    parameters.homeDirectory = "C:\\logs";
    const uint32_t cookie = LoggingManager::Instance().Initialize(&parameters, nullptr);
    EXPECT_EQ(LoggingManager::Instance().FatalErrorLogPath(), "C:\\logs\\FatalError.log");
    EXPECT_EQ(LoggingManager::Instance().ControlPipeName(), "logging-control-" + std::to_string(GetCurrentProcessId()));
    EXPECT_TRUE(LoggingManager::Instance().Release(cookie));
    const uint32_t plain = LoggingManager::Instance().Initialize(nullptr, nullptr);
    EXPECT_EQ(LoggingManager::Instance().FatalErrorLogPath(), "FatalError.log");
    EXPECT_TRUE(LoggingManager::Instance().Release(plain));
}

}  // namespace
