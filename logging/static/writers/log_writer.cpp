#include "logging/static/writers/log_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "core/common/assert.h"
#include "logging/channel_config.h"
#include "logging/static/manager_internal.h"

namespace Logging {

namespace {

constexpr char kWriterSource[] = "logging/static/writer";

// 0 when `path` exists, else the errno of the look-up.
int StatError(const std::string& path) {
    struct _stat64i32 status;
    return _stat64i32(path.c_str(), &status) == 0 ? 0 : errno;
}

}  // namespace

std::string LogWriter::GetFileName(uint32_t index, bool withDirectory) {
    char name[256];
    std::snprintf(name, sizeof name, "%s.%d.%s", config_.Prefix.c_str(), static_cast<int>(index),
                  config_.Extension.c_str());
    return withDirectory ? homeDirectory_ + name : std::string(name);
}

void LogWriter::MoveFile(const std::string& from, const std::string& to) {
    std::remove(to.c_str());
    if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("LogScopeBackend: unable to rename %s to %s. error %i", from.c_str(), to.c_str(), errno);
    }
}

void LogWriter::Rotate() {
    const uint32_t maxFiles = config_.MaxFiles;
    if (maxFiles == 0) {
        Common::ReportAssertion("Config.MaxFiles", kWriterSource, __LINE__);
        return;
    }
    CompactNumbers();
    const std::string oldest = GetFileName(maxFiles - 1, true);
    if (std::remove(oldest.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("LogScopeBackend: unable to remove %s. error %i", oldest.c_str(), errno);
    }
    for (int64_t i = static_cast<int64_t>(maxFiles) - 2; i >= 0; --i) {
        const uint32_t index = static_cast<uint32_t>(i);
        const std::string from = GetFileName(index, true);
        const std::string to = GetFileName(index + 1, true);
        if (index == 0) {
            MoveFile(from, to);
            break;
        }
        std::remove(to.c_str());
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) {
            ReportBackendError("LogScopeBackend: unable to rename %s to %s. error %i", from.c_str(), to.c_str(), errno);
        }
    }
    owner_.NotifyRotation();
}

void LogWriter::CompactNumbers() {
    const uint32_t maxFiles = config_.MaxFiles;
    if (maxFiles < 3) {
        return;
    }
    for (uint32_t i = 1; i < maxFiles - 1;) {
        const int error = StatError(GetFileName(i, true));
        if (error == 0) {
            ++i;
            continue;
        }
        if (error != ENOENT || !ShiftDown(i)) {
            return;
        }
        i = 1;
    }
}

bool LogWriter::ShiftDown(uint32_t index) {
    const uint32_t maxFiles = config_.MaxFiles;
    uint32_t found = 0;
    for (uint32_t j = index + 1; j < maxFiles; ++j) {
        const int error = StatError(GetFileName(j, true));
        if (error == 0) {
            found = j;
            break;
        }
        if (error != ENOENT) {
            return false;
        }
    }
    if (found == 0) {
        return false;
    }
    const uint32_t gap = found - index;
    bool renamed = false;
    for (uint32_t k = found; k < maxFiles; ++k) {
        if (std::rename(GetFileName(k, true).c_str(), GetFileName(k - gap, true).c_str()) == 0) {
            renamed = true;
        } else if (errno != ENOENT) {
            break;
        }
    }
    return renamed;
}

uint64_t LogWriter::GetNextChunk(SizeList& sizes, uint64_t limit, bool allowCrossing) {
    if (limit == 0) {
        Common::ReportAssertion("maxSize", kWriterSource, __LINE__);
        return 0;
    }
    uint64_t sum = 0;
    while (!sizes.Empty()) {
        const uint64_t size = sizes.Front();
        const bool reaches = sum + size >= limit;
        if (sum != 0 && reaches && !allowCrossing) {
            break;
        }
        sum += size;
        sizes.Pop();
        // The record that reaches the limit ends the chunk, also when it is the first.
        if (reaches && allowCrossing) {
            break;
        }
    }
    return sum;
}

}  // namespace Logging
