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
        EXPECT_EQ(ParseTraceLevel(names[level]), level % 7 ? std::optional<int32_t>(level) : std::nullopt);
    }
    EXPECT_STREQ(TraceLevelName(INT32_MIN), "");
    // clang-format off
    const std::pair<const char*, int32_t> shortNames[] = {
        {"debug", 1}, {"Info", 2}, {"warn", 3}, {"ErRoR", 4}, {"critical", 5}, {"blocked", 6}, {"error_trace", 4}};
    // clang-format on
    for (const auto& [text, level] : shortNames) {
        EXPECT_EQ(ParseTraceLevel(text), std::optional<int32_t>(level)) << text;
    }
    for (const char* text :
         {"2", "information ", " warn", "warnings", "err", "crit", "block", "debug-trace", "fatal", "INFORMATIONAL"}) {
        EXPECT_FALSE(ParseTraceLevel(text).has_value()) << '"' << text << '"';
    }
}

TEST(TraceFlagText, NamesAndNumbersParsePrintedNamesKeepTheirOrder) {
    // Each name is taken with and without its "of_", in any case.
    // clang-format off
    const std::pair<const char*, uint32_t> names[] = {
        {"eol", OF_NATIVE_EOL}, {"debug", OF_DEBUG}, {"TimeStamp", OF_TIMESTAMP}, {"tid", OF_TID},
        {"signature", OF_SIGNATURE}, {"dumperror", OF_DUMPERROR}, {"nolf", OF_NOLF}, {"dumpline", OF_DUMPLINE},
        {"dumpfunction", OF_DUMPFUNCTION}, {"highlight", OF_HIGHLIGHT}, {"pid", OF_PID}, {"pname", OF_PNAME},
        {"tzd", OF_TZD}, {"NoStdErr", OF_NOSTDERR}};
    // Numbers keep only the configurable bits: 0x1, 0x2, 0x4000 and 0x8000 belong to the back-end.
    const std::pair<const char*, uint32_t> others[] = {{"sign", OF_SIGNATURE}, {"SIGN", OF_SIGNATURE}, {"0x7", 0x4},
        {"16", OF_TIMESTAMP}, {"0xFFFFFFFF", 0x303ffc}, {"0xC000", 0}, {"800h", OF_HIGHLIGHT}, {"0", 0}};
    // clang-format on
    for (const auto& [name, flag] : names) {
        EXPECT_EQ(ParseTraceFlag(name), std::optional<uint32_t>(flag)) << name;
        EXPECT_EQ(ParseTraceFlag(std::string("OF_") + name), std::optional<uint32_t>(flag)) << name;
    }
    for (const auto& [text, flag] : others) {
        EXPECT_EQ(ParseTraceFlag(text), std::optional<uint32_t>(flag)) << text;
    }
    for (const char* text : {"", "stamp", "of_native_eol", "native_eol", "of_", "of_sign", "time stamp", " tid", "tid ",
                             "0x", "-1", "0x100000000", "tid|pid", "signatures"}) {
        EXPECT_FALSE(ParseTraceFlag(text).has_value()) << '"' << text << '"';
        uint32_t flags = 0x1234;
        EXPECT_FALSE(AddTraceFlag(text, flags));
        EXPECT_EQ(flags, 0x1234u);
    }
    uint32_t flags = OF_TID;
    EXPECT_TRUE(AddTraceFlag("0x45", flags));  // ORs in, keeps what is set
    EXPECT_EQ(flags, OF_TID | 0x44);
    EXPECT_EQ(TraceFlagsToString(0x1 | 0x2 | 0x4000 | 0x8000 | 0x80000000u), "<none>");
    EXPECT_EQ(TraceFlagsToString(kDefaultOutputFlags),
              "OF_TIMESTAMP | OF_TZD | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_NATIVE_EOL");
    EXPECT_EQ(TraceFlagsToString(0xFFFFFFFF),
              "OF_TIMESTAMP | OF_TZD | OF_PNAME | OF_PID | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_DUMPLINE | "
              "OF_DUMPFUNCTION | OF_NOLF | OF_HIGHLIGHT | OF_DEBUG | OF_NOSTDERR | OF_NATIVE_EOL");
}

TEST(ReadNumber, TakesDecimalAndBothHexadecimalFormsAndNothingElse) {
    // clang-format off
    const std::pair<const char*, uint32_t> accepted[] = {{"00017", 17}, {"4294967295", 0xFFFFFFFF}, {"0x1f", 0x1F},
        {"0X1F", 0x1F}, {"ffh", 0xFF}, {"0x00000000000000ff", 0xFF}, {"FFFFFFFFh", 0xFFFFFFFF}, {"1FH", 0x1F}};
    const char* const rejected[] = {"", "0x", "h", "0xh", "0x1fh", "4294967296", "99999999999999999999", "0x100000000",
        "100000000h", "12a", "0x1g", "ff", " 1", "1 ", "0x 1", "+1", "-1", "0x-1", "1.5", "1h1"};
    // clang-format on
    for (const auto& [text, value] : accepted) {
        EXPECT_EQ(ReadNumber(text), std::optional<uint32_t>(value)) << text;
    }
    for (const char* text : rejected) {
        EXPECT_FALSE(ReadNumber(text).has_value()) << '"' << text << '"';
    }
    // A view ends where it ends, not at a NUL or at the end of the text it points into.
    EXPECT_EQ(ReadNumber(std::string_view("1234junk", 4)), std::optional<uint32_t>(1234));
    EXPECT_FALSE(ReadNumber(std::string_view("12\0003", 4)).has_value());
    EXPECT_FALSE(ReadNumber(static_cast<const char*>(nullptr)).has_value());
}

}  // namespace
