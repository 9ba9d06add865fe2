#pragma once

#include <cstdint>
#include <string>

#include "logging/common/file_io.h"
#include "logging/static/backend.h"
#include "logging/static/backends/shared_file_rotation.h"

namespace Logging {

// One log file that several processes append to. The file is held only while one record is
// written: open under deny-write sharing (retried for up to `timeout` ms while another process
// holds it), append, close. Rotates into a single ".bak" by size or by calendar day.
class SharedFileBackend final : public BaseBackend<SharedFileConfig, 0>, public FileIo {
public:
    // `homeDir`: the directory of relative file names; empty: the executable's directory.
    explicit SharedFileBackend(std::string homeDir);

    void Write(TraceRecord& record) override;
    void RegisterProperties(const char* channel, const ChannelConfig& config) override;
    // File 0 is the current file, 1 its ".bak"; both may be read while other processes write.
    int32_t ReadLog(uint32_t lines, std::string& text, uint32_t index) override;
    // Answers "log-file-<n>" itself: the path of file n.
    int32_t GetProperty(const char* name, std::string& value) override;
    int32_t Open(const char* channel) override;
    std::string GetPath(uint32_t index) override;

private:
    std::string homeDir_;
    std::string line_;          // the record being written; kept to spare an allocation per record
    FileIdentity lastWritten_;  // the file the last record went to
};

}  // namespace Logging
