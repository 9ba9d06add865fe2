#pragma once

// The gzip writer of the log-scope back-end: numbered files "<prefix>.<n>.<extension>.gz"
// made of complete gzip members ("chunks") of at most CHUNK_SIZE bytes of text each, every
// chunk finished before the next begins, so that a file stays readable after a crash. An
// existing file is checked when it is opened again: a damaged last chunk is cut off and the
// text that could still be inflated from it is written back between two marker lines.

#include <cstdint>
#include <memory>
#include <string>

#include "logging/common/srw_lock.h"
#include "logging/static/writers/log_writer.h"

namespace Logging {

class GzWriter final : public LogWriter {
public:
    static constexpr uint32_t CHUNK_SIZE = 0x10000;

    GzWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner);
    ~GzWriter() override;

    uint32_t Open() override;
    void Write(const char* data, SizeList& sizes) override;
    void Flush() override;
    int32_t ReadLog(uint32_t lines, std::string& out, uint32_t index) override;
    std::string GetFileName(uint32_t index, bool withDirectory) override;
    void Rotate() override;

private:
    struct State;
    std::unique_ptr<State> state_;  // keeps zlib out of this header
};

}  // namespace Logging
