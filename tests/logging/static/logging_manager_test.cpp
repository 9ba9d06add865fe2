#include "logging/logging_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "logging/channel_config.h"
#include "support/log_capture.h"

namespace {

using Logging::LoggingManager;
using Logging::NoChannel;
using TestSupport::LogCapture;
using Strings = std::vector<std::string>;

LoggingManager& Manager() {
    return LoggingManager::Instance();
}

void LogTo(const char* channel, int32_t level, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));
void LogTo(const char* channel, int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Manager().TraceFormatted(channel, level, Logging::TraceLocation{"tests/manager", "Test", 1}, format, args);
    va_end(args);
}

// The library's own messages, as the driver's report would show them.
class SelfTrace {
public:
    SelfTrace() : capture_(Logging::kSelfTraceChannel) { capture_.Clear(); }
    Strings Take() {
        Strings texts = capture_.Texts();
        capture_.Clear();
        return texts;
    }

private:
    LogCapture capture_;
};

std::string Info(const std::string& text) {
    return "I00000000: " + text;
}

Logging::NullConfig NullChannel() {
    return Logging::NullConfig();
}

class ManagerOperations : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char* name : {"t.a", "t.b", "t.c", "t.d", "t.null"}) {
            if (Manager().ChannelExists(name, true)) {
                Manager().RemoveChannel(name);
            }
        }
    }
};

