// The console back-end's bytes as a parent process sees them through redirected streams.

#include <gtest/gtest.h>

#include <regex>

#include "support/process.h"

namespace {

TestSupport::ProcessResult RunChild(const std::vector<std::wstring>& args) {
    return TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"logging_console_child.exe", args);
}

TEST(ConsoleBackend, LevelsBelowWarningGoToStandardOutputTheOthersToStandardError) {
    auto r = RunChild(
        {L"44", L"print:before", L"2:hello", L"1:debug", L"3:warn", L"4:err", L"5:crit", L"6:blocked", L"print:after"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "before\r\nI00000000: hello\r\nD00000000: debug\r\nafter\r\n");
    EXPECT_EQ(r.err, "W00000000: warn\r\nE00000000: err\r\nC00000000: crit\r\n 00000000: blocked\r\n");
    r = RunChild({L"200044", L"3:warn", L"2:info", L"4:err"});  // OF_NOSTDERR
    EXPECT_EQ(r.out, "W00000000: warn\r\nI00000000: info\r\nE00000000: err\r\n");
    EXPECT_EQ(r.err, "");
}

TEST(ConsoleBackend, LinesReachTheStreamExactlyAsBuilt) {
    EXPECT_EQ(RunChild({L"40", L"2:lf only", L"2:two\nlines"}).out, "I00000000: lf only\nI00000000: two\nlines\n");
    EXPECT_EQ(RunChild({L"140", L"2:no end", L"2:x"}).out, "I00000000: no endI00000000: x");
    // A redirected stream gets no colours of its own but keeps the text's sequences.
    const auto r = RunChild({L"844", L"2:{esc}[1;31mred{esc}[0m plain", L"3:warn"});
    EXPECT_EQ(r.out, "I00000000: \x1b[1;31mred\x1b[0m plain\r\n");
    EXPECT_EQ(r.err, "W00000000: warn\r\n");
    EXPECT_TRUE(std::regex_match(RunChild({L"1008f4", L"2:hello"}).out,
                                 std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d:\\d{3}[+-]\\d\\d:\\d\\d "
                                            "\\d+ I00000000: hello\r\n")));
}

}  // namespace
