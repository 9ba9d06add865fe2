// hostprobe's whole run against the floor program that makes the same system calls: each is
// started alternately, its output thrown away, and timed from creation to exit; the peak
// working set is read from the ended process. Prints medians and their ratios.
//   bench_hostprobe_run [runs]

#include <windows.h>
// psapi.h needs the Windows types first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
    double milliseconds;
    double peakKiB;
};

std::wstring Beside(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

bool RunOnce(const std::wstring& exe, const wchar_t* arguments, Sample& sample) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    startup.hStdInput = nullptr;
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const BOOL created =
        ::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (created) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::QueryPerformanceCounter(&end);
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        ::GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters);
        sample.milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        sample.peakKiB = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(nul);
    return created != FALSE;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    const std::wstring programs[2] = {Beside(L"hostprobe.exe"), Beside(L"hostprobe_floor.exe")};
    const wchar_t* arguments[2] = {L"--format=xml", L""};
    std::vector<double> time[2], memory[2];
    for (int run = 0; run <= runs; ++run) {
        for (int p = 0; p < 2; ++p) {
            Sample sample{};
            if (!RunOnce(programs[p], arguments[p], sample)) {
                std::fprintf(stderr, "cannot start program %d (error %lu)\n", p, ::GetLastError());
                return 1;
            }
            if (run > 0) {  // the first round warms the caches of both
                time[p].push_back(sample.milliseconds);
                memory[p].push_back(sample.peakKiB);
            }
        }
    }
    const double t[2] = {Median(time[0]), Median(time[1])};
    const double m[2] = {Median(memory[0]), Median(memory[1])};
    std::printf("runs %d, medians\n", runs);
    std::printf("%-28s %10s %14s\n", "program", "wall ms", "peak WS KiB");
    std::printf("%-28s %10.1f %14.0f\n", "hostprobe --format=xml", t[0], m[0]);
    std::printf("%-28s %10.1f %14.0f\n", "system-call floor", t[1], m[1]);
    std::printf("%-28s %10.2fx %13.2fx\n", "ratio", t[0] / t[1], m[0] / m[1]);
    return 0;
}
