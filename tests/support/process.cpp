#include "support/process.h"

#include <gtest/gtest.h>

#include <map>

#include "core/common/handles.h"

namespace TestSupport {

namespace {

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

// Case-insensitive order, as Windows sorts environment blocks.
struct EnvLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

std::wstring BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    std::map<std::wstring, std::wstring, EnvLess> vars;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
            const std::wstring entry = p;
            const size_t eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
            if (eq != std::wstring::npos) {
                vars[entry.substr(0, eq)] = entry.substr(eq + 1);
            }
        }
        ::FreeEnvironmentStringsW(block);
    }
    for (const auto& change : changes) {
        if (change.second.empty()) {
            vars.erase(change.first);
        } else {
            vars[change.first] = change.second;
        }
    }
    std::wstring result;
    for (const auto& var : vars) {
        result += var.first + L"=" + var.second;
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

// Reads what the pipe holds now, without waiting for more.
void ReadAvailable(HANDLE pipe, std::string* target) {
    char buffer[4096];
    DWORD available = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD read = 0;
        const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!::ReadFile(pipe, buffer, wanted, &read, nullptr) || read == 0) {
            return;
        }
        target->append(buffer, read);
    }
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const ProcessOptions& options) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Common::UniqueHandle outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(outRead.put(), outWrite.put(), &inherit, 0) ||
        !::CreatePipe(errRead.put(), errWrite.put(), &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed: " << ::GetLastError();
        return result;
    }
    ::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);

    Common::UniqueFileHandle nul(
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();

    std::wstring commandLine = QuoteArgument(exe);
    for (const std::wstring& arg : args) {
        commandLine += L" " + QuoteArgument(arg);
    }
    std::wstring environment = BuildEnvironment(options.environment);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(
            exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, environment.data(),
            options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return result;
    }
    Common::UniqueHandle process(info.hProcess);
    Common::UniqueHandle thread(info.hThread);
    result.processId = info.dwProcessId;
    // Our copies of the write ends must go, or the readers never see the end of the streams.
    outWrite.reset();
    errWrite.reset();

    // The streams are read until the child has ended, not until they are closed: a process
    // the child starts may keep the write ends open for longer (Wine's desktop process, which
    // the first process of a session to load user32 starts, inherits its standard error).
    const ULONGLONG deadline = ::GetTickCount64() + options.timeoutMs;
    for (;;) {
        const DWORD wait = ::WaitForSingleObject(process.get(), 10);
        ReadAvailable(outRead.get(), &result.out);
        ReadAvailable(errRead.get(), &result.err);
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        if (::GetTickCount64() >= deadline) {
            ::TerminateProcess(process.get(), 259);
            ADD_FAILURE() << "child process timed out";
            break;
        }
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

std::wstring ModuleDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::wstring HostprobePath() {
    return ModuleDirectory() + L"hostprobe.exe";
}

ProcessResult RunHostprobe(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::wstring> wide;
    for (const std::string& arg : args) {
        wide.push_back(Widen(arg));
    }
    return RunProcess(HostprobePath(), wide, options);
}

}  // namespace TestSupport
