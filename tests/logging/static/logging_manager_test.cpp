#include "logging/logging_manager.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/common/assert.h"
#include "core/common/error.h"
#include "core/common/trace_logic.h"
#include "logging/channel_config.h"
#include "logging/initialize.h"
#include "logging/static/manager_internal.h"
#include "support/log_capture.h"

namespace {

using Logging::LoggingManager;
using Logging::NoChannel;
using TestSupport::LogCapture;
using Strings = std::vector<std::string>;

LoggingManager& M() {
    return LoggingManager::Instance();
}

void LogTo(const char* channel, int32_t level, const char* text) {
    Logging::Log(Logging::TraceLocation{"tests/manager", "Test", 1}, level, channel, "%s", text);
}

// A channel's links and redirection target, as "<link> ... -> <target>"; outputs left alone show.
std::string Routes(const char* name) {
    Strings links{"stale"};
    std::string text, to = "stale";
    M().GetLinks(name, links);
    M().GetRedirect(name, to);
    for (const std::string& link : links) {
        text += link + " ";
    }
    return text + "-> " + to;
}

uint64_t UsageCount(const char* name) {
    uint64_t count = 0;
    EXPECT_EQ(M().GetUsageCount(name, count), 0);
    return count;
}

std::string DefaultChannel() {
    char* name = M().GetDefaultChannel();
    std::string copy = name;
    Logging::Free(name);
    return copy;
}

Logging::CustomConfig CustomFor(LogCapture& capture) {
    Logging::CustomConfig config;
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&capture, false));
    return config;
}

Strings g_hookCalls;
Strings g_seenInHook;

// The configuration runs under the exclusive lock; what it logs must see what it just did.
void Configure(LoggingManager&, uint32_t mode) {
    g_hookCalls.push_back("configure " + std::to_string(mode));
    LogCapture capture("cfg.seen");
    LogTo("cfg.seen", Logging::INFORMATION, "configured");
    g_seenInHook = capture.Texts();
}

void RunCommands(LoggingManager&, const char* variable) {
    g_hookCalls.push_back(variable);
}

// The only test of this program that constructs Bind objects: the first Bind of a process
// registers, every later one does not.
TEST(LoggingInitialize, BindsTheCommonRuntimeOnceAndReadsTheConfigurationAtTheFirstDelivery) {
    Logging::SetConfigurationHook(Configure);
    Logging::SetCommandHook(RunCommands);
    {
        Logging::Initialize logging(nullptr, nullptr, Logging::InitParameters{});
        EXPECT_TRUE(Common::IsTraceLogicRegistered(&logging));
        LogTo(Logging::kSelfTraceChannel, Logging::INFORMATION, "own channel");
        EXPECT_EQ(g_hookCalls, Strings{"LOGGING_INIT_CMD"});
        LogCapture capture;  // the runtime's traces reach the default channel
        Common::TraceText(Logging::DEBUG_TRACE, 0, 0, L"from the runtime");
        LogTo("somewhere", Logging::INFORMATION, "second");
        EXPECT_EQ(capture.Texts(), Strings{"from the runtime"});
        EXPECT_EQ(g_hookCalls, (Strings{"LOGGING_INIT_CMD", "configure 2", "LOGGING_POST_INIT_CMD"}));
        EXPECT_EQ(g_seenInHook, Strings{"I00000000: configured"});
        {
            Logging::Initialize second(nullptr, nullptr, Logging::InitParameters{});
            EXPECT_EQ(second.Cookie(), 0u);
            EXPECT_FALSE(Common::IsTraceLogicRegistered(&second));
        }
        EXPECT_TRUE(M().IsInitialized());
        EXPECT_FALSE(M().Release(logging.Cookie() + 1));
    }
    EXPECT_FALSE(M().IsInitialized());
    Common::TraceText(Logging::WARNING, 0, 0, L"nobody binds now");
    // Without configuration files the post-initialisation commands run at once.
    g_hookCalls.clear();
    Logging::SetConfigurationMode(0);
    const uint32_t cookie = M().Initialize(nullptr, nullptr);
    LogTo("somewhere", Logging::INFORMATION, "third");
    EXPECT_EQ(g_hookCalls, (Strings{"LOGGING_INIT_CMD", "LOGGING_POST_INIT_CMD"}));
    EXPECT_TRUE(M().Release(cookie));
    EXPECT_FALSE(M().Release(cookie));
    Logging::SetConfigurationMode(2);
    Logging::SetConfigurationHook(nullptr);
    Logging::SetCommandHook(nullptr);
}

