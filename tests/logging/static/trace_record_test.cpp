#include "logging/static/trace_record.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "core/common/error.h"
#include "logging/initialize.h"
#include "logging/static/line_format.h"
#include "logging/trace_flags.h"

namespace {

using namespace Logging;

// 2024-03-05 14:07:09.042 at +02:00, thread 4711 of process 1234 "probe".
class FixedEnvironment : public TraceEnvironment {
public:
    Platform::LocalTime LocalNow() const override { return {2024, 3, 5, 14, 7, 9, 42}; }
    uint64_t MonotonicMilliseconds() const override { return 100000; }
    uint64_t ThreadId() const override { return 4711; }
    uint32_t ProcessId() const override { return 1234; }
    const std::string& ProcessName() const override { return name; }
    const std::string& ZoneSuffix() const override { return zone; }
    const std::string name = "probe";
    const std::string zone = "+02:00";
};

class TraceRecordTest : public ::testing::Test {
protected:
    FixedEnvironment environment;
    TraceRecord record{environment};
};

const TraceLocation kLocation{"src/probe", "Ns::Probe::Run", 42};

std::string Line(TraceRecord& record, uint32_t flags, std::string_view prefix = {}, bool expanded = true) {
    std::string_view pieces[5];
    std::string line;
    for (size_t i = 0, count = record.FullLinePieces(flags, prefix, expanded, pieces); i < count; ++i) {
        line.append(pieces[i]);
        EXPECT_EQ(pieces[i].data()[pieces[i].size()], '\0') << "back-ends hand pieces to C interfaces";
    }
    return line;
}

// A record formats lazily from the logging call's argument list, so its line is built inside the
// call. A nonzero scope id makes it a scope-enter record.
std::string Format(TraceRecord& record, int32_t level, uint64_t scope, uint32_t flags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (scope != 0) {
        record.SetScopeEnter("main", level, kLocation, scope, format, args);
    } else {
        record.SetFormatted("main", level, kLocation, format, args);
    }
    std::string line = Line(record, flags);
    va_end(args);
    return line;
}

// The UTF-16 line of a formatted record, "-" when the record has none.
std::wstring WideLine(TraceRecord& record, uint32_t flags, std::string_view prefix, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record.SetFormatted("main", WARNING, kLocation, format, args);
    std::wstring line = L"-";
    record.BuildWideLine(flags, prefix, true, line);
    va_end(args);
    return line;
}

TEST_F(TraceRecordTest, EachFlagAloneAndTogether) {
    // clang-format off
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "text 7\n"}, {OF_NATIVE_EOL, "text 7\r\n"}, {OF_NOLF, "text 7"}, {OF_NOLF | OF_NATIVE_EOL, "text 7"},
        {OF_TIMESTAMP, "2024-03-05 14:07:09:042 text 7\n"}, {OF_TID, "4711 text 7\n"}, {OF_DEBUG, "text 7\n"},
        {OF_SIGNATURE, "W00000000: text 7\n"}, {OF_PID, "(1234) text 7\n"}, {OF_PNAME, "probetext 7\n"},
        {OF_PNAME | OF_PID, "probe(1234) text 7\n"}, {OF_DUMPFUNCTION, "text 7 Ns::Probe::Run()\n"},
        {OF_DUMPLINE, "text 7 file: src/probe line: 42\n"}, {OF_DUMPERROR, "text 7\n"}, {OF_TZD, "text 7\n"},
        {OF_DUMPLINE | OF_DUMPFUNCTION, "text 7 file: src/probe line: 42 Ns::Probe::Run()\n"},
        {OF_HIGHLIGHT, "text 7\n"}, {OF_NOSTDERR, "text 7\n"},
        {kDefaultOutputFlags, "2024-03-05T14:07:09:042+02:00 4711 W00000000: text 7\r\n"},
        {OF_TIMESTAMP | OF_TZD | OF_PNAME | OF_PID | OF_TID | OF_SIGNATURE,
         "2024-03-05T14:07:09:042+02:00 probe(1234) 4711 W00000000: text 7\n"}};
    // clang-format on
    for (const auto& [flags, line] : cases) {
        EXPECT_EQ(Format(record, WARNING, 0, flags, "%s %d", "text", 7), line) << std::hex << flags;
    }
}

