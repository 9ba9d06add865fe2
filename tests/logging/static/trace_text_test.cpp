// Text forms of levels and output flags.

#include <gtest/gtest.h>

#include <string>

#include "logging/trace_flags.h"
#include "logging/trace_levels.h"

namespace {

using namespace Logging;

TEST(TraceLevelText, DisplayNamesAndSignatureLetters) {
    struct Case {
        int32_t level;
        const char* name;
        char letter;
    };
    const Case cases[] = {
        {1, "DEBUG_TRACE", 'D'},
        {2, "INFORMATION", 'I'},
        {3, "WARNING", 'W'},
        {4, "ERROR_TRACE", 'E'},
        {5, "CRITICAL_ERROR", 'C'},
        {6, "BLOCKED", ' '},
        {0, "", ' '},
        {7, "", ' '},
        {-1, "", ' '},
        {INT32_MIN, "", ' '},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_STREQ(TraceLevelName(c.level), c.name);
        EXPECT_EQ(TraceLevelSignature(c.level), c.letter);
    }
}

TEST(TraceLevelText, ParsesEveryAcceptedNameInAnyCase) {
    struct Case {
        const char* text;
        int32_t level;
    };
    const Case cases[] = {
        {"debug_trace", 1},    {"debug", 1},    {"DEBUG", 1},          {"information", 2}, {"info", 2},    {"Info", 2},
        {"warning", 3},        {"warn", 3},     {"WARN", 3},           {"error_trace", 4}, {"error", 4},   {"ErRoR", 4},
        {"critical_error", 5}, {"critical", 5}, {"CRITICAL_ERROR", 5}, {"blocked", 6},     {"BLOCKED", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseTraceLevel(c.text), std::optional<int32_t>(c.level));
    }
}

TEST(TraceLevelText, RejectsOtherWordsNumbersAndPartialNames) {
    const char* const cases[] = {"",     "2",     "information ", " warn", "warnings",     "err",
                                 "crit", "block", "debug-trace",  "fatal", "INFORMATIONAL"};
    for (const char* text : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_FALSE(ParseTraceLevel(text).has_value());
    }
}

TEST(TraceFlagText, ParsesEveryFlagByBothNames) {
    struct Case {
        const char* text;
        uint32_t flag;
    };
    const Case cases[] = {
        {"of_eol", OF_NATIVE_EOL},
        {"eol", OF_NATIVE_EOL},
        {"of_debug", OF_DEBUG},
        {"debug", OF_DEBUG},
        {"of_timestamp", OF_TIMESTAMP},
        {"timestamp", OF_TIMESTAMP},
        {"TimeStamp", OF_TIMESTAMP},
        {"OF_TIMESTAMP", OF_TIMESTAMP},
        {"of_tid", OF_TID},
        {"tid", OF_TID},
        {"of_signature", OF_SIGNATURE},
        {"signature", OF_SIGNATURE},
        {"sign", OF_SIGNATURE},
        {"SIGN", OF_SIGNATURE},
        {"of_dumperror", OF_DUMPERROR},
        {"dumperror", OF_DUMPERROR},
        {"of_nolf", OF_NOLF},
        {"nolf", OF_NOLF},
        {"of_dumpline", OF_DUMPLINE},
        {"dumpline", OF_DUMPLINE},
        {"of_dumpfunction", OF_DUMPFUNCTION},
        {"dumpfunction", OF_DUMPFUNCTION},
        {"of_highlight", OF_HIGHLIGHT},
        {"highlight", OF_HIGHLIGHT},
        {"of_pid", OF_PID},
        {"pid", OF_PID},
        {"of_pname", OF_PNAME},
        {"pname", OF_PNAME},
        {"of_tzd", OF_TZD},
        {"tzd", OF_TZD},
        {"of_nostderr", OF_NOSTDERR},
        {"NoStdErr", OF_NOSTDERR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseTraceFlag(c.text), std::optional<uint32_t>(c.flag));
    }
}

TEST(TraceFlagText, NumbersKeepOnlyTheConfigurableBits) {
    struct Case {
        const char* text;
        uint32_t bits;
    };
    const Case cases[] = {
        {"0x7", 0x4},              // bits 0x1 and 0x2 belong to the back-end
        {"16", OF_TIMESTAMP},      //
        {"0x1000f4", 0x1000f4},    //
        {"0xFFFFFFFF", 0x303ffc},  //
        {"0xC000", 0},             // 0x4000 and 0x8000 are back-end bits: a valid word with no bits
        {"800h", OF_HIGHLIGHT},    //
        {"0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseTraceFlag(c.text), std::optional<uint32_t>(c.bits));
    }
}

TEST(TraceFlagText, RejectsUnknownWordsAndLeavesTheWordAlone) {
    const char* const cases[] = {"",        "stamp",       "of_native_eol", "native_eol", "of_",
                                 "of_sign", "time stamp",  " tid",          "tid ",       "0x",
                                 "-1",      "0x100000000", "tid|pid",       "signatures"};
    for (const char* text : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_FALSE(ParseTraceFlag(text).has_value());
        uint32_t flags = 0x1234;
        EXPECT_FALSE(AddTraceFlag(text, flags));
        EXPECT_EQ(flags, 0x1234u);
    }
}

TEST(TraceFlagText, AddTraceFlagOrsWordsIntoOneFlagWord) {
    uint32_t flags = 0;
    for (const char* word : {"timestamp", "TID", "0x41", "sign", "tzd"}) {
        ASSERT_TRUE(AddTraceFlag(word, flags)) << word;
    }
    EXPECT_EQ(flags, OF_TIMESTAMP | OF_TID | OF_SIGNATURE | OF_TZD);
    // A flag already set stays set.
    ASSERT_TRUE(AddTraceFlag("tid", flags));
    EXPECT_EQ(flags, OF_TIMESTAMP | OF_TID | OF_SIGNATURE | OF_TZD);
}

TEST(TraceFlagText, PrintsNamesInTheFixedOrder) {
    EXPECT_EQ(TraceFlagsToString(0), "<none>");
    // Back-end bits alone have no names.
    EXPECT_EQ(TraceFlagsToString(0x1 | 0x2 | 0x4000 | 0x8000 | 0x80000000u), "<none>");
    EXPECT_EQ(TraceFlagsToString(OF_PID), "OF_PID");
    EXPECT_EQ(TraceFlagsToString(kDefaultOutputFlags),
              "OF_TIMESTAMP | OF_TZD | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_NATIVE_EOL");
    EXPECT_EQ(TraceFlagsToString(0xFFFFFFFF),
              "OF_TIMESTAMP | OF_TZD | OF_PNAME | OF_PID | OF_TID | OF_SIGNATURE | OF_DUMPERROR | OF_DUMPLINE | "
              "OF_DUMPFUNCTION | OF_NOLF | OF_HIGHLIGHT | OF_DEBUG | OF_NOSTDERR | OF_NATIVE_EOL");
}

TEST(TraceFlagText, PrintedNamesParseBackToTheSameWord) {
    // OF_NATIVE_EOL is the one flag printed under a name the parser does not take ("of_eol" is).
    EXPECT_FALSE(ParseTraceFlag("OF_NATIVE_EOL").has_value());
    const uint32_t words[] = {kDefaultOutputFlags & ~OF_NATIVE_EOL, 0x1008f0, 0x1030f0,
                              kConfigurableFlagsMask & ~OF_NATIVE_EOL, OF_NOLF | OF_DEBUG};
    for (uint32_t word : words) {
        SCOPED_TRACE(word);
        std::string text = TraceFlagsToString(word);
        uint32_t parsed = 0;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(" | ", start);
            std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            EXPECT_TRUE(AddTraceFlag(name, parsed)) << name;
            if (end == std::string::npos) {
                break;
            }
            start = end + 3;
        }
        EXPECT_EQ(parsed, word);
    }
}

}  // namespace