class ManagerOperations : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"t.a", "t.b", "t.c", "t.d"}) {
            ASSERT_EQ(M().TuneChannel(name, Logging::NullConfig()), 0);
        }
        self.Clear();
    }
    void TearDown() override {
        M().RemoveChannel("re:t\\..*");
        M().SetDefaultChannel("debugger");
    }
    // An operation's result, expected with its code and the messages reported since the last.
    void Op(int32_t result, int32_t code, std::initializer_list<std::string> messages) {
        Strings expected;
        for (const std::string& message : messages) {
            expected.push_back("I00000000: " + message);
        }
        EXPECT_EQ(result, code) << (expected.empty() ? "" : expected[0]);
        EXPECT_EQ(self.Texts(), expected) << (expected.empty() ? "" : expected[0]);
        self.Clear();
    }
    LogCapture self{Logging::kSelfTraceChannel};  // the library's own messages
};

TEST_F(ManagerOperations, EveryInvalidArgumentHasItsCodeAndMessageAndChangesNothing) {
    std::string text;
    uint32_t dword = 0;
    uint64_t count = 0;
    Strings links;
    const Logging::NullConfig config;
    Logging::FlatConfigPtr malformed(config.ToFlat());
    malformed->size += 1;  // a flat record whose size is not its type's
    Logging::LoggingManager& m = M();
    Op(m.ChannelExists(NoChannel(), true), 0, {"ChannelExists: invalid param"});
    Op(m.ChannelExists("re:t\\..*", false), 0, {"ChannelExists: invalid param"});
    Op(m.TuneChannel(NoChannel(), config), 2, {"TuneChannel: invalid param"});
    Op(m.TuneChannel("re:t", config), 2, {"TuneChannel: invalid param"});
    Op(m.TuneChannel("t#x", config), 2, {"TuneChannel: invalid channel name - t#x"});
    Op(m.TuneChannel("t\tx", config), 2, {"TuneChannel: invalid channel name - t\tx"});
    Op(m.TuneChannel("panic", config), 2, {"TuneChannel: not allowed type(0) for panic channel"});
    Op(m.TuneChannel("t.a", malformed.get()), 12, {"TuneChannel: invalid param"});
    Op(m.RemoveChannel(NoChannel()), 2, {"RemoveChannel: invalid param"});
    Op(m.RemoveChannel("t.missing"), 6, {"RemoveChannel: channel does not exist t.missing"});
    Op(m.SetDefaultChannel(nullptr), 2, {"SetDefaultChannel: invalid param"});
    Op(m.SetDefaultChannel("re:t.*"), 2, {"SetDefaultChannel: invalid param"});
    Op(m.SetDefaultChannel("t.missing"), 6, {"SetDefaultChannel: channel does not exist t.missing"});
    Op(m.SetLevel(NoChannel(), 2), 2, {"SetLevel: invalid param"});
    Op(m.SetLevel("t.missing", 2), 6, {"SetLevel: channel does not exist t.missing"});
    Op(m.SetProperty(NoChannel(), "p", "1"), 2, {"SetProperty: invalid param"});
    Op(m.SetProperty("t.a", nullptr, "1"), 2, {"SetProperty: invalid param"});
    Op(m.SetProperty("t.missing", "p", "1"), 6, {"SetProp: channel does not exist t.missing"});
    Op(m.GetProperty(NoChannel(), "p", text), 2, {"GetProperty: invalid param"});
    Op(m.GetProperty("t.a", nullptr, text), 2, {"GetProperty: invalid param"});
    Op(m.GetProperty("t.missing", "p", text), 6, {});
    Op(m.GetDWordProperty(NoChannel(), "p", dword), 2, {"GetDWordProperty: invalid param"});
    Op(m.GetDWordProperty("t.missing", "p", dword), 6, {});
    Op(m.GetPropertyName(NoChannel(), 0, true, text), 2, {"GetPropertyName: invalid param"});
    Op(m.RedirectChannel(NoChannel(), "t.a"), 2, {"RedirectChannel: invalid param"});
    Op(m.RedirectChannel("t.a", "re:t"), 2, {"RedirectChannel: invalid param"});
    Op(m.RedirectChannel("t.missing", "t.a"), 6, {"RedirectChannel: no such channel (from) t.missing"});
    Op(m.RedirectChannel("t.a", "t.missing"), 6, {"RedirectChannel: no such channel (to) t.missing"});
    Op(m.LinkChannel(NoChannel(), "t.a"), 2, {"LinkChannel: invalid param"});
    Op(m.LinkChannel("t.a", NoChannel()), 2, {"LinkChannel: invalid param"});
    Op(m.LinkChannel("t.missing", "t.a"), 6, {"LinkChannel: no such channel (from) t.missing"});
    Op(m.LinkChannel("t.a", "t.missing"), 6, {"LinkChannel: no such channel (to) t.missing"});
    Op(m.UnlinkChannel(NoChannel(), "t.a"), 2, {"LinkChannel: invalid param"});
    Op(m.UnlinkChannel("t.a", "t.missing"), 6, {"UnlinkChannel: channel does not exist"});
    Op(m.UnlinkChannel("t.missing", "t.a"), 6, {"LinkChannel: no such channel t.missing"});
    Op(m.UnlinkChannel("t.a", "t.a"), 6, {"UnlinkChannel: unlink t.a from t.a. Failed rc=6"});
    Op(m.GetRedirect(NoChannel(), text), 2, {"GetRedirect: invalid param"});
    Op(m.GetLinks(NoChannel(), links), 2, {"GetLinks: invalid param"});
    Op(m.GetUsageCount(NoChannel(), count), 2, {"GetUsageCount: invalid param"});
    Op(m.GetUsageCount("re:.*", count), 2, {"GetUsageCount: invalid param"});
    EXPECT_EQ(DefaultChannel(), "debugger");
}

