#include "logging/static/backends/file_backend.h"

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "logging/static/backends/log_file_property.h"
#include "logging/static/manager_internal.h"
#include "logging/static/path_macros.h"

namespace Logging {

namespace {

int32_t ActiveProperty(Backend& backend, const char*, std::string& value, bool get) {
    if (!get) {
        return LOGGING_RC_READ_ONLY;
    }
    value = static_cast<FileBackend&>(backend).IsOpen() ? "1" : "0";
    return LOGGING_RC_NOERROR;
}

std::shared_ptr<Backend> MakeFileBackend() {
    return std::make_shared<FileBackend>(HomeDirectory());
}

const bool g_registered = (RegisterBackendFactory(BACKEND_FILE, &MakeFileBackend), true);

}  // namespace

FileBackend::FileBackend(std::string homeDirectory) : homeDir_(LogHomeDirectory(std::move(homeDirectory))) {
    SetFixedBits(kSerialisedWrites);
}

void FileBackend::RegisterProperties(const char*, const ChannelConfig&) {
    properties_ = {
        {"append", 0, PROPERTY_BOOL, &config_.Append, nullptr, 0},
        {"active", 1, PROPERTY_BOOL, nullptr, &ActiveProperty, 0},
        {"oneday", 1, PROPERTY_BOOL, &config_.OneDay, nullptr, 0},
        {"maxSize", 0, PROPERTY_DWORD, &config_.MaxSize, nullptr, 0},
        {"file", 1, PROPERTY_STRING, &config_.File, nullptr, 0},
        {"homeDir", 1, PROPERTY_STRING, &homeDir_, nullptr, 0},
        {"number-of-logs", 1, PROPERTY_DWORD, nullptr, nullptr, 2},
    };
}

std::string FileBackend::GetPath(uint32_t index) {
    if (index > 1) {
        return std::string();
    }
    std::string path = ResolveAgainstHome(homeDir_, ExpandPathMacros(config_.File, kAllMacros, nullptr).path);
    if (index == 1) {
        path += ".bak";
    }
    return path;
}

int32_t FileBackend::Open(const char* channel) {
    FileIo::Close();
    if (config_.File.empty()) {
        config_.File = std::string(channel != nullptr ? channel : "") + ".log";
    }
    if (config_.Enabled) {
        FileIo::Open(config_.Append, 0);
    }
    return LOGGING_RC_NOERROR;
}

void FileBackend::Write(TraceRecord& record) {
    if (!IsOpen() && !FileIo::Open(config_.Append, 0)) {
        return;
    }
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(EffectiveFlags(), Prefix(), PrefixExpanded(), pieces);
    line_.clear();
    for (size_t i = 0; i < count; ++i) {
        line_.append(pieces[i]);
    }
    if (!line_.empty()) {
        FileIo::Write(line_.data(), line_.size());
    }
    // The record that crosses the limit stays whole in the old file.
    const bool overSize = config_.MaxSize != 0xFFFFFFFF && _lseeki64(fd_, 0, SEEK_END) > config_.MaxSize;
    if (!overSize && (!config_.OneDay || SameLocalDay(FileTime(), CurrentTime()))) {
        return;
    }
    Rotate();
}

void FileBackend::Rotate() {
    FileIo::Close();
    const std::string path = GetPath(0);
    const std::string backup = path + ".bak";
    if (std::remove(backup.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("FileBackend: unable to remove %s. error %i", backup.c_str(), errno);
    }
    if (std::rename(path.c_str(), backup.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("FileBackend: unable to rename %s to %s. error %i", path.c_str(), backup.c_str(), errno);
    }
    FileIo::Open(false, 0);
}

int32_t FileBackend::ReadLog(uint32_t lines, std::string& out, uint32_t index) {
    return ReadTail(lines, out, index);
}

int32_t FileBackend::GetProperty(const char* name, std::string& value) {
    uint32_t index = 0;
    if (!ParseLogFileIndex(name, index)) {
        return Backend::GetProperty(name, value);
    }
    if (index > 1) {
        return LOGGING_RC_NO_SUCH_PROPERTY;
    }
    value = GetPath(index);
    return LOGGING_RC_NOERROR;
}

}  // namespace Logging
