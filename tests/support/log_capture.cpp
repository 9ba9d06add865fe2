#include "support/log_capture.h"

#include "logging/channel_config.h"
#include "logging/logging_manager.h"

namespace TestSupport {

LogCapture::LogCapture(const std::string& channel, int32_t level, uint32_t flags, const std::string& prefix)
    : channel_(channel) {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    if (channel.empty()) {
        char* name = manager.GetDefaultChannel();
        channel_ = name != nullptr ? name : "";
        Logging::Free(name);
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
    std::vector<std::string> texts;
    for (const Entry& entry : Entries()) {
        texts.push_back(entry.text);
    }
    return texts;
}

std::string ReportLogLines(const std::vector<std::string>& captured) {
    std::string lines;
    for (const std::string levels : {"I", "W", "EC "}) {  // BLOCKED has a blank for its letter
        for (const std::string& text : captured) {
            lines += !text.empty() && levels.find(text[0]) != std::string::npos ? "[LOG] " + text + "\r\n" : "";
        }
    }
    return lines;
}

}  // namespace TestSupport
