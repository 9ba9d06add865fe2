#include "core/common/assert.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common/assert_logic.h"
#include "core/common/handles.h"
#include "core/common/utf.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using TestSupport::ProcessResult;

constexpr DWORD kAbortExitCode = 3;

ProcessResult RunChild(const std::vector<std::wstring>& args, const std::wstring& mode, const std::wstring& logFile) {
    TestSupport::ProcessOptions options;
    // An empty value removes the variable.
    options.environment = {{L"TOVALIN_SAFE_ASSERT", mode}, {L"TOVALIN_SAFE_ASSERT_LOGFILE", logFile}};
    return TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"assert_child.exe", args, options);
}

ProcessResult RunReport(const std::wstring& mode, const std::wstring& logFile) {
    return RunChild({L"report", L"x > 0", L"src/unit", L"12"}, mode, logFile);
}

constexpr char kReportLine[] = "Assertion failed: x > 0, file src/unit, line 12";

// Lines of text-mode output, without their CR LF.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// "0x" and upper-case hexadecimal digits, then the symbol and source line when known.
bool IsStackFrameLine(const std::string& line) {
    const size_t digits = line.find_first_not_of("0123456789ABCDEF", 2);
    return line.rfind("0x", 0) == 0 && digits != 2 && (digits == std::string::npos || line[digits] == ' ');
}

// Receives what processes of this session write to the debugger output, the way a debug-output
// viewer does, while no debugger is attached to them.
class DebugOutputCapture {
public:
    DebugOutputCapture() {
        mutex_.reset(::CreateMutexW(nullptr, FALSE, L"DBWinMutex"));
        bufferReady_.reset(::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY"));
        const bool otherReader = ::GetLastError() == ERROR_ALREADY_EXISTS;
        dataReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
        mapping_.reset(
            ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
        stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        view_.reset(static_cast<const char*>(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kBufferSize)));
        ready_ = !otherReader && mutex_ && bufferReady_ && dataReady_ && mapping_ && stop_ && view_ != nullptr;
        if (ready_) {
            thread_ = std::thread([this] { Receive(); });
        }
    }
    ~DebugOutputCapture() { Stop(); }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    bool ready() const { return ready_; }

    // Everything process `pid` wrote; call after it has ended.
    std::string TextOf(DWORD pid) {
        Stop();
        std::lock_guard<std::mutex> lock(lock_);
        std::string text;
        for (const auto& message : messages_) {
            if (message.first == pid) {
                text += message.second;
            }
        }
        return text;
    }

private:
    static constexpr DWORD kBufferSize = 4096;

    struct Unmap {
        void operator()(const char* view) const { ::UnmapViewOfFile(view); }
    };

    void Receive() {
        const HANDLE events[] = {dataReady_.get(), stop_.get()};
        for (;;) {
            // A message already signalled wins over the stop request: the writer has left it.
            if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                return;
            }
            DWORD pid = 0;
            std::memcpy(&pid, view_.get(), sizeof pid);
            const char* text = view_.get() + sizeof pid;
            {
                std::lock_guard<std::mutex> lock(lock_);
                messages_.emplace_back(pid, std::string(text, strnlen(text, kBufferSize - sizeof pid)));
            }
            ::SetEvent(bufferReady_.get());
        }
    }

    void Stop() {
        if (thread_.joinable()) {
            ::SetEvent(stop_.get());
            thread_.join();
        }
    }

    Common::UniqueHandle mutex_, bufferReady_, dataReady_, mapping_, stop_;
    std::unique_ptr<const char, Unmap> view_;
    bool ready_ = false;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::pair<DWORD, std::string>> messages_;
};

// --- destinations

TEST(AssertReporting, LogDestinations) {
    const std::string line = std::string(kReportLine) + "\r\n";
    TestSupport::TempDir dir;
    const struct {
        std::wstring mode;
        std::wstring logFile;
        std::string out;
        std::string err;
    } cases[] = {
        {L"log", L"stdout", line + "returned 1\r\n", ""},
        {L"log", L"stderr", "returned 1\r\n", line},
        {L"log", L"", "returned 1\r\n", line},
        {L"0x4", L"stdout", line + "returned 1\r\n", ""},
        {L"4", L"stdout", line + "returned 1\r\n", ""},
        // A destination that cannot be opened leaves standard error.
        {L"log", dir.path() + L"missing\\assert.log", "returned 1\r\n", line},
        // Without "log" the destination is neither read nor written.
        {L"debug", L"stdout", "returned 1\r\n", ""},
        {L"0x2", L"stdout", "returned 1\r\n", ""},
    };
    for (const auto& c : cases) {
        const ProcessResult result = RunReport(c.mode, c.logFile);
        const std::string label = Common::Utf16ToUtf8(c.mode + L" / " + c.logFile);
        EXPECT_EQ(result.exitCode, 0u) << label;
        EXPECT_EQ(result.out, c.out) << label;
        EXPECT_EQ(result.err, c.err) << label;
    }
}

