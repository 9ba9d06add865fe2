#pragma once

// A logging workload for comparing file outputs: producer threads that log numbered records of
// about 100 bytes as fast as they can, each call timed with the time-stamp counter, then a
// drain until everything is on disk. Any logging call can be plugged in. The benchmark
// programs print their figures as "<key> <value>" lines, which scripts/bench_table.py puts
// into one table; lines starting with "#" say how the figures were taken.

#include <windows.h>

#include <intrin.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/common/handles.h"

namespace Bench {

// What every log line holds after its decoration, the same for every logger compared: with the
// default decoration (timestamp with zone, thread id, signature) a line is about 100 bytes.
constexpr char kPayload[] = "payload of a typical detector message";
constexpr uint64_t kWarmUp = 10000;

// Which configurations run: all without arguments, else those whose key starts with one of
// the arguments ("file" runs "file.t1" and "file.t2").
class Selection {
public:
    Selection(int argc, char* argv[]) : prefixes_(argv + 1, argv + argc) {}

    bool operator()(const std::string& key) const {
        for (const std::string& prefix : prefixes_) {
            if (key.compare(0, prefix.size(), prefix) == 0) {
                return true;
            }
        }
        return prefixes_.empty();
    }

private:
    std::vector<std::string> prefixes_;
};

inline void PrintFigure(const std::string& key, double value) {
    std::printf("%s %.6g\n", key.c_str(), value);
    std::fflush(stdout);
}

// The time-stamp counter, calibrated against the performance counter.
class TscClock {
public:
    TscClock() {
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
        ticksPerNs_ = static_cast<double>(tscEnd - tscStart) / (seconds * 1e9);
        std::vector<uint64_t> samples(10000);
        for (uint64_t& sample : samples) {
            const uint64_t before = __rdtsc();
            sample = __rdtsc() - before;
        }
        std::sort(samples.begin(), samples.end());
        overhead_ = samples[samples.size() / 2];
    }

    double Nanoseconds(uint64_t ticks) const { return static_cast<double>(ticks) / ticksPerNs_; }
    // The cost of reading the counter twice, taken off every sample.
    uint64_t Overhead() const { return overhead_; }

private:
    double ticksPerNs_ = 1;
    uint64_t overhead_ = 0;
};

inline double Seconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

struct Figures {
    uint64_t records = 0;
    double recordsPerSecond = 0;  // over the producers' wall-clock time
    double p50Ns = 0;
    double p99Ns = 0;
    double p999Ns = 0;
    double onDiskSeconds = 0;  // from the first record until the drain returned
};

inline void PrintFigures(const std::string& key, const Figures& figures) {
    PrintFigure(key + ".rps", figures.recordsPerSecond);
    PrintFigure(key + ".p50", figures.p50Ns);
    PrintFigure(key + ".p99", figures.p99Ns);
    PrintFigure(key + ".p999", figures.p999Ns);
    PrintFigure(key + ".disk", figures.onDiskSeconds);
}

// A fresh folder below %TEMP%, emptied and removed at the end.
class Folder {
public:
    explicit Folder(const char* name) {
        char base[MAX_PATH];
        ::GetTempPathA(sizeof base, base);
        path_ = std::string(base) + name + "-" + std::to_string(::GetCurrentProcessId()) + "\\";
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~Folder() {
        Empty();
        ::RemoveDirectoryA(path_.c_str());
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    void Empty() const {
        ForEachFile([this](const WIN32_FIND_DATAA& found) { ::DeleteFileA((path_ + found.cFileName).c_str()); });
    }
    uint64_t Bytes() const {
        uint64_t total = 0;
        ForEachFile([&total](const WIN32_FIND_DATAA& found) {
            total += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        });
        return total;
    }
    const std::string& Path() const { return path_; }

private:
    template <typename Visit>
    void ForEachFile(const Visit& visit) const {
        WIN32_FIND_DATAA found;
        const Common::UniqueFindHandle search(::FindFirstFileA((path_ + "*").c_str(), &found));
        if (!search) {
            return;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                visit(found);
            }
        } while (::FindNextFileA(search.get(), &found));
    }

    std::string path_;
};

// Runs `threads` producers at once, each calling emit(thread, i) for its share of `records`
// (after `warmUp` untimed calls), then drain().
template <typename Emit, typename Drain>
Figures RunWorkload(int threads, uint64_t records, uint64_t warmUp, const TscClock& clock, const Emit& emit,
                    const Drain& drain) {
    const uint64_t perThread = records / static_cast<uint64_t>(threads);
    std::vector<std::vector<uint32_t>> samples(threads, std::vector<uint32_t>(perThread));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&, t] {
            for (uint64_t i = 0; i < warmUp; ++i) {
                emit(t, i);
            }
            ++ready;
            while (!go.load()) {
            }
            std::vector<uint32_t>& mine = samples[t];
            for (uint64_t i = 0; i < perThread; ++i) {
                const uint64_t before = __rdtsc();
                emit(t, warmUp + i);
                const uint64_t ticks = __rdtsc() - before;
                mine[i] = static_cast<uint32_t>(
                    std::min<uint64_t>(ticks > clock.Overhead() ? ticks - clock.Overhead() : 0, UINT32_MAX));
            }
        });
    }
    while (ready.load() < threads) {
        std::this_thread::yield();
    }
    const double start = Seconds();
    go.store(true);
    for (std::thread& producer : producers) {
        producer.join();
    }
    const double produced = Seconds();
    drain();
    const double drained = Seconds();
    std::vector<uint32_t> all;
    all.reserve(perThread * threads);
    for (const std::vector<uint32_t>& mine : samples) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    Figures figures;
    figures.records = all.size();
    figures.recordsPerSecond = static_cast<double>(all.size()) / (produced - start);
    figures.p50Ns = clock.Nanoseconds(all[all.size() / 2]);
    figures.p99Ns = clock.Nanoseconds(all[all.size() * 99 / 100]);
    figures.p999Ns = clock.Nanoseconds(all[all.size() * 999 / 1000]);
    figures.onDiskSeconds = drained - start;
    return figures;
}

}  // namespace Bench
