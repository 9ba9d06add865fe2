// A stand-in until the gzip writer itself lands: it opens nothing and drops every batch.

#include "logging/static/writers/gz_writer.h"

#include "logging/result_codes.h"

namespace Logging {

struct GzWriter::State {};

GzWriter::GzWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner)
    : LogWriter(homeDirectory, config, owner), state_(std::make_unique<State>()) {}

GzWriter::~GzWriter() = default;

uint32_t GzWriter::Open() {
    return 0;
}

void GzWriter::Write(const char*, SizeList& sizes) {
    sizes.Clear();
}

void GzWriter::Flush() {}

int32_t GzWriter::ReadLog(uint32_t, std::string& out, uint32_t) {
    out.clear();
    return LOGGING_RC_NO_ACCESS;
}

std::string GzWriter::GetFileName(uint32_t index, bool withDirectory) {
    return LogWriter::GetFileName(index, withDirectory) + ".gz";
}

void GzWriter::Rotate() {
    LogWriter::Rotate();
}

}  // namespace Logging
