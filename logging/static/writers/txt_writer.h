#pragma once

// The plain-text writer of the log-scope back-end: numbered files written by one thread, a
// file ending with the record that reaches or crosses maxSize, rotation by size or by day,
// and with compress mode 2 the older files gzip-compressed in the background.

#include <atomic>
#include <cstdint>
#include <string>

#include "logging/common/file_io.h"
#include "logging/common/srw_lock.h"
#include "logging/static/writers/log_writer.h"

#ifdef MoveFile  // see log_writer.h
#undef MoveFile
#endif

namespace Logging {

class TxtWriter final : public LogWriter, public FileIo {
public:
    // The compress mode whose older files are compressed in the background.
    static constexpr uint32_t kCompressOlderFiles = 2;

    TxtWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner);

    // Closes the gaps in the numbering and opens file 0; 0 even when it could not be opened,
    // since Write tries again.
    uint32_t Open() override;
    // Only the first thread that writes may write; another one's batches are dropped.
    void Write(const char* data, SizeList& sizes) override;
    void Flush() override {}
    int32_t ReadLog(uint32_t lines, std::string& out, uint32_t index) override;
    // Files 1 and above end in ".gz" in compress mode 2.
    std::string GetFileName(uint32_t index, bool withDirectory) override;
    // Waits for a pending compression of the files it renames, then shifts them.
    void Rotate() override;
    // In compress mode 2 the file moved to 1 is then queued for compression.
    void MoveFile(const std::string& from, const std::string& to) override;

    std::string GetPath(uint32_t index) override { return GetFileName(index, true); }

private:
    // Rotates when the file was last written on another day; false when that failed.
    bool CheckDay();
    // Closes, rotates and opens a new file 0 under the lock, and takes its size; false when
    // writing cannot go on.
    bool RotateAndReopen(uint64_t& size, uint64_t limit);
    // Writes all of `length` bytes at the end of the file, in as many calls as it takes.
    bool WriteChunk(const char* data, uint64_t length);
    bool Compressing() const;

    std::atomic<uint64_t> ownerThread_{0};
    // Held while the file is closed and reopened for rotation and while the log is read.
    SrwLock lock_;
};

}  // namespace Logging
