// Throughput of the gzip log writer against bare zlib: about 100 MB of 100-byte log records,
// handed over in batches of 1 MB as the log-scope back-end's writer thread would, once through
// Logging::GzWriter (64 KiB chunks, each a complete gzip member) and once through a single
// gzwrite stream at level 5 into a file. Prints MB/s of text and compressed sizes; both end
// with everything handed to the system (the writer's Flush, gzclose).

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/static/writers/gz_writer.h"

namespace {

constexpr size_t kRecord = 100;
constexpr size_t kBatch = 1 << 20;
constexpr size_t kBatches = 100;
// Alternating runs, the fastest of each side counted: a moment of load from another build then
// costs one run, not the figure.
constexpr int kRounds = 5;

class QuietOwner final : public Logging::LogWriterOwner {
public:
    void NotifyRotation() override {}
    void QueueText(const std::string&) override {}
    void QueueDebugLine(const char*, ...) override {}
};

// Log-like records: a time, a thread, a level, a few words and numbers.
std::vector<std::string> MakeBatches() {
    static const char* const kWords[] = {"connection", "opened", "closed", "request", "reply",   "timeout",
                                         "retrying",   "user",   "denied", "session", "written", "bytes"};
    std::vector<std::string> batches(kBatches);
    uint32_t hash = 12345;
    size_t sequence = 0;
    for (std::string& batch : batches) {
        batch.reserve(kBatch);
        while (batch.size() + kRecord <= kBatch) {
            char record[160];
            int length = std::snprintf(record, sizeof record, "12:%02zu:%02zu.%03zu [%04x] I ", sequence / 60000 % 60,
                                       sequence / 1000 % 60, sequence % 1000, (hash >> 8) & 0xFFF);
            while (length < static_cast<int>(kRecord) - 1) {
                hash = hash * 1103515245u + 12345u;
                length += std::snprintf(record + length, sizeof record - length, (hash & 0x300) ? "%s " : "%s=%u ",
                                        kWords[(hash >> 16) % 12], (hash >> 20) % 100000);
            }
            record[kRecord - 1] = '\n';
            batch.append(record, kRecord);
            ++sequence;
        }
    }
    return batches;
}

double Seconds(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double RunWriter(const std::vector<std::string>& batches, const std::string& folder, long long* size) {
    Logging::LogScopeConfig config;
    config.Prefix = "bench";
    config.MaxSize = 0xFFFFFFFF;
    config.MaxFiles = 2;
    config.Compress = 1;
    QuietOwner owner;
    std::remove((folder + "bench.0.log.gz").c_str());
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    {
        Logging::GzWriter writer(folder, config, owner);
        writer.Open();
        for (const std::string& batch : batches) {
            Logging::SizeList sizes;
            for (size_t i = 0; i < batch.size() / kRecord; ++i) {
                sizes.Push(kRecord);
            }
            writer.Write(batch.data(), sizes);
        }
        writer.Flush();
    }
    const double seconds = Seconds(start);
    *size = FileSize(folder + "bench.0.log.gz");
    return seconds;
}

double RunZlib(const std::vector<std::string>& batches, const std::string& folder, long long* size) {
    const std::string path = folder + "bare.gz";
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    {
        const Common::UniqueGzFile file(gzopen(path.c_str(), "wb5"));
        for (const std::string& batch : batches) {
            gzwrite(file.get(), batch.data(), static_cast<unsigned>(batch.size()));
        }
    }
    const double seconds = Seconds(start);
    *size = FileSize(path);
    return seconds;
}

}  // namespace

int main() {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "hostprobe-bench-gz\\";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::vector<std::string> batches = MakeBatches();
    double text = 0;
    for (const std::string& batch : batches) {
        text += static_cast<double>(batch.size());
    }
    const double megabytes = text / 1e6;
    double bestWriter = 1e9;
    double bestZlib = 1e9;
    long long writerSize = 0;
    long long zlibSize = 0;
    for (int round = 0; round < kRounds; ++round) {
        bestWriter = std::min(bestWriter, RunWriter(batches, folder, &writerSize));
        bestZlib = std::min(bestZlib, RunZlib(batches, folder, &zlibSize));
    }
    std::printf("# text: %.1f MB in records of %zu bytes, batches of %zu bytes; best of %d runs each, alternately\n",
                megabytes, kRecord, kBatch, kRounds);
    std::printf("gz.writer.mbps %.6g\ngz.writer.bytes %lld\n", megabytes / bestWriter, writerSize);
    std::printf("gz.zlib.mbps %.6g\ngz.zlib.bytes %lld\n", megabytes / bestZlib, zlibSize);
    std::remove((folder + "bench.0.log.gz").c_str());
    std::remove((folder + "bare.gz").c_str());
    ::RemoveDirectoryA(folder.c_str());
    return 0;
}
