#include "core/common/assert_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Common::AssertLogTarget;
using Common::kAssertIgnoreAll;

struct ModeCase {
    const char* value;
    uint32_t mode;
    bool readLogDestination;
};

class AssertModeParsing : public ::testing::TestWithParam<ModeCase> {};

TEST_P(AssertModeParsing, GivesModeAndWhetherToReadTheDestination) {
    const ModeCase& c = GetParam();
    const Common::AssertModeSetting setting = Common::ParseAssertMode(c.value);
    EXPECT_EQ(setting.mode, c.mode) << (c.value != nullptr ? c.value : "(unset)");
    EXPECT_EQ(setting.readLogDestination, c.readLogDestination) << (c.value != nullptr ? c.value : "(unset)");
}

INSTANTIATE_TEST_SUITE_P(
    UnsetAndNumbers, AssertModeParsing,
    ::testing::Values(ModeCase{nullptr, 0x4E, false}, ModeCase{"", 0x4E, false}, ModeCase{"0x12", 0x12, false},
                      ModeCase{"0X12", 0x12, false}, ModeCase{"12", 0x12, false}, ModeCase{"4", 0x04, true},
                      ModeCase{"0x4", 0x04, true}, ModeCase{"ff", 0xFF, true}, ModeCase{"0x7fFf", 0x7FFF, true},
                      ModeCase{"0xFFFFFFFF", kAssertIgnoreAll, true}, ModeCase{"00000001", 0x01, false}));

// Values that are not a non-zero number are word lists; "0" is no word of the table.
INSTANTIATE_TEST_SUITE_P(
    NotANumber, AssertModeParsing,
    ::testing::Values(ModeCase{"0", kAssertIgnoreAll, false}, ModeCase{"00", kAssertIgnoreAll, false},
                      ModeCase{"0x0", kAssertIgnoreAll, false}, ModeCase{"0x", kAssertIgnoreAll, false},
                      ModeCase{"0x1g", kAssertIgnoreAll, false}, ModeCase{"123456789", kAssertIgnoreAll, false},
                      // "0x" anywhere drops the first two characters, whatever they are
                      ModeCase{"a0x1", kAssertIgnoreAll, false}, ModeCase{"10x", kAssertIgnoreAll, false},
                      ModeCase{" 12", kAssertIgnoreAll, false}, ModeCase{"-1", kAssertIgnoreAll, false}));

INSTANTIATE_TEST_SUITE_P(Words, AssertModeParsing,
                         ::testing::Values(ModeCase{"break", 0x01, false}, ModeCase{"debug", 0x02, false},
                                           ModeCase{"log", 0x04, true}, ModeCase{"event", 0x08, false},
                                           ModeCase{"msgbox", 0x10, false}, ModeCase{"abort", 0x20, false},
                                           ModeCase{"stack", 0x40, false}, ModeCase{"log abort", 0x24, true},
                                           ModeCase{"debug log event stack", 0x4E, true},
                                           ModeCase{"  debug   stack ", 0x42, false}, ModeCase{"log log", 0x04, true},
                                           ModeCase{" ", 0, false}));

INSTANTIATE_TEST_SUITE_P(
    UnknownWordIgnoresEverything, AssertModeParsing,
    ::testing::Values(ModeCase{"bogus", kAssertIgnoreAll, false}, ModeCase{"log bogus", kAssertIgnoreAll, false},
                      ModeCase{"bogus log", kAssertIgnoreAll, false}, ModeCase{"LOG", kAssertIgnoreAll, false},
                      ModeCase{"log,abort", kAssertIgnoreAll, false}, ModeCase{"log\tabort", kAssertIgnoreAll, false},
                      ModeCase{"logs", kAssertIgnoreAll, false}));

TEST(AssertModeParsing, ReadsOnlyTheFirst127CharactersOfAWordList) {
    const std::string beyond = "log" + std::string(124, ' ') + "bogus";  // "bogus" starts at 127
    EXPECT_EQ(Common::ParseAssertMode(beyond.c_str()).mode, 0x04u);
    const std::string cut = "log" + std::string(121, ' ') + "debug";  // only "deb" is read
    EXPECT_EQ(Common::ParseAssertMode(cut.c_str()).mode, kAssertIgnoreAll);
}

TEST(AssertLogDestination, NamesStreamsExactlyAndAnythingElseIsAPath) {
    EXPECT_EQ(Common::ClassifyAssertLogDestination(nullptr), AssertLogTarget::kUnchanged);
    EXPECT_EQ(Common::ClassifyAssertLogDestination("stdout"), AssertLogTarget::kStandardOutput);
    EXPECT_EQ(Common::ClassifyAssertLogDestination("stderr"), AssertLogTarget::kStandardError);
    for (const char* path : {"STDOUT", "stdout ", "stderr.log", "", "C:\\logs\\assert.log"}) {
        EXPECT_EQ(Common::ClassifyAssertLogDestination(path), AssertLogTarget::kFile) << path;
    }
}

