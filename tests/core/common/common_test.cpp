// The small parts of the common runtime: the trace fan-out, UTF-16 to UTF-8 and the dynamic caster.

#include <gtest/gtest.h>

#include <string>

#include "core/common/dynamic_caster.h"
#include "core/common/error.h"
#include "core/common/trace_logic.h"
#include "core/common/utf.h"

namespace {

std::string g_events;  // "<receiver>:<kind><level> ..."

class NamedLogic : public Common::TraceLogic {
public:
    NamedLogic(std::string name, bool allLevels) : name_(std::move(name)), allLevels_(allLevels) {}
    void Trace(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*) override { Add("text", level); }
    void TraceData(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        Add("data", level);
    }
    void TraceError(const char*, int32_t level, const Common::Error&) override { Add("error", level); }
    bool ReceivesAllLevels() const override { return allLevels_; }

private:
    void Add(const char* kind, int32_t level) { g_events += name_ + ":" + kind + std::to_string(level) + " "; }
    std::string name_;
    bool allLevels_;
};

TEST(CommonTraceLogic, ObserversSeeTheirLevelsCallbacksSeeEverything) {
    NamedLogic picky("picky", false), all("all", true), callback("cb", false);
    Common::RegisterTraceLogic(&picky);
    Common::RegisterTraceLogic(&all);
    Common::RegisterTraceLogic(&picky);  // once is enough
    Common::RegisterTraceCallback(&callback);
    Common::SetTraceTextHook(
        [](int32_t level, uint16_t, uint16_t, const wchar_t*) { g_events += "hook:" + std::to_string(level) + " "; });
    Common::TraceText(1, 0, 0, L"debug");
    Common::TraceText(3, 0, 0, L"warning");
    Common::TraceData(2, 0, 0, L"d", nullptr, 0);
    Common::TraceError(4, Common::Error());
    Common::SetMinimumTraceLevel(4);
    Common::EnableTraceTextHook(false);
    Common::TraceText(3, 0, 0, L"warning");
    EXPECT_EQ(g_events,
              "all:text1 cb:text1 hook:3 picky:text3 all:text3 cb:text3 picky:data2 all:data2 cb:data2 picky:error4 "
              "all:error4 cb:error4 all:text3 cb:text3 ");
    Common::SetTraceTextHook(nullptr);
    Common::EnableTraceTextHook(true);
    Common::SetMinimumTraceLevel(2);

    Common::UnregisterTraceLogic(&picky);
    Common::UnregisterTraceLogic(&all);
    Common::UnregisterTraceLogic(&all);  // unknown now: nothing happens
    Common::UnregisterTraceCallback(&callback);
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&all));
    Common::RegisterTraceLogic(&all);  // a new composite after the last one went
    EXPECT_TRUE(Common::IsTraceLogicRegistered(&all));
    g_events.clear();
    Common::TraceText(5, 0, 0, L"x");
    Common::UnregisterTraceLogic(&all);
    Common::TraceText(5, 0, 0, L"nobody listens");
    EXPECT_EQ(g_events, "all:text5 ");
}

std::string Convert(std::initializer_list<wchar_t> units, size_t count = Common::kUntilNul) {
    std::string out = "stale";
    Common::Utf16ToUtf8(std::wstring(units).c_str(), count, out);
    return out;
}

TEST(Utf16ToUtf8, RangesSurrogatesAndCounts) {
    EXPECT_EQ(Convert({L'A', 0x00E9, 0x07FF}), "A\xC3\xA9\xDF\xBF");
    EXPECT_EQ(Convert({0x0800, 0xFFFF}), "\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(Convert({0xD83D, 0xDE00, 0xDBFF, 0xDFFF}), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    // Lone surrogates become three bytes each.
    EXPECT_EQ(Convert({0xD83D}), "\xED\xA0\xBD");
    EXPECT_EQ(Convert({0xDE00, L'x'}), "\xED\xB8\x80x");
    EXPECT_EQ(Convert({0xD83D, 0xD83D, 0xDE00}), "\xED\xA0\xBD\xF0\x9F\x98\x80");
    // A pair split by the count is not joined.
    EXPECT_EQ(Convert({0xD83D, 0xDE00}, 1), "\xED\xA0\xBD");
    EXPECT_EQ(Convert({L'a', L'b', L'c'}, 0), "");
    EXPECT_EQ(Convert({L'a', 0, L'b'}, 3), "a");
    EXPECT_EQ(Common::Utf16ToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
}

class Registry : public Common::DynamicCasterImpl {
public:
    using DynamicCasterImpl::RegisterInterface;
};

TEST(DynamicCaster, CastFindsTheLatestRegistrationUnderTheExactName) {
    Registry registry;
    int a = 0, b = 0;
    registry.RegisterInterface("IFoo", &a);
    registry.RegisterInterface("IFoo", nullptr);
    registry.RegisterInterface(nullptr, &b);
    EXPECT_EQ(registry.Cast("IFoo"), &a);
    for (const char* other : {"IFo", "IFoo ", "ifoo", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(registry.Cast(other), nullptr);
    }
    registry.RegisterInterface("IFoo", &b);
    EXPECT_EQ(registry.Cast("IFoo"), &b);
}

}  // namespace