TEST_F(ManagerOperations, EveryInvalidArgumentIsCodeTwoWithTheOperationsMessage) {
    ASSERT_EQ(Manager().TuneChannel("t.a", NullChannel()), Logging::LOGGING_RC_NOERROR);
    SelfTrace self;
    std::string text;
    uint32_t dword = 0;
    uint64_t count = 0;
    std::vector<std::string> links;
    const Logging::NullConfig config;
    struct Case {
        const char* what;
        std::function<int32_t()> call;
        int32_t code;
        Strings messages;
    };
    const Case cases[] = {
        {"exists bad pointer",
         [] { return Manager().ChannelExists(NoChannel(), true) ? 1 : 0; },
         0,
         {"ChannelExists: invalid param"}},
        {"exists empty",
         [] { return Manager().ChannelExists("", false) ? 1 : 0; },
         0,
         {"ChannelExists: invalid param"}},
        {"exists regex",
         [] { return Manager().ChannelExists("re:t\\..*", false) ? 1 : 0; },
         0,
         {"ChannelExists: invalid param"}},
        {"tune bad pointer",
         [&] { return Manager().TuneChannel(NoChannel(), config); },
         2,
         {"TuneChannel: invalid param"}},
        {"tune regex", [&] { return Manager().TuneChannel("re:t", config); }, 2, {"TuneChannel: invalid param"}},
        {"tune hash",
         [&] { return Manager().TuneChannel("t#x", config); },
         2,
         {"TuneChannel: invalid channel name - t#x"}},
        {"tune blank",
         [&] { return Manager().TuneChannel("t x", config); },
         2,
         {"TuneChannel: invalid channel name - t x"}},
        {"tune tab",
         [&] { return Manager().TuneChannel("t\tx", config); },
         2,
         {"TuneChannel: invalid channel name - t\tx"}},
        {"tune panic as null",
         [&] { return Manager().TuneChannel("panic", config); },
         2,
         {"TuneChannel: not allowed type(0) for panic channel"}},
        {"tune null flat",
         [] { return Manager().TuneChannel("t.a", static_cast<const Logging::_log_channel_config*>(nullptr)); },
         12,
         {"TuneChannel: invalid param"}},
        {"remove bad pointer",
         [] { return Manager().RemoveChannel(NoChannel()); },
         2,
         {"RemoveChannel: invalid param"}},
        {"remove missing",
         [] { return Manager().RemoveChannel("t.missing"); },
         6,
         {"RemoveChannel: channel does not exist t.missing"}},
        {"default null", [] { return Manager().SetDefaultChannel(nullptr); }, 2, {"SetDefaultChannel: invalid param"}},
        {"default empty", [] { return Manager().SetDefaultChannel(""); }, 2, {"SetDefaultChannel: invalid param"}},
        {"default regex",
         [] { return Manager().SetDefaultChannel("re:t.*"); },
         2,
         {"SetDefaultChannel: invalid param"}},
        {"default missing",
         [] { return Manager().SetDefaultChannel("t.missing"); },
         6,
         {"SetDefaultChannel: channel does not exist t.missing"}},
        {"level bad pointer", [] { return Manager().SetLevel(NoChannel(), 2); }, 2, {"SetLevel: invalid param"}},
        {"level missing",
         [] { return Manager().SetLevel("t.missing", 2); },
         6,
         {"SetLevel: channel does not exist t.missing"}},
        {"set property bad pointer",
         [] { return Manager().SetProperty(NoChannel(), "p", "1"); },
         2,
         {"SetProperty: invalid param"}},
        {"set property no name",
         [] { return Manager().SetProperty("t.a", nullptr, "1"); },
         2,
         {"SetProperty: invalid param"}},
        {"set property missing",
         [] { return Manager().SetProperty("t.missing", "p", "1"); },
         6,
         {"SetProp: channel does not exist t.missing"}},
        {"get property bad pointer",
         [&] { return Manager().GetProperty(NoChannel(), "p", text); },
         2,
         {"GetProperty: invalid param"}},
        {"get property no name",
         [&] { return Manager().GetProperty("t.a", nullptr, text); },
         2,
         {"GetProperty: invalid param"}},
        {"get property missing", [&] { return Manager().GetProperty("t.missing", "p", text); }, 6, {}},
        {"get dword bad pointer",
         [&] { return Manager().GetDWordProperty(NoChannel(), "p", dword); },
         2,
         {"GetDWordProperty: invalid param"}},
        {"get dword missing", [&] { return Manager().GetDWordProperty("t.missing", "p", dword); }, 6, {}},
        {"property name bad pointer",
         [&] { return Manager().GetPropertyName(NoChannel(), 0, true, text); },
         2,
         {"GetPropertyName: invalid param"}},
        {"redirect bad pointer",
         [] { return Manager().RedirectChannel(NoChannel(), "t.a"); },
         2,
         {"RedirectChannel: invalid param"}},
        {"redirect to regex",
         [] { return Manager().RedirectChannel("t.a", "re:t"); },
         2,
         {"RedirectChannel: invalid param"}},
        {"redirect missing from",
         [] { return Manager().RedirectChannel("t.missing", "t.a"); },
         6,
         {"RedirectChannel: no such channel (from) t.missing"}},
        {"redirect missing to",
         [] { return Manager().RedirectChannel("t.a", "t.missing"); },
         6,
         {"RedirectChannel: no such channel (to) t.missing"}},
        {"link bad pointer",
         [] { return Manager().LinkChannel(NoChannel(), "t.a"); },
         2,
         {"LinkChannel: invalid param"}},
        {"link bad target pointer",
         [] { return Manager().LinkChannel("t.a", NoChannel()); },
         2,
         {"LinkChannel: invalid param"}},
        {"link missing from",
         [] { return Manager().LinkChannel("t.missing", "t.a"); },
         6,
         {"LinkChannel: no such channel (from) t.missing"}},
        {"link missing to",
         [] { return Manager().LinkChannel("t.a", "t.missing"); },
         6,
         {"LinkChannel: no such channel (to) t.missing"}},
        {"unlink bad pointer",
         [] { return Manager().UnlinkChannel(NoChannel(), "t.a"); },
         2,
         {"LinkChannel: invalid param"}},
        {"unlink missing to",
         [] { return Manager().UnlinkChannel("t.a", "t.missing"); },
         6,
         {"UnlinkChannel: channel does not exist"}},
        {"unlink missing from",
         [] { return Manager().UnlinkChannel("t.missing", "t.a"); },
         6,
         {"LinkChannel: no such channel t.missing"}},
        {"unlink not linked",
         [] { return Manager().UnlinkChannel("t.a", "t.a"); },
         6,
         {"UnlinkChannel: unlink t.a from t.a. Failed rc=6"}},
        {"redirect of bad pointer",
         [&] { return Manager().GetRedirect(NoChannel(), text); },
         2,
         {"GetRedirect: invalid param"}},
        {"links of bad pointer",
         [&] { return Manager().GetLinks(NoChannel(), links); },
         2,
         {"GetLinks: invalid param"}},
        {"usage of bad pointer",
         [&] { return Manager().GetUsageCount(NoChannel(), count); },
         2,
         {"GetUsageCount: invalid param"}},
        {"usage of regex",
         [&] { return Manager().GetUsageCount("re:.*", count); },
         2,
         {"GetUsageCount: invalid param"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.code) << c.what;
        Strings expected;
        for (const std::string& message : c.messages) {
            expected.push_back(Info(message));
        }
        EXPECT_EQ(self.Take(), expected) << c.what;
    }
    // Nothing was changed by any of them.
    EXPECT_TRUE(Manager().ChannelExists("t.a", true));
    EXPECT_FALSE(Manager().ChannelExists("t.missing", true));
    char* name = Manager().GetDefaultChannel();
    EXPECT_STREQ(name, "debugger");
    Logging::Free(name);
}

TEST_F(ManagerOperations, SuccessfulOperationsReportWhatTheyDid) {
    SelfTrace self;
    ASSERT_EQ(Manager().TuneChannel("t.a", Logging::ConsoleConfig()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.b", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.b", NullChannel()), 0);  // same type: no message
    EXPECT_EQ(Manager().SetLevel("t.a", 3), 0);
    EXPECT_EQ(Manager().SetProperty("t.a", "extra", "17"), 0);
    EXPECT_EQ(Manager().SetProperty("t.a", "extra", nullptr), 0);
    EXPECT_EQ(Manager().SetProperty("t.a", "extra", nullptr), 8);
    EXPECT_EQ(Manager().LinkChannel("t.b", "t.a"), 0);
    EXPECT_EQ(Manager().LinkChannel("t.b", "t.a"), 6);
    EXPECT_EQ(Manager().UnlinkChannel("t.b", "t.a"), 0);
    EXPECT_EQ(Manager().RedirectChannel("t.a", "t.b"), 0);
    EXPECT_EQ(Manager().RedirectChannel("t.a", NoChannel()), 0);
    EXPECT_EQ(Manager().SetDefaultChannel("t.a"), 0);
    EXPECT_EQ(Manager().RemoveChannel("t.a"), 0);
    EXPECT_EQ(self.Take(), (Strings{
                               Info("CreateChannel: t.a (console)"),
                               Info("CreateChannel: t.b (null)"),
                               Info("SetLevel: t.a level=3"),
                               Info("SetProp: channel=t.a extra=17"),
                               Info("SetProp: channel=t.a extra=<clear>"),
                               Info("SetProp: channel=t.a extra=<clear>. Failed rc=8"),
                               Info("LinkChannel: t.b linked to t.a"),
                               Info("LinkChannel: add link t.b->t.a error 6h"),
                               Info("UnlinkChannel: unlink t.b from t.a"),
                               Info("RedirectChannel: t.a->t.b"),
                               Info("RedirectChannel: Remove redirection of channel t.a"),
                               Info("SetDefaultChannel: t.a"),
                               Info("RemoveChannel: t.a"),
                           }));
    // Removing the default channel brings back the debugger.
    char* name = Manager().GetDefaultChannel();
    EXPECT_STREQ(name, "debugger");
    Logging::Free(name);
}

TEST_F(ManagerOperations, AFailedConfigurationLeavesNoNewChannelBehind) {
    SelfTrace self;
    Logging::CustomConfig noTracer;
    EXPECT_EQ(Manager().TuneChannel("t.c", noTracer), 2);
    EXPECT_FALSE(Manager().ChannelExists("t.c", true));
    EXPECT_EQ(self.Take(), (Strings{Info("CreateChannel: t.c (custom)"),
                                    Info("CreateChannel: SetConfig for channel t.c. status=2h")}));
    {
        LogCapture capture("t.c");
        self.Take();
        EXPECT_EQ(Manager().TuneChannel("t.c", noTracer), 2);
        EXPECT_EQ(self.Take(), Strings{Info("TuneChannel: SetConfig for channel t.c. status=2h")});
    }
    // A flat record whose size does not match its type is malformed.
    const Logging::NullConfig config;
    Logging::FlatConfigPtr flat(config.ToFlat());
    flat->size += 1;
    EXPECT_EQ(Manager().TuneChannel("t.c", flat.get()), 12);
    EXPECT_FALSE(Manager().ChannelExists("t.c", true));
    // Creating an existing channel.
    EXPECT_EQ(Manager().CreateChannel("t.null", config), 0);
    EXPECT_EQ(Manager().CreateChannel("t.null", config), 5);
}

TEST_F(ManagerOperations, RegularExpressionNamesActOnEveryMatchInMapOrder) {
    LogCapture two("rx.two");
    LogCapture one("rx.one");
    LogCapture other("rx-other");
    SelfTrace self;
    EXPECT_EQ(Manager().SetLevel("re:rx\\..*", 3), 0);
    EXPECT_EQ(self.Take(), (Strings{Info("SetLevel: rx.one level=3"), Info("SetLevel: rx.two level=3")}));
    LogTo("re:rx\\..*", Logging::WARNING, "to both");
    LogTo("re:rx\\..*", Logging::INFORMATION, "below their level");
    EXPECT_EQ(one.Texts(), Strings{"W00000000: to both"});
    EXPECT_EQ(two.Texts(), Strings{"W00000000: to both"});
    EXPECT_TRUE(other.Texts().empty());
    EXPECT_TRUE(Manager().ChannelExists("re:rx\\.o.*", true));
    EXPECT_FALSE(Manager().ChannelExists("re:nothing.*", true));

    // A bad expression is reported, not thrown.
    LogTo("re:(", Logging::WARNING, "lost");
    const Strings messages = self.Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(Info("regex_error caught: "), 0), 0u) << messages[0];
    EXPECT_EQ(Manager().SetLevel("re:(", 2), 6);
}

