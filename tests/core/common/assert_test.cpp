#include "core/common/assert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "core/common/assert_logic.h"
#include "core/common/utf.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

TEST(AssertLogic, ModeSettingAndTexts) {
    // Values that are not a non-zero number are word lists; "0" is no word of the table, and "0x"
    // anywhere drops the first two characters, whatever they are.
    const uint32_t kAll = Common::kAssertIgnoreAll;
    const struct {
        uint32_t mode;
        bool readLogDestination;
        std::vector<const char*> values;
    } cases[] = {{0x4E, false, {nullptr, ""}},
                 {0x12, false, {"0x12", "0X12"}},
                 {0x04, true, {"4", "0x4", "log", "log log"}},
                 {0xFF, true, {"ff"}},
                 {kAll, true, {"0xFFFFFFFF"}},
                 {0x01, false, {"00000001"}},
                 {0x24, true, {"log abort"}},
                 {0x42, false, {"  debug   stack "}},
                 {0, false, {" "}},
                 {kAll, false, {"0", "0x0", "0x1g", "123456789", "a0x1", " 12", "-1"}},
                 {kAll, true, {"log bogus", "bogus log", "debug 0 log"}},
                 {kAll, false, {"LOG", "log,abort", "log\tabort", "logs"}}};
    for (const auto& c : cases) {
        for (const char* value : c.values) {
            const Common::AssertModeSetting setting = Common::ParseAssertMode(value);
            EXPECT_EQ(setting.mode, c.mode) << (value != nullptr ? value : "(unset)");
            EXPECT_EQ(setting.readLogDestination, c.readLogDestination) << (value != nullptr ? value : "(unset)");
        }
    }
    const char* words[] = {"break", "debug", "log", "event", "msgbox", "abort", "stack"};  // bits 0 to 6
    for (uint32_t bit = 0; bit < 7; ++bit) {
        EXPECT_EQ(Common::ParseAssertMode(words[bit]).mode, 1u << bit) << words[bit];
    }
    // Only the first 127 characters of a word list are read.
    EXPECT_EQ(Common::ParseAssertMode(("log" + std::string(124, ' ') + "bogus").c_str()).mode, 0x04u);
    EXPECT_EQ(Common::ParseAssertMode(("log" + std::string(121, ' ') + "debug").c_str()).mode, kAll);

    char buffer[Common::kAssertTextLimit];
    ASSERT_TRUE(Common::FormatAssertReportLine(buffer, nullptr, "core/file/dir", -7));
    EXPECT_STREQ(buffer, "Assertion failed: (null), file core/file/dir, line -7");
    // 34 characters around the expression: 505 make the longest line that fits in 540 bytes.
    ASSERT_TRUE(Common::FormatAssertReportLine(buffer, std::string(505, 'x').c_str(), "f", 1));
    EXPECT_EQ(std::string(buffer).size(), 539u);
    EXPECT_FALSE(Common::FormatAssertReportLine(buffer, std::string(506, 'x').c_str(), "f", 1));
    EXPECT_STREQ(buffer, "");
    // The box shows the last 60 characters of long strings.
    const std::string tail = std::string(59, 't') + "!", huge(5000, 'z');
    ASSERT_TRUE(Common::FormatAssertBoxText(buffer, ("P" + tail).c_str(), tail.c_str(), 314, ("E" + tail).c_str()));
    EXPECT_EQ(std::string(buffer), "Assertion failed!\n\nProgram: " + tail + "\nFile: " + tail + "\nLine: 314\n\n" +
                                       "Expression: " + tail + "\n\n(Press Retry to debug the application)");
    EXPECT_TRUE(Common::FormatAssertBoxText(buffer, huge.c_str(), huge.c_str(), INT32_MIN, huge.c_str()));
    Common::FormatStackFrameLine(buffer, 16, 0x1234, "LongSymbolName", "file.cpp", 9);  // cut to its buffer
    EXPECT_STREQ(buffer, "0x1234 LongSymb");
}

TestSupport::ProcessResult RunChild(const std::wstring& command, const std::wstring& mode,
                                    const std::wstring& logFile) {
    TestSupport::ProcessOptions options;
    options.environment = {{L"TOVALIN_SAFE_ASSERT", mode}, {L"TOVALIN_SAFE_ASSERT_LOGFILE", logFile}};
    return TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"runtime_child.exe", {command}, options);
}

const std::string kReport = "Assertion failed: x > 0, file src/unit, line 12\r\n", kReturned = "returned 1\r\n";
// The child's hook prints the outer report and asserts again: that one reaches the log only.
const std::string kOuter = "Assertion failed: outer, file src/unit, line 40\r\n",
                  kNested = "Assertion failed: nested, file src/unit, line 41\r\n" + kReturned;
// A stack-trace line: "0x" and upper-case hexadecimal digits, then the symbol and source line when known.
const std::string kFrame = "0x[0-9A-F]+( [^\r\n]*)?", kFrames = "(" + kFrame + "\r\n)*";