TEST_F(ManagerOperations, SuccessfulOperationsReportWhatTheyDid) {
    Op(M().TuneChannel("t.a", Logging::ConsoleConfig()), 0, {"CreateChannel: t.a (console)"});
    Op(M().TuneChannel("t.b", Logging::NullConfig()), 0, {});
    Op(M().SetLevel("t.a", 3), 0, {"SetLevel: t.a level=3"});
    Op(M().SetProperty("t.a", "extra", "17"), 0, {"SetProp: channel=t.a extra=17"});
    Op(M().SetProperty("t.a", "extra", nullptr), 0, {"SetProp: channel=t.a extra=<clear>"});
    Op(M().SetProperty("t.a", "extra", nullptr), 8, {"SetProp: channel=t.a extra=<clear>. Failed rc=8"});
    Op(M().LinkChannel("t.b", "t.a"), 0, {"LinkChannel: t.b linked to t.a"});
    Op(M().LinkChannel("t.b", "t.a"), 6, {"LinkChannel: add link t.b->t.a error 6h"});
    Op(M().UnlinkChannel("t.b", "t.a"), 0, {"UnlinkChannel: unlink t.b from t.a"});
    Op(M().RedirectChannel("t.a", "t.b"), 0, {"RedirectChannel: t.a->t.b"});
    Op(M().RedirectChannel("t.a", NoChannel()), 0, {"RedirectChannel: Remove redirection of channel t.a"});
    Op(M().SetDefaultChannel("t.a"), 0, {"SetDefaultChannel: t.a"});
    Op(M().RemoveChannel("t.a"), 0, {"RemoveChannel: t.a"});
    EXPECT_EQ(DefaultChannel(), "debugger");  // the default's removal brings back the debugger
    // A failed creation leaves no channel behind.
    Op(M().TuneChannel("t.e", Logging::CustomConfig()), 2,
       {"CreateChannel: t.e (custom)", "CreateChannel: SetConfig for channel t.e. status=2h"});
    EXPECT_FALSE(M().ChannelExists("t.e", true));
    EXPECT_EQ(M().CreateChannel("t.b", Logging::NullConfig()), 5);
}