TEST_F(ManagerOperations, RemovingByExpressionRemovesEveryMatchAndTheLinksToThem) {
    ASSERT_EQ(Manager().TuneChannel("t.a", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.b", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.c", NullChannel()), 0);
    ASSERT_EQ(Manager().LinkChannel("t.a", "t.c"), 0);
    ASSERT_EQ(Manager().LinkChannel("t.b", "t.c"), 0);
    ASSERT_EQ(Manager().TuneChannel("t.d", NullChannel()), 0);
    ASSERT_EQ(Manager().RedirectChannel("t.d", "t.b"), 0);
    SelfTrace self;
    EXPECT_EQ(Manager().RemoveChannel("re:t\\.[ab]"), 0);
    EXPECT_EQ(self.Take(), (Strings{Info("RemoveChannel: t.a"), Info("RemoveChannel: t.b")}));
    std::vector<std::string> links{"stale"};
    EXPECT_EQ(Manager().GetLinks("t.c", links), 0);
    EXPECT_TRUE(links.empty());
    std::string redirect = "stale";
    EXPECT_EQ(Manager().GetRedirect("t.d", redirect), 0);
    EXPECT_EQ(redirect, "");
}

TEST_F(ManagerOperations, LoopsAreRejectedAndTheEarlierStateKept) {
    ASSERT_EQ(Manager().TuneChannel("t.a", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.b", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.c", NullChannel()), 0);
    SelfTrace self;
    EXPECT_EQ(Manager().LinkChannel("t.a", "t.b"), 0);
    EXPECT_EQ(Manager().LinkChannel("t.b", "t.a"), 4);
    EXPECT_EQ(self.Take(),
              (Strings{Info("LinkChannel: t.a linked to t.b"), Info("LinkChannel: invalid link t.b->t.a")}));
    std::vector<std::string> links;
    Manager().GetLinks("t.a", links);
    EXPECT_TRUE(links.empty());
    Manager().GetLinks("t.b", links);
    EXPECT_EQ(links, Strings{"t.a"});

    EXPECT_EQ(Manager().RedirectChannel("t.c", "t.c"), 4);
    EXPECT_EQ(Manager().RedirectChannel("t.c", "t.a"), 0);
    // t.b -> t.a (link), so t.a -> t.b closes a loop; t.a -> t.c -> t.a too.
    EXPECT_EQ(Manager().RedirectChannel("t.a", "t.b"), 4);
    EXPECT_EQ(Manager().RedirectChannel("t.a", "t.c"), 4);
    EXPECT_EQ(self.Take(),
              (Strings{Info("RedirectChannel: invalid redirection t.c->t.c"), Info("RedirectChannel: t.c->t.a"),
                       Info("RedirectChannel: invalid redirection t.a->t.b"),
                       Info("RedirectChannel: invalid redirection t.a->t.c")}));
    std::string redirect = "stale";
    Manager().GetRedirect("t.a", redirect);
    EXPECT_EQ(redirect, "");
    // A rejected change keeps the redirection that was there before it.
    ASSERT_EQ(Manager().TuneChannel("t.d", NullChannel()), 0);
    EXPECT_EQ(Manager().RedirectChannel("t.a", "t.d"), 0);
    EXPECT_EQ(Manager().RedirectChannel("t.a", "t.c"), 4);
    Manager().GetRedirect("t.a", redirect);
    EXPECT_EQ(redirect, "t.d");
    // Two paths to one channel are no loop.
    EXPECT_EQ(Manager().LinkChannel("t.d", "t.b"), 0);
}

