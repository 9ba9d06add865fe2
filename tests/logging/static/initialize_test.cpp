#include "logging/initialize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/trace_logic.h"
#include "logging/logging_manager.h"
#include "support/log_capture.h"

namespace {

using Logging::LoggingManager;
using Strings = std::vector<std::string>;

Strings g_hookCalls;
Strings g_seenInHook;

void LogTo(const char* channel, const char* text) {
    Logging::Log(Logging::TraceLocation{"tests/initialize", "Test", 1}, Logging::INFORMATION, channel, "%s", text);
}

// The configuration runs under the exclusive lock; what it logs must see what it just did.
void Configure(LoggingManager&, uint32_t mode) {
    g_hookCalls.push_back("configure " + std::to_string(mode));
    TestSupport::LogCapture capture("cfg.seen");
    LogTo("cfg.seen", "configured");
    g_seenInHook = capture.Texts();
}

void RunCommands(LoggingManager&, const char* variable) {
    g_hookCalls.push_back(variable);
}

// The only test of this program that constructs Bind objects: the first Bind of a process
// registers, every later one does not.
TEST(LoggingInitialize, BindsTheCommonRuntimeOnceAndReadsTheConfigurationAtTheFirstDelivery) {
    LoggingManager::SetConfigurationHook(Configure);
    LoggingManager::SetCommandHook(RunCommands);
    {
        Logging::Initialize logging(nullptr, nullptr, Logging::InitParameters{});
        EXPECT_TRUE(Common::IsTraceLogicRegistered(&logging));
        LogTo(Logging::kSelfTraceChannel, "own channel");
        EXPECT_EQ(g_hookCalls, Strings{"LOGGING_INIT_CMD"});
        TestSupport::LogCapture capture;  // the runtime's traces reach the default channel
        Common::TraceText(Logging::DEBUG_TRACE, 0, 0, L"from the runtime");
        LogTo("somewhere", "second");
        EXPECT_EQ(capture.Texts(), Strings{"from the runtime"});
        EXPECT_EQ(g_hookCalls, (Strings{"LOGGING_INIT_CMD", "configure 2", "LOGGING_POST_INIT_CMD"}));
        EXPECT_EQ(g_seenInHook, Strings{"I00000000: configured"});
        {
            Logging::Initialize second(nullptr, nullptr, Logging::InitParameters{});
            EXPECT_EQ(second.Cookie(), 0u);
            EXPECT_FALSE(Common::IsTraceLogicRegistered(&second));
        }
        EXPECT_TRUE(LoggingManager::Instance().IsInitialized());
        EXPECT_FALSE(LoggingManager::Instance().Release(logging.Cookie() + 1));
    }
    EXPECT_FALSE(LoggingManager::Instance().IsInitialized());
    Common::TraceText(Logging::WARNING, 0, 0, L"nobody binds now");

    // Without configuration files the post-initialisation commands run at once.
    g_hookCalls.clear();
    LoggingManager::Instance().SetConfigurationMode(0);
    const uint32_t cookie = LoggingManager::Instance().Initialize(nullptr, nullptr);
    LogTo("somewhere", "third");
    EXPECT_EQ(g_hookCalls, (Strings{"LOGGING_INIT_CMD", "LOGGING_POST_INIT_CMD"}));
    EXPECT_TRUE(LoggingManager::Instance().Release(cookie));
    EXPECT_FALSE(LoggingManager::Instance().Release(cookie));
    LoggingManager::Instance().SetConfigurationMode(2);
    LoggingManager::SetConfigurationHook(nullptr);
    LoggingManager::SetCommandHook(nullptr);
}

}  // namespace