TEST_F(TraceRecordTest, SignaturesPrefixesAndColours) {
    for (int level = -1; level <= 7; ++level) {
        record.SetText("main", level, 0, 0, L"x");
        EXPECT_EQ(Line(record, OF_SIGNATURE | OF_NOLF), std::string(1, "  DIWEC  "[level + 1]) + "00000000: x");
    }
    record.SetText("main", ERROR_TRACE, 0xC1, 0xBEEF, L"coded");
    EXPECT_EQ(Line(record, OF_SIGNATURE | OF_NOLF), "E00C1BEEF: coded");

    record.SetText("files#target-1", INFORMATION, 0, 0, L"msg");
    EXPECT_EQ(Line(record, OF_NOLF, "{pid}|{pname}|{date}|{target}|{other} ", false),
              "1234|probe|2024-03-05-14-07-09|target-1|{other} msg");
    EXPECT_EQ(Line(record, OF_NOLF, "{pid}-", true), "{pid}-msg");
    EXPECT_EQ(Line(record, OF_NOLF | OF_SIGNATURE, "[{pname}] ", false), "I00000000: [probe] msg");

    record.SetText("main", INFORMATION, 0, 0, L"\x1b[1;31mred\x1b[0m plain \x1b[5x");
    EXPECT_EQ(Line(record, OF_NOLF), "red plain \x1b[5x");
    EXPECT_EQ(Line(record, OF_NOLF | kKeepColourSequences), "\x1b[1;31mred\x1b[0m plain \x1b[5x");
    EXPECT_EQ(Line(record, OF_NOLF), "red plain \x1b[5x");  // the cached line follows the flags
}

TEST_F(TraceRecordTest, FormatsWithWideArgumentsGiveTheSameLineInUtf16) {
    const uint32_t all = OF_SIGNATURE | OF_DUMPLINE | OF_DUMPFUNCTION | OF_NATIVE_EOL;
    const char* format = "\x1b[1;31m%S\x1b[0m %s %d";
    // Wide arguments unit for unit, narrow bytes one unit each, around the same head and suffix.
    EXPECT_EQ(WideLine(record, all, "[p] ", format, L"\u0416\u0443\u043a", "\xC3\xA9", 7),
              L"W00000000: [p] \u0416\u0443\u043a \u00C3\u00A9 7 file: src/probe line: 42 Ns::Probe::Run()\r\n");
    EXPECT_EQ(WideLine(record, OF_NOLF | kKeepColourSequences, "", format, L"\U0001F600", "", 0),
              L"\x1b[1;31m\U0001F600\x1b[0m  0");
    const std::wstring longText(20000, L'w');
    EXPECT_EQ(WideLine(record, OF_DUMPLINE, "", "%ls", longText.c_str()),
              std::wstring(TraceRecord::kMaxTextLength, L'w') + L"\n");
    // Other records have their narrow line only.
    EXPECT_EQ(WideLine(record, all, "", "%s %hS %%S", "a", "b"), L"-");
    record.SetText("main", INFORMATION, 0, 0, L"\u0416");
    std::wstring untouched = L"-";
    EXPECT_FALSE(record.BuildWideLine(0, "", true, untouched));
    EXPECT_EQ(untouched, L"-");
}