TEST_F(ManagerOperations, PredefinedChannelsAppearWhenFirstNamed) {
    SelfTrace self;
    Manager().RemoveChannel("panic");
    self.Take();
    LogTo("panic", Logging::ERROR_TRACE, "first words");
    EXPECT_EQ(self.Take(), Strings{Info("CreateChannel: panic (debugger)")});
    EXPECT_TRUE(Manager().ChannelExists("panic", false));
    EXPECT_EQ(Manager().TuneChannel("panic", Logging::ConsoleConfig()), 0);
    EXPECT_EQ(Manager().TuneChannel("panic", Logging::DebuggerConfig()), 0);

    Manager().RemoveChannel("null");
    self.Take();
    std::vector<std::string> links;
    EXPECT_EQ(Manager().GetLinks("null", links), 0);
    EXPECT_EQ(self.Take(), Strings{Info("CreateChannel: null (null)")});
    EXPECT_EQ(Manager().SetDefaultChannel("null"), 0);
    EXPECT_EQ(Manager().RemoveChannel("null"), 0);
    char* name = Manager().GetDefaultChannel();
    EXPECT_STREQ(name, "null");  // a predefined default survives its removal
    Logging::Free(name);
    LogTo(nullptr, Logging::INFORMATION, "into the null channel");
    EXPECT_TRUE(Manager().ChannelExists("null", true));
    EXPECT_EQ(Manager().SetDefaultChannel("debugger"), 0);
}

