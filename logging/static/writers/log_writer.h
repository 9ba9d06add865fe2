#pragma once

// The file writers of the log-scope back-end. A writer keeps the ring of numbered files
// "<prefix>.<n>.<extension>" (file 0 is the one being written), takes whole queued batches
// of records from the back-end's writer thread and writes them without splitting a record
// between two files. TxtWriter writes plain text, GzWriter complete gzip members.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// <windows.h> defines MoveFile as a macro; the writer's operation keeps its own name (include
// <windows.h> before this header where both are needed).
#ifdef MoveFile
#undef MoveFile
#endif

namespace Logging {

class LogScopeConfig;

// The byte lengths of the records of a batch, in order; a writer consumes them from the
// front as it writes.
class SizeList {
public:
    void Push(uint64_t size) {
        sizes_.push_back(size);
        remaining_ += size;
    }
    bool Empty() const { return head_ == sizes_.size(); }
    size_t Count() const { return sizes_.size() - head_; }
    uint64_t Front() const { return sizes_[head_]; }
    void Pop() {
        remaining_ -= sizes_[head_];
        ++head_;
    }
    // Bytes of the records not consumed yet.
    uint64_t RemainingBytes() const { return remaining_; }
    void Clear() {
        sizes_.clear();
        head_ = 0;
        remaining_ = 0;
    }
    void Swap(SizeList& other) noexcept {
        sizes_.swap(other.sizes_);
        std::swap(head_, other.head_);
        std::swap(remaining_, other.remaining_);
    }

private:
    std::vector<uint64_t> sizes_;
    size_t head_ = 0;
    uint64_t remaining_ = 0;
};

// What a writer needs of the back-end that owns it.
class LogWriterOwner {
public:
    // The back-end's notification hook, called after every rotation of the numbered files.
    virtual void NotifyRotation() = 0;
    // Queues raw text as one record, for the writer thread to write after what it holds now.
    virtual void QueueText(const std::string& text) = 0;
    // Queues a "@@" diagnostic line (a DEBUG_TRACE record formatted without any output flag),
    // only when the channel's flags contain OF_DEBUG.
    virtual void QueueDebugLine(const char* format, ...) __attribute__((format(gnu_printf, 2, 3))) = 0;

protected:
    ~LogWriterOwner() = default;
};

class LogWriter {
public:
    // `homeDirectory` (empty, or ending in "\") and `config` belong to the owning back-end and
    // outlive the writer.
    LogWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner)
        : homeDirectory_(homeDirectory), config_(config), owner_(owner) {}
    virtual ~LogWriter() = default;
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // 0 on success.
    virtual uint32_t Open() = 0;
    // Writes the records of `data`, whose lengths `sizes` lists (their sum is the batch's
    // length), consuming the entries it wrote.
    virtual void Write(const char* data, SizeList& sizes) = 0;
    virtual void Flush() = 0;
    // The last `lines` lines (0: all) of file `index`; a result code.
    virtual int32_t ReadLog(uint32_t lines, std::string& out, uint32_t index) = 0;
    // "<prefix>.<index>.<extension>", cut to 255 characters, after the home directory when
    // `withDirectory` is set.
    virtual std::string GetFileName(uint32_t index, bool withDirectory);
    // Shifts the numbered files up by one (the oldest is removed), file 0 becoming file 1.
    virtual void Rotate();
    virtual void MoveFile(const std::string& from, const std::string& to);

protected:
    // Renames files down so that the numbers have no gaps.
    void CompactNumbers();
    // Renames the files after the gap at `index` down into it; false when nothing was renamed.
    bool ShiftDown(uint32_t index);
    // Takes whole records from the front of `sizes` while their sum stays below `limit`; the
    // first one always, and with `allowCrossing` also the one that reaches or crosses it, which
    // ends the chunk (also when it is the first). Returns the bytes taken.
    static uint64_t GetNextChunk(SizeList& sizes, uint64_t limit, bool allowCrossing);

    const std::string& homeDirectory_;
    const LogScopeConfig& config_;
    LogWriterOwner& owner_;
};

}  // namespace Logging
