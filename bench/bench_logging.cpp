// Cost of one formatted INFORMATION trace (one int, one short string) into a disabled
// channel, a null channel and a custom channel whose tracer only counts, from 1 and 2
// threads: calls per second over the whole run, median and 99th percentile per call.

#include <windows.h>

#include <intrin.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

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

double TicksPerNanosecond() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const uint64_t tscStart = __rdtsc();
    ::Sleep(300);
    ::QueryPerformanceCounter(&end);
    const uint64_t tscEnd = __rdtsc();
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    return static_cast<double>(tscEnd - tscStart) / (seconds * 1e9);
}

// The cost of reading the time stamp counter twice, taken off every sample.
uint64_t TimerOverhead() {
    std::vector<uint64_t> samples(10000);
    for (auto& sample : samples) {
        const uint64_t start = __rdtsc();
        sample = __rdtsc() - start;
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

struct Figures {
    double callsPerSecond;  // over the wall-clock time of the run
    double cpuNsPerCall;    // the threads' own CPU time per call, which other load does not inflate
    double medianNs;
    double p99Ns;
};

uint64_t ThreadCpu100ns() {
    FILETIME creation;
    FILETIME exit;
    FILETIME kernel;
    FILETIME user;
    ::GetThreadTimes(::GetCurrentThread(), &creation, &exit, &kernel, &user);
    return (static_cast<uint64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<uint64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

Figures Measure(const char* channel, int threads, int callsPerThread, double ticksPerNs, uint64_t overhead) {
    std::vector<std::vector<uint32_t>> samples(threads, std::vector<uint32_t>(callsPerThread));
    std::vector<uint64_t> cpu(threads);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const Logging::TraceLocation location{"bench/bench_logging", "Bench::Measure", __LINE__};
            for (int i = 0; i < 2000; ++i) {
                Logging::Log(location, Logging::INFORMATION, channel, "value %d of %s", i, "warm-up");
            }
            ++ready;
            while (!go.load()) {
            }
            std::vector<uint32_t>& mine = samples[t];
            const uint64_t cpuBefore = ThreadCpu100ns();
            for (int i = 0; i < callsPerThread; ++i) {
                const uint64_t before = __rdtsc();
                Logging::Log(location, Logging::INFORMATION, channel, "value %d of %s", i, "a short name");
                const uint64_t ticks = __rdtsc() - before;
                mine[i] =
                    static_cast<uint32_t>(std::min<uint64_t>(ticks > overhead ? ticks - overhead : 0, UINT32_MAX));
            }
            cpu[t] = ThreadCpu100ns() - cpuBefore;
        });
    }
    while (ready.load() < threads) {
        std::this_thread::yield();
    }
    ::QueryPerformanceCounter(&start);
    go.store(true);
    for (auto& worker : workers) {
        worker.join();
    }
    ::QueryPerformanceCounter(&end);
    std::vector<uint32_t> all;
    for (const auto& mine : samples) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    Figures figures;
    figures.callsPerSecond = static_cast<double>(all.size()) / seconds;
    uint64_t cpuTotal = 0;
    for (uint64_t used : cpu) {
        cpuTotal += used;
    }
    figures.cpuNsPerCall = static_cast<double>(cpuTotal) * 100.0 / static_cast<double>(all.size());
    figures.medianNs = all[all.size() / 2] / ticksPerNs;
    figures.p99Ns = all[all.size() * 99 / 100] / ticksPerNs;
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

    const double ticksPerNs = TicksPerNanosecond();
    const uint64_t overhead = TimerOverhead();
    struct Target {
        const char* label;
        const char* channel;
        int calls;
    };
    const Target targets[] = {
        {"(a) disabled channel", "bench.disabled", 400000},
        {"(b) null channel", "bench.null", 400000},
        {"(c) custom channel, counting tracer", "bench.custom", 200000},
    };
    std::printf(
        "Formatted INFORMATION trace, one int and one short string; per-call times have a\n"
        "resolution of %.0f ns (the time stamp counter's step here)\n",
        static_cast<double>(overhead) / ticksPerNs);
    std::printf("%-38s %7s %14s %12s %10s %10s\n", "channel", "threads", "calls/s", "CPU ns/call", "median ns",
                "p99 ns");
    for (const Target& target : targets) {
        for (int threads = 1; threads <= 2; ++threads) {
            const Figures f = Measure(target.channel, threads, target.calls, ticksPerNs, overhead);
            std::printf("%-38s %7d %14.0f %12.0f %10.0f %10.0f\n", target.label, threads, f.callsPerSecond,
                        f.cpuNsPerCall, f.medianNs, f.p99Ns);
        }
    }
    std::printf("(the custom tracer counted %llu lines)\n", static_cast<unsigned long long>(tracer.count.load()));
    for (const char* name : {"bench.disabled", "bench.null", "bench.custom"}) {
        manager.RemoveChannel(name);
    }
    return 0;
}