TEST_F(ManagerOperations, PanicMessagesAlsoReachTheLibrarysOwnChannelAsCritical) {
    SelfTrace self;
    Manager().RemoveChannel("panic");
    self.Take();
    Manager().PanicTrace("cannot write %s", "file.log");  // through a temporary debugger back-end
    LogTo("panic", Logging::ERROR_TRACE, "creates the panic channel and its handle");
    self.Take();
    Manager().PanicTrace("cannot write %s", "again");  // through the panic handle
    EXPECT_EQ(self.Take(), Strings{"C00000000: cannot write again"});
}

TEST_F(ManagerOperations, RetuningAsAnotherTypeDropsLinksAndRedirection) {
    ASSERT_EQ(Manager().TuneChannel("t.a", Logging::ConsoleConfig()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.b", NullChannel()), 0);
    ASSERT_EQ(Manager().TuneChannel("t.c", NullChannel()), 0);
    ASSERT_EQ(Manager().LinkChannel("t.b", "t.a"), 0);
    ASSERT_EQ(Manager().RedirectChannel("t.a", "t.c"), 0);
    ASSERT_EQ(Manager().TuneChannel("t.a", Logging::ConsoleConfig()), 0);
    std::vector<std::string> links;
    Manager().GetLinks("t.a", links);
    EXPECT_EQ(links, Strings{"t.b"});  // same type: kept
    ASSERT_EQ(Manager().TuneChannel("t.a", NullChannel()), 0);
    Manager().GetLinks("t.a", links);
    EXPECT_TRUE(links.empty());
    std::string redirect = "stale";
    Manager().GetRedirect("t.a", redirect);
    EXPECT_EQ(redirect, "");
}

class ManagerDelivery : public ::testing::Test {
protected:
    LogCapture a{"d.a"};
    LogCapture b{"d.b"};
    LogCapture c{"d.c"};
};

TEST_F(ManagerDelivery, LinksCarryRecordsOnwardAndRedirectionsTakeThemAway) {
    ASSERT_EQ(Manager().LinkChannel("d.b", "d.a"), 0);
    LogTo("d.a", Logging::INFORMATION, "one %d", 1);
    LogTo("d.b", Logging::INFORMATION, "two");
    EXPECT_EQ(a.Texts(), Strings{"I00000000: one 1"});
    EXPECT_EQ(b.Texts(), (Strings{"I00000000: one 1", "I00000000: two"}));
    // The receiving channel hears the name the record was logged to.
    EXPECT_EQ(b.Entries()[0].channel, "d.a");

    ASSERT_EQ(Manager().RedirectChannel("d.a", "d.c"), 0);
    LogTo("d.a", Logging::WARNING, "three");
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(b.Count(), 2u);
    EXPECT_EQ(c.Texts(), Strings{"W00000000: three"});

    ASSERT_EQ(Manager().RedirectChannel("d.a", NoChannel()), 0);
    ASSERT_EQ(Manager().SetLevel("d.a", Logging::ERROR_TRACE), 0);
    // A level filter stops the channel's own output, not its links.
    LogTo("d.a", Logging::WARNING, "four");
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(b.Texts().back(), "W00000000: four");
}

TEST_F(ManagerDelivery, ARecordReachesEachChannelOnceAlongEveryPath) {
    LogCapture d("d.d");
    ASSERT_EQ(Manager().LinkChannel("d.b", "d.a"), 0);
    ASSERT_EQ(Manager().LinkChannel("d.c", "d.a"), 0);
    ASSERT_EQ(Manager().LinkChannel("d.d", "d.b"), 0);
    ASSERT_EQ(Manager().LinkChannel("d.d", "d.c"), 0);
    uint64_t before = 0;
    Manager().GetUsageCount("d.d", before);
    LogTo("d.a", Logging::INFORMATION, "diamond");
    EXPECT_EQ(d.Count(), 1u);
    uint64_t after = 0;
    EXPECT_EQ(Manager().GetUsageCount("d.d", after), 0);
    EXPECT_EQ(after, before + 1);
}

TEST_F(ManagerDelivery, RecordKindsReachTheTracerAsTheyAre) {
    Manager().TraceText("d.a", Logging::WARNING, 0xC1, 7, L"text \u00e9 \x1b[1mkept\x1b[0m");
    const char block[] = "xyz";
    Manager().TraceData("d.a", Logging::ERROR_TRACE, 1, 2, L"with data", block, 3);
    const Common::Error error = Common::Error::FromCode({0, "f", "fn", 1}, 0xC10002);
    Manager().TraceError("d.a", Logging::CRITICAL_ERROR, error);
    LogTo("d.a#target", Logging::BLOCKED, "formatted \x1b[1;31mred\x1b[0m");
    const std::vector<LogCapture::Entry> entries = a.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].kind, LogCapture::Kind::Text);
    EXPECT_EQ(entries[0].text, "text \xC3\xA9 \x1b[1mkept\x1b[0m");
    EXPECT_EQ(entries[0].codeHigh, 0xC1);
    EXPECT_EQ(entries[0].codeLow, 7);
    EXPECT_EQ(entries[1].kind, LogCapture::Kind::Data);
    EXPECT_EQ(entries[1].text, "with data");
    EXPECT_EQ(entries[2].kind, LogCapture::Kind::Error);
    EXPECT_EQ(entries[2].text, std::to_string(0xC10002));
    EXPECT_EQ(entries[2].level, Logging::CRITICAL_ERROR);
    // A formatted record becomes its line; the channel is named without its target.
    EXPECT_EQ(entries[3].kind, LogCapture::Kind::Text);
    EXPECT_EQ(entries[3].text, " 00000000: formatted red");
    EXPECT_EQ(entries[3].channel, "d.a");
}

