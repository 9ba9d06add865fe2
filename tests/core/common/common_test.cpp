// The common runtime: error chains, system texts, the trace fan-out, UTF-16 to UTF-8 and the
// dynamic caster.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <tuple>
#include <vector>

#include "core/common/dynamic_caster.h"
#include "core/common/error.h"
#include "core/common/error_record.h"
#include "core/common/message_catalogue.h"
#include "core/common/system_message.h"
#include "core/common/trace_logic.h"
#include "core/common/utf.h"

// Error records come from the nothrow operator new, replaced here so that tests can make it fail.
std::atomic<int> g_allowedAllocations{-1};  // how many may still succeed; negative: all

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_allowedAllocations == 0) {
        return nullptr;
    }
    g_allowedAllocations -= g_allowedAllocations > 0 ? 1 : 0;
    return std::malloc(size != 0 ? size : 1);  // the default operator delete frees with std::free
}

namespace {

using Common::Error;

const Common::ErrorLocation kSite = COMMON_ERROR_SITE("tests/core/common/error_test", "Tests::MakeError", 40);

struct FailingAllocations {
    explicit FailingAllocations(int successes) { g_allowedAllocations = successes; }
    ~FailingAllocations() { g_allowedAllocations = -1; }
};

uint32_t RefsOf(const Error& error) {
    return error.Head()->refs.load();
}

const void* TextData(const Error& error) {
    return Common::RecordTextData(static_cast<const Common::TextErrorRecord&>(*error.Head()));
}

TEST(ErrorAttach, ConversionsReplacementAndClones) {
    const auto win32 = &Error::AddWindowsError, hresult = &Error::AddHResult, status = &Error::AddNTStatus;
    const std::tuple<Error& (Error::*)(int32_t), int32_t, uint32_t> cases[] = {
        {win32, 0, 0},
        {win32, 5, 0x80070005},
        {win32, 0x12345, 0x80072345},
        {win32, -5, 0xFFFFFFFB},
        {hresult, static_cast<int32_t>(0x80004005), 0x80004005},
        {status, static_cast<int32_t>(0xC0000022), 0xD0000022},
        {status, 0, 0x10000000}};
    for (const auto& [attach, value, stored] : cases) {
        Error error = Error::FromCode(kSite, 0x10001), alone;  // on an empty error the system record is the head
        (error.*attach)(value);
        (alone.*attach)(value);
        EXPECT_EQ(error.Cause().NumericParameter("code"), stored) << value;
        EXPECT_EQ(alone.Code(), Common::kSystemErrorCode);
        EXPECT_EQ(alone.NumericParameter("code"), stored) << value;
        EXPECT_STREQ(alone.ParameterNames(), "code,$module");
        EXPECT_TRUE(alone.Cause().IsEmpty());
    }
    for (const char* name : {"cod", "codex", "Code", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(Error().AddWindowsError(5).NumericParameter(name), 0u);  // only whole names match
    }

    // An unshared head takes the new cause in place; a shared one is cloned first.
    Error error = Error::FromText(kSite, 0x20001, "outer");
    const Common::ErrorRecord* head = error.Head();
    const Error firstCause = error.AddWindowsError(5).Cause();
    error.AddWindowsError(6);
    EXPECT_EQ(error.Head(), head);
    EXPECT_EQ(error.Cause().NumericParameter("code"), 0x80070006u);
    EXPECT_TRUE(error.Cause().Cause().IsEmpty());
    EXPECT_EQ(RefsOf(firstCause), 1u);  // the chain gave up its reference

    // Texts are copied, narrow ones widened byte by byte; catalogue texts are referenced.
    char narrow[] = "caf\xE9";
    wchar_t wide[] = L"wide \u20AC";
    const Error originals[] = {Error::FromText(kSite, 9, narrow), Error::FromText(kSite, 9, wide),
                               Error::FromCode(kSite, 9), Error().AddHResult(0x1234)};
    narrow[0] = 'X';
    wide[0] = L'X';
    EXPECT_EQ(originals[0].Text() + originals[1].Text(), L"caf\u00E9wide \u20AC");
    const wchar_t* text = Common::GetMessageText(Common::MSG_ACCESS_DENIED);
    EXPECT_EQ(TextData(Error::FromText(kSite, 1, text)), static_cast<const void*>(text));
    EXPECT_TRUE(Error::FromText(kSite, 0, "code 0 gives the empty error").IsEmpty());
    for (const Error& original : originals) {
        Error clone = original;
        const Error copy = clone.AddHResult(static_cast<int32_t>(0x80004005));
        const std::wstring copyText = copy.FullText(255, nullptr);
        clone.AddNTStatus(static_cast<int32_t>(0xC0000022));
        EXPECT_EQ(copy.FullText(255, nullptr), copyText);
        EXPECT_EQ(clone.Cause().NumericParameter("code"), 0xD0000022u);
        EXPECT_TRUE(clone.Cause().Cause().IsEmpty());
        // The clone is an equal record: its text starts as that of the original, which has no cause.
        EXPECT_EQ(clone.FullText(255, nullptr).rfind(original.FullText(255, nullptr) + L"\n|\n", 0), 0u);
    }
    EXPECT_NE(TextData(originals[0]), TextData(Error(originals[0]).AddWindowsError(1)));

    Error outer = Error::FromCode(kSite, 0x30002);
    outer.AddCause(originals[0]).AddCause(Error());  // an empty cause changes nothing
    EXPECT_EQ(outer.Cause().Head(), originals[0].Head());
    outer.AddCause(outer);  // cloned first, so no cycle forms
    EXPECT_EQ(outer.Cause().Cause().Head(), originals[0].Head());
}

TEST(ErrorSharing, CopiesOnManyThreadsAndReleaseOfALongChain) {
    Error error = Error::FromText(kSite, 0x40001, L"shared across threads").AddWindowsError(5);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&error] {
            for (int i = 0; i < 20000; ++i) {
                Error copy = error, second(copy), moved(std::move(copy));
                second = moved;
                second = second;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(RefsOf(error), 1u);
    EXPECT_EQ(RefsOf(error.Cause()), 2u);
    {
        Error chain = error;  // released record by record, without recursion
        for (int i = 0; i < 100000; ++i) {
            chain = Error::FromCode(kSite, 0x50002).AddCause(chain);
        }
    }
    EXPECT_EQ(RefsOf(error), 1u);
}

TEST(SystemMessage, TextsAreTrimmedAndLookedUpByCode) {
    const std::pair<const wchar_t*, const wchar_t*> trims[] = {
        {L"Denied.\r\n", L"Denied"}, {L"A.\r\nB.\r\n", L"A.\nB."}, {L"C.\n\n", L"C.\n"},
        {L"a\rb\r\r\n", L"ab"},      {L"D...\r\n", L"D.."},        {L".", L""}};
    for (const auto& [raw, trimmed] : trims) {
        std::wstring text = raw;
        Common::TrimSystemMessage(text);
        EXPECT_EQ(text, trimmed) << Common::Utf16ToUtf8(raw);
    }
    // The English text of Windows, or that of the Wine test bench.
    const std::wstring denied = Error().AddWindowsError(5).Text();
    EXPECT_THAT(denied, testing::AnyOf(L"Access is denied", L"Access denied"));
    EXPECT_EQ(Error().AddHResult(static_cast<int32_t>(0x80070005)).Text(), denied);
    // NTDLL's table is searched without the facility bit; Wine's NTDLL has none, and the search
    // falls back to the system table.
    EXPECT_EQ(Error().AddNTStatus(5).Text(), denied);
    EXPECT_THAT(Error().AddNTStatus(static_cast<int32_t>(0xC0000022)).Text(),
                testing::AnyOf(L"",
                               L"{Access Denied}\nA process has requested access to an object, but has not been "
                               L"granted those access rights."));
}

TEST(ErrorFullText, EmptyErrorAndAThreeRecordChainByteExact) {
    const std::pair<int32_t, std::wstring> levels[] = {{255, L""}, {256, L""}, {1, L"debug"}, {5, L"critical error"},
                                                       {6, L"6"},  {-2, L"-2"}};
    for (const auto& [level, shown] : levels) {
        const std::wstring line = shown.empty() ? L"" : L"| trace level: " + shown + L"\n";
        EXPECT_EQ(Error().FullText(level, ""), L"Error 0x0\n" + line + L"| line: 0x0") << level;
    }
    EXPECT_EQ(Error().FullText(4, "main"), L"Error 0x0\n| trace level: error\n| channel: main\n| line: 0x0");

    const Common::ErrorLocation innerSite = COMMON_ERROR_SITE("x/y", "Tests::Middle", 7);
    Error middle = Error::FromText(innerSite, 0x20002, L"first line\nsecond line");
    middle.AddHResult(static_cast<int32_t>(0xA0001234));
    const Error head = Error::FromText(kSite, 0xC10001, "Null AddonLoader is being used.").AddCause(middle);
    wchar_t expected[1024];
    std::swprintf(expected, 1024,
                  L"Error 0xc10001: Null AddonLoader is being used.\n| trace level: information\n| channel: default"
                  L"\n| line: 0x%llx\n| file: tests/core/common/error_test:40\n| function: Tests::MakeError"
                  L"\n| $module: hostprobe_vsa64_42608\n|\n| error 0x20002: first line\n| second line"
                  L"\n| line: 0x%llx\n| file: x/y:7\n| function: Tests::Middle\n| $module: hostprobe_vsa64_42608"
                  L"\n|\n| error 0xfff0\n| line: 0x%llx\n| file: core/common/error:324"
                  L"\n| function: Common::Error::AddHResult\n| code: 0xa0001234\n| $module: hostprobe_vsa64_42608",
                  kSite.tag, innerSite.tag, Common::SiteTag("core/common/error", 324));
    EXPECT_EQ(head.FullText(2, "default"), expected);
}

TEST(ErrorOutOfMemory, TheStaticRecordStandsInAndFailedAttachesLeaveTheChainIntact) {
    const uint32_t before = Common::OutOfMemoryRecord().refs;
    Error shared = Error::FromText(kSite, 0x20, "kept").AddWindowsError(5);
    const Error copy = shared;
    const Common::ErrorRecord* cause = shared.Cause().Head();
    Error attached = Error::FromCode(kSite, 0x10), lost;
    {
        FailingAllocations failing(0);
        const Error errors[] = {Error::FromCode(kSite, 1), Error::FromText(kSite, 1, "narrow"),
                                Error::FromText(kSite, 1, L"wide"), Error().AddWindowsError(5)};
        for (const Error& error : errors) {
            EXPECT_EQ(error.Head(), &Common::OutOfMemoryRecord());
        }
        attached.AddWindowsError(5);  // no system record: the static record becomes the cause
        EXPECT_EQ(Common::OutOfMemoryRecord().refs, before + 5);
        EXPECT_EQ(errors[1].FullText(255, nullptr), L"Error 0xfff2\n| line: 0x0\n| $module: hostprobe_vsa64_42608");
        lost = errors[0];
    }
    EXPECT_EQ(attached.Cause().Head(), &Common::OutOfMemoryRecord());
    EXPECT_EQ(Common::OutOfMemoryRecord().refs, before + 2);
    {
        FailingAllocations failing(1);  // the system record, then not the clone
        shared.AddWindowsError(6);
    }
    EXPECT_EQ(shared.Head(), copy.Head());
    EXPECT_EQ(shared.Cause().Head(), cause);
    lost.AddHResult(0x1234);  // clones the static record, which never gets a cause
    EXPECT_NE(lost.Head(), &Common::OutOfMemoryRecord());
    EXPECT_EQ(lost.Code(), Common::kOutOfMemoryCode);
    EXPECT_EQ(Common::OutOfMemoryRecord().cause, nullptr);
}

std::string g_events;  // "<receiver>:<kind><level> ..."

struct NamedLogic : Common::TraceLogic {
    NamedLogic(const char* name, bool allLevels) : name(name), allLevels(allLevels) {}
    void Trace(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*) override { Add("text", level); }
    void TraceData(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        Add("data", level);
    }
    void TraceError(const char*, int32_t level, const Common::Error&) override { Add("error", level); }
    bool ReceivesAllLevels() const override { return allLevels; }
    void Add(const char* kind, int32_t level) { g_events += name + ":" + kind + std::to_string(level) + " "; }
    std::string name;
    bool allLevels;
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
    Common::SetTraceTextHook(nullptr);
    Common::EnableTraceTextHook(true);
    Common::SetMinimumTraceLevel(2);
    Common::UnregisterTraceLogic(&picky);
    Common::UnregisterTraceCallback(&callback);
    Common::TraceText(5, 0, 0, L"x");
    Common::UnregisterTraceLogic(&all);
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&all));
    Common::TraceText(5, 0, 0, L"nobody listens");
    EXPECT_EQ(g_events,
              "all:text1 cb:text1 hook:3 picky:text3 all:text3 cb:text3 picky:data2 all:data2 cb:data2 picky:error4 "
              "all:error4 cb:error4 all:text3 cb:text3 all:text5 ");
}

// Traces again from inside its delivery, as an observer does whose delivery raises an
// assertion whose hook traces.
struct RetracingLogic : NamedLogic {
    RetracingLogic() : NamedLogic("retrace", true) {}
    void Trace(const char*, int32_t level, uint16_t, uint16_t, const wchar_t*) override {
        if (level < 5) {
            std::this_thread::yield();  // lets a registration start waiting
            Common::TraceText(level + 1, 0, 0, L"nested");
        }
    }
};

TEST(CommonTraceLogic, ANestedTraceDoesNotWaitForARegistrationOnAnotherThread) {
    RetracingLogic retrace;
    NamedLogic coming("coming", false);
    Common::RegisterTraceLogic(&retrace);
    std::atomic<bool> done{false};
    std::thread registrar([&] {
        while (!done) {
            Common::RegisterTraceLogic(&coming);
            Common::UnregisterTraceLogic(&coming);
        }
    });
    for (int round = 0; round < 2000; ++round) {
        Common::TraceText(2, 0, 0, L"outer");
    }
    done = true;
    registrar.join();
    Common::UnregisterTraceLogic(&retrace);
    EXPECT_FALSE(Common::IsTraceLogicRegistered(&retrace));
    g_events.clear();
}

std::string Convert(std::initializer_list<wchar_t> units, size_t count = Common::kUntilNul) {
    std::string out = "stale";
    Common::Utf16ToUtf8(std::wstring(units).c_str(), count, out);
    return out;
}

TEST(Utf16ToUtf8, RangesSurrogatesAndCounts) {
    EXPECT_EQ(Convert({L'A', 0x00E9, 0x07FF, 0x0800, 0xFFFF}), "A\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(Convert({0xD83D, 0xDE00, 0xDBFF, 0xDFFF}), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    // Lone surrogates become three bytes each.
    EXPECT_EQ(Convert({0xDE00, L'x', 0xD83D}), "\xED\xB8\x80x\xED\xA0\xBD");
    EXPECT_EQ(Convert({0xD83D, 0xD83D, 0xDE00}), "\xED\xA0\xBD\xF0\x9F\x98\x80");
    // A pair split by the count is not joined.
    EXPECT_EQ(Convert({0xD83D, 0xDE00}, 1), "\xED\xA0\xBD");
    EXPECT_EQ(Convert({L'a', L'b', L'c'}, 0), "");
    EXPECT_EQ(Convert({L'a', 0, L'b'}, 3), "a");
    EXPECT_EQ(Common::Utf16ToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
}

TEST(DynamicCaster, CastFindsTheLatestRegistrationUnderTheExactName) {
    struct : Common::DynamicCasterImpl {
        using DynamicCasterImpl::RegisterInterface;
    } registry;
    int a = 0, b = 0;
    registry.RegisterInterface("IFoo", &a);
    registry.RegisterInterface("IFoo", nullptr);
    registry.RegisterInterface(nullptr, &b);
    for (const char* other : {"IFo", "IFoo ", "ifoo", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(registry.Cast(other), nullptr);
    }
    EXPECT_EQ(registry.Cast("IFoo"), &a);
    registry.RegisterInterface("IFoo", &b);
    EXPECT_EQ(registry.Cast("IFoo"), &b);
}

}  // namespace
