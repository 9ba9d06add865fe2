#include "logging/static/trace_record.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <functional>
#include <string>

#include "core/common/error.h"
#include "logging/initialize.h"
#include "logging/static/fixed_environment.h"
#include "logging/trace_flags.h"

namespace {

using Logging::TraceRecord;
using LoggingTest::FixedEnvironment;

const Logging::TraceLocation kLocation{"src/probe", "Ns::Probe::Run", 42};

// A record keeps the argument list of the call that logs, so the checks run inside that call.
void Format(TraceRecord& record, int32_t level, const std::function<void()>& checks, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record.SetFormatted("main", level, kLocation, format, args);
    checks();
    va_end(args);
}

void ScopeEnter(TraceRecord& record, uint64_t id, const std::function<void()>& checks, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record.SetScopeEnter("main", 2, kLocation, id, format, args);
    checks();
    va_end(args);
}

std::string FullLine(TraceRecord& record, uint32_t flags, std::string_view prefix = {}, bool expanded = true) {
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(flags, prefix, expanded, pieces);
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        line.append(pieces[i]);
    }
    return line;
}

TEST(TraceRecordLine, DefaultFlagsGiveZonedTimestampThreadSignatureAndCrLf) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    Format(
        record, Logging::INFORMATION,
        [&] {
            EXPECT_EQ(FullLine(record, Logging::kDefaultOutputFlags),
                      "2024-03-05T14:07:09:042+02:00 4711 I00000000: value 7 of seven\r\n");
        },
        "value %d of %s", 7, "seven");
}

TEST(TraceRecordLine, EachFlagAloneChangesOnlyItsOwnPiece) {
    struct Case {
        uint32_t flags;
        const char* line;
    };
    const Case cases[] = {
        {0, "text\n"},
        {Logging::OF_NATIVE_EOL, "text\r\n"},
        {Logging::OF_DEBUG, "text\n"},
        {Logging::OF_TIMESTAMP, "2024-03-05 14:07:09:042 text\n"},
        {Logging::OF_TID, "4711 text\n"},
        {Logging::OF_SIGNATURE, "W00000000: text\n"},
        {Logging::OF_DUMPERROR, "text\n"},
        {Logging::OF_NOLF, "text"},
        {Logging::OF_DUMPLINE, "text file: src/probe line: 42\n"},
        {Logging::OF_DUMPFUNCTION, "text Ns::Probe::Run()\n"},
        {Logging::OF_DUMPLINE | Logging::OF_DUMPFUNCTION, "text file: src/probe line: 42 Ns::Probe::Run()\n"},
        {Logging::OF_HIGHLIGHT, "text\n"},
        {Logging::OF_PID, "(1234) text\n"},
        {Logging::OF_PNAME, "probetext\n"},
        {Logging::OF_PNAME | Logging::OF_PID, "probe(1234) text\n"},
        {Logging::OF_TZD, "text\n"},
        {Logging::OF_NOSTDERR, "text\n"},
        {Logging::OF_NOLF | Logging::OF_NATIVE_EOL, "text"},
        {Logging::OF_TIMESTAMP | Logging::OF_TZD | Logging::OF_PNAME | Logging::OF_PID | Logging::OF_TID |
             Logging::OF_SIGNATURE,
         "2024-03-05T14:07:09:042+02:00 probe(1234) 4711 W00000000: text\n"},
    };
    for (const Case& c : cases) {
        FixedEnvironment environment;
        TraceRecord record(environment);
        Format(
            record, Logging::WARNING, [] {}, "text");
        EXPECT_EQ(FullLine(record, c.flags), c.line) << std::hex << c.flags;
    }
}

TEST(TraceRecordLine, SignatureLetterFollowsTheLevelAndCodeIsUpperHex) {
    const char* const expected[] = {" ", "D", "I", "W", "E", "C", " ", " "};
    for (int level = 0; level <= 7; ++level) {
        FixedEnvironment environment;
        TraceRecord record(environment);
        Format(
            record, level, [] {}, "x");
        EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NOLF),
                  std::string(expected[level]) + "00000000: x")
            << level;
    }
    FixedEnvironment environment;
    TraceRecord record(environment);
    record.SetText("main", Logging::ERROR_TRACE, 0xC1, 0xBEEF, L"coded");
    EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NOLF), "E00C1BEEF: coded");
}

TEST(TraceRecordLine, NegativeZonesAndZonesUnderOneHourKeepTheirSign) {
    FixedEnvironment environment;
    environment.zoneSuffix = "-03:30";
    TraceRecord record(environment);
    Format(
        record, Logging::INFORMATION, [] {}, "x");
    EXPECT_EQ(FullLine(record, Logging::OF_TIMESTAMP | Logging::OF_TZD | Logging::OF_NOLF),
              "2024-03-05T14:07:09:042-03:30 x");
}

