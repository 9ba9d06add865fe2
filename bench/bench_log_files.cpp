// The library's file outputs under load, from 1 and 2 producer threads: records of about
// 100 bytes into a log-scope channel (plain text and gzip) and into a file channel. Per
// configuration: records per second over the producers' time, the latency of one call (p50,
// p99, p99.9), and the time until everything is on disk. bench_spdlog runs the same workload
// through spdlog.
//   bench_log_files [configuration...]   e.g. "file" or "logscope.gzip.t1"; all without arguments

#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/log_workload.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "logging/static/manager_internal.h"

namespace {

// The log-scope producers only queue; the file channel writes every record itself, so fewer
// records keep its runs as long as the others.
constexpr uint64_t kQueuedRecords = 1000000;
constexpr uint64_t kWrittenRecords = 300000;

void Emit(const char* channel, int thread, uint64_t i) {
    static const Logging::TraceLocation location{"bench/bench_log_files", "Bench::Emit", __LINE__};
    Logging::Log(location, Logging::INFORMATION, channel, "record %08llu from producer %d: %s",
                 static_cast<unsigned long long>(i), thread, Bench::kPayload);
}

bool Run(const char* key, const char* channel, const Logging::ChannelConfig& config, uint64_t records,
         const Bench::Folder& folder, const Bench::TscClock& clock, const Bench::Selection& selected) {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    for (int threads = 1; threads <= 2; ++threads) {
        const std::string prefix = std::string(key) + ".t" + std::to_string(threads);
        if (!selected(prefix)) {
            continue;
        }
        if (manager.TuneChannel(channel, config) != 0) {
            std::fprintf(stderr, "cannot set up the channel %s\n", channel);
            return false;
        }
        const Bench::Figures figures = Bench::RunWorkload(
            threads, records, Bench::kWarmUp, clock, [channel](int t, uint64_t i) { Emit(channel, t, i); },
            [] { Logging::FlushAllChannels(); });
        const uint64_t bytes = folder.Bytes();
        manager.RemoveChannel(channel);
        folder.Empty();
        Bench::PrintFigures(prefix, figures);
        Bench::PrintFigure(prefix + ".mib", static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    const Bench::Selection selected(argc, argv);
    const Bench::TscClock clock;
    const Bench::Folder folder("hostprobe-bench");
    std::printf("# records of about 100 bytes; per-call times have a resolution of %.0f ns\n",
                clock.Nanoseconds(clock.Overhead()));

    Logging::LogScopeConfig logScope;
    logScope.Folder = folder.Path();
    logScope.MaxSize = 0x4000000;
    logScope.MaxFiles = 4;
    logScope.Compress = 0;
    Logging::LogScopeConfig gzip = logScope;
    gzip.Compress = 1;
    Logging::FileConfig file;
    file.File = folder.Path() + "bench.log";
    file.MaxSize = 0xFFFFFFFF;
    const bool done = Run("logscope.plain", "bench.logscope", logScope, kQueuedRecords, folder, clock, selected) &&
                      Run("logscope.gzip", "bench.logscope", gzip, kQueuedRecords, folder, clock, selected) &&
                      Run("file", "bench.file", file, kWrittenRecords, folder, clock, selected);
    return done ? 0 : 1;
}