TEST_F(ManagerOperations, RegularExpressionNamesActOnEveryMatchAndRemovalCleansUp) {
    Op(M().SetLevel("re:t\\.[cb]", 3), 0, {"SetLevel: t.b level=3", "SetLevel: t.c level=3"});  // in map order
    EXPECT_TRUE(M().ChannelExists("re:t\\.[ab]", true));
    EXPECT_FALSE(M().ChannelExists("re:nothing.*", true));
    LogTo("re:(", Logging::WARNING, "lost");  // a bad expression is reported, not thrown
    ASSERT_EQ(self.Count(), 1u);
    EXPECT_EQ(self.Texts()[0].rfind("I00000000: regex_error caught: ", 0), 0u) << self.Texts()[0];
    EXPECT_EQ(M().SetLevel("re:(", 2), 6);

    ASSERT_EQ(M().LinkChannel("t.a", "t.c"), 0);
    ASSERT_EQ(M().LinkChannel("t.b", "t.c"), 0);
    ASSERT_EQ(M().RedirectChannel("t.d", "t.b"), 0);
    self.Clear();
    Op(M().RemoveChannel("re:t\\.[ab]"), 0, {"RemoveChannel: t.a", "RemoveChannel: t.b"});
    EXPECT_EQ(Routes("t.c"), "-> ");
    EXPECT_EQ(Routes("t.d"), "-> ");
    // Retuning as another type starts the channel afresh; the same type keeps what it had.
    ASSERT_EQ(M().LinkChannel("t.d", "t.c"), 0);
    ASSERT_EQ(M().TuneChannel("t.c", Logging::NullConfig()), 0);
    EXPECT_EQ(Routes("t.c"), "t.d -> ");
    ASSERT_EQ(M().RedirectChannel("t.c", "t.d"), 0);
    ASSERT_EQ(M().TuneChannel("t.c", Logging::ConsoleConfig()), 0);
    EXPECT_EQ(Routes("t.c"), "-> ");
}

TEST_F(ManagerOperations, LoopsAreRejectedAndTheEarlierStateKept) {
    Op(M().LinkChannel("t.a", "t.b"), 0, {"LinkChannel: t.a linked to t.b"});
    Op(M().LinkChannel("t.b", "t.a"), 4, {"LinkChannel: invalid link t.b->t.a"});
    EXPECT_EQ(Routes("t.a"), "-> ");
    EXPECT_EQ(Routes("t.b"), "t.a -> ");
    Op(M().RedirectChannel("t.c", "t.c"), 4, {"RedirectChannel: invalid redirection t.c->t.c"});
    Op(M().RedirectChannel("t.c", "t.a"), 0, {"RedirectChannel: t.c->t.a"});
    Op(M().RedirectChannel("t.a", "t.b"), 4, {"RedirectChannel: invalid redirection t.a->t.b"});  // t.b links to t.a
    Op(M().RedirectChannel("t.a", "t.c"), 4, {"RedirectChannel: invalid redirection t.a->t.c"});  // t.c goes to t.a
    EXPECT_EQ(Routes("t.a"), "-> ");
    EXPECT_EQ(M().RedirectChannel("t.a", "t.d"), 0);
    EXPECT_EQ(M().RedirectChannel("t.a", "t.c"), 4);
    EXPECT_EQ(Routes("t.a"), "-> t.d");
    // Reaching a channel twice along two paths counts as a loop too: a diamond is refused.
    // t.b links to t.a, which goes to t.d: a link from t.b to t.d would be a second way there.
    self.Clear();
    Op(M().LinkChannel("t.d", "t.b"), 4, {"LinkChannel: invalid link t.d->t.b"});
    EXPECT_EQ(Routes("t.b"), "t.a -> ");
}

TEST_F(ManagerOperations, PredefinedChannelsAppearWhenFirstNamed) {
    M().RemoveChannel("panic");
    M().RemoveChannel("null");
    self.Clear();
    LogTo("panic", Logging::ERROR_TRACE, "first words");
    Strings links;
    Op(M().GetLinks("null", links), 0, {"CreateChannel: panic (debugger)", "CreateChannel: null (null)"});
    EXPECT_EQ(M().TuneChannel("panic", Logging::ConsoleConfig()), 0);
    EXPECT_EQ(M().TuneChannel("panic", Logging::DebuggerConfig()), 0);
    self.Clear();
    Logging::PanicTrace("cannot write %s", "again");  // through the rebuilt panic handle
    EXPECT_EQ(self.Texts(), Strings{"C00000000: cannot write again"});

    EXPECT_EQ(M().SetDefaultChannel("null"), 0);
    EXPECT_EQ(M().RemoveChannel("null"), 0);
    EXPECT_EQ(DefaultChannel(), "null");  // a predefined default survives its removal
    LogTo(nullptr, Logging::INFORMATION, "into the null channel");
    EXPECT_TRUE(M().ChannelExists("null", true));
}

