#include "logging/static/writers/txt_writer.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "logging/channel_config.h"
#include "logging/common/platform.h"
#include "logging/static/manager_internal.h"
#include "logging/static/writers/background_compressor.h"

namespace Logging {

namespace {

constexpr uint64_t kNoLimit = UINT64_MAX;
constexpr uint64_t kMaxWrite = 0xFFFFFFFF;

}  // namespace

TxtWriter::TxtWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner)
    : LogWriter(homeDirectory, config, owner) {}

bool TxtWriter::Compressing() const {
    return config_.Compress == kCompressOlderFiles;
}

uint32_t TxtWriter::Open() {
    CompactNumbers();
    FileIo::Close();
    FileIo::Open(true, 0);
    return 0;
}

std::string TxtWriter::GetFileName(uint32_t index, bool withDirectory) {
    std::string name = LogWriter::GetFileName(index, withDirectory);
    if (Compressing() && index != 0) {
        name += ".gz";
    }
    return name;
}

void TxtWriter::Rotate() {
    if (Compressing()) {
        // A file still being compressed cannot be renamed: the rotation would lose it.
        for (uint32_t i = 1; i < config_.MaxFiles; ++i) {
            BackgroundCompressor::WaitFor(GetFileName(i, true));
        }
    }
    LogWriter::Rotate();
}

void TxtWriter::MoveFile(const std::string& from, const std::string& to) {
    LogWriter::MoveFile(from, to);
    if (Compressing()) {
        BackgroundCompressor::Queue(to, to + ".tmp");
    }
}

int32_t TxtWriter::ReadLog(uint32_t lines, std::string& out, uint32_t index) {
    ExclusiveGuard guard(lock_);
    return ReadTail(lines, out, index);
}

bool TxtWriter::CheckDay() {
    const int64_t now = CurrentTime();
    if (SameLocalDay(FileTime(), now)) {
        return true;
    }
    ExclusiveGuard guard(lock_);
    FileIo::Close();
    TraceFromBackend(INFORMATION, "TxtWriter(%s): Rotate logs. day=%li prev=%li", GetPath(0).c_str(),
                     static_cast<long>(LocalDayOfMonth(now)), static_cast<long>(LocalDayOfMonth(FileTime())));
    Rotate();
    if (!FileIo::Open(false, 0)) {
        return false;
    }
    SetFileTime(now);
    return true;
}

bool TxtWriter::RotateAndReopen(uint64_t& size, uint64_t limit) {
    ExclusiveGuard guard(lock_);
    FileIo::Close();
    TraceFromBackend(INFORMATION, "TxtWriter(%s): Rotate logs. size=%llu max=%llu", GetPath(0).c_str(),
                     static_cast<unsigned long long>(size), static_cast<unsigned long long>(limit));
    Rotate();
    if (!FileIo::Open(false, 0)) {
        return false;
    }
    const int64_t end = _lseeki64(fd_, 0, SEEK_END);
    if (end < 0) {
        return false;
    }
    size = static_cast<uint64_t>(end);
    if (size >= limit) {
        ReportBackendError("txtWriter: size >= maxSize after log rotation");
        return false;
    }
    return true;
}

bool TxtWriter::WriteChunk(const char* data, uint64_t length) {
    const char* head = data;
    const char* const tail = data + length;
    while (head < tail) {
        const int written = _write(fd_, head, static_cast<unsigned>(tail - head));
        if (written < 0) {
            ReportBackendError("TxtWriter: write error %i", errno);
            return false;
        }
        if (written == 0) {
            ReportBackendError("TxtWriter: write returned 0");
            return false;
        }
        head += written;
        if (head > tail) {
            ReportBackendError("TxtWriter: Pointer corruption detected (head > tail)");
            return false;
        }
    }
    return true;
}

void TxtWriter::Write(const char* data, SizeList& sizes) {
    const uint64_t caller = Platform::CurrentThreadId();
    uint64_t owner = 0;
    if (!ownerThread_.compare_exchange_strong(owner, caller) && owner != caller) {
        ReportBackendError("TxtWriter: Multi-threaded access detected! Expected thread %llu, got %llu",
                           static_cast<unsigned long long>(owner), static_cast<unsigned long long>(caller));
        return;
    }
    if (!IsOpen() && !FileIo::Open(true, 0)) {
        return;
    }
    const uint64_t limit = config_.MaxSize == 0xFFFFFFFF ? kNoLimit : config_.MaxSize;
    if (config_.OneDay && !CheckDay()) {
        return;
    }
    const int64_t end = _lseeki64(fd_, 0, SEEK_END);
    if (end < 0) {
        ReportBackendError("TxtWriter: _lseek error %i", errno);
        return;
    }
    uint64_t size = static_cast<uint64_t>(end);
    const char* head = data;
    while (!sizes.Empty()) {
        const uint64_t n = std::min(sizes.RemainingBytes(), kMaxWrite);
        if (size < limit && size + n <= limit) {
            // The usual case: the whole batch in one call.
            if (_write(fd_, head, static_cast<unsigned>(n)) < 0) {
                ReportBackendError("TxtWriter: write error %i", errno);
                return;
            }
            head += n;
            size += n;
            for (uint64_t taken = 0; taken < n && !sizes.Empty(); sizes.Pop()) {
                taken += sizes.Front();
            }
            continue;
        }
        if (size < limit) {
            const uint64_t chunk = GetNextChunk(sizes, std::min(limit - size, kMaxWrite), true);
            if (chunk == 0 || chunk > n) {
                ReportBackendError("TxtWriter: GetNextChunk returned invalid size: %zu (max: %u)",
                                   static_cast<size_t>(chunk), static_cast<unsigned>(n));
                return;
            }
            if (!WriteChunk(head, chunk)) {
                return;
            }
            head += chunk;
            size += chunk;
            if (size < limit) {
                continue;
            }
        }
        if (!RotateAndReopen(size, limit)) {
            return;
        }
    }
}

}  // namespace Logging