TEST(AssertReportLine, FormatsExpressionFileAndLine) {
    char buffer[Common::kAssertTextLimit];
    ASSERT_TRUE(Common::FormatAssertReportLine(buffer, "p != nullptr", "core/file/dir", -7));
    EXPECT_STREQ(buffer, "Assertion failed: p != nullptr, file core/file/dir, line -7");
    ASSERT_TRUE(Common::FormatAssertReportLine(buffer, nullptr, "f", 1));
    EXPECT_STREQ(buffer, "Assertion failed: (null), file f, line 1");
}

TEST(AssertReportLine, FitsAtMost539CharactersAndATerminator) {
    // 34 characters around the expression with file "f" and line 1.
    char buffer[Common::kAssertTextLimit];
    const std::string fits(505, 'x');
    ASSERT_TRUE(Common::FormatAssertReportLine(buffer, fits.c_str(), "f", 1));
    EXPECT_EQ(std::string(buffer).size(), 539u);
    const std::string tooLong(506, 'x');
    EXPECT_FALSE(Common::FormatAssertReportLine(buffer, tooLong.c_str(), "f", 1));
    EXPECT_STREQ(buffer, "");
}

TEST(AssertBoxText, FormatsProgramFileLineAndExpression) {
    char buffer[Common::kAssertTextLimit];
    ASSERT_TRUE(Common::FormatAssertBoxText(buffer, "C:\\bin\\hostprobe.exe", "core/common/error", 314, "x == 1"));
    EXPECT_STREQ(buffer,
                 "Assertion failed!\n\nProgram: C:\\bin\\hostprobe.exe\nFile: core/common/error\nLine: 314\n\n"
                 "Expression: x == 1\n\n(Press Retry to debug the application)");
}

TEST(AssertBoxText, LongStringsShowTheirLast60Characters) {
    const std::string head(40, 'h');
    const std::string tail60 = std::string(59, 't') + "!";
    const std::string program = "P" + head + tail60;
    const std::string file = "F" + head + tail60;
    const std::string expression = "E" + head + tail60;
    char buffer[Common::kAssertTextLimit];
    ASSERT_TRUE(Common::FormatAssertBoxText(buffer, program.c_str(), file.c_str(), 1, expression.c_str()));
    const std::string text = buffer;
    EXPECT_EQ(text, "Assertion failed!\n\nProgram: " + tail60 + "\nFile: " + tail60 +
                        "\nLine: 1\n\nExpression: " + tail60 + "\n\n(Press Retry to debug the application)");

    // Exactly 60 characters are kept whole.
    ASSERT_TRUE(Common::FormatAssertBoxText(buffer, tail60.c_str(), "f", 2, "e"));
    EXPECT_NE(std::string(buffer).find("Program: " + tail60 + "\n"), std::string::npos);
}

TEST(AssertBoxText, CuttingKeepsEveryBoxWithinItsBuffer) {
    const std::string huge(5000, 'z');
    char buffer[Common::kAssertTextLimit];
    EXPECT_TRUE(Common::FormatAssertBoxText(buffer, huge.c_str(), huge.c_str(), -2147483647 - 1, huge.c_str()));
    EXPECT_TRUE(Common::FormatAssertBoxText(buffer, nullptr, nullptr, 0, nullptr));
}

TEST(AssertStackFrameLine, FormatsAddressSymbolAndSourceLine) {
    const struct {
        uint64_t address;
        const char* symbol;
        const char* file;
        int line;
        const char* expected;
    } cases[] = {
        {0x1234, "Fn", nullptr, 0, "0x1234 Fn"},
        {0x140001A2B, "Ns::Fn", "C:\\src\\a.cpp", 12, "0x140001A2B Ns::Fn C:\\src\\a.cpp, line 12"},
        {0x100000000, "Low", nullptr, 0, "0x100000000 Low"},
        {0x7FF612345678, nullptr, nullptr, 0, "0x7FF612345678"},
        {0xFFFFFFFFFFFFFFFF, nullptr, "b.cpp", 3, "0xFFFFFFFFFFFFFFFF b.cpp, line 3"},
        {0, "Zero", nullptr, 0, "0x0 Zero"},
    };
    for (const auto& c : cases) {
        char buffer[256];
        Common::FormatStackFrameLine(buffer, sizeof buffer, c.address, c.symbol, c.file, c.line);
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST(AssertStackFrameLine, CutsToTheBuffer) {
    char buffer[12];
    Common::FormatStackFrameLine(buffer, sizeof buffer, 0x140001A2B, "LongSymbolName", "file.cpp", 9);
    EXPECT_STREQ(buffer, "0x140001A2B");
    char small[16];
    Common::FormatStackFrameLine(small, sizeof small, 0x1234, "LongSymbolName", "file.cpp", 9);
    EXPECT_STREQ(small, "0x1234 LongSymb");
}

}  // namespace
