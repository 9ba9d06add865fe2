// logctl against a running logdemo: replies on standard output and the exit codes.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"
#include "tests/logging/log_file_helpers.h"

namespace {

// logdemo started in a folder of its own, stopped through its stop file there.
class RunningDemo {
public:
    explicit RunningDemo(const TestSupport::TempDir& dir,
                         const std::wstring& exe = TestSupport::ModuleDirectory() + L"logdemo.exe")
        : dir_(dir), child_(exe, {}, InFolder(dir)) {}

    DWORD Pid() const { return child_.Id(); }

    // Waits until the control pipe exists (the worker has started).
    bool WaitForPipe() const {
        const std::wstring pipe = L"\\\\.\\pipe\\logging-control-" + std::to_wstring(Pid());
        for (int attempt = 0; attempt < 600 && child_.Started(); ++attempt) {
            if (::WaitNamedPipeW(pipe.c_str(), 50)) {
                return true;
            }
            if (::WaitForSingleObject(child_.Handle(), 50) == WAIT_OBJECT_0) {
                return false;
            }
        }
        return false;
    }

    // Stops the demo; its streams and exit code (259 when it had to be ended).
    TestSupport::ProcessResult Stop() {
        TestSupport::WriteFileBytes(dir_.path() + L"logdemo.stop", "");
        return child_.Wait();
    }

private:
    static TestSupport::ProcessOptions InFolder(const TestSupport::TempDir& dir) {
        TestSupport::ProcessOptions options;
        options.workingDirectory = dir.path();
        options.timeoutMs = 30000;
        return options;
    }
    const TestSupport::TempDir& dir_;
    TestSupport::ChildProcess child_;
};

// "<exit code>|<stdout>|<stderr>" of logctl with these words.
std::string Logctl(const std::vector<std::wstring>& words) {
    const TestSupport::ProcessResult result =
        TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"logctl.exe", words);
    return std::to_string(result.exitCode) + "|" + result.out + "|" + result.err;
}

TEST(Logctl, PrintsTheReplyAndExitsWithZeroForDataOneForErrorsTwoWithoutAPipe) {
    TestSupport::TempDir dir;
    RunningDemo demo(dir);
    ASSERT_TRUE(demo.WaitForPipe());
    const std::wstring pid = std::to_wstring(demo.Pid());
    EXPECT_EQ(Logctl({pid, L"list"}), "0|name=demo,type=console,enabled=1,level=INFORMATION,default=1\r\n|");
    EXPECT_EQ(Logctl({pid, L"level", L"<default>", L"warn"}), "0|ok\r\n|");
    EXPECT_EQ(Logctl({pid, L"LIST"}), "0|name=demo,type=console,enabled=1,level=WARNING,default=1\r\n|");
    EXPECT_EQ(Logctl({pid, L"delete", L"nothing"}),
              "1|Error: unable to delete channel: LOGGING_RC_CHANNEL_DOES_NOT_EXIST\r\n|");
    EXPECT_EQ(Logctl({pid, std::wstring(256, L'x')}),
              "1||logctl: the command is 256 bytes long; the control pipe takes at most 255\r\n");

    const std::string own = std::to_string(::GetCurrentProcessId());
    const std::string unreachable = Logctl({std::to_wstring(::GetCurrentProcessId()), L"list"});
    const std::string expected =
        "2||logctl: cannot reach the control pipe \\\\.\\pipe\\logging-control-" + own + ": error 2: ";
    EXPECT_EQ(unreachable.substr(0, expected.size()), expected);
    EXPECT_GT(unreachable.size(), expected.size() + 2);  // the system's text of the code
    EXPECT_EQ(Logctl({L"list"}).substr(0, 28), "2||usage: logctl <pid> <comm");
    EXPECT_EQ(Logctl({L"12x", L"list"}).substr(0, 10), "2||usage: ");

    const TestSupport::ProcessResult stopped = demo.Stop();
    EXPECT_EQ(stopped.exitCode, 0u);
    EXPECT_EQ(stopped.out.substr(0, stopped.out.find('\n') + 1), "logdemo pid " + std::to_string(demo.Pid()) + "\r\n");
    EXPECT_NE(stopped.out.find(" I00000000: tick 1\r\n"), std::string::npos);
}

