#include "logging/static/backends/shared_file_backend.h"

// The runtime's descriptor interface.
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "logging/static/backends/shared_file_rotation.h"
#include "logging/static/manager_internal.h"
#include "logging/static/path_macros.h"

namespace Logging {

namespace {

constexpr char kLogFileProperty[] = "log-file-";
constexpr uint32_t kNoLimit = 0xFFFFFFFF;

struct Registration {
    Registration() {
        RegisterBackendFactory(BACKEND_SHAREDFILE, []() -> std::shared_ptr<Backend> {
            return std::make_shared<SharedFileBackend>(HomeDirectory());
        });
    }
} registration;

}  // namespace

SharedFileBackend::SharedFileBackend(std::string homeDir) : homeDir_(LogHomeDirectory(std::move(homeDir))) {
    SetFixedBits(kSerialisedWrites);
}

std::string SharedFileBackend::GetPath(uint32_t index) {
    if (index > 1) {
        return std::string();
    }
    std::string path = ResolveAgainstHome(homeDir_, ExpandPathMacros(config_.File, kAllMacros, nullptr).path);
    return index == 1 ? path + ".bak" : path;
}

int32_t SharedFileBackend::Open(const char* channel) {
    if (config_.File.empty()) {
        config_.File = std::string(channel != nullptr ? channel : "") + ".log";
    }
    return LOGGING_RC_NOERROR;
}

void SharedFileBackend::RegisterProperties(const char*, const ChannelConfig&) {
    properties_ = {
        {"maxSize", 0, PROPERTY_DWORD, &config_.MaxSize, nullptr, 0},
        {"timeout", 0, PROPERTY_DWORD, &config_.Timeout, nullptr, 0},
        {"file", 1, PROPERTY_STRING, &config_.File, nullptr, 0},
        {"homeDir", 1, PROPERTY_STRING, &homeDir_, nullptr, 0},
        {"oneday", 1, PROPERTY_BOOL, &config_.OneDay, nullptr, 0},
        {"number-of-logs", 1, PROPERTY_DWORD, nullptr, nullptr, 2},
    };
}

int32_t SharedFileBackend::GetProperty(const char* name, std::string& value) {
    constexpr size_t prefixLength = sizeof kLogFileProperty - 1;
    if (name != nullptr && std::strncmp(name, kLogFileProperty, prefixLength) == 0 && name[prefixLength] != '\0' &&
        std::strspn(name + prefixLength, "0123456789") == std::strlen(name + prefixLength)) {
        // Only the first digits matter: any number above 1 names no file.
        const unsigned long index = std::strtoul(name + prefixLength, nullptr, 10);
        if (index > 1) {
            return LOGGING_RC_NO_SUCH_PROPERTY;
        }
        value = GetPath(static_cast<uint32_t>(index));
        return LOGGING_RC_NOERROR;
    }
    return BaseBackend::GetProperty(name, value);
}

int32_t SharedFileBackend::ReadLog(uint32_t lines, std::string& text, uint32_t index) {
    return ReadTail(lines, text, index);
}

void SharedFileBackend::Write(TraceRecord& record) {
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(EffectiveFlags(), Prefix(), PrefixExpanded(), pieces);
    line_.clear();
    for (size_t i = 0; i < count; ++i) {
        line_.append(pieces[i]);
    }
    const bool sizeLimited = config_.MaxSize != kNoLimit;
    // Expanded once, so that a name with "{date}" rotates the file this record went to.
    const std::string path = GetPath(0);
    int64_t size = 0;
    if (!line_.empty()) {
        if (!FileIo::Open(true, config_.Timeout, path.c_str())) {
            return;  // the record is lost; the open has reported why
        }
        FileIo::Write(line_.data(), line_.size());
        if (sizeLimited) {
            size = _lseeki64(fd_, 0, SEEK_END);
        }
        if (config_.OneDay) {
            lastWritten_ = IdentityOfDescriptor(fd_);
        }
        FileIo::Close();
    }
    const bool overSize = sizeLimited && size > static_cast<int64_t>(config_.MaxSize);
    // The file time is that of the last write before this record, by whichever process.
    const bool staleDay = config_.OneDay && !SameLocalDay(FileTime(), CurrentTime());
    if (overSize || staleDay) {
        RotateSharedFile(path, path + ".bak", config_.MaxSize, staleDay ? lastWritten_ : FileIdentity{},
                         config_.Timeout);
    }
}

}  // namespace Logging