// Logs a second critical message from inside the delivery of the first.
class ReentrantTracer : public LogCapture {
public:
    explicit ReentrantTracer(const std::string& channel) : LogCapture(channel) {}
    void Trace(const char* channel, int32_t level, uint16_t high, uint16_t low, const wchar_t* text) override {
        LogCapture::Trace(channel, level, high, low, text);
        if (Count() == 1) {
            LogTo("d.b", Logging::CRITICAL_ERROR, "inner %d", 2);
        }
    }
};

TEST_F(ManagerDelivery, ACriticalMessageLoggedDuringAnotherOneLeavesItIntact) {
    ReentrantTracer first("d.crit");
    ASSERT_EQ(Manager().LinkChannel("d.c", "d.crit"), 0);
    LogTo("d.crit", Logging::CRITICAL_ERROR, "outer %d", 1);
    EXPECT_EQ(first.Texts(), Strings{"C00000000: outer 1"});
    EXPECT_EQ(b.Texts(), Strings{"C00000000: inner 2"});
    EXPECT_EQ(c.Texts(), Strings{"C00000000: outer 1"});
}

// Records that would be filtered everywhere are only counted, without being built; every
// change of the channels must be seen by the next record at once.
TEST_F(ManagerDelivery, SkippedRecordsFollowEveryChangeOfTheChannels) {
    uint64_t before = 0;
    Manager().GetUsageCount("d.a", before);
    ASSERT_EQ(Manager().SetLevel("d.a", Logging::WARNING), 0);
    LogTo("d.a", Logging::INFORMATION, "filtered");
    ASSERT_EQ(Manager().SetLevel("d.a", Logging::DEBUG_TRACE), 0);
    LogTo("d.a", Logging::INFORMATION, "level lowered");
    EXPECT_EQ(a.Texts(), Strings{"I00000000: level lowered"});
    uint64_t after = 0;
    Manager().GetUsageCount("d.a", after);
    EXPECT_EQ(after, before + 2);

    // Disabled, but linked onward: the link still gets the record.
    {
        Logging::CustomConfig disabled;
        disabled.Enabled = false;
        disabled.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&a, false));
        ASSERT_EQ(Manager().TuneChannel("d.a", disabled), 0);
    }
    LogTo("d.a", Logging::ERROR_TRACE, "disabled");
    ASSERT_EQ(Manager().LinkChannel("d.b", "d.a"), 0);
    LogTo("d.a", Logging::ERROR_TRACE, "linked");
    ASSERT_EQ(Manager().UnlinkChannel("d.b", "d.a"), 0);
    Manager().SetMirrorChannel("d.c");
    LogTo("d.a", Logging::ERROR_TRACE, "mirrored");
    Manager().SetMirrorChannel("");
    LogTo("d.a", Logging::ERROR_TRACE, "disabled again");
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(b.Texts(), Strings{"E00000000: linked"});
    EXPECT_EQ(c.Texts(), Strings{"E00000000: mirrored"});

    // Records without a channel name follow the default channel.
    ASSERT_EQ(Manager().SetDefaultChannel("d.a"), 0);
    LogTo(nullptr, Logging::ERROR_TRACE, "to the disabled default");
    ASSERT_EQ(Manager().SetDefaultChannel("d.b"), 0);
    LogTo(nullptr, Logging::ERROR_TRACE, "to the new default");
    ASSERT_EQ(Manager().SetDefaultChannel("debugger"), 0);
    EXPECT_EQ(b.Texts(), (Strings{"E00000000: linked", "E00000000: to the new default"}));

    // A removed channel receives nothing, a re-created one at once.
    ASSERT_EQ(Manager().RemoveChannel("d.c"), 0);
    LogTo("d.c", Logging::ERROR_TRACE, "gone");
    LogCapture again("d.c");
    LogTo("d.c", Logging::ERROR_TRACE, "back");
    EXPECT_EQ(again.Texts(), Strings{"E00000000: back"});
}

