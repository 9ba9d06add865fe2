// One process's records re-emitted by another: two child processes, a sender with a filtering
// gate channel and a receiver that writes what it receives to its console channels.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "core/common/handles.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using TestSupport::ChildProcess;
using TestSupport::ModuleDirectory;

TEST(GateBetweenProcesses, TheReceiverWritesWhatItsLevelsAskForWithTheSendersThreadAndTime) {
    const std::wstring child = ModuleDirectory() + L"logging_gate_child.exe";
    TestSupport::TempDir dir;
    const std::wstring portFile = dir.path() + L"port";
    const std::wstring eventName = L"hostprobe-gate-ready-" + std::to_wstring(::GetCurrentProcessId());
    Common::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    ASSERT_TRUE(ready);

    ChildProcess receiver(child, {L"receive", portFile, eventName, L"3"});
    ASSERT_TRUE(receiver.Started());
    const HANDLE waitFor[] = {ready.get(), receiver.Handle()};
    ASSERT_EQ(::WaitForMultipleObjects(2, waitFor, FALSE, 20000), WAIT_OBJECT_0) << receiver.Wait().exitCode;
    std::string port;
    std::ifstream(std::filesystem::path(portFile)) >> port;

    const TestSupport::ProcessResult sent =
        TestSupport::RunProcess(child, {L"send", TestSupport::Widen(port), L"app:2:app info", L"app:4:app error",
                                        L"-:2:default info", L"other:5:unknown to the receiver", L"app:3:app warning"});
    ASSERT_EQ(sent.exitCode, 0u) << sent.err;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(sent.out, match, std::regex(R"(tid=(\d+) serial=(\d+)\r\n)"))) << sent.out;
    const std::string tid = match[1];
    EXPECT_EQ(match[2], "3") << "records the receiver would not write are never sent";

    const TestSupport::ProcessResult received = receiver.Wait();
    EXPECT_EQ(received.exitCode, 0u);
    // "app" at WARNING shows the thread; the default channel its timestamp too, both the
    // sender's. The sender's default channel arrives in the receiver's default channel.
    const std::regex expected(tid + " app error\r\n" + R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d:\d{3}[+-]\d\d:\d\d )" + tid +
                              " default info\r\n" + tid + " app warning\r\n");
    EXPECT_TRUE(std::regex_match(received.out, expected)) << received.out;
}

}  // namespace
