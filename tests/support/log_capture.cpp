#include "support/log_capture.h"

#include "core/common/error.h"
#include "core/common/utf.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"

namespace TestSupport {

LogCapture::LogCapture(const std::string& channel, int32_t level, uint32_t flags, const std::string& prefix) {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    if (channel.empty()) {
        char* name = manager.GetDefaultChannel();
        channel_ = name != nullptr ? name : "";
        Logging::Free(name);
    } else {
        channel_ = channel;
    }
    Logging::CustomConfig config;
    config.Level = static_cast<uint32_t>(level);
    config.Flags = flags;
    config.MsgPrefix = prefix;
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(this, false));
    tuneResult_ = manager.TuneChannel(channel_.c_str(), config);
}

LogCapture::~LogCapture() {
    Logging::LoggingManager::Instance().RemoveChannel(channel_.c_str());
}

std::vector<std::string> LogCapture::Texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (const Entry& entry : entries_) {
        texts.push_back(entry.text);
    }
    return texts;
}

std::vector<LogCapture::Entry> LogCapture::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

size_t LogCapture::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

void LogCapture::Add(Kind kind, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                     std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(Entry{kind, channel != nullptr ? channel : "", level, codeHigh, codeLow, std::move(text)});
}

void LogCapture::Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) {
    Add(Kind::Text, channel, level, codeHigh, codeLow, Common::Utf16ToUtf8(text != nullptr ? text : L""));
}

void LogCapture::TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                           const void*, uint32_t) {
    Add(Kind::Data, channel, level, codeHigh, codeLow, Common::Utf16ToUtf8(text != nullptr ? text : L""));
}

void LogCapture::TraceError(const char* channel, int32_t level, const Common::Error& error) {
    Add(Kind::Error, channel, level, 0, 0, std::to_string(error.Code()));
}

}  // namespace TestSupport