// Removing a capture's channel also gives the default back to the debugger.
class ManagerDelivery : public ::testing::Test {
protected:
    LogCapture a{"d.a"};
    LogCapture b{"d.b"};
    LogCapture c{"d.c"};
};

TEST_F(ManagerDelivery, LinksCarryRecordsOnwardRedirectionsTakeThemAwayEachChannelOnce) {
    LogCapture d("d.d");
    ASSERT_EQ(M().LinkChannel("d.b", "d.a"), 0);
    ASSERT_EQ(M().LinkChannel("d.c", "d.a"), 0);
    ASSERT_EQ(M().LinkChannel("d.d", "d.b"), 0);
    Logging::SetMirrorChannel("d.d");  // a second way to d.d
    LogTo("d.a", Logging::INFORMATION, "one");
    LogTo("d.b", Logging::INFORMATION, "two");
    Logging::SetMirrorChannel(nullptr);
    EXPECT_EQ(a.Texts(), Strings{"I00000000: one"});
    EXPECT_EQ(b.Texts(), (Strings{"I00000000: one", "I00000000: two"}));
    EXPECT_EQ(d.Texts(), (Strings{"I00000000: one", "I00000000: two"}));  // once along two paths
    EXPECT_EQ(b.Entries()[0].channel, "d.a");                             // the name the record was logged to
    // A redirected channel's own back-end and links see nothing.
    LogCapture e("d.e");
    ASSERT_EQ(M().RedirectChannel("d.a", "d.e"), 0);
    LogTo("d.a", Logging::WARNING, "three");
    EXPECT_EQ(a.Count() + b.Count() + c.Count() + d.Count(), 1u + 2 + 1 + 2);
    EXPECT_EQ(e.Texts(), Strings{"W00000000: three"});
    // A level filter stops the channel's own output, not its links.
    ASSERT_EQ(M().RedirectChannel("d.a", NoChannel()), 0);
    ASSERT_EQ(M().SetLevel("d.a", Logging::ERROR_TRACE), 0);
    LogTo("d.a", Logging::WARNING, "four");
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(b.Texts().back(), "W00000000: four");
}

TEST_F(ManagerDelivery, RecordKindsReachTheTracerAsTheyAre) {
    M().TraceText("d.a", Logging::WARNING, 0xC1, 7, L"text \u00e9 \x1b[1mkept\x1b[0m");
    M().TraceData("d.a", Logging::ERROR_TRACE, 1, 2, L"with data", "xyz", 3);
    M().TraceError("d.a", Logging::CRITICAL_ERROR, Common::Error::FromCode({0, "f", "fn", 1}, 0xC10002));
    LogTo("d.a#target", Logging::BLOCKED, "formatted \x1b[1;31mred\x1b[0m");
    Strings seen;  // kind, channel, codes and text
    for (const LogCapture::Entry& e : a.Entries()) {
        seen.push_back(std::to_string(static_cast<int>(e.kind)) + " " + e.channel + " " + std::to_string(e.codeHigh) +
                       ":" + std::to_string(e.codeLow) + " " + e.text);
    }
    // A formatted record becomes its line; the channel is named without its target.
    EXPECT_EQ(seen, (Strings{"0 d.a 193:7 text \xC3\xA9 \x1b[1mkept\x1b[0m", "1 d.a 1:2 with data",
                             "2 d.a 0:0 12648450", "0 d.a 0:0  00000000: formatted red"}));
}