TEST(TraceRecordLine, PrefixPlaceholdersAreExpandedUnlessMarkedExpanded) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    record.SetText("files#target-1", Logging::INFORMATION, 0, 0, L"msg");
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF, "{pid}|{pname}|{date}|{target}|{other} ", false),
              "1234|probe|2024-03-05-14-07-09|target-1|{other} msg");
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF, "{pid}-", true), "{pid}-msg");
    // The signature comes before the prefix.
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF | Logging::OF_SIGNATURE, "[{pname}] ", false),
              "I00000000: [probe] msg");
}

TEST(TraceRecordText, LongMessagesAreCutAtTheWorkingBufferAndTheLineGrowsOnTheHeap) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    const std::string longText(20000, 'a');
    Format(
        record, Logging::INFORMATION,
        [&] {
            EXPECT_EQ(record.MessageText(0).size(), TraceRecord::kMaxTextLength);
            const std::string line = FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NATIVE_EOL);
            EXPECT_EQ(line, "I00000000: " + std::string(TraceRecord::kMaxTextLength, 'a') + "\r\n");
        },
        "%s", longText.c_str());

    // A text just short of the limit but longer than the room behind the head room.
    const std::string nearLimit(TraceRecord::kMaxTextLength - 10, 'b');
    Format(
        record, Logging::INFORMATION,
        [&] {
            EXPECT_EQ(FullLine(record, Logging::OF_NOLF), nearLimit);
            EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE), "I00000000: " + nearLimit + "\n");
        },
        "%s", nearLimit.c_str());

    // The location suffix is cut like the text.
    Format(
        record, Logging::INFORMATION,
        [&] { EXPECT_EQ(record.MessageText(Logging::OF_DUMPLINE).size(), TraceRecord::kMaxTextLength); }, "%s",
        longText.c_str());
}

TEST(TraceRecordText, WideTextIsUtf8AndNeverCutInsideACharacter) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    record.SetText("main", Logging::INFORMATION, 0, 0, L"caf\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(record.MessageText(0), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");

    // 5,461 three-byte characters are 16,383 bytes; one more must not be split.
    const std::wstring euros(5462, L'\u20ac');
    record.SetText("main", Logging::INFORMATION, 0, 0, euros.c_str());
    EXPECT_EQ(record.MessageText(0).size(), 5461u * 3);
    record.SetText("main", Logging::INFORMATION, 0, 0, nullptr);
    EXPECT_EQ(record.MessageText(0), "");
}

TEST(TraceRecordText, ColourSequencesAreRemovedUnlessTheBackendKeepsThem) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    Format(
        record, Logging::INFORMATION, [] {}, "\x1b[1;31mred\x1b[0m plain \x1b[5x \x1b[12");
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF), "red plain \x1b[5x \x1b[12");
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF | Logging::kKeepColourSequences),
              "\x1b[1;31mred\x1b[0m plain \x1b[5x \x1b[12");
    // Back again: the cached line follows the flag word.
    EXPECT_EQ(FullLine(record, Logging::OF_NOLF), "red plain \x1b[5x \x1b[12");
}

TEST(TraceRecordText, ScopeTexts) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    ScopeEnter(
        record, 7,
        [&] {
            EXPECT_EQ(record.MessageText(0), ">> Ns::Probe::Run ID=7 user=bob");
            EXPECT_EQ(record.MessageText(Logging::OF_DUMPLINE | Logging::OF_DUMPFUNCTION),
                      ">> Ns::Probe::Run ID=7 user=bob file: src/probe line: 42");
            EXPECT_EQ(record.MessageText(Logging::OF_DUMPFUNCTION), ">> Ns::Probe::Run ID=7 user=bob");
        },
        "user=%s", "bob");
    ScopeEnter(
        record, 8, [&] { EXPECT_EQ(record.MessageText(0), ">> Ns::Probe::Run ID=8 "); }, nullptr);

    record.SetScopeLeave("main", 2, kLocation, 7, environment.monotonic - 1500, false);
    EXPECT_EQ(record.MessageText(Logging::OF_DUMPLINE), "<< Ns::Probe::Run ID=7 took 1.500 seconds.");
    record.SetScopeLeave("main", 2, kLocation, 7, environment.monotonic - 2, true);
    EXPECT_EQ(record.MessageText(0), "<< Ns::Probe::Run ID=7 exception!!! took 0.002 seconds.");
    record.SetScopeLeave("main", 2, kLocation, 18446744073709551615ull, 0, false);
    EXPECT_EQ(record.MessageText(0), "<< Ns::Probe::Run ID=18446744073709551615 ");
}

