#pragma once

// Captures what reaches one logging channel, in-process, so that a test can check exact
// messages. The channel (the default channel unless named) is tuned as a custom channel that
// hands every record of at least `level` to this object, and is removed again when the object
// goes away. Formatted messages arrive as the driver's report shows them, "I00000000: text";
// DEBUG_TRACE messages are kept too unless `level` says otherwise.
//
//     TestSupport::LogCapture log;
//     MsSql::NativeDetectionAddon().GetMachineInstalledApplications();
//     EXPECT_EQ(log.Texts(), (std::vector<std::string>{"W00000000: ...", ...}));

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "logging/log.h"
#include "logging/tracer.h"

namespace TestSupport {

class LogCapture : public Logging::Tracer {
public:
    enum class Kind { Text, Data, Error };
    struct Entry {
        Kind kind;
        std::string channel;
        int32_t level;
        uint16_t codeHigh;
        uint16_t codeLow;
        std::string text;  // UTF-8; for an error, its code in decimal
    };

    explicit LogCapture(const std::string& channel = std::string(), int32_t level = Logging::DEBUG_TRACE,
                        uint32_t flags = 0x1000F4, const std::string& prefix = std::string());
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The channel's name and the code of tuning it.
    const std::string& Channel() const { return channel_; }
    int32_t TuneResult() const { return tuneResult_; }

    std::vector<std::string> Texts() const;
    std::vector<Entry> Entries() const;
    size_t Count() const;
    void Clear();

    void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) override;
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void* data, uint32_t size) override;
    void TraceError(const char* channel, int32_t level, const Common::Error& error) override;

private:
    void Add(Kind kind, const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, std::string text);

    std::string channel_;
    int32_t tuneResult_ = -1;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace TestSupport
