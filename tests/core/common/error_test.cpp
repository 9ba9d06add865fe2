#include "core/common/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/common/error_record.h"
#include "core/common/message_catalogue.h"
#include "core/common/system_message.h"
#include "core/common/utf.h"

namespace {

using Common::Error;
using ::testing::AnyOf;
using ::testing::Eq;

constexpr char kTraceSourceFile[] = "tests/core/common/error_test";

const Common::ErrorLocation kSite = COMMON_ERROR_SITE(kTraceSourceFile, "Tests::MakeError", 40);

uint32_t RefsOf(const Error& error) {
    return error.Head()->refs.load();
}

// The system code a system-error record holds, as the full text shows it.
uint32_t StoredSystemCode(const Error& error) {
    return error.Cause().NumericParameter("code");
}

std::wstring Hex(uint64_t value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// --- construction, parameters

TEST(ErrorConstruction, CodeZeroGivesTheEmptyError) {
    EXPECT_TRUE(Error::FromCode(kSite, 0).IsEmpty());
    EXPECT_TRUE(Error::FromText(kSite, 0, "text").IsEmpty());
    EXPECT_TRUE(Error::FromText(kSite, 0, L"text").IsEmpty());

    const Error empty;
    EXPECT_EQ(empty.Code(), 0u);
    EXPECT_EQ(empty.Text(), L"");
    EXPECT_STREQ(empty.ParameterNames(), "");
    EXPECT_EQ(empty.StringParameter("$module"), nullptr);
    EXPECT_EQ(empty.Location().tag, 0u);
    EXPECT_TRUE(empty.Cause().IsEmpty());
}

TEST(ErrorConstruction, CodeSplitsIntoModulePartAndNumber) {
    const Error error = Error::FromCode(kSite, 0xC10001);
    EXPECT_EQ(error.Code(), 0xC10001u);
    EXPECT_EQ(error.Module(), 0xC1);
    EXPECT_EQ(error.Number(), 1);
    EXPECT_EQ(Error().Module(), 0);
    EXPECT_EQ(Error().Number(), 0);
}

TEST(ErrorConstruction, KeepsLocationAndDerivesTheTagFromFileAndLine) {
    const Error error = Error::FromCode(kSite, 7);
    const Common::ErrorLocation location = error.Location();
    EXPECT_STREQ(location.file, "tests/core/common/error_test");
    EXPECT_STREQ(location.function, "Tests::MakeError");
    EXPECT_EQ(location.line, 40u);
    EXPECT_EQ(location.tag, Common::SourceFileTag("tests/core/common/error_test") + 40);

    // FNV-1a test vectors: the per-file constant must not change between builds.
    static_assert(Common::SourceFileTag("") == 0xCBF29CE484222325ull, "");
    static_assert(Common::SourceFileTag("a") == 0xAF63DC4C8601EC8Cull, "");

    const Common::ErrorLocation here = COMMON_ERROR_HERE("Tests::Here");
    EXPECT_EQ(here.file, kTraceSourceFile);
    EXPECT_EQ(here.line, static_cast<uint32_t>(__LINE__ - 2));
}

TEST(ErrorParameters, EveryKindNamesItsParametersAndAnswersOnlyThoseByWholeName) {
    const Error codeOnly = Error::FromCode(kSite, 3);
    const Error narrow = Error::FromText(kSite, 3, "n");
    const Error wide = Error::FromText(kSite, 3, L"w");
    for (const Error* error : {&codeOnly, &narrow, &wide}) {
        EXPECT_STREQ(error->ParameterNames(), "$module");
        EXPECT_STREQ(error->StringParameter("$module"), "hostprobe_vsa64_42608");
        EXPECT_EQ(error->NumericParameter("code"), 0u);
    }
    Error system;
    system.AddWindowsError(5);
    EXPECT_STREQ(system.ParameterNames(), "code,$module");
    EXPECT_EQ(system.NumericParameter("code"), 0x80070005u);
    EXPECT_STREQ(system.StringParameter("$module"), "hostprobe_vsa64_42608");
    EXPECT_EQ(system.StringParameter("code"), nullptr);

    // Names match only as whole strings.
    for (const char* name : {"cod", "codex", "Code", "", "code,", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(system.NumericParameter(name), 0u) << (name != nullptr ? name : "(null)");
    }
    for (const char* name : {"$modul", "$modules", "module", "$MODULE", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(system.StringParameter(name), nullptr) << (name != nullptr ? name : "(null)");
    }
    EXPECT_EQ(system.WideStringParameter("$module"), nullptr);
    EXPECT_EQ(narrow.WideStringParameter("$module"), nullptr);
}

// --- texts: by reference or private copy

TEST(ErrorText, NarrowTextIsWidenedByteByByte) {
    EXPECT_EQ(Error::FromText(kSite, 1, "caf\xE9 \x80").Text(), L"caf\u00E9 \u0080");
    EXPECT_EQ(Error::FromText(kSite, 1, static_cast<const char*>(nullptr)).Text(), L"");
    EXPECT_EQ(Error::FromText(kSite, 1, static_cast<const wchar_t*>(nullptr)).Text(), L"");
    EXPECT_EQ(Error::FromCode(kSite, 1).Text(), L"");
}

TEST(ErrorText, TextOutsideTheCatalogueIsCopiedBehindTheRecord) {
    char narrow[] = "first";
    wchar_t wide[] = L"second";
    const Error fromNarrow = Error::FromText(kSite, 1, narrow);
    const Error fromWide = Error::FromText(kSite, 1, wide);
    narrow[0] = 'X';
    wide[0] = L'X';
    EXPECT_EQ(fromNarrow.Text(), L"first");
    EXPECT_EQ(fromWide.Text(), L"second");

    const auto& narrowRecord = static_cast<const Common::TextErrorRecord&>(*fromNarrow.Head());
    const auto& wideRecord = static_cast<const Common::TextErrorRecord&>(*fromWide.Head());
    EXPECT_EQ(narrowRecord.extra, sizeof(Common::TextErrorRecord) + 6);
    EXPECT_EQ(wideRecord.extra, sizeof(Common::TextErrorRecord) + 7 * sizeof(wchar_t));
    EXPECT_EQ(narrowRecord.textRef, sizeof(Common::TextErrorRecord));
}

TEST(ErrorText, CatalogueTextIsReferencedNotCopied) {
    const wchar_t* text = Common::GetMessageText(Common::MSG_ACCESS_DENIED);
    if (!Common::IsInMessageTable(text)) {
        GTEST_SKIP() << "the message catalogue does not report its own texts yet";
    }
    const Error error = Error::FromText(kSite, 1, text);
    const auto& record = static_cast<const Common::TextErrorRecord&>(*error.Head());
    EXPECT_EQ(record.extra, sizeof(Common::TextErrorRecord));
    EXPECT_EQ(Common::RecordTextData(record), static_cast<const void*>(text));
    EXPECT_EQ(error.Text(), text);
}

// --- attaching system errors

struct ConversionCase {
    Error& (Error::*attach)(int32_t);
    int32_t value;
    uint32_t stored;
};

class ErrorConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ErrorConversion, StoresTheCodeInHResultForm) {
    const ConversionCase& c = GetParam();
    Error error = Error::FromCode(kSite, 0x10001);
    (error.*c.attach)(c.value);
    EXPECT_EQ(error.Code(), 0x10001u);
    EXPECT_EQ(error.Cause().Code(), Common::kSystemErrorCode);
    EXPECT_EQ(StoredSystemCode(error), c.stored);
    EXPECT_EQ(error.Cause().Head()->extra, c.stored);

    // On an empty error the system record becomes the head.
    Error alone;
    (alone.*c.attach)(c.value);
    EXPECT_EQ(alone.Code(), Common::kSystemErrorCode);
    EXPECT_EQ(alone.NumericParameter("code"), c.stored);
    EXPECT_TRUE(alone.Cause().IsEmpty());
}

constexpr auto kWin32 = &Error::AddWindowsError;
constexpr auto kHResult = &Error::AddHResult;
constexpr auto kNtStatus = &Error::AddNTStatus;

INSTANTIATE_TEST_SUITE_P(AllOperations, ErrorConversion,
                         ::testing::Values(ConversionCase{kWin32, 0, 0}, ConversionCase{kWin32, 5, 0x80070005},
                                           ConversionCase{kWin32, 1, 0x80070001},
                                           ConversionCase{kWin32, 0x12345, 0x80072345},
                                           ConversionCase{kWin32, -5, 0xFFFFFFFB},
                                           ConversionCase{kWin32, INT_MIN, 0x80000000},
                                           ConversionCase{kHResult, static_cast<int32_t>(0x80004005), 0x80004005},
                                           ConversionCase{kHResult, 0, 0}, ConversionCase{kHResult, 1, 1},
                                           ConversionCase{kNtStatus, static_cast<int32_t>(0xC0000022), 0xD0000022},
                                           ConversionCase{kNtStatus, 0, 0x10000000},
                                           ConversionCase{kNtStatus, static_cast<int32_t>(0xD0000022), 0xD0000022}));

TEST(ErrorAttach, OperationsRecordTheirOwnLocationsTenLinesApart) {
    Error windows, hresult, status;
    windows.AddWindowsError(5);
    hresult.AddHResult(5);
    status.AddNTStatus(5);
    const struct {
        const Error* error;
        const char* function;
        uint32_t line;
    } cases[] = {{&windows, "Common::Error::AddWindowsError", 314},
                 {&hresult, "Common::Error::AddHResult", 324},
                 {&status, "Common::Error::AddNTStatus", 334}};
    for (const auto& c : cases) {
        const Common::ErrorLocation location = c.error->Location();
        EXPECT_STREQ(location.file, "core/common/error");
        EXPECT_STREQ(location.function, c.function);
        EXPECT_EQ(location.line, c.line);
        EXPECT_EQ(location.tag, Common::SiteTag("core/common/error", c.line));
    }
    EXPECT_EQ(hresult.Location().tag - windows.Location().tag, 10u);
    EXPECT_EQ(status.Location().tag - hresult.Location().tag, 10u);
}

TEST(ErrorAttach, OnAnUnsharedHeadTheNewRecordReplacesTheCause) {
    Error error = Error::FromText(kSite, 0x20001, "outer");
    const Common::ErrorRecord* head = error.Head();
    error.AddWindowsError(5);
    const Error firstCause = error.Cause();
    EXPECT_EQ(RefsOf(firstCause), 2u);

    Error& returned = error.AddWindowsError(6);
    EXPECT_EQ(&returned, &error);
    EXPECT_EQ(error.Head(), head);  // changed in place, not cloned
    EXPECT_EQ(StoredSystemCode(error), 0x80070006u);
    EXPECT_TRUE(error.Cause().Cause().IsEmpty());
    // The replaced cause lost the chain's reference and survives only through our handle.
    EXPECT_EQ(RefsOf(firstCause), 1u);
    EXPECT_EQ(firstCause.NumericParameter("code"), 0x80070005u);
}

TEST(ErrorAttach, OnASharedHeadAnAttachClonesAndLeavesTheCopyUnchanged) {
    char text[] = "shared";
    Error error = Error::FromText(kSite, 0x20002, text);
    error.AddHResult(static_cast<int32_t>(0x80004005));
    const Error copy = error;
    const Common::ErrorRecord* sharedHead = copy.Head();
    const Common::ErrorRecord* oldCause = copy.Cause().Head();

    error.AddNTStatus(static_cast<int32_t>(0xC0000022));

    EXPECT_NE(error.Head(), sharedHead);
    EXPECT_EQ(copy.Head(), sharedHead);
    EXPECT_EQ(RefsOf(copy), 1u);
    EXPECT_EQ(copy.Cause().Head(), oldCause);
    EXPECT_EQ(StoredSystemCode(copy), 0x80004005u);

    // The clone is an equal record with its own text and only the new cause.
    EXPECT_EQ(error.Code(), 0x20002u);
    EXPECT_EQ(error.Text(), L"shared");
    EXPECT_EQ(error.Location().tag, kSite.tag);
    EXPECT_EQ(RefsOf(error), 1u);
    EXPECT_EQ(StoredSystemCode(error), 0xD0000022u);
    EXPECT_TRUE(error.Cause().Cause().IsEmpty());
    EXPECT_NE(Common::RecordTextData(static_cast<const Common::TextErrorRecord&>(*error.Head())),
              Common::RecordTextData(static_cast<const Common::TextErrorRecord&>(*sharedHead)));
}

TEST(ErrorAttach, ClonesOfEveryKindKeepTheirContent) {
    const Error originals[] = {Error::FromCode(kSite, 9), Error::FromText(kSite, 9, "narrow"),
                               Error::FromText(kSite, 9, L"wide \u20AC"), Error().AddHResult(0x1234)};
    for (const Error& original : originals) {
        Error clone = original;
        clone.AddWindowsError(2);
        ASSERT_NE(clone.Head(), original.Head());
        EXPECT_EQ(clone.Head()->kind, original.Head()->kind);
        EXPECT_EQ(clone.Code(), original.Code());
        EXPECT_EQ(clone.Text(), original.Text());
        EXPECT_EQ(clone.NumericParameter("code"), original.NumericParameter("code"));
        EXPECT_EQ(clone.Head()->extra, original.Head()->extra);
        EXPECT_TRUE(original.Cause().IsEmpty());
    }
}

TEST(ErrorAttach, AddCauseSharesTheWholeChain) {
    Error inner = Error::FromText(kSite, 0x30001, "inner");
    inner.AddWindowsError(5);
    Error outer = Error::FromCode(kSite, 0x30002);
    outer.AddCause(inner);
    EXPECT_EQ(outer.Cause().Head(), inner.Head());
    EXPECT_EQ(RefsOf(inner), 2u);
    outer.AddCause(Error());  // nothing to attach
    EXPECT_EQ(outer.Cause().Head(), inner.Head());

    // An error made its own cause is cloned first, so no cycle can form.
    outer.AddCause(outer);
    EXPECT_EQ(outer.Cause().Cause().Head(), inner.Head());
}

// --- sharing and release

TEST(ErrorSharing, CopiesOnManyThreadsKeepTheCountsBalanced) {
    Error error = Error::FromText(kSite, 0x40001, L"shared across threads");
    error.AddWindowsError(5);
    const Error cause = error.Cause();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&error] {
            for (int i = 0; i < 20000; ++i) {
                Error copy = error;
                Error second(copy);
                Error moved(std::move(copy));
                second = moved;
                EXPECT_EQ(second.Code(), 0x40001u);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(RefsOf(error), 1u);
    EXPECT_EQ(RefsOf(cause), 2u);
}

TEST(ErrorSharing, AssignmentReleasesTheOldChainAndSurvivesSelfAssignment) {
    Error first = Error::FromCode(kSite, 1);
    const Error watch = first;
    Error second = Error::FromCode(kSite, 2);
    first = second;
    EXPECT_EQ(RefsOf(watch), 1u);
    EXPECT_EQ(RefsOf(second), 2u);
    first = first;
    EXPECT_EQ(first.Code(), 2u);
    EXPECT_EQ(RefsOf(second), 2u);
    first = std::move(second);
    EXPECT_TRUE(second.IsEmpty());  // NOLINT(bugprone-use-after-move): a moved-from error is empty
    EXPECT_EQ(RefsOf(first), 1u);
}

TEST(ErrorSharing, ReleasingAVeryLongChainNeedsNoRecursion) {
    const Error tail = Error::FromText(kSite, 0x50001, "tail");
    {
        Error chain = tail;
        for (int i = 0; i < 100000; ++i) {
            Error next = Error::FromCode(kSite, 0x50002);
            next.AddCause(chain);
            chain = std::move(next);
        }
        EXPECT_EQ(RefsOf(tail), 2u);
    }
    // Every record above the tail went, and gave back its reference to the tail.
    EXPECT_EQ(RefsOf(tail), 1u);
}

// --- system texts

TEST(SystemMessage, TrimmingRemovesCarriageReturnsOneLineFeedAndAOneLinePeriod) {
    const struct {
        const wchar_t* raw;
        const wchar_t* trimmed;
    } cases[] = {
        {L"Access is denied.\r\n", L"Access is denied"},
        {L"First line.\r\nSecond line.\r\n", L"First line.\nSecond line."},
        {L"No period\r\n", L"No period"},
        {L"Two feeds.\n\n", L"Two feeds.\n"},
        {L"a\rb\r\r\n", L"ab"},
        {L"Only a period.", L"Only a period"},
        {L"Dots...\r\n", L"Dots.."},
        {L".", L""},
        {L"\r\n", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring text = c.raw;
        Common::TrimSystemMessage(text);
        EXPECT_EQ(text, c.trimmed) << Common::Utf16ToUtf8(c.raw);
    }
}

TEST(SystemMessage, Win32ErrorsHaveTheSystemTextWithoutTrailer) {
    Error error;
    error.AddWindowsError(5);
    // The English text of Windows, or that of the Wine test bench.
    EXPECT_THAT(error.Text(), AnyOf(Eq(L"Access is denied"), Eq(L"Access denied")));
    Error hresult;
    hresult.AddHResult(static_cast<int32_t>(0x80070005));
    EXPECT_EQ(hresult.Text(), error.Text());
}

TEST(SystemMessage, NtStatusesAreLookedUpWithoutTheFacilityBit) {
    Error status;
    status.AddNTStatus(static_cast<int32_t>(0xC0000022));
    EXPECT_EQ(status.NumericParameter("code"), 0xD0000022u);
    // Wine's NTDLL carries no message table; Windows has a two-line message that keeps its period.
    EXPECT_THAT(status.Text(),
                AnyOf(Eq(L""), Eq(L"{Access Denied}\nA process has requested access to an object, but has not "
                                  L"been granted those access rights.")));

    // Looking in NTDLL falls back to the system table; the lookup must use the code without
    // the facility bit to find anything there.
    Error win32;
    win32.AddWindowsError(5);
    Error asStatus;
    asStatus.AddNTStatus(5);
    EXPECT_EQ(asStatus.Text(), win32.Text());
}

TEST(SystemMessage, UnknownCodesHaveNoText) {
    Error error;
    error.AddHResult(static_cast<int32_t>(0xA0001234));
    EXPECT_EQ(error.Text(), L"");
}

// --- full text

TEST(ErrorFullText, EmptyErrorShowsOnlyTheHeadAndLineLabels) {
    EXPECT_EQ(Error().FullText(255, nullptr), L"Error 0x0\n| line: 0x0");
    EXPECT_EQ(Error().FullText(255, ""), L"Error 0x0\n| line: 0x0");
    EXPECT_EQ(Error().FullText(4, "main"), L"Error 0x0\n| trace level: error\n| channel: main\n| line: 0x0");
}

TEST(ErrorFullText, TraceLevelsByNameOrNumber) {
    const struct {
        int32_t level;
        const wchar_t* shown;  // null: no trace-level line
    } cases[] = {{1, L"debug"}, {2, L"information"}, {3, L"warning"}, {4, L"error"},  {5, L"critical error"}, {0, L"0"},
                 {6, L"6"},     {-2, L"-2"},         {254, L"254"},   {255, nullptr}, {256, nullptr}};
    for (const auto& c : cases) {
        const std::wstring expected = c.shown == nullptr
                                          ? L"Error 0x0\n| line: 0x0"
                                          : std::wstring(L"Error 0x0\n| trace level: ") + c.shown + L"\n| line: 0x0";
        EXPECT_EQ(Error().FullText(c.level, nullptr), expected) << c.level;
    }
}

TEST(ErrorFullText, ThreeRecordChainByteExact) {
    const Common::ErrorLocation innerSite = COMMON_ERROR_SITE("x/y", "Tests::Middle", 7);
    Error middle = Error::FromText(innerSite, 0x20002, L"first line\nsecond line");
    middle.AddHResult(static_cast<int32_t>(0xA0001234));
    Error head = Error::FromText(kSite, 0xC10001, "Null AddonLoader is being used.");
    head.AddCause(middle);

    const std::wstring expected =
        L"Error 0xc10001: Null AddonLoader is being used."
        L"\n| trace level: information"
        L"\n| channel: default"
        L"\n| line: " +
        Hex(kSite.tag) +
        L"\n| file: tests/core/common/error_test:40"
        L"\n| function: Tests::MakeError"
        L"\n| $module: hostprobe_vsa64_42608"
        L"\n|"
        L"\n| error 0x20002: first line\n| second line"
        L"\n| line: " +
        Hex(innerSite.tag) +
        L"\n| file: x/y:7"
        L"\n| function: Tests::Middle"
        L"\n| $module: hostprobe_vsa64_42608"
        L"\n|"
        L"\n| error 0xfff0"
        L"\n| line: " +
        Hex(Common::SiteTag("core/common/error", 324)) +
        L"\n| file: core/common/error:324"
        L"\n| function: Common::Error::AddHResult"
        L"\n| code: 0xa0001234"
        L"\n| $module: hostprobe_vsa64_42608";
    EXPECT_EQ(head.FullText(2, "default"), expected);
}

TEST(ErrorFullText, LeavesOutMissingFileAndFunction) {
    const Error error = Error::FromCode(Common::ErrorLocation{0x10, nullptr, "", 3}, 0xAB);
    EXPECT_EQ(error.FullText(255, nullptr), L"Error 0xab\n| line: 0x10\n| $module: hostprobe_vsa64_42608");
}

}  // namespace
