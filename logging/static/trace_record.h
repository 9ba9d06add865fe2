#pragma once

// One message on its way through the library: what was logged, and the pieces of its line,
// each rendered at most once however many back-ends receive it. A record lives on the
// logging thread's stack and is lent to the back-ends for one delivery.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "logging/common/platform.h"
#include "logging/log.h"
#include "logging/static/trace_environment.h"

namespace Common {
class Error;
}

namespace Logging {

enum class RecordKind : uint8_t {
    Formatted,   // printf-style format, arguments and location
    Text,        // a finished text
    Data,        // a text with a block of fields
    Error,       // an error object
    ScopeEnter,  // a scope was entered
    ScopeLeave,  // a scope was left
    Rendered,    // a line rendered elsewhere (received from the network)
};

class TraceRecord {
public:
    static constexpr size_t kWorkingBufferSize = 16384;
    // The longest message text; longer texts are cut.
    static constexpr size_t kMaxTextLength = kWorkingBufferSize - 1;

    explicit TraceRecord(const TraceEnvironment& environment = SystemTraceEnvironment()) noexcept;
    ~TraceRecord();
    TraceRecord(const TraceRecord&) = delete;
    TraceRecord& operator=(const TraceRecord&) = delete;

    // Payloads; each clears what an earlier payload left in the record. `args` is copied.
    void SetFormatted(const char* channel, int32_t level, const TraceLocation& location, const char* format,
                      va_list args) noexcept;
    void SetText(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) noexcept;
    void SetData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                 const void* data, uint32_t size) noexcept;
    void SetError(const char* channel, int32_t level, const Common::Error& error) noexcept;
    // `format` may be null; then `args` is not read.
    void SetScopeEnter(const char* channel, int32_t level, const TraceLocation& location, uint64_t scopeId,
                       const char* format, va_list args) noexcept;
    // `enterMilliseconds` is a reading of the environment's monotonic clock, 0 when unknown.
    void SetScopeLeave(const char* channel, int32_t level, const TraceLocation& location, uint64_t scopeId,
                       uint64_t enterMilliseconds, bool exception) noexcept;
    void SetRendered(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const char* line,
                     size_t length) noexcept;
    // The timestamp text and thread id that came with a rendered line; the line's pieces show
    // them instead of the receiver's. Call after SetRendered.
    void SetReceivedStamps(std::string_view timestamp, uint64_t threadId) noexcept;

    RecordKind Kind() const { return kind_; }
    int32_t Level() const { return level_; }
    uint16_t CodeHigh() const { return codeHigh_; }
    uint16_t CodeLow() const { return codeLow_; }
    const TraceLocation& Location() const { return location_; }
    const wchar_t* Text() const { return text_; }
    const void* Data() const { return data_; }
    uint32_t DataSize() const { return dataSize_; }
    const Common::Error* ErrorObject() const { return error_; }
    const TraceEnvironment& Environment() const { return environment_; }

    // A back-end's own message on its way through the trace redirector: gate back-ends pass
    // it on unfiltered.
    bool Forwarded() const { return forwarded_; }
    void SetForwarded(bool forwarded) noexcept { forwarded_ = forwarded; }

    // The channel name as given (null: the default channel). The manager replaces a null or
    // empty name by the default channel's name before delivery.
    const char* Channel() const { return channel_; }
    void SetChannel(const char* channel) noexcept;
    // The channel name cut at the first "#" (empty for a null name), and the text after it.
    const char* ChannelBase();
    std::string_view Target();

    // The record's local time, taken once at first use.
    const Platform::LocalTime& Time();
    // Pieces of the full line, each with its trailing blank where it has one.
    std::string_view TimestampText(bool withZone);
    std::string_view ProcessNameText();
    std::string_view ProcessIdText();
    std::string_view ThreadIdText();

    // The message text as rendered for the flag word (bits 0x1, 0x80, 0x200 and 0x400 matter).
    std::string_view MessageText(uint32_t flags);

    // The line: signature, prefix, text and line end as the flags ask; a rendered line as it
    // stands, with only the line end added. Valid until the next call of BuildLine on this
    // record.
    std::string_view BuildLine(uint32_t flags, std::string_view prefix, bool prefixExpanded);