TEST(AssertReporting, DestinationsDecisionsAndAbort) {
    TestSupport::TempDir dir;
    const struct {
        const wchar_t *command, *mode;
        std::wstring logFile;
        unsigned exitCode;
        std::string out, err;
    } cases[] = {
        {L"report", L"log", L"stdout", 0, kReport + kReturned, ""},
        {L"report", L"4", L"stderr", 0, kReturned, kReport},
        {L"report", L"log", L"", 0, kReturned, kReport},
        {L"report", L"log", dir.path() + L"missing\\assert.log", 0, kReturned, kReport},
        {L"report", L"debug", L"stdout", 0, kReturned, ""},  // without "log" nothing is logged
        {L"report", L"log bogus", L"stdout", 0, "returned 0\r\n", ""},
        {L"report", L"break", L"", 0, kReturned, ""},  // no debugger: goes on
        {L"report", L"log abort", L"stdout", 3, kReport, ""},
        {L"report", L"0x21", L"", 3, "", ""},
        {L"stack", L"stack abort", L"stdout", 3, "", ""},  // a stack trace needs an output
        {L"long", L"log", L"stdout", 0, kReturned, ""},
        {L"long", L"log abort", L"stdout", 3, "", ""},
        {L"nested", L"log event", L"stdout", 0, kOuter + "hook: " + kOuter + kNested + kReturned, ""},
        {L"nested", L"event abort", L"", 3, "hook: " + kOuter + "returned 1\r\n", ""},
    };
    for (const auto& c : cases) {
        const auto r = RunChild(c.command, c.mode, c.logFile);
        const std::string label = Common::Utf16ToUtf8(std::wstring(c.command) + L" " + c.mode + L" " + c.logFile);
        EXPECT_EQ(r.exitCode, c.exitCode) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
    }
    // A log file is opened once and appended to.
    const std::wstring path = dir.path() + L"assert.log";
    TestSupport::WriteFileBytes(path, "earlier\n");
    const std::string twice =
        "Assertion failed: first, file src/unit, line 1\r\nAssertion failed: second, file src/unit, line 2\r\n";
    EXPECT_EQ(RunChild(L"twice", L"log", path).out, kReturned + kReturned);
    RunChild(L"twice", L"log", path);
    EXPECT_EQ(TestSupport::ReadFileBytes(path), "earlier\n" + twice + twice);
    // An unknown word ignores every assertion, but "log" still opens the destination.
    const std::wstring ignored = dir.path() + L"ignored.log";
    EXPECT_EQ(RunChild(L"report", L"bogus log", ignored).out, "returned 0\r\n");
    EXPECT_NE(::GetFileAttributesW(ignored.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(TestSupport::ReadFileBytes(ignored), "");
}

TEST(AssertReporting, StackTraceStartsAtTheCallerOfTheReport) {
    const std::string out = RunChild(L"stack", L"log stack", L"stdout").out;
    EXPECT_TRUE(std::regex_match(out, std::regex("Assertion failed: stack, file src/unit, line 30\r\n"
                                                 "0x[0-9A-F]+ AssertChild::Report .*\r\n"
                                                 "0x[0-9A-F]+ AssertChild::ChildRaisesAssertion .*"
                                                 "runtime_child\\.cpp, line [0-9]+\r\n" +
                                                 kFrames + "0x[0-9A-F]+ main .*\r\n" + kFrames + kReturned)))
        << out;
    // An assertion raised by the trace hook adds no stack trace of its own.
    const std::string nested = RunChild(L"nested", L"log event stack", L"stdout").out;
    EXPECT_TRUE(std::regex_match(nested, std::regex(kOuter + "hook: " + kOuter + kNested + kFrames + "hook: (" +
                                                    kFrame + "\r\n)*" + kFrame + "\r\n" + kNested + kReturned)))
        << nested;
    // Too long a report line leaves out the line but not the stack trace.
    const std::string longOut = RunChild(L"long", L"log stack", L"stdout").out;
    EXPECT_TRUE(std::regex_match(longOut, std::regex(kFrame + "\r\n" + kFrames + kReturned))) << longOut;
    // Unset: standard error (and the debugger) get the line and a stack trace, and the program goes on.
    const auto unset = RunChild(L"report", L"", L"");
    EXPECT_EQ(unset.out, kReturned);
    EXPECT_TRUE(std::regex_match(unset.err, std::regex(kReport + kFrame + "\r\n" + kFrames))) << unset.err;
}

std::vector<std::string> g_hookCalls;  // "<level> <code high> <code low>: <text>"

// Keeps the result after the call, so that the call cannot become a jump without a frame.
volatile int g_lastResult = -1;
__attribute__((noinline)) void HookTestRaisesAssertion() {
    g_lastResult = Common::ReportAssertion("hooked", "tests/unit", 77);
}

TEST(AssertReporting, TraceHookGetsTheLineAndTheJoinedStackTrace) {
    if (std::getenv("TOVALIN_SAFE_ASSERT") != nullptr) {
        GTEST_SKIP() << "needs the default assertion mode";
    }
    const auto previous =
        Common::SetAssertionTraceHook([](int32_t level, uint16_t high, uint16_t low, const char* text) {
            g_hookCalls.push_back(std::to_string(level) + " " + std::to_string(high) + " " + std::to_string(low) +
                                  ": " + text);
        });
    EXPECT_NE(previous, nullptr);  // installed from static initialisation
    HookTestRaisesAssertion();
    Common::SetAssertionTraceHook(previous);
    EXPECT_EQ(g_lastResult, 1);
    ASSERT_EQ(g_hookCalls.size(), 2u);
    EXPECT_EQ(g_hookCalls[0], "5 0 27: Assertion failed: hooked, file tests/unit, line 77");
    // The stack trace comes as one text, its lines joined by line feeds.
    EXPECT_TRUE(std::regex_match(g_hookCalls[1], std::regex("5 0 27: (" + kFrame + "\n)*" + kFrame))) << g_hookCalls[1];
    EXPECT_NE(g_hookCalls[1].find(" HookTestRaisesAssertion"), std::string::npos) << g_hookCalls[1];
}

}  // namespace
