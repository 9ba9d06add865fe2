#include "core/common/trace_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/error.h"

namespace {

std::vector<std::string> g_events;

class NamedLogic : public Common::TraceLogic {
public:
    NamedLogic(std::string name, bool allLevels) : name_(std::move(name)), allLevels_(allLevels) {}
    using Common::TraceLogic::Trace;
    using Common::TraceLogic::TraceData;
    using Common::TraceLogic::TraceError;
    void Trace(const char* channel, int32_t level, uint16_t, uint16_t, const wchar_t*) override {
        g_events.push_back(name_ + ":text" + std::to_string(level) + (channel == nullptr ? "" : channel));
    }
    void TraceData(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        g_events.push_back(name_ + ":data" + std::to_string(level));
    }
    void TraceError(const char*, int32_t level, const Common::Error&) override {
        g_events.push_back(name_ + ":error" + std::to_string(level));
    }
    bool ReceivesAllLevels() const override { return allLevels_; }

private:
    std::string name_;
    bool allLevels_;
};

void Hook(int32_t level, uint16_t, uint16_t, const wchar_t*) {
    g_events.push_back("hook:" + std::to_string(level));
}

class CommonTraceLogic : public ::testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
    void TearDown() override {
        Common::SetTraceTextHook(nullptr);
        Common::EnableTraceTextHook(true);
        Common::SetMinimumTraceLevel(2);
    }
};

TEST_F(CommonTraceLogic, ObserversSeeTheirLevelsCallbacksSeeEverythingAfterThem) {
    NamedLogic picky("picky", false);
    NamedLogic all("all", true);
    NamedLogic callback("cb", false);
    Common::RegisterTraceLogic(&picky);
    Common::RegisterTraceLogic(&all);
    Common::RegisterTraceLogic(&picky);  // once is enough
    Common::RegisterTraceCallback(&callback);
    Common::SetTraceTextHook(Hook);

    Common::TraceText(1, 0, 0, L"debug");
    Common::TraceText(3, 0, 0, L"warning");
    Common::TraceData(2, 0, 0, L"d", nullptr, 0);
    Common::TraceError(4, Common::Error());
    EXPECT_EQ(g_events, (std::vector<std::string>{"all:text1", "cb:text1", "hook:3", "picky:text3", "all:text3",
                                                  "cb:text3", "picky:data2", "all:data2", "cb:data2", "picky:error4",
                                                  "all:error4", "cb:error4"}));

    g_events.clear();
    Common::SetMinimumTraceLevel(4);
    Common::EnableTraceTextHook(false);
    Common::TraceText(3, 0, 0, L"warning");
    EXPECT_EQ(g_events, (std::vector<std::string>{"all:text3", "cb:text3"}));

    Common::UnregisterTraceLogic(&picky);
    Common::UnregisterTraceLogic(&all);
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&all));
    Common::UnregisterTraceCallback(&callback);
    g_events.clear();
    Common::TraceText(5, 0, 0, L"nobody listens");
    EXPECT_TRUE(g_events.empty());
}

TEST_F(CommonTraceLogic, TheCompositeExistsFromFirstRegistrationToLastUnregistration) {
    NamedLogic one("one", true);
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&one));
    Common::RegisterTraceLogic(&one);
    EXPECT_TRUE(Common::IsTraceLogicRegistered(&one));
    Common::UnregisterTraceLogic(&one);
    Common::UnregisterTraceLogic(&one);  // unknown now: nothing happens
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&one));
    Common::RegisterTraceLogic(&one);
    Common::TraceText(2, 0, 0, L"x");
    EXPECT_EQ(g_events, std::vector<std::string>{"one:text2"});
    Common::UnregisterTraceLogic(&one);
}

}  // namespace
