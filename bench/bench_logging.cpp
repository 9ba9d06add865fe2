// Cost of one formatted INFORMATION trace (one int, one short string) into a disabled
// channel, a null channel and a custom channel whose tracer only counts, from 1 and 2
// threads: nanoseconds per call over a loop of untimed calls (each thread's wall-clock time
// divided by its calls, averaged over the threads), and the median and 99th percentile of
// calls timed one by one with the time-stamp counter.

#include <windows.h>

#include <intrin.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/log_workload.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"

namespace {

class CountingTracer : public Logging::Tracer {
public:
    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t*) override {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    void TraceError(const char*, int32_t, const Common::Error&) override {}
    std::atomic<uint64_t> count{0};
};

struct Figures {
    double nsPerCall = 0;
    double medianNs = 0;
    double p99Ns = 0;
};

void Call(const char* channel, int i) {
    static const Logging::TraceLocation location{"bench/bench_logging", "Bench::Call", __LINE__};
    Logging::Log(location, Logging::INFORMATION, channel, "value %d of %s", i, "a short name");
}

Figures Measure(const char* channel, int threads, int calls, const Bench::TscClock& clock) {
    std::vector<std::vector<uint32_t>> samples(threads, std::vector<uint32_t>(calls));
    std::vector<double> loopNs(threads);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                Call(channel, i);
            }
            ++ready;
            while (!go.load()) {
            }
            const double start = Bench::Seconds();
            for (int i = 0; i < calls; ++i) {
                Call(channel, i);
            }
            loopNs[t] = (Bench::Seconds() - start) * 1e9 / calls;
            std::vector<uint32_t>& mine = samples[t];
            for (int i = 0; i < calls; ++i) {
                const uint64_t before = __rdtsc();
                Call(channel, i);
                const uint64_t ticks = __rdtsc() - before;
                mine[i] = static_cast<uint32_t>(
                    std::min<uint64_t>(ticks > clock.Overhead() ? ticks - clock.Overhead() : 0, UINT32_MAX));
            }
        });
    }
    while (ready.load() < threads) {
        std::this_thread::yield();
    }
    go.store(true);
    for (std::thread& worker : workers) {
        worker.join();
    }
    std::vector<uint32_t> all;
    for (const std::vector<uint32_t>& mine : samples) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    Figures figures;
    for (double ns : loopNs) {
        figures.nsPerCall += ns / threads;
    }
    figures.medianNs = clock.Nanoseconds(all[all.size() / 2]);
    figures.p99Ns = clock.Nanoseconds(all[all.size() * 99 / 100]);
    return figures;
}

}  // namespace

int main() {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    CountingTracer tracer;

    Logging::CustomConfig disabled;
    disabled.Enabled = false;
    disabled.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&tracer, false));
    Logging::CustomConfig custom;
    custom.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(&tracer, false));
    if (manager.TuneChannel("bench.disabled", disabled) != 0 ||
        manager.TuneChannel("bench.null", Logging::NullConfig()) != 0 ||
        manager.TuneChannel("bench.custom", custom) != 0) {
        std::fprintf(stderr, "cannot set up the channels\n");
        return 1;
    }

    const Bench::TscClock clock;
    struct Target {
        const char* key;
        const char* channel;
        int calls;
    };
    const Target targets[] = {
        {"trace.disabled", "bench.disabled", 1000000},
        {"trace.null", "bench.null", 1000000},
        {"trace.custom", "bench.custom", 300000},
    };
    std::printf(
        "# formatted INFORMATION trace, one int and one short string; timed calls have a resolution of %.0f ns\n",
        clock.Nanoseconds(clock.Overhead()));
    for (const Target& target : targets) {
        for (int threads = 1; threads <= 2; ++threads) {
            const Figures f = Measure(target.channel, threads, target.calls, clock);
            const std::string key = std::string(target.key) + ".t" + std::to_string(threads);
            Bench::PrintFigure(key + ".ns", f.nsPerCall);
            Bench::PrintFigure(key + ".p50", f.medianNs);
            Bench::PrintFigure(key + ".p99", f.p99Ns);
        }
    }
    for (const char* name : {"bench.disabled", "bench.null", "bench.custom"}) {
        manager.RemoveChannel(name);
    }
    return 0;
}
