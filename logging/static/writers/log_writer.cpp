#include "logging/static/writers/log_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "core/common/assert.h"
#include "logging/channel_config.h"
#include "logging/static/manager_internal.h"

namespace Logging {

namespace {

constexpr char kLogWriterSource[] = "logging/static/log_writer";

enum class Presence { Exists, Missing, Unknown };

Presence Stat(const std::string& path) {
    struct _stat64i32 status;
    if (_stat64i32(path.c_str(), &status) == 0) {
        return Presence::Exists;
    }
    return errno == ENOENT ? Presence::Missing : Presence::Unknown;
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
    if (config_.MaxFiles == 0) {
        Common::ReportAssertion("Config.MaxFiles", kLogWriterSource, __LINE__);
        return;
    }
    CompactNumbers();
    const std::string oldest = GetFileName(config_.MaxFiles - 1, true);
    if (std::remove(oldest.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("LogScopeBackend: unable to remove %s. error %i", oldest.c_str(), errno);
    }
    for (int64_t i = static_cast<int64_t>(config_.MaxFiles) - 2; i >= 0; --i) {
        const std::string from = GetFileName(static_cast<uint32_t>(i), true);
        const std::string to = GetFileName(static_cast<uint32_t>(i + 1), true);
        if (i == 0) {
            MoveFile(from, to);
            continue;
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
    if (maxFiles < 3) {  // maxFiles - 1 < 2: no gap can lie between two files
        return;
    }
    // Moves the next existing files above the gap at `gap` down onto it; whether any moved.
    auto shiftDown = [&](uint32_t gap) {
        uint32_t next = gap + 1;
        for (; next < maxFiles; ++next) {
            const Presence presence = Stat(GetFileName(next, true));
            if (presence == Presence::Unknown) {
                return false;
            }
            if (presence == Presence::Exists) {
                break;
            }
        }
        if (next >= maxFiles) {
            return false;
        }
        bool renamed = false;
        for (uint32_t k = next; k < maxFiles; ++k) {
            if (std::rename(GetFileName(k, true).c_str(), GetFileName(k - (next - gap), true).c_str()) == 0) {
                renamed = true;
            } else if (errno != ENOENT) {
                break;
            }
        }
        return renamed;
    };
    for (uint32_t i = 1; i < maxFiles - 1;) {
        const Presence presence = Stat(GetFileName(i, true));
        if (presence == Presence::Exists) {
            ++i;
        } else if (presence == Presence::Unknown || !shiftDown(i)) {
            return;
        } else {
            i = 1;
        }
    }
}

uint64_t LogWriter::GetNextChunk(SizeList& sizes, uint64_t limit, bool allowCrossing) {
    if (limit == 0) {
        Common::ReportAssertion("maxSize", kLogWriterSource, __LINE__);
    }
    uint64_t sum = 0;
    while (!sizes.Empty()) {
        const uint64_t size = sizes.Front();
        if (sum != 0 && sum + size >= limit && !allowCrossing) {
            break;
        }
        sum += size;
        sizes.Pop();
        // With crossing allowed the batch ends with the record that reaches the limit.
        if (allowCrossing && sum >= limit) {
            break;
        }
    }
    return sum;
}

}  // namespace Logging
