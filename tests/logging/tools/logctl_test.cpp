// logctl against a running logdemo: replies on standard output and the exit codes.

#include <gtest/gtest.h>

#include <string>

#include "core/common/handles.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

// logdemo started in a folder of its own, its streams in a file there; stopped through its
// stop file.
class RunningDemo {
public:
    explicit RunningDemo(const TestSupport::TempDir& dir) : dir_(dir) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        Common::UniqueFileHandle log(::CreateFileW((dir.path() + L"demo.log").c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                                                   nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = log.get();
        startup.hStdError = log.get();
        std::wstring commandLine = L"\"" + TestSupport::ModuleDirectory() + L"logdemo.exe\"";
        PROCESS_INFORMATION created{};
        if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, dir.path().c_str(),
                              &startup, &created)) {
            ADD_FAILURE() << "logdemo did not start: " << ::GetLastError();
            return;
        }
        process_.reset(created.hProcess);
        const Common::UniqueHandle thread(created.hThread);
        pid_ = created.dwProcessId;
    }
    ~RunningDemo() { Stop(); }

    DWORD Pid() const { return pid_; }

    // Waits until the control pipe exists (the worker has started).
    bool WaitForPipe() const {
        const std::wstring pipe = L"\\\\.\\pipe\\logging-control-" + std::to_wstring(pid_);
        for (int attempt = 0; attempt < 600 && process_; ++attempt) {
            if (::WaitNamedPipeW(pipe.c_str(), 50)) {
                return true;
            }
            if (::WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) {
                return false;
            }
        }
        return false;
    }

    // Stops the demo; its exit code, or a sentinel when it had to be ended.
    DWORD Stop() {
        if (!process_) {
            return exitCode_;
        }
        TestSupport::WriteFileBytes(dir_.path() + L"logdemo.stop", "");
        if (::WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process_.get(), 99);
            ::WaitForSingleObject(process_.get(), INFINITE);
        }
        ::GetExitCodeProcess(process_.get(), &exitCode_);
        process_.reset();
        return exitCode_;
    }

private:
    const TestSupport::TempDir& dir_;
    Common::UniqueHandle process_;
    DWORD pid_ = 0;
    DWORD exitCode_ = 99;
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
    EXPECT_EQ(Logctl({pid, L"level", L"demo", L"loud"}), "1|Error: invalid level identifier\r\n|");
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

    EXPECT_EQ(demo.Stop(), 0u);
    const std::string log = TestSupport::ReadFileBytes(dir.path() + L"demo.log");
    EXPECT_EQ(log.substr(0, log.find('\n') + 1), "logdemo pid " + std::to_string(demo.Pid()) + "\r\n");
    EXPECT_NE(log.find(" I00000000: tick 1\r\n"), std::string::npos);
}

}  // namespace
