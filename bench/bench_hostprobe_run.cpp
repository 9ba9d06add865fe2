// hostprobe's whole run against the floor program that makes the same system calls: each is
// started alternately with its standard streams on the NUL device, and timed from creation
// to exit; the peak working set is read from the ended process. Prints the medians.
//   bench_hostprobe_run [runs [hostprobe.exe floor.exe]]
// The programs default to those beside this one; scripts/run-benchmarks.sh passes stripped
// copies, the programs as they ship.

#include <windows.h>
// psapi.h needs the Windows types first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/common/handles.h"

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

std::wstring Widen(const char* text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

bool RunOnce(const std::wstring& exe, const wchar_t* arguments, Sample& sample) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const Common::UniqueFileHandle nul(
        ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul.get();
    startup.hStdError = nul.get();
    startup.hStdInput = nullptr;
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    const Common::UniqueHandle processHandle(process.hProcess);
    const Common::UniqueHandle threadHandle(process.hThread);
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    ::QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(processHandle.get(), &counters, sizeof counters);
    sample.milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    sample.peakKiB = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    const std::wstring programs[2] = {argc > 3 ? Widen(argv[2]) : Beside(L"hostprobe.exe"),
                                      argc > 3 ? Widen(argv[3]) : Beside(L"hostprobe_floor.exe")};
    const wchar_t* arguments[2] = {L"--format=xml", L""};
    const char* keys[2] = {"run.hostprobe", "run.floor"};
    std::vector<double> time[2], memory[2];
    for (int run = 0; run <= runs; ++run) {
        for (int p = 0; p < 2; ++p) {
            Sample sample{};
            if (!RunOnce(programs[p], arguments[p], sample)) {
                std::fprintf(stderr, "cannot start %ls (error %lu)\n", programs[p].c_str(), ::GetLastError());
                return 1;
            }
            if (run > 0) {  // the first round warms the caches of both
                time[p].push_back(sample.milliseconds);
                memory[p].push_back(sample.peakKiB);
            }
        }
    }
    std::printf("# %d runs each, alternately, medians; hostprobe --format=xml\n", runs);
    for (int p = 0; p < 2; ++p) {
        std::printf("%s.ms %.6g\n%s.kib %.6g\n", keys[p], Median(time[p]), keys[p], Median(memory[p]));
    }
    return 0;
}