TEST_F(ManagerDelivery, TheDefaultChannelTakesRecordsWithoutAName) {
    ASSERT_EQ(Manager().SetDefaultChannel("d.b"), 0);
    LogTo(nullptr, Logging::INFORMATION, "no name");
    LogTo("", Logging::INFORMATION, "empty name");
    EXPECT_EQ(b.Texts(), (Strings{"I00000000: no name", "I00000000: empty name"}));
    EXPECT_EQ(b.Entries()[0].channel, "d.b");
    ASSERT_EQ(Manager().SetDefaultChannel("debugger"), 0);
}

TEST_F(ManagerDelivery, PrefixesAreExpandedOnceOrPerLine) {
    LogCapture fixed("d.pname", Logging::DEBUG_TRACE, 0x1000F4, "{pname}-");
    LogTo("d.pname", Logging::INFORMATION, "x");
    EXPECT_EQ(fixed.Texts(), Strings{"I00000000: test_logging_core-x"});

    LogCapture dated("d.date", Logging::DEBUG_TRACE, 0x1000F4, "{date}|{target}|");
    LogTo("d.date#t1", Logging::INFORMATION, "y");
    const Strings texts = dated.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(std::regex_match(texts[0], std::regex("I00000000: \\d{4}(-\\d\\d){5}\\|t1\\|y"))) << texts[0];
}

