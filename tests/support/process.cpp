#include "support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core/common/handles.h"

namespace TestSupport {

static std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;  // the run of backslashes just written
    for (wchar_t c : arg) {
        if (c == L'"') {
            quoted.append(backslashes + 1, L'\\');  // doubles the run and escapes the quote
        }
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        quoted.push_back(c);
    }
    return quoted.append(backslashes, L'\\') + L"\"";
}

static std::wstring BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    // Sorted as Windows sorts environment blocks.
    const auto less = [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; };
    std::map<std::wstring, std::wstring, decltype(less)> vars(less);
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
            if (const wchar_t* eq = wcschr(p + 1, L'=')) {  // "=C:=C:\..." entries start with '='
                vars[std::wstring(p, eq)] = eq + 1;
            }
        }
        ::FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        vars[name] = value;  // an empty value drops the variable below
    }
    std::wstring result;
    for (const auto& [name, value] : vars) {
        result += value.empty() ? L"" : name + L"=" + value + L'\0';
    }
    return result + L'\0';
}

// Reads what the pipe holds now, without waiting for more.
static void ReadAvailable(HANDLE pipe, std::string* target) {
    char buffer[4096];
    DWORD available = 0, read = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) && read > 0) {
        target->append(buffer, read);
    }
}

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');  // UTF-8 has at least as many bytes as UTF-16 has units
    const int size = static_cast<int>(text.size());
    wide.resize(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], size));
    return wide;
}

ChildProcess::ChildProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                           const ProcessOptions& options)
    : timeoutMs_(options.timeoutMs) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Common::UniqueHandle outRead, outWrite, errRead, errWrite;  // only the write ends are inherited
    if (!::CreatePipe(outRead.put(), outWrite.put(), &inherit, 0) ||
        !::CreatePipe(errRead.put(), errWrite.put(), &inherit, 0) ||
        !::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0) ||
        !::SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << ::GetLastError();
        return;
    }
    Common::UniqueFileHandle nul(
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    Common::UniqueFileHandle outFile;
    if (!options.outputFile.empty()) {
        outFile.reset(::CreateFileW(options.outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!outFile) {
            ADD_FAILURE() << "cannot create the output file: " << ::GetLastError();
            return;
        }
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = outFile ? outFile.get() : outWrite.get();
    startup.hStdError = errWrite.get();

    std::wstring commandLine = QuoteArgument(exe);
    for (const std::wstring& arg : args) {
        commandLine += L" " + QuoteArgument(arg);
    }
    std::wstring environment = BuildEnvironment(options.environment);
    PROCESS_INFORMATION info{};
    // Under a heavily loaded Wine a start now and then fails with ERROR_INTERNAL_ERROR and works
    // when tried again: that is the test bench's fault, not the child's, so it gets two more tries.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::CreateProcessW(
                exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, &environment[0],
                options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup, &info)) {
            error = ERROR_SUCCESS;
            break;
        }
        error = ::GetLastError();
        if (error != ERROR_INTERNAL_ERROR) {
            break;
        }
        ::Sleep(200);
    }
    if (error != ERROR_SUCCESS) {
        ADD_FAILURE() << "CreateProcessW failed: " << error;
        return;
    }
    Common::UniqueHandle thread(info.hThread);
    process_ = info.hProcess;
    outRead_ = outRead.release();
    errRead_ = errRead.release();
    result_.processId = info.dwProcessId;
    // The child's copies of the write ends are the only ones left, so reads can end.
}

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(process_, 259);
            ::WaitForSingleObject(process_, 5000);
        }
        ::CloseHandle(process_);
    }
    for (HANDLE pipe : {outRead_, errRead_}) {
        if (pipe != nullptr) {
            ::CloseHandle(pipe);
        }
    }
}

ProcessResult ChildProcess::Wait() {
    if (process_ == nullptr) {
        return result_;
    }
    // Read until the child has ended, not until the streams close: a process the child starts
    // may keep the write ends open longer (Wine's desktop process inherits standard error).
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs_;
    for (DWORD wait = WAIT_TIMEOUT; wait != WAIT_OBJECT_0;) {
        wait = ::WaitForSingleObject(process_, 10);
        ReadAvailable(outRead_, &result_.out);
        ReadAvailable(errRead_, &result_.err);
        if (wait != WAIT_OBJECT_0 && ::GetTickCount64() >= deadline) {
            ::TerminateProcess(process_, 259);
            ADD_FAILURE() << "child process timed out";
            break;
        }
    }
    ::GetExitCodeProcess(process_, &result_.exitCode);
    return result_;
}

ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const ProcessOptions& options) {
    ChildProcess child(exe, args, options);
    return child.Wait();
}

std::wstring ModuleDirectory() {
    wchar_t path[MAX_PATH];
    const std::wstring dir(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

ProcessResult RunHostprobe(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::wstring> wide(args.size());
    std::transform(args.begin(), args.end(), wide.begin(), Widen);
    return RunProcess(HostprobePath(), wide, options);
}

}  // namespace TestSupport