TEST(AssertReporting, LogFileIsOpenedOnceAndAppendedTo) {
    TestSupport::TempDir dir;
    const std::wstring path = dir.path() + L"assert.log";
    TestSupport::WriteFileBytes(path, "earlier\n");
    const std::string twice =
        "Assertion failed: first, file tests/core/common/assert_child, line 1\r\n"
        "Assertion failed: second, file tests/core/common/assert_child, line 2\r\n";

    ProcessResult result = RunChild({L"twice"}, L"log", path);
    EXPECT_EQ(result.out, "returned 1\r\nreturned 1\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(TestSupport::ReadFileBytes(path), "earlier\n" + twice);

    result = RunChild({L"twice"}, L"log", path);
    EXPECT_EQ(TestSupport::ReadFileBytes(path), "earlier\n" + twice + twice);
}

TEST(AssertReporting, IgnoreAllReportsNothingAndReturnsZero) {
    for (const std::wstring mode : {L"bogus", L"0", L"log bogus", L"LOG", L"0xFFFFFFFF", L"ffffffff"}) {
        const ProcessResult result = RunReport(mode, L"stdout");
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.out, "returned 0\r\n") << Common::Utf16ToUtf8(mode);
        EXPECT_EQ(result.err, "") << Common::Utf16ToUtf8(mode);
    }
}

TEST(AssertReporting, NothingToDoReturnsOne) {
    const ProcessResult result = RunReport(L" ", L"stdout");
    EXPECT_EQ(result.out, "returned 1\r\n");
    EXPECT_EQ(result.err, "");
}

// --- abort and break

TEST(AssertReporting, AbortComesAfterTheReport) {
    const ProcessResult result = RunReport(L"log abort", L"stdout");
    EXPECT_EQ(result.exitCode, kAbortExitCode);
    EXPECT_EQ(result.out, std::string(kReportLine) + "\r\n");
}

TEST(AssertReporting, BreakWithoutADebuggerContinuesOrAborts) {
    ProcessResult result = RunReport(L"break", L"");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "returned 1\r\n");

    result = RunReport(L"break abort log", L"stdout");
    EXPECT_EQ(result.exitCode, kAbortExitCode);
    EXPECT_EQ(result.out, std::string(kReportLine) + "\r\n");

    result = RunReport(L"0x21", L"");
    EXPECT_EQ(result.exitCode, kAbortExitCode);
    EXPECT_EQ(result.out, "");
}

// --- stack trace

TEST(AssertReporting, StackTraceStartsAtTheCallerOfTheReport) {
    const ProcessResult result = RunChild({L"stack"}, L"log stack", L"stdout");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_GE(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0], "Assertion failed: stack != nullptr, file tests/core/common/assert_child, line 30");
    // The reporting frames are skipped: the first frame is the child's own function Report,
    // then the function that raised the assertion.
    EXPECT_NE(lines[1].find("AssertChild::Report "), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("AssertChild::ChildRaisesAssertion "), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("assert_child.cpp, line "), std::string::npos) << lines[2];
    EXPECT_EQ(lines.back(), "returned 1");
    bool sawMain = false;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(IsStackFrameLine(lines[i])) << lines[i];
        sawMain |= lines[i].find(" main ") != std::string::npos;
    }
    EXPECT_TRUE(sawMain) << result.out;
}

TEST(AssertReporting, StackTraceNeedsAnOutput) {
    const ProcessResult result = RunChild({L"stack"}, L"stack abort", L"stdout");
    EXPECT_EQ(result.exitCode, kAbortExitCode);
    EXPECT_EQ(result.out, "");
}

// --- the 540-byte limit

TEST(AssertReporting, TooLongReportLineSkipsTheTextButNotTheStackOrTheDecision) {
    ProcessResult result = RunChild({L"long"}, L"log", L"stdout");
    EXPECT_EQ(result.out, "returned 1\r\n");

    result = RunChild({L"long"}, L"log stack", L"stdout");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(IsStackFrameLine(lines[0])) << lines[0];
    EXPECT_EQ(lines.back(), "returned 1");
    EXPECT_EQ(result.out.find("Assertion failed"), std::string::npos);

    result = RunChild({L"long"}, L"log abort", L"stdout");
    EXPECT_EQ(result.exitCode, kAbortExitCode);
}

// --- debugger output