// Counts the assertions reported and, as the hook in place at start-up does, traces their
// texts at CRITICAL_ERROR to the default channel, where they may raise further assertions.
class AssertionCount {
public:
    AssertionCount() : previous_(Common::SetAssertionTraceHook(&Hook)) { reports_ = 0; }
    ~AssertionCount() { Common::SetAssertionTraceHook(previous_); }
    int Reports() const { return reports_; }

private:
    static void Hook(int32_t level, uint16_t high, uint16_t low, const char* text) {
        if (std::string(text).rfind("Assertion failed", 0) == 0) {
            ++reports_;
        }
        const std::string narrow = text;
        const std::wstring wide(narrow.begin(), narrow.end());
        M().TraceText(nullptr, level, high, low, wide.c_str());
    }
    static inline int reports_ = 0;
    Common::AssertionTraceHook previous_;
};

// A channel that stops existing leaves no route to it behind, however it went; a record that
// comes back to the back-end writing it is dropped, so neither can recurse without end.
TEST_F(ManagerDelivery, NoRouteOutlivesItsChannelAndNoWriteRecursesIntoItself) {
    AssertionCount assertions;
    ASSERT_EQ(M().TuneChannel("d.gone", Logging::NullConfig()), 0);
    ASSERT_EQ(M().LinkChannel("d.gone", "d.a"), 0);
    ASSERT_EQ(M().RedirectChannel("d.c", "d.gone"), 0);
    ASSERT_EQ(M().SetDefaultChannel("d.a"), 0);
    // A re-tune to another type that cannot create the channel again leaves it gone.
    EXPECT_EQ(M().TuneChannel("d.gone", Logging::CustomConfig()), 2);
    EXPECT_FALSE(M().ChannelExists("d.gone", true));
    EXPECT_EQ(Routes("d.a"), "-> ");
    EXPECT_EQ(Routes("d.c"), "-> ");
    LogTo(nullptr, Logging::WARNING, "to the default");
    LogTo("d.c", Logging::WARNING, "no longer redirected");
    EXPECT_EQ(a.Texts(), Strings{"W00000000: to the default"});
    EXPECT_EQ(c.Texts(), Strings{"W00000000: no longer redirected"});
    EXPECT_EQ(assertions.Reports(), 0);
    // A same-type re-tune that leaves the default custom channel without a tracer: its write
    // asserts once, and the assertion's own trace, which comes back to it, is dropped.
    EXPECT_EQ(M().TuneChannel("d.a", Logging::CustomConfig()), 2);
    LogTo(nullptr, Logging::WARNING, "nobody to hand it to");
    EXPECT_EQ(assertions.Reports(), 1);
    M().SetDefaultChannel("debugger");
}

// The all-ones pointer is no channel name for the trace entries either.
TEST_F(ManagerDelivery, TheInvalidChannelPointerReachesNothing) {
    LogCapture fallback;  // the default channel
    const uint64_t before = UsageCount(fallback.Channel().c_str());
    LogTo(NoChannel(), Logging::ERROR_TRACE, "formatted");
    M().TraceText(NoChannel(), Logging::ERROR_TRACE, 0, 0, L"text");
    M().TraceData(NoChannel(), Logging::ERROR_TRACE, 0, 0, L"data", "x", 1);
    M().TraceError(NoChannel(), Logging::ERROR_TRACE, Common::Error::FromCode({0, "f", "fn", 1}, 5));
    EXPECT_EQ(fallback.Count(), 0u);
    EXPECT_EQ(UsageCount(fallback.Channel().c_str()), before);
}

// Usage counts every delivery under the name it reaches: the name logged to, each link and
// redirection it travels, the channel of a "#target" name, and records the fast path only
// counts because every channel would drop them.
TEST_F(ManagerDelivery, UsageCountsFollowEveryRoute) {
    ASSERT_EQ(M().LinkChannel("d.b", "d.a"), 0);
    ASSERT_EQ(M().RedirectChannel("d.c", "d.a"), 0);
    const char* names[] = {"d.a", "d.b", "d.c", "d.nowhere"};
    uint64_t before[4];
    for (int i = 0; i < 4; ++i) {
        before[i] = UsageCount(names[i]);
    }
    LogTo("d.a", Logging::INFORMATION, "direct");
    LogTo("d.c", Logging::INFORMATION, "redirected");
    LogTo("d.b#target", Logging::INFORMATION, "with a target");
    LogTo("d.nowhere", Logging::INFORMATION, "no channel");
    ASSERT_EQ(M().UnlinkChannel("d.b", "d.a"), 0);
    ASSERT_EQ(M().RedirectChannel("d.c", NoChannel()), 0);
    ASSERT_EQ(M().SetLevel("d.c", Logging::ERROR_TRACE), 0);
    for (int i = 0; i < 3; ++i) {
        LogTo("d.c", Logging::DEBUG_TRACE, "filtered everywhere");  // counted without a record
        LogTo("d.nowhere", Logging::DEBUG_TRACE, "still nowhere");
    }
    const uint64_t expected[] = {2, 3, 4, 4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(UsageCount(names[i]) - before[i], expected[i]) << names[i];
    }
    EXPECT_EQ(c.Count(), 0u);
}