// What logdemo logs from tick `first` to tick `last` on a channel whose flags are "signature".
std::string Ticks(unsigned first, unsigned last) {
    std::string lines;
    for (unsigned tick = first; tick <= last; ++tick) {
        lines += "I00000000: tick " + std::to_string(tick) + "\n";
        if (tick % 5 == 0) {
            lines += "W00000000: tick " + std::to_string(tick) + " is a multiple of five\n";
        }
    }
    return lines;
}

// The number of the last tick in logdemo's console output, 0 when there is none.
unsigned LastTick(const std::string& console) {
    const std::regex tick(" I00000000: tick ([0-9]+)\r\n");
    unsigned last = 0;
    for (auto it = std::sregex_iterator(console.begin(), console.end(), tick); it != std::sregex_iterator(); ++it) {
        last = static_cast<unsigned>(std::stoul((*it)[1].str()));
    }
    return last;
}

TEST(Logctl, TunesFileAndLogScopeChannelsWhoseRecordsAreAllOnDiskWhenTheProcessEnds) {
    TestSupport::TempDir dir;
    // A copy beside its files: a relative file name and a log-scope channel, which names no
    // folder, land beside the program.
    ASSERT_TRUE(::CopyFileW((TestSupport::ModuleDirectory() + L"logdemo.exe").c_str(),
                            (dir.path() + L"logdemo.exe").c_str(), TRUE));
    RunningDemo demo(dir, dir.path() + L"logdemo.exe");
    ASSERT_TRUE(demo.WaitForPipe());
    const std::wstring pid = std::to_wstring(demo.Pid());
    const std::vector<std::vector<std::wstring>> commands = {
        {L"tune", L"ticks.file", L"file", L"file=ticks.log", L"append=0"},
        {L"flags", L"ticks.file", L"signature"},
        {L"tune", L"ticks.scope", L"logscope", L"prefix=ticks", L"compress=1"},
        {L"flags", L"ticks.scope", L"signature"},
        {L"link", L"ticks.scope", L"demo"},
        {L"link", L"ticks.file", L"demo"},
    };
    for (size_t i = 0; i < commands.size(); ++i) {
        std::vector<std::wstring> words = commands[i];
        words.insert(words.begin(), pid);
        EXPECT_EQ(Logctl(words), "0|ok\r\n|") << "command " << i;
    }
    EXPECT_EQ(Logctl({pid, L"prop", L"ticks.scope", L"currentFile"}),
              "0|currentFile=" + dir.narrowPath() + "ticks.0.log.gz\r\n|");
    // A tick in the plain file, then the end: what the log-scope channel queued since its last
    // chunk must reach the gzip file while the process ends.
    const std::string file = dir.narrowPath() + "ticks.log";
    for (int i = 0; i < 100 && TestSupport::Contents(file).value_or("").find("tick") == std::string::npos; ++i) {
        ::Sleep(50);
    }
    const std::string seen = TestSupport::Contents(file).value_or("");
    ASSERT_NE(seen.find("I00000000: tick "), std::string::npos) << seen;
    const TestSupport::ProcessResult stopped = demo.Stop();
    EXPECT_EQ(stopped.exitCode, 0u);

    const unsigned last = LastTick(stopped.out);
    const std::string plain = TestSupport::Contents(file).value_or("");
    const unsigned first = static_cast<unsigned>(std::strtoul(plain.c_str() + 16, nullptr, 10));
    ASSERT_GT(first, 0u) << plain;
    EXPECT_EQ(plain, Ticks(first, last));
    // Linked first, the log-scope channel holds the same ticks, or one more at the front.
    const std::string packed = TestSupport::Gunzip(dir.narrowPath() + "ticks.0.log.gz").value_or("<not gzip>");
    EXPECT_TRUE(packed == Ticks(first, last) || packed == Ticks(first - 1, last)) << packed;
}