TEST_F(TraceRecordTest, LongTextsAreCutAtTheWorkingBufferNeverInsideACharacter) {
    const std::string longText(20000, 'a');
    const std::string cut(TraceRecord::kMaxTextLength, 'a');
    ASSERT_EQ(cut.size(), 16383u);
    EXPECT_EQ(Format(record, INFORMATION, 0, OF_SIGNATURE | OF_DUMPLINE | OF_NATIVE_EOL, "%s", longText.c_str()),
              "I00000000: " + cut + "\r\n");
    // Shorter than the limit, longer than the room behind the head room.
    const std::string nearLimit(TraceRecord::kMaxTextLength - 10, 'b');
    EXPECT_EQ(Format(record, INFORMATION, 0, OF_SIGNATURE, "%s", nearLimit.c_str()), "I00000000: " + nearLimit + "\n");

    record.SetText("main", INFORMATION, 0, 0, L"caf\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(record.MessageText(0), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    // 5,461 three-byte characters fill 16,383 bytes; the next one must not be split.
    const std::wstring euros(5462, L'\u20ac');
    record.SetText("main", INFORMATION, 0, 0, euros.c_str());
    EXPECT_EQ(record.MessageText(0).size(), 5461u * 3);
    record.SetText("main", INFORMATION, 0, 0, nullptr);
    EXPECT_EQ(record.MessageText(0), "");
}

TEST_F(TraceRecordTest, ScopeTexts) {
    EXPECT_EQ(Format(record, DEBUG_TRACE, 7, OF_NOLF | OF_DUMPLINE | OF_DUMPFUNCTION, "user=%s", "bob"),
              ">> Ns::Probe::Run ID=7 user=bob file: src/probe line: 42");
    EXPECT_EQ(Format(record, DEBUG_TRACE, 8, OF_NOLF, nullptr), ">> Ns::Probe::Run ID=8 ");

    record.SetScopeLeave("main", 2, kLocation, 7, 100000 - 1500, false);
    EXPECT_EQ(record.MessageText(OF_DUMPLINE), "<< Ns::Probe::Run ID=7 took 1.500 seconds.");
    record.SetScopeLeave("main", 2, kLocation, 7, 100000 - 2, true);
    EXPECT_EQ(record.MessageText(0), "<< Ns::Probe::Run ID=7 exception!!! took 0.002 seconds.");
    record.SetScopeLeave("main", 2, kLocation, 18446744073709551615ull, 0, false);
    EXPECT_EQ(record.MessageText(0), "<< Ns::Probe::Run ID=18446744073709551615 ");
}

void ErrorHook(const char* channel, int16_t level, const Common::Error* error, char** text, bool shortForm,
               uint16_t* high, uint16_t* low) {
    const std::string rendered = std::string(shortForm ? "short " : "long ") + channel + " " + std::to_string(level) +
                                 " \x1b[1mcode\x1b[0m " + std::to_string(error->Code());
    *text = static_cast<char*>(Allocate(rendered.size() + 1));
    std::memcpy(*text, rendered.c_str(), rendered.size() + 1);
    *high = static_cast<uint16_t>(error->Code() >> 16);
    *low = static_cast<uint16_t>(error->Code());
}

TEST_F(TraceRecordTest, ErrorRecordsAreRenderedByTheHostsHookShortUnlessDumpError) {
    const Common::Error error = Common::Error::FromText({0, "f", "fn", 1}, 0xC10005, "boom");
    record.SetError("errors#x", ERROR_TRACE, error);
    EXPECT_EQ(Line(record, OF_SIGNATURE | OF_NOLF), "E00000000: ");
    SetErrorFormatter(ErrorHook);
    record.SetError("errors#x", ERROR_TRACE, error);
    EXPECT_EQ(Line(record, OF_SIGNATURE | OF_NOLF), "E00C10005: short errors 4 code 12648453");
    EXPECT_EQ(Line(record, OF_SIGNATURE | OF_NOLF | OF_DUMPERROR), "E00C10005: long errors 4 code 12648453");
    SetErrorFormatter(nullptr);
}

TEST_F(TraceRecordTest, ReceivedLinesStandAsSentWithTheSendersTimeAndThread) {
    const std::string sent = "W00000000: {pid} \x1b[1;31mred\x1b[0m";
    const auto received = [&](const char* stamp) {
        record.SetRendered("main", WARNING, 1, 2, sent.data(), sent.size());
        record.SetReceivedStamps(stamp, 99);
    };
    received("2023-01-02 03:04:05:006 ");
    // The receiver's prefix, signature and colour handling do not touch it; only the line end
    // is its own. The process id is the receiver's: none travels.
    EXPECT_EQ(Line(record, kDefaultOutputFlags | OF_PID, "[p] ", true),
              "2023-01-02T03:04:05:006+02:00 (1234) 99 " + sent + "\r\n");
    EXPECT_EQ(Line(record, OF_TIMESTAMP | OF_TID | OF_NOLF), "2023-01-02 03:04:05:006 99 " + sent);
    EXPECT_EQ(Line(record, OF_TIMESTAMP), "2023-01-02 03:04:05:006 " + sent + "\n");
    EXPECT_EQ(record.BuildLine(OF_NOLF, "{date}", false), sent) << "a prefix never applies";
    EXPECT_EQ(record.MessageText(0), sent);
    // A stamp in no known shape is shown as it came, with or without the zone.
    received("yesterday ");
    EXPECT_EQ(Line(record, OF_TIMESTAMP | OF_TZD | OF_NOLF), "yesterday " + sent);
    EXPECT_EQ(Line(record, OF_TIMESTAMP | OF_NOLF), "yesterday " + sent);
    received("2023-01-02 03:04:05:006");  // the blank is the line's own
    EXPECT_EQ(Line(record, OF_TIMESTAMP | OF_NOLF), "2023-01-02 03:04:05:006 " + sent);
    // A line at the limit still gets its line end.
    const std::string longest(TraceRecord::kMaxTextLength, 'x');
    record.SetRendered("main", INFORMATION, 0, 0, longest.data(), longest.size());
    EXPECT_EQ(Line(record, OF_NATIVE_EOL), longest + "\r\n");
}

TEST(LineFormat, ZoneSuffixesTimestampsUtf8AndColourSequences) {
    const std::pair<int32_t, const char*> zones[] = {{120, "+02:00"}, {0, "+00:00"},   {-210, "-03:30"},
                                                     {345, "+05:45"}, {-30, "-00:30"}, {840, "+14:00"}};
    for (const auto& [minutes, suffix] : zones) {
        EXPECT_EQ(FormatZoneSuffix(minutes), suffix) << minutes;
    }
    char out[48];
    Platform::LocalTime t{987, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(std::string(out, FormatTimestamp(out, t, "+01:00")), "0987-01-02T03:04:05:006+01:00 ");
    t.year = 12345;
    EXPECT_EQ(std::string(out, FormatTimestamp(out, t, nullptr)), "12345-01-02 03:04:05:006 ");
    Platform::LocalTime parsed;
    EXPECT_TRUE(ParseTimestamp("0987-01-02 03:04:05:006 ", parsed));
    EXPECT_EQ(std::string(out, FormatTimestamp(out, parsed, "+01:00")), "0987-01-02T03:04:05:006+01:00 ");
    for (const char* bad : {"0987-01-02T03:04:05:006", "0987-01-02 03:04:05:06 ", "0987-01-02 03:04:05:006  ",
                            "0987-01-02 03-04:05:006", "987-01-02 03:04:05:0066", ""}) {
        EXPECT_FALSE(ParseTimestamp(bad, parsed)) << bad;
    }
    // UTF-8 keeps lone surrogates and stops before a character that does not fit.
    EXPECT_EQ(std::string(out, EncodeUtf8(L"\xD800x", out, sizeof out)), "\xED\xA0\x80x");
    EXPECT_EQ(EncodeUtf8(L"ab\u20ac", out, 4), 2u);
    // Colour sequences need digits, semicolons and a final 'm'.
    const std::pair<std::string, std::string> colours[] = {
        {"\x1b[1;31mred\x1b[0m", "red"}, {"a\x1b[;;m", "a"}, {"\x1b[1;31", "\x1b[1;31"}, {"\x1b[1x", "\x1b[1x"},
        {"\x1b(0m", "\x1b(0m"},          {"\x1b", "\x1b"},   {"\x1b\x1b[32mg", "\x1bg"}};
    for (auto [text, stripped] : colours) {
        text.resize(StripColourSequences(&text[0], text.size()));
        EXPECT_EQ(text, stripped);
    }
}

}  // namespace
