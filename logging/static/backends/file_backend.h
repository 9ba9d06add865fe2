#pragma once

// The back-end of channel type "file": one log file, rotated into a single ".bak" file when
// it grows over maxSize or when the calendar day changes.

#include <cstdint>
#include <string>

#include "logging/common/file_io.h"
#include "logging/static/backend.h"

namespace Logging {

class FileBackend final : public BaseBackend<FileConfig, 0>, public FileIo {
public:
    // `homeDirectory` resolves relative file names; empty: the executable's directory.
    explicit FileBackend(std::string homeDirectory = std::string());

    void Write(TraceRecord& record) override;
    void RegisterProperties(const char* channel, const ChannelConfig& config) override;
    void Close() override { FileIo::Close(); }
    // Index 0 reads the current file, 1 its ".bak".
    int32_t ReadLog(uint32_t lines, std::string& out, uint32_t index) override;
    // Answers "log-file-<n>" itself.
    int32_t GetProperty(const char* name, std::string& value) override;
    int32_t Open(const char* channel) override;

    // 0: the configured file with its macros expanded, below the home directory when it is
    // relative; 1: the same with ".bak"; anything else: empty.
    std::string GetPath(uint32_t index) override;

private:
    // Renames the file to its ".bak" (replacing an older one) and starts a new file.
    void Rotate();

    std::string homeDir_;
    std::string line_;  // the record being written, kept to reuse its capacity
};

}  // namespace Logging
