// Text forms of numbers, levels and output flags.

#include <gtest/gtest.h>

#include <string>

#include "logging/static/number_reader.h"
#include "logging/trace_flags.h"
#include "logging/trace_levels.h"

namespace {

using namespace Logging;

TEST(TraceLevelText, NamesLettersAndParsing) {
    const char* const names[] = {
        "", "DEBUG_TRACE", "INFORMATION", "WARNING", "ERROR_TRACE", "CRITICAL_ERROR", "BLOCKED", ""};
    for (int32_t level = 0; level <= 7; ++level) {
        EXPECT_STREQ(TraceLevelName(level), names[level]) << level;
    }
    EXPECT_STREQ(TraceLevelName(INT32_MIN), "");
    // clang-format off
    const std::pair<const char*, int32_t> accepted[] = {
        {"debug_trace", 1}, {"debug", 1}, {"DEBUG", 1}, {"information", 2}, {"info", 2}, {"Info", 2}, {"warning", 3},
        {"warn", 3}, {"WARN", 3}, {"error_trace", 4}, {"error", 4}, {"ErRoR", 4}, {"critical_error", 5},
        {"critical", 5}, {"CRITICAL_ERROR", 5}, {"blocked", 6}, {"BLOCKED", 6}};
    // clang-format on
    for (const auto& [text, level] : accepted) {
        EXPECT_EQ(ParseTraceLevel(text), std::optional<int32_t>(level)) << text;
    }
    for (const char* text : {"", "2", "information ", " warn", "warnings", "err", "crit", "block", "debug-trace",
                             "fatal", "INFORMATIONAL"}) {
        EXPECT_FALSE(ParseTraceLevel(text).has_value()) << '"' << text << '"';
    }
}

TEST(TraceFlagText, ParsesNamesAndNumbersAndRejectsTheRest) {
    // clang-format off
    const std::pair<const char*, uint32_t> accepted[] = {
        {"of_eol", OF_NATIVE_EOL}, {"eol", OF_NATIVE_EOL}, {"of_debug", OF_DEBUG}, {"debug", OF_DEBUG},
        {"of_timestamp", OF_TIMESTAMP}, {"TimeStamp", OF_TIMESTAMP}, {"OF_TIMESTAMP", OF_TIMESTAMP},
        {"of_tid", OF_TID}, {"tid", OF_TID}, {"of_signature", OF_SIGNATURE}, {"signature", OF_SIGNATURE},
        {"sign", OF_SIGNATURE}, {"SIGN", OF_SIGNATURE}, {"of_dumperror", OF_DUMPERROR}, {"dumperror", OF_DUMPERROR},
        {"of_nolf", OF_NOLF}, {"nolf", OF_NOLF}, {"of_dumpline", OF_DUMPLINE}, {"dumpline", OF_DUMPLINE},
        {"of_dumpfunction", OF_DUMPFUNCTION}, {"dumpfunction", OF_DUMPFUNCTION}, {"of_highlight", OF_HIGHLIGHT},
        {"highlight", OF_HIGHLIGHT}, {"of_pid", OF_PID}, {"pid", OF_PID}, {"of_pname", OF_PNAME},
        {"pname", OF_PNAME}, {"of_tzd", OF_TZD}, {"tzd", OF_TZD}, {"of_nostderr", OF_NOSTDERR},
        {"NoStdErr", OF_NOSTDERR},
        // Numbers keep only the configurable bits: 0x1, 0x2, 0x4000 and 0x8000 belong to the back-end.
        {"0x7", 0x4}, {"16", OF_TIMESTAMP}, {"0xFFFFFFFF", 0x303ffc}, {"0xC000", 0}, {"800h", OF_HIGHLIGHT}, {"0", 0}};
    // clang-format on
    for (const auto& [text, flag] : accepted) {
        EXPECT_EQ(ParseTraceFlag(text), std::optional<uint32_t>(flag)) << text;
    }
    for (const char* text : {"", "stamp", "of_native_eol", "native_eol", "of_", "of_sign", "time stamp", " tid", "tid ",
                             "0x", "-1", "0x100000000", "tid|pid", "signatures"}) {
        EXPECT_FALSE(ParseTraceFlag(text).has_value()) << '"' << text << '"';
        uint32_t flags = 0x1234;
        EXPECT_FALSE(AddTraceFlag(text, flags));
        EXPECT_EQ(flags, 0x1234u);
    }
}

TEST(TraceFlagText, PrintsNamesInTheFixedOrderAndTheyParseBack) {
    EXPECT_EQ(TraceFlagsToString(0), "<none>");
    EXPECT_EQ(TraceFlagsToString(0x1 | 0x2 | 0x4000 | 0x8000 | 0x80000000u), "<none>");
    EXPECT_EQ(TraceFlagsToString(kDefaultOutputFlags),
              "OF_TIMESTAMP | OF_TZD | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_NATIVE_EOL");
    EXPECT_EQ(TraceFlagsToString(0xFFFFFFFF),
              "OF_TIMESTAMP | OF_TZD | OF_PNAME | OF_PID | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_DUMPLINE | "
              "OF_DUMPFUNCTION | OF_NOLF | OF_HIGHLIGHT | OF_DEBUG | OF_NOSTDERR | OF_NATIVE_EOL");
    // OF_NATIVE_EOL is the one flag printed under a name the parser does not take.
    const uint32_t all = kConfigurableFlagsMask & ~OF_NATIVE_EOL;
    std::string text = TraceFlagsToString(all);
    uint32_t parsed = 0;
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 3) {
        end = text.find(" | ", start);
        EXPECT_TRUE(AddTraceFlag(text.substr(start, end - start), parsed)) << text.substr(start, end - start);
    }
    EXPECT_EQ(parsed, all);
    EXPECT_TRUE(AddTraceFlag("0x45", parsed));  // ORs in, keeps what is set
    EXPECT_EQ(parsed, all | OF_NATIVE_EOL);
}

