// The library's file outputs under load: 1 M records of about 100 bytes from 1 and 2 producer
// threads into a log-scope channel (plain text) and into a file channel. Per configuration:
// records per second over the producers' time, the latency of one call (p50, p99, p99.9), and
// the time until everything is on disk.

#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/log_workload.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "logging/static/manager_internal.h"

namespace {

constexpr uint64_t kRecords = 1000000;
constexpr uint64_t kWarmUp = 10000;
// With the default decoration (timestamp with zone, thread id, signature) a line is about
// 100 bytes.
constexpr char kPayload[] = "payload of a typical detector message";

// A fresh folder below %TEMP%, emptied and removed at the end.
class Folder {
public:
    Folder() {
        char base[MAX_PATH];
        ::GetTempPathA(sizeof base, base);
        path_ = std::string(base) + "hostprobe-bench-" + std::to_string(::GetCurrentProcessId()) + "\\";
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~Folder() {
        Empty();
        ::RemoveDirectoryA(path_.c_str());
    }
    void Empty() const {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((path_ + "*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            ::DeleteFileA((path_ + found.cFileName).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    uint64_t Bytes() const {
        uint64_t total = 0;
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA((path_ + "*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return 0;
        }
        do {
            total += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
        return total;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

void Emit(const char* channel, int thread, uint64_t i) {
    static const Logging::TraceLocation location{"bench/bench_log_files", "Bench::Emit", __LINE__};
    Logging::Log(location, Logging::INFORMATION, channel, "record %08llu from producer %d: %s",
                 static_cast<unsigned long long>(i), thread, kPayload);
}

void PrintRow(const char* output, int threads, const Bench::Figures& f, uint64_t bytes) {
    std::printf("%-22s %7d %12.0f %8.0f %8.0f %9.0f %10.2f %9.1f\n", output, threads, f.recordsPerSecond, f.p50Ns,
                f.p99Ns, f.p999Ns, f.onDiskSeconds, static_cast<double>(bytes) / (1024.0 * 1024.0));
}

}  // namespace

int main() {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    const Bench::TscClock clock;
    Folder folder;
    std::printf("%llu records of about 100 bytes; per-call times have a resolution of %.0f ns\n",
                static_cast<unsigned long long>(kRecords), clock.Nanoseconds(clock.Overhead()));
    std::printf("%-22s %7s %12s %8s %8s %9s %10s %9s\n", "output", "threads", "records/s", "p50 ns", "p99 ns",
                "p99.9 ns", "on disk s", "MiB");
    for (int threads = 1; threads <= 2; ++threads) {
        Logging::LogScopeConfig config;
        config.Folder = folder.Path();
        config.Compress = 0;
        config.MaxSize = 0x4000000;
        config.MaxFiles = 4;
        if (manager.TuneChannel("bench.logscope", config) != 0) {
            std::fprintf(stderr, "cannot set up the log-scope channel\n");
            return 1;
        }
        const Bench::Figures figures = Bench::RunWorkload(
            threads, kRecords, kWarmUp, clock, [](int t, uint64_t i) { Emit("bench.logscope", t, i); },
            [] { Logging::FlushAllChannels(); });
        const uint64_t bytes = folder.Bytes();
        manager.RemoveChannel("bench.logscope");
        PrintRow("log-scope, plain text", threads, figures, bytes);
        folder.Empty();
    }
    for (int threads = 1; threads <= 2; ++threads) {
        Logging::FileConfig config;
        config.File = folder.Path() + "bench.log";
        config.MaxSize = 0xFFFFFFFF;
        if (manager.TuneChannel("bench.file", config) != 0) {
            std::fprintf(stderr, "cannot set up the file channel\n");
            return 1;
        }
        const Bench::Figures figures = Bench::RunWorkload(
            threads, kRecords, kWarmUp, clock, [](int t, uint64_t i) { Emit("bench.file", t, i); }, [] {});
        const uint64_t bytes = folder.Bytes();
        manager.RemoveChannel("bench.file");
        PrintRow("file", threads, figures, bytes);
        folder.Empty();
    }
    return 0;
}
