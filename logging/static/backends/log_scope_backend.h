#pragma once

// The back-end of channel type "logscope", the library's fast file output: the thread that
// logs only formats its record and appends it to the back-end's queue; one writer thread per
// process hands whole queues to each back-end's file writer (plain text, or gzip with
// compress 1), which writes the numbered rotating files "<prefix>.<n>.<extension>". A record
// of level CRITICAL_ERROR or above makes the logging thread wait until it is written.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "logging/common/srw_lock.h"
#include "logging/static/backend.h"
#include "logging/static/writers/log_writer.h"

namespace Logging {

class LogScopeWriterThread;

class LogScopeBackend final : public BaseBackend<LogScopeConfig, 0>, public LogWriterOwner {
public:
    // `homeDirectory` holds the files unless the configuration names a folder; empty: the
    // executable's directory.
    explicit LogScopeBackend(std::string homeDirectory = std::string());
    ~LogScopeBackend() override;

    void Write(TraceRecord& record) override;
    void RegisterProperties(const char* channel, const ChannelConfig& config) override;
    // Hands what is queued to the writer, which then finishes its files; the back-end takes
    // no records until the next Open.
    void Close() override;
    // Returns when everything queued so far has been handed to the writer and the writer has
    // flushed; at once without a writer, or on the writer thread, which would wait for itself.
    void Flush() override;
    int32_t ReadLog(uint32_t lines, std::string& out, uint32_t index) override;
    // Answers "log-file-<n>" itself.
    int32_t GetProperty(const char* name, std::string& value) override;
    int32_t Open(const char* channel) override;

    // The id of the process's writer thread, 0 while none runs.
    static uint32_t WriterThreadId();

    // What the writer needs of its owner. The notification hook runs on the writer thread and
    // must not log.
    void NotifyRotation() override;
    void QueueText(const std::string& text) override;
    void QueueDebugLine(const char* format, ...) override;

private:
    friend class LogScopeWriterThread;

    // Formatted records one after another, grown in steps of 64 KiB.
    class QueueBuffer {
    public:
        const char* Data() const { return bytes_.get(); }
        size_t Size() const { return size_; }
        size_t Capacity() const { return capacity_; }
        void Reserve(size_t capacity);
        void Append(const char* bytes, size_t length);
        void Clear() { size_ = 0; }
        void Swap(QueueBuffer& other) noexcept;

    private:
        std::unique_ptr<char[]> bytes_;
        size_t size_ = 0;
        size_t capacity_ = 0;
    };

    // Appends one record made of `count` pieces, `length` bytes in all, unless the queue
    // accepts nothing now.
    void Enqueue(const std::string_view* pieces, size_t count, size_t length);
    // Stops the writer thread's work for this back-end and deletes the writer.
    void Shutdown();
    void WriteStatistics();

    static int32_t DwordLimitProperty(Backend& backend, const char* name, std::string& value, bool get);
    static int32_t ComputedProperty(Backend& backend, const char* name, std::string& value, bool get);

    std::string baseHomeDir_;
    std::string homeDir_;      // the folder of the files, ending in "\" when not empty
    std::string displayName_;  // the channel name given to Open
    // What the writer reads; a new configuration applied while it runs does not touch it.
    LogScopeConfig writerConfig_;
    std::unique_ptr<LogWriter> writer_;
    std::atomic<uint32_t> readLog_{0};
    uint32_t lastStatistics_ = 0;

    // The writer thread's side.
    std::atomic<bool> stopping_{false};
    std::atomic<bool> wake_{false};
    std::atomic<uint32_t> finished_{1};  // 1 while the writer thread does not serve this back-end
    std::atomic<uint32_t> lastWriterFlush_{0};
    std::atomic<uint64_t> flushCompleted_{0};

    // The queue and what goes with it.
    SrwLock queueLock_;
    QueueBuffer data_;
    SizeList sizes_;
    bool hasData_ = false;
    // Records are taken only while a writer exists and the back-end is not stopping: a
    // back-end whose Open failed drops them, and its Flush returns at once.
    bool accepting_ = false;
    bool registered_ = false;  // served by the writer thread
    uint64_t flushRequested_ = 0;
    uint32_t maxBuffer_ = 0;
    uint32_t numRelocations_ = 0;
};

}  // namespace Logging