TEST(ReadNumber, TakesDecimalAndBothHexadecimalFormsAndNothingElse) {
    // clang-format off
    const std::pair<const char*, uint32_t> accepted[] = {
        {"0", 0}, {"00017", 17}, {"4294967295", 0xFFFFFFFF}, {"0x1f", 0x1F}, {"0X1F", 0x1F}, {"0xFFFFFFFF", 0xFFFFFFFF},
        {"0x00000000000000ff", 0xFF}, {"1fh", 0x1F}, {"1FH", 0x1F}, {"ffh", 0xFF}, {"FFFFFFFFh", 0xFFFFFFFF}};
    // clang-format on
    for (const auto& [text, value] : accepted) {
        EXPECT_EQ(Logging::ReadNumber(text), std::optional<uint32_t>(value)) << text;
    }
    // A view ends where it ends, not at a NUL or at the end of the text it points into.
    EXPECT_EQ(Logging::ReadNumber(std::string_view("1234junk", 4)), std::optional<uint32_t>(1234));
    // clang-format off
    const char* const rejected[] = {"", "0x", "0X", "h", "H", "0xh", "0x1fh", "4294967296", "99999999999999999999",
        "0x100000000", "100000000h", "12a", "0x1g", "ff", " 1", "1 ", "0x 1", "+1", "-1", "0x-1", "1.5", "1h1", "\t7",
        "x10"};
    // clang-format on
    for (const char* text : rejected) {
        EXPECT_FALSE(Logging::ReadNumber(text).has_value()) << '"' << text << '"';
    }
    EXPECT_FALSE(Logging::ReadNumber(static_cast<const char*>(nullptr)).has_value());
    EXPECT_FALSE(Logging::ReadNumber(std::string_view("12\0003", 4)).has_value());
}

}  // namespace