    // For a formatted record whose format takes wide strings or characters: BuildLine's line as
    // UTF-16, with those arguments copied unit for unit and every other byte widened to one
    // unit. False, and `line` untouched, for every other record: its line is BuildLine's.
    bool BuildWideLine(uint32_t flags, std::string_view prefix, bool prefixExpanded, std::wstring& line);

    // The pieces of the full line of the file-like back-ends and the console, in order:
    // timestamp, process name, process id, thread id, line. Returns how many were set.
    size_t FullLinePieces(uint32_t flags, std::string_view prefix, bool prefixExpanded, std::string_view (&pieces)[5]);

private:
    void Reset(const char* channel, int32_t level, RecordKind kind) noexcept;
    void RenderText(uint32_t flags);
    void RenderFormatted(uint32_t flags);
    void RenderScopeEnter(uint32_t flags);
    void RenderScopeLeave();
    void AppendText(const char* text, size_t length);
    void AppendFormatted(const char* format, va_list args);
    void AppendWide(const wchar_t* text);
    void AppendLocationSuffix(uint32_t flags, bool withFunction);
    template <typename Sink>
    void ForEachLocationPiece(uint32_t flags, bool withFunction, const Sink& sink) const;
    void PlaceText(size_t headroom, size_t tail);
    std::string_view BuildRenderedLine(uint32_t flags);

    const TraceEnvironment& environment_;

    // What was logged.
    const char* channel_ = nullptr;
    int32_t level_ = 0;
    uint16_t codeHigh_ = 0;
    uint16_t codeLow_ = 0;
    RecordKind kind_ = RecordKind::Text;
    bool hasArgs_ = false;
    bool exception_ = false;
    bool forwarded_ = false;
    TraceLocation location_{nullptr, nullptr, 0};
    const char* format_ = nullptr;
    va_list args_;
    const wchar_t* text_ = nullptr;
    const void* data_ = nullptr;
    uint32_t dataSize_ = 0;
    const Common::Error* error_ = nullptr;
    uint64_t scopeId_ = 0;
    uint64_t enterMilliseconds_ = 0;
    const char* renderedLine_ = nullptr;
    size_t renderedLength_ = 0;

    // Caches, each valid once its flag is set.
    bool haveBase_ = false;
    bool haveTime_ = false;
    bool haveTimestamp_ = false;
    bool haveZoneTimestamp_ = false;
    bool havePid_ = false;
    bool haveTid_ = false;
    bool haveText_ = false;
    bool haveLine_ = false;
    uint32_t textFlags_ = 0;
    const char* base_ = nullptr;
    size_t baseLength_ = 0;
    std::string baseCopy_;
    Platform::LocalTime time_;
    uint8_t timestampLength_ = 0;
    uint8_t zoneTimestampLength_ = 0;
    uint8_t pidLength_ = 0;
    uint8_t tidLength_ = 0;
    char timestamp_[48];
    char zoneTimestamp_[48];
    char pid_[16];
    char tid_[24];

    // The text lives in the working buffer at [textPos_, textPos_ + textLength_); the line is
    // built around it when there is room, else in the heap buffer.
    size_t textPos_ = 0;
    size_t textLength_ = 0;
    uint32_t lineFlags_ = 0;
    const char* linePrefix_ = nullptr;
    size_t linePrefixLength_ = 0;
    bool linePrefixExpanded_ = false;
    const char* line_ = nullptr;
    size_t lineLength_ = 0;
    size_t lineHeadLength_ = 0;  // signature and prefix, before the text
    std::string expandedPrefix_;
    std::unique_ptr<char[]> heapLine_;
    size_t heapLineCapacity_ = 0;
    char buffer_[kWorkingBufferSize];
};

// The line of `record` for a back-end: see TraceRecord::BuildLine.
inline std::string_view BuildLine(TraceRecord& record, uint32_t flags, std::string_view prefix, bool prefixExpanded) {
    return record.BuildLine(flags, prefix, prefixExpanded);
}

}  // namespace Logging
