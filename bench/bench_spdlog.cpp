// The workload of bench_log_files through spdlog, the logger a user is most likely to compare
// us with: the same record text with the same decoration (a line of the same bytes), from 1
// and 2 producer threads, into
//   - an asynchronous logger (spdlog's default thread pool: 8192 queue slots, one thread,
//     producers wait when the queue is full, so nothing is lost, as with log-scope);
//   - a synchronous logger (the runtime's file buffer, flushed once at the end);
//   - a synchronous logger that flushes after every record, the durability of our file
//     channel, which hands every record to the system at once.
// spdlog is built header-only for this program; the product never links it.
//   bench_spdlog [configuration...]   e.g. "spdlog.flush" or "spdlog.async.t2"; all without arguments

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "bench/log_workload.h"

namespace {

constexpr uint64_t kQueuedRecords = 1000000;
constexpr uint64_t kWrittenRecords = 300000;
constexpr size_t kQueueSlots = 8192;

// Our default decoration: "2024-03-05T14:07:09:042+02:00 4711 I00000000: " and CR LF.
constexpr char kPattern[] = "%Y-%m-%dT%H:%M:%S:%e%z %t I00000000: %v";

enum class Mode { Async, Sync, FlushEveryRecord };

void Emit(spdlog::logger& logger, int thread, uint64_t i) {
    logger.info("record {:08} from producer {}: {}", i, thread, Bench::kPayload);
}

Bench::Figures RunOnce(Mode mode, int threads, uint64_t records, const Bench::Folder& folder,
                       const Bench::TscClock& clock) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(folder.Path() + "spdlog.log", true);
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<spdlog::logger> logger;
    if (mode == Mode::Async) {
        pool = std::make_shared<spdlog::details::thread_pool>(kQueueSlots, 1);
        logger = std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);
    } else {
        logger = std::make_shared<spdlog::logger>("bench", sink);
    }
    logger->set_pattern(kPattern);
    logger->set_level(spdlog::level::info);
    if (mode == Mode::FlushEveryRecord) {
        logger->flush_on(spdlog::level::info);
    }
    return Bench::RunWorkload(
        threads, records, Bench::kWarmUp, clock, [&logger](int t, uint64_t i) { Emit(*logger, t, i); },
        [&logger, &pool] {
            logger->flush();
            // An asynchronous flush is only queued; the pool's end waits until its thread has
            // written everything queued before it.
            logger.reset();
            pool.reset();
        });
}

void Run(const char* key, Mode mode, uint64_t records, const Bench::Folder& folder, const Bench::TscClock& clock,
         const Bench::Selection& selected) {
    for (int threads = 1; threads <= 2; ++threads) {
        const std::string prefix = std::string(key) + ".t" + std::to_string(threads);
        if (!selected(prefix)) {
            continue;
        }
        const Bench::Figures figures = RunOnce(mode, threads, records, folder, clock);
        const uint64_t bytes = folder.Bytes();
        folder.Empty();
        Bench::PrintFigures(prefix, figures);
        Bench::PrintFigure(prefix + ".mib", static_cast<double>(bytes) / (1024.0 * 1024.0));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const Bench::Selection selected(argc, argv);
    const Bench::TscClock clock;
    const Bench::Folder folder("hostprobe-bench-spdlog");
    std::printf("# spdlog %d.%d.%d; per-call times have a resolution of %.0f ns\n", SPDLOG_VER_MAJOR, SPDLOG_VER_MINOR,
                SPDLOG_VER_PATCH, clock.Nanoseconds(clock.Overhead()));
    Run("spdlog.async", Mode::Async, kQueuedRecords, folder, clock, selected);
    Run("spdlog.sync", Mode::Sync, kQueuedRecords, folder, clock, selected);
    Run("spdlog.flush", Mode::FlushEveryRecord, kWrittenRecords, folder, clock, selected);
    return 0;
}