// Logs a second critical message from inside the delivery of the first.
struct ReentrantTracer : LogCapture {
    ReentrantTracer() : LogCapture("d.crit") {}
    void Trace(const char* channel, int32_t level, uint16_t high, uint16_t low, const wchar_t* text) override {
        LogCapture::Trace(channel, level, high, low, text);
        if (Count() == 1) {
            LogTo("d.b", Logging::CRITICAL_ERROR, "inner");
        }
    }
};

TEST_F(ManagerDelivery, ACriticalMessageLoggedDuringAnotherOneLeavesItIntact) {
    ReentrantTracer first;
    ASSERT_EQ(M().LinkChannel("d.c", "d.crit"), 0);
    LogTo("d.crit", Logging::CRITICAL_ERROR, "outer");
    EXPECT_EQ(first.Texts(), Strings{"C00000000: outer"});
    EXPECT_EQ(b.Texts(), Strings{"C00000000: inner"});
    EXPECT_EQ(c.Texts(), Strings{"C00000000: outer"});
}

// Records that every channel would filter are only counted; each change must reach the next
// record at once.
TEST_F(ManagerDelivery, SkippedRecordsFollowEveryChangeOfTheChannels) {
    ASSERT_EQ(M().SetLevel("d.a", Logging::WARNING), 0);
    LogTo("d.a", Logging::INFORMATION, "filtered");
    ASSERT_EQ(M().SetLevel("d.a", Logging::DEBUG_TRACE), 0);
    LogTo("d.a", Logging::INFORMATION, "level lowered");
    EXPECT_EQ(a.Texts(), Strings{"I00000000: level lowered"});

    Logging::CustomConfig disabled = CustomFor(a);
    disabled.Enabled = false;
    ASSERT_EQ(M().TuneChannel("d.a", disabled), 0);
    LogTo("d.a", Logging::ERROR_TRACE, "disabled");
    ASSERT_EQ(M().LinkChannel("d.b", "d.a"), 0);
    LogTo("d.a", Logging::ERROR_TRACE, "linked");
    ASSERT_EQ(M().UnlinkChannel("d.b", "d.a"), 0);
    Logging::SetMirrorChannel("d.c");  // sees every record without a target
    LogTo("d.a", Logging::ERROR_TRACE, "mirrored");
    LogTo("d.a#t", Logging::ERROR_TRACE, "has a target");
    Logging::SetMirrorChannel(nullptr);
    LogTo("d.a", Logging::ERROR_TRACE, "disabled again");
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(b.Texts(), Strings{"E00000000: linked"});
    EXPECT_EQ(c.Texts(), Strings{"E00000000: mirrored"});
    // Records without a channel name go to the default channel.
    ASSERT_EQ(M().SetDefaultChannel("d.a"), 0);
    LogTo(nullptr, Logging::ERROR_TRACE, "to the disabled default");
    ASSERT_EQ(M().SetDefaultChannel("d.b"), 0);
    LogTo(nullptr, Logging::ERROR_TRACE, "no name");
    LogTo("", Logging::ERROR_TRACE, "empty name");
    EXPECT_EQ(b.Texts(), (Strings{"E00000000: linked", "E00000000: no name", "E00000000: empty name"}));
    EXPECT_EQ(b.Entries()[1].channel, "d.b");
    // A removed channel receives nothing, a re-created one at once.
    ASSERT_EQ(M().RemoveChannel("d.c"), 0);
    LogTo("d.c", Logging::ERROR_TRACE, "gone");
    LogCapture again("d.c");
    LogTo("d.c", Logging::ERROR_TRACE, "back");
    EXPECT_EQ(again.Texts(), Strings{"E00000000: back"});
}

}  // namespace