TEST(TraceRecordPieces, EachPieceIsRenderedOnceAndReused) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    Format(
        record, Logging::INFORMATION, [] {}, "once");
    const std::string first = FullLine(record, Logging::kDefaultOutputFlags);
    const std::string plain = FullLine(record, Logging::OF_TIMESTAMP | Logging::OF_TID);
    EXPECT_EQ(FullLine(record, Logging::kDefaultOutputFlags), first);
    EXPECT_EQ(plain, "2024-03-05 14:07:09:042 4711 once\n");
    EXPECT_EQ(environment.timeReads, 1);
    EXPECT_EQ(environment.threadReads, 1);
    // Every piece ends in a NUL, for the back-ends that hand them to C interfaces.
    std::string_view pieces[5];
    const size_t count =
        record.FullLinePieces(Logging::kDefaultOutputFlags | Logging::OF_PID | Logging::OF_PNAME, {}, true, pieces);
    ASSERT_EQ(count, 5u);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(pieces[i].data()[pieces[i].size()], '\0') << i;
    }
}

TEST(TraceRecordChannel, ChannelNameIsCutAtTheFirstHash) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    record.SetText("folder#a#b", 2, 0, 0, L"x");
    EXPECT_STREQ(record.ChannelBase(), "folder");
    EXPECT_EQ(record.Target(), "a#b");
    record.SetText(nullptr, 2, 0, 0, L"x");
    EXPECT_STREQ(record.ChannelBase(), "");
    EXPECT_EQ(record.Target(), "");
    record.SetChannel("plain");
    EXPECT_STREQ(record.ChannelBase(), "plain");
}

// Hooks as a host installs them; each test restores "none".
struct HookCalls {
    static inline bool shortForm = false;
    static inline int calls = 0;
    static inline int32_t fieldCount = -1;
};

void TestErrorFormatter(const char* channel, int16_t level, const Common::Error* error, char** text, bool shortForm,
                        uint16_t* high, uint16_t* low) {
    ++HookCalls::calls;
    HookCalls::shortForm = shortForm;
    const std::string rendered = std::string(shortForm ? "short " : "long ") + channel + " " + std::to_string(level) +
                                 " \x1b[1mcode\x1b[0m " + std::to_string(error->Code());
    *text = static_cast<char*>(Logging::Allocate(rendered.size() + 1));
    std::memcpy(*text, rendered.c_str(), rendered.size() + 1);
    *high = static_cast<uint16_t>(error->Code() >> 16);
    *low = static_cast<uint16_t>(error->Code() & 0xFFFF);
}

void TestFieldFormatter(const wchar_t*, const Logging::TraceField*, int32_t count, char** out) {
    HookCalls::fieldCount = count;
    *out = static_cast<char*>(Logging::Allocate(7));
    std::memcpy(*out, "fields", 7);
}

class TraceRecordHooks : public ::testing::Test {
protected:
    void TearDown() override {
        Logging::SetErrorFormatter(nullptr);
        Logging::SetFieldFormatter(nullptr);
    }
};

TEST_F(TraceRecordHooks, ErrorRecordsUseTheHookShortUnlessDumpErrorAndTakeTheirCodeFromIt) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    const Common::Error error = Common::Error::FromText({0, "f", "fn", 1}, 0xC10005, "boom");
    record.SetError("errors#x", Logging::ERROR_TRACE, error);
    EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NOLF), "E00000000: ");

    Logging::SetErrorFormatter(TestErrorFormatter);
    HookCalls::calls = 0;
    record.SetError("errors#x", Logging::ERROR_TRACE, error);
    EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NOLF), "E00C10005: short errors 4 code 12648453");
    EXPECT_EQ(FullLine(record, Logging::OF_SIGNATURE | Logging::OF_NOLF | Logging::OF_DUMPERROR),
              "E00C10005: long errors 4 code 12648453");
    // Rendered once per form, not once per line.
    FullLine(record, Logging::OF_NOLF | Logging::OF_DUMPERROR | Logging::OF_TID);
    EXPECT_EQ(HookCalls::calls, 2);
}

TEST_F(TraceRecordHooks, DataRecordsUseTheFieldHookOrTheirTextAlone) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    const Logging::TraceField fields[2] = {};
    record.SetData("main", 2, 0, 0, L"plain", fields, 2);
    EXPECT_EQ(record.MessageText(0), "plain");
    Logging::SetFieldFormatter(TestFieldFormatter);
    record.SetData("main", 2, 0, 0, L"plain", fields, 2);
    EXPECT_EQ(record.MessageText(0), "fields");
    EXPECT_EQ(HookCalls::fieldCount, 2);
}

TEST(TraceRecordRendered, ALineFromTheNetworkIsUsedAsItStands) {
    FixedEnvironment environment;
    TraceRecord record(environment);
    const char line[] = "2024-01-01 remote line\r\n";
    record.SetRendered("remote", 2, 0, 0, line, sizeof line - 1);
    EXPECT_EQ(record.BuildLine(Logging::OF_SIGNATURE, "prefix ", true), line);
}

}  // namespace