// The lines of a tail's output, each checked for its timestamp and taken off it.
std::vector<std::string> TailTexts(const std::string& out) {
    std::vector<std::string> texts;
    const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} )?([^\r\n]*)\r\n)");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        texts.push_back((*it)[1].matched ? (*it)[2].str() : "unstamped: " + (*it)[2].str());
    }
    return texts;
}

std::string List(const std::wstring& pid) {
    return Logctl({pid, L"list"});
}

TEST(LogctlTail, ShowsTheRecordsOfAChannelLiveAndLeavesNoChannelBehind) {
    TestSupport::TempDir dir;
    RunningDemo demo(dir);
    ASSERT_TRUE(demo.WaitForPipe());
    const std::wstring pid = std::to_wstring(demo.Pid());
    const std::string demoOnly = "0|name=demo,type=console,enabled=1,level=INFORMATION,default=1\r\n|";

    // The default channel, until the count is reached.
    TestSupport::ProcessResult tail =
        TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"logctl.exe", {L"tail", pid, L"-n", L"3"});
    EXPECT_EQ(tail.exitCode, 0u);
    EXPECT_EQ(tail.err,
              "logctl: showing the records of demo in process " + std::to_string(demo.Pid()) + "; Ctrl+C ends\r\n");
    const std::vector<std::string> texts = TailTexts(tail.out);
    ASSERT_EQ(texts.size(), 3u) << tail.out;
    const std::regex tick(R"(tick \d+( is a multiple of five)?)");
    for (const std::string& text : texts) {
        EXPECT_TRUE(std::regex_match(text, tick)) << text;
    }
    EXPECT_EQ(List(pid), demoOnly);

    // A channel that does not exist: the gate channel made for it is deleted again.
    tail = TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"logctl.exe", {L"tail", pid, L"nothing"});
    EXPECT_EQ(tail.exitCode, 1u);
    EXPECT_EQ(tail.out, "");
    EXPECT_NE(tail.err.find(" nothing: Error: unable to link channels: LOGGING_RC_CHANNEL_DOES_NOT_EXIST\r\n"),
              std::string::npos)
        << tail.err;
    EXPECT_EQ(List(pid), demoOnly);

    // Without a count the tail ends with the process.
    TestSupport::ChildProcess open(TestSupport::ModuleDirectory() + L"logctl.exe", {L"tail", pid, L"demo"});
    ASSERT_TRUE(open.Started());
    bool linked = false;
    for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
        linked = List(pid).find("name=logctl-tail-" + std::to_string(open.Id()) + ",type=gate") != std::string::npos;
        ::Sleep(linked ? 1500 : 100);  // time for a record to pass
    }
    EXPECT_TRUE(linked);
    EXPECT_EQ(demo.Stop().exitCode, 0u);
    tail = open.Wait();
    EXPECT_EQ(tail.exitCode, 0u);
    EXPECT_FALSE(TailTexts(tail.out).empty());
    for (const std::string& text : TailTexts(tail.out)) {
        EXPECT_TRUE(std::regex_match(text, tick)) << text;
    }
}

TEST(LogctlTail, WrongWordsGetTheUsage) {
    for (const std::vector<std::wstring>& words : std::vector<std::vector<std::wstring>>{{L"tail"},
                                                                                         {L"tail", L"12x"},
                                                                                         {L"tail", L"1", L"-n"},
                                                                                         {L"tail", L"1", L"-n", L"x"},
                                                                                         {L"tail", L"1", L"a", L"b"}}) {
        EXPECT_EQ(Logctl(words).substr(0, 10), "2||usage: ");
    }
}

}  // namespace