TEST_F(ManagerDelivery, TheMirrorChannelSeesEveryRecordWithoutATarget) {
    Manager().SetMirrorChannel("d.c");
    LogTo("d.a", Logging::INFORMATION, "mirrored");
    LogTo("d.a#t", Logging::INFORMATION, "has a target");
    Manager().TraceText(Logging::kSelfTraceChannel, Logging::INFORMATION, 0, 0, L"library's own");
    Manager().SetMirrorChannel(nullptr);
    LogTo("d.a", Logging::INFORMATION, "after");
    EXPECT_EQ(c.Texts(), Strings{"I00000000: mirrored"});
    EXPECT_EQ(a.Count(), 3u);
}

TEST_F(ManagerDelivery, UsageCountsEveryDeliveryByName) {
    ASSERT_EQ(Manager().LinkChannel("d.b", "d.a"), 0);
    uint64_t before = 0;
    uint64_t nowhereBefore = 0;
    Manager().GetUsageCount("d.b", before);
    Manager().GetUsageCount("u.nowhere", nowhereBefore);
    LogTo("d.a", Logging::DEBUG_TRACE, "1");
    LogTo("d.a", Logging::DEBUG_TRACE, "2");
    LogTo("u.nowhere", Logging::DEBUG_TRACE, "3");
    uint64_t count = 0;
    EXPECT_EQ(Manager().GetUsageCount("d.b", count), 0);
    EXPECT_EQ(count, before + 2);
    EXPECT_EQ(Manager().GetUsageCount("u.nowhere", count), 0);
    EXPECT_EQ(count, nowhereBefore + 1);
    EXPECT_EQ(Manager().GetUsageCount("u.never", count), 0);
    EXPECT_EQ(count, 0u);
}

}  // namespace
