#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

struct ProcessResult {
    std::string out;  // standard output, bytes as written
    std::string err;  // standard error, bytes as written
    DWORD exitCode = 0;
    DWORD processId = 0;  // the child's id, to tell its traces from those of other processes
};

struct ProcessOptions {
    std::wstring workingDirectory;                                   // empty: the test's own
    std::vector<std::pair<std::wstring, std::wstring>> environment;  // an empty value removes the variable
    DWORD timeoutMs = 120000;
    std::wstring outputFile;  // standard output goes to this file (made anew), not to `out`
};

// A child started now and waited for later, for tests that run two programs at once. Its
// streams are read only by Wait: a child meant to write much must not be left alone long.
class ChildProcess {
public:
    ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& args, const ProcessOptions& options = {});
    // A child still running is terminated.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return result_.processId; }
    HANDLE Handle() const { return process_; }
    // Reads both streams until the child has ended (terminating it after the options'
    // time-out) and returns what it wrote and its exit code.
    ProcessResult Wait();

private:
    HANDLE process_ = nullptr;
    HANDLE outRead_ = nullptr;
    HANDLE errRead_ = nullptr;
    DWORD timeoutMs_;
    ProcessResult result_;
};

// Runs `exe` with `args` (quoted as the C runtime parses them) and captures both streams.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const ProcessOptions& options = {});
// The folder of the running test program, with a trailing backslash.
std::wstring ModuleDirectory();
inline std::wstring HostprobePath() {
    return ModuleDirectory() + L"hostprobe.exe";
}
// Runs hostprobe.exe with narrow (UTF-8) arguments.
ProcessResult RunHostprobe(const std::vector<std::string>& args, const ProcessOptions& options = {});
std::wstring Widen(const std::string& text);

}  // namespace TestSupport
