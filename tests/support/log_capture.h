#pragma once

// Captures in-process what reaches a channel (the default one unless named), tuned as a custom
// channel for the object's lifetime. Formatted messages arrive as "I00000000: text".

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/utf.h"
#include "logging/channel_config.h"
#include "logging/log.h"
#include "logging/logging_manager.h"
#include "logging/tracer.h"

namespace TestSupport {

class LogCapture : public Logging::Tracer {
public:
    enum class Kind { Text, Data, Error };
    struct Entry {
        Kind kind;
        std::string channel;
        int32_t level;
        uint16_t codeHigh, codeLow;
        std::string text;  // UTF-8; for an error, its code in decimal
    };

    explicit LogCapture(const std::string& channel = std::string(), int32_t level = Logging::DEBUG_TRACE,
                        uint32_t flags = 0x1000F4, const std::string& prefix = std::string())
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
    ~LogCapture() override { Logging::LoggingManager::Instance().RemoveChannel(channel_.c_str()); }

    const std::string& Channel() const { return channel_; }
    int32_t TuneResult() const { return tuneResult_; }  // the code of tuning the channel
    std::vector<Entry> Entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Entry& entry : Entries()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
    size_t Count() const { return Entries().size(); }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

    void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) override {
        Add(Kind::Text, channel, level, codeHigh, codeLow, Common::Utf16ToUtf8(text ? text : L""));
    }
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void*, uint32_t) override {
        Add(Kind::Data, channel, level, codeHigh, codeLow, Common::Utf16ToUtf8(text ? text : L""));
    }
    void TraceError(const char* channel, int32_t level, const Common::Error& error) override {
        Add(Kind::Error, channel, level, 0, 0, std::to_string(error.Code()));
    }

private:
    void Add(Kind kind, const char* channel, int32_t level, uint16_t high, uint16_t low, std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back({kind, channel != nullptr ? channel : "", level, high, low, std::move(text)});
    }

    std::string channel_;
    int32_t tuneResult_ = -1;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// The text report's "[LOG] " lines of captured texts: no DEBUG lines, then information,
// warnings and errors, each group in capture order.
inline std::string ReportLogLines(const std::vector<std::string>& captured) {
    std::string lines;
    for (const std::string levels : {"I", "W", "EC "}) {  // BLOCKED has a blank for its letter
        for (const std::string& text : captured) {
            lines += !text.empty() && levels.find(text[0]) != std::string::npos ? "[LOG] " + text + "\r\n" : "";
        }
    }
    return lines;
}

}  // namespace TestSupport