class AssertDebugOutput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(capture_.ready()) << "another debug-output reader is running"; }

    DebugOutputCapture capture_;
};

TEST_F(AssertDebugOutput, DebugWritesTheReportLineWithALineFeed) {
    const ProcessResult result = RunReport(L"debug", L"stdout");
    EXPECT_EQ(result.out, "returned 1\r\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(capture_.TextOf(result.processId), std::string(kReportLine) + "\n");
}

TEST_F(AssertDebugOutput, StackLinesFollowTheReportLine) {
    const ProcessResult result = RunChild({L"stack"}, L"debug stack", L"");
    EXPECT_EQ(result.out, "returned 1\r\n");
    const std::string text = capture_.TextOf(result.processId);
    const std::string first = "Assertion failed: stack != nullptr, file tests/core/common/assert_child, line 30\n";
    ASSERT_EQ(text.compare(0, first.size(), first), 0) << text;
    EXPECT_NE(text.find("\n0x", first.size() - 1), std::string::npos) << text;
    EXPECT_NE(text.find("AssertChild::ChildRaisesAssertion"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(AssertDebugOutput, TooLongReportLineIsNotWritten) {
    const ProcessResult result = RunChild({L"long"}, L"debug", L"");
    EXPECT_EQ(result.out, "returned 1\r\n");
    EXPECT_EQ(capture_.TextOf(result.processId), "");
}

TEST_F(AssertDebugOutput, UnsetGoesToDebuggerAndStandardErrorWithAStackTraceAndContinues) {
    const ProcessResult result = RunReport(L"", L"");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.out, "returned 1\r\n");
    const std::vector<std::string> lines = Lines(result.err);
    ASSERT_GE(lines.size(), 2u) << result.err;
    EXPECT_EQ(lines[0], kReportLine);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(IsStackFrameLine(lines[i])) << lines[i];
    }
    // The debugger gets the same lines, each ended by a line feed alone.
    std::string debugText;
    for (const std::string& line : lines) {
        debugText += line.substr(0, Common::kAssertTextLimit - 1) + "\n";
    }
    EXPECT_EQ(capture_.TextOf(result.processId), debugText);
}

// --- the trace hook, in this process

struct HookCall {
    int32_t level;
    uint16_t codeHigh;
    uint16_t codeLow;
    std::string text;
};

std::mutex g_hookLock;
std::vector<HookCall> g_hookCalls;

void RecordHookCall(int32_t level, uint16_t codeHigh, uint16_t codeLow, const char* text) {
    std::lock_guard<std::mutex> lock(g_hookLock);
    g_hookCalls.push_back({level, codeHigh, codeLow, text});
}

class AssertTraceHook : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("TOVALIN_SAFE_ASSERT") != nullptr) {
            GTEST_SKIP() << "needs the default assertion mode";
        }
        g_hookCalls.clear();
        previous_ = Common::SetAssertionTraceHook(&RecordHookCall);
    }
    void TearDown() override { Common::SetAssertionTraceHook(previous_); }

    Common::AssertionTraceHook previous_ = nullptr;
};

volatile int g_lastResult = -1;

// Stores the result after the call, so that the call cannot become a jump without a frame.
__attribute__((noinline)) int HookTestRaisesAssertion() {
    g_lastResult = Common::ReportAssertion("hooked", "tests/core/common/assert_test", 77);
    return g_lastResult;
}

TEST_F(AssertTraceHook, IsInstalledFromStaticInitialisation) {
    EXPECT_NE(previous_, nullptr);
}

TEST_F(AssertTraceHook, ReceivesTheReportLineAndTheJoinedStackTrace) {
    EXPECT_EQ(HookTestRaisesAssertion(), 1);
    std::lock_guard<std::mutex> lock(g_hookLock);
    ASSERT_EQ(g_hookCalls.size(), 2u);
    for (const HookCall& call : g_hookCalls) {
        EXPECT_EQ(call.level, 5);
        EXPECT_EQ(call.codeHigh, 0);
        EXPECT_EQ(call.codeLow, 27);
    }
    EXPECT_EQ(g_hookCalls[0].text, "Assertion failed: hooked, file tests/core/common/assert_test, line 77");
    const std::string& stack = g_hookCalls[1].text;
    EXPECT_EQ(stack.rfind("0x", 0), 0u) << stack;
    EXPECT_NE(stack.find("HookTestRaisesAssertion"), std::string::npos) << stack;
    EXPECT_EQ(stack.find('\r'), std::string::npos);
    EXPECT_NE(stack.find("\n0x"), std::string::npos);
    EXPECT_NE(stack.back(), '\n');
}

}  // namespace
