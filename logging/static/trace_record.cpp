#include "logging/static/trace_record.h"

#include <cstdio>
#include <cstring>

#include "logging/initialize.h"
#include "logging/static/line_format.h"
#include "logging/static/wide_format.h"
#include "logging/trace_flags.h"

namespace Logging {

namespace {

// Room left in front of a freshly rendered text, so that the signature and a short prefix
// can be put before it without moving it.
constexpr size_t kHeadroom = 64;

// Flag bits that change the rendered text of each kind of record.
constexpr uint32_t kTextFlagsOf[] = {
    /* Formatted */ kKeepColourSequences | OF_DUMPLINE | OF_DUMPFUNCTION,
    /* Text */ kKeepColourSequences,
    /* Data */ kKeepColourSequences,
    /* Error */ kKeepColourSequences | OF_DUMPERROR,
    /* ScopeEnter */ kKeepColourSequences | OF_DUMPLINE,
    /* ScopeLeave */ kKeepColourSequences,
    /* Rendered */ 0,
};

// Flag bits that change the line.
constexpr uint32_t kLineFlags = OF_SIGNATURE | OF_NATIVE_EOL | OF_NOLF;

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Frees a block of the library's allocator when the hook's caller is done with it.
struct LibraryBlock {
    char* text = nullptr;
    ~LibraryBlock() { Free(text); }
};

}  // namespace

TraceRecord::TraceRecord(const TraceEnvironment& environment) noexcept : environment_(environment) {
    buffer_[0] = '\0';
    buffer_[kMaxTextLength] = '\0';
}

TraceRecord::~TraceRecord() {
    if (hasArgs_) {
        va_end(args_);
    }
}

void TraceRecord::Reset(const char* channel, int32_t level, RecordKind kind) noexcept {
    if (hasArgs_) {
        va_end(args_);
        hasArgs_ = false;
    }
    channel_ = channel;
    level_ = level;
    kind_ = kind;
    codeHigh_ = 0;
    codeLow_ = 0;
    exception_ = false;
    forwarded_ = false;
    location_ = TraceLocation{nullptr, nullptr, 0};
    format_ = nullptr;
    text_ = nullptr;
    data_ = nullptr;
    dataSize_ = 0;
    error_ = nullptr;
    scopeId_ = 0;
    enterMilliseconds_ = 0;
    renderedLine_ = nullptr;
    renderedLength_ = 0;
    haveBase_ = false;
    haveTime_ = false;
    haveTimestamp_ = false;
    haveZoneTimestamp_ = false;
    havePid_ = false;
    haveTid_ = false;
    haveText_ = false;
    haveLine_ = false;
}

void TraceRecord::SetFormatted(const char* channel, int32_t level, const TraceLocation& location, const char* format,
                               va_list args) noexcept {
    Reset(channel, level, RecordKind::Formatted);
    location_ = location;
    format_ = format;
    if (format != nullptr) {
        va_copy(args_, args);
        hasArgs_ = true;
    }
}

void TraceRecord::SetText(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow,
                          const wchar_t* text) noexcept {
    Reset(channel, level, RecordKind::Text);
    codeHigh_ = codeHigh;
    codeLow_ = codeLow;
    text_ = text;
}

void TraceRecord::SetData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                          const void* data, uint32_t size) noexcept {
    Reset(channel, level, RecordKind::Data);
    codeHigh_ = codeHigh;
    codeLow_ = codeLow;
    text_ = text;
    data_ = data;
    dataSize_ = size;
}

void TraceRecord::SetError(const char* channel, int32_t level, const Common::Error& error) noexcept {
    Reset(channel, level, RecordKind::Error);
    error_ = &error;
}

void TraceRecord::SetScopeEnter(const char* channel, int32_t level, const TraceLocation& location, uint64_t scopeId,
                                const char* format, va_list args) noexcept {
    Reset(channel, level, RecordKind::ScopeEnter);
    location_ = location;
    scopeId_ = scopeId;
    format_ = format;
    if (format != nullptr) {
        va_copy(args_, args);
        hasArgs_ = true;
    }
}

void TraceRecord::SetScopeLeave(const char* channel, int32_t level, const TraceLocation& location, uint64_t scopeId,
                                uint64_t enterMilliseconds, bool exception) noexcept {
    Reset(channel, level, RecordKind::ScopeLeave);
    location_ = location;
    scopeId_ = scopeId;
    enterMilliseconds_ = enterMilliseconds;
    exception_ = exception;
}

void TraceRecord::SetRendered(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const char* line,
                              size_t length) noexcept {
    Reset(channel, level, RecordKind::Rendered);
    codeHigh_ = codeHigh;
    codeLow_ = codeLow;
    renderedLine_ = line != nullptr ? line : "";
    renderedLength_ = line != nullptr ? length : 0;
}

void TraceRecord::SetReceivedStamps(std::string_view timestamp, uint64_t threadId) noexcept {
    Platform::LocalTime time;
    if (ParseTimestamp(timestamp, time)) {
        // Both timestamp variants and a {date} prefix follow from the sender's time.
        time_ = time;
        haveTime_ = true;
    } else {
        const size_t n = timestamp.size() < sizeof timestamp_ - 1 ? timestamp.size() : sizeof timestamp_ - 1;
        std::memcpy(timestamp_, timestamp.data(), n);
        timestamp_[n] = '\0';
        std::memcpy(zoneTimestamp_, timestamp_, n + 1);
        timestampLength_ = static_cast<uint8_t>(n);
        zoneTimestampLength_ = static_cast<uint8_t>(n);
        haveTimestamp_ = true;
        haveZoneTimestamp_ = true;
    }
    size_t n = FormatDecimal(tid_, threadId);
    tid_[n++] = ' ';
    tid_[n] = '\0';
    tidLength_ = static_cast<uint8_t>(n);
    haveTid_ = true;
}

void TraceRecord::SetChannel(const char* channel) noexcept {
    channel_ = channel;
    haveBase_ = false;
    haveLine_ = false;  // a prefix may hold {target}
}

const char* TraceRecord::ChannelBase() {
    if (!haveBase_) {
        const char* name = OrEmpty(channel_);
        const char* hash = std::strchr(name, '#');
        if (hash == nullptr) {
            base_ = name;
            baseLength_ = std::strlen(name);
        } else {
            baseCopy_.assign(name, static_cast<size_t>(hash - name));
            base_ = baseCopy_.c_str();
            baseLength_ = baseCopy_.size();
        }
        haveBase_ = true;
    }
    return base_;
}

std::string_view TraceRecord::Target() {
    const char* name = OrEmpty(channel_);
    const char* hash = std::strchr(name, '#');
    return hash == nullptr ? std::string_view() : std::string_view(hash + 1);
}

const Platform::LocalTime& TraceRecord::Time() {
    if (!haveTime_) {
        time_ = environment_.LocalNow();
        haveTime_ = true;
    }
    return time_;
}

std::string_view TraceRecord::TimestampText(bool withZone) {
    if (withZone) {
        if (!haveZoneTimestamp_) {
            zoneTimestampLength_ =
                static_cast<uint8_t>(FormatTimestamp(zoneTimestamp_, Time(), environment_.ZoneSuffix().c_str()));
            zoneTimestamp_[zoneTimestampLength_] = '\0';
            haveZoneTimestamp_ = true;
        }
        return std::string_view(zoneTimestamp_, zoneTimestampLength_);
    }
    if (!haveTimestamp_) {
        timestampLength_ = static_cast<uint8_t>(FormatTimestamp(timestamp_, Time(), nullptr));
        timestamp_[timestampLength_] = '\0';
        haveTimestamp_ = true;
    }
    return std::string_view(timestamp_, timestampLength_);
}

std::string_view TraceRecord::ProcessNameText() {
    return environment_.ProcessName();
}

std::string_view TraceRecord::ProcessIdText() {
    if (!havePid_) {
        size_t n = 0;
        pid_[n++] = '(';
        n += FormatDecimal(pid_ + n, environment_.ProcessId());
        pid_[n++] = ')';
        pid_[n++] = ' ';
        pid_[n] = '\0';
        pidLength_ = static_cast<uint8_t>(n);
        havePid_ = true;
    }
    return std::string_view(pid_, pidLength_);
}

std::string_view TraceRecord::ThreadIdText() {
    if (!haveTid_) {
        size_t n = FormatDecimal(tid_, environment_.ThreadId());
        tid_[n++] = ' ';
        tid_[n] = '\0';
        tidLength_ = static_cast<uint8_t>(n);
        haveTid_ = true;
    }
    return std::string_view(tid_, tidLength_);
}

std::string_view TraceRecord::MessageText(uint32_t flags) {
    if (kind_ == RecordKind::Rendered) {
        return std::string_view(renderedLine_, renderedLength_);
    }
    const uint32_t relevant = flags & kTextFlagsOf[static_cast<size_t>(kind_)];
    if (!haveText_ || textFlags_ != relevant) {
        RenderText(relevant);
    }
    return std::string_view(buffer_ + textPos_, textLength_);
}

void TraceRecord::AppendText(const char* text, size_t length) {
    size_t end = textPos_ + textLength_;
    if (end + length > kMaxTextLength && textPos_ > 0) {
        std::memmove(buffer_, buffer_ + textPos_, textLength_);
        textPos_ = 0;
        end = textLength_;
    }
    const size_t room = kMaxTextLength - end;
    const size_t take = length < room ? length : room;
    std::memcpy(buffer_ + end, text, take);
    textLength_ += take;
    buffer_[textPos_ + textLength_] = '\0';
}

void TraceRecord::AppendFormatted(const char* format, va_list args) {
    size_t end = textPos_ + textLength_;
    size_t room = kWorkingBufferSize - end;  // with the terminator
    va_list attempt;
    va_copy(attempt, args);
    int n = std::vsnprintf(buffer_ + end, room, format, attempt);
    va_end(attempt);
    if (n < 0) {
        buffer_[end] = '\0';
        return;
    }
    if (static_cast<size_t>(n) >= room && textPos_ > 0) {
        // Too long for the room behind the headroom: render again from the buffer's start.
        std::memmove(buffer_, buffer_ + textPos_, textLength_);
        textPos_ = 0;
        end = textLength_;
        room = kWorkingBufferSize - end;
        va_copy(attempt, args);
        n = std::vsnprintf(buffer_ + end, room, format, attempt);
        va_end(attempt);
        if (n < 0) {
            buffer_[end] = '\0';
            return;
        }
    }
    textLength_ += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
}

// Calls `sink` with each piece of the location suffix, in order.
template <typename Sink>
void TraceRecord::ForEachLocationPiece(uint32_t flags, bool withFunction, const Sink& sink) const {
    if (location_.file == nullptr && location_.function == nullptr) {
        return;
    }
    if ((flags & OF_DUMPLINE) != 0) {
        char line[16];
        std::snprintf(line, sizeof line, "%i", static_cast<int>(location_.line));
        sink(" file: ");
        sink(OrEmpty(location_.file));
        sink(" line: ");
        sink(static_cast<const char*>(line));
    }
    if (withFunction && (flags & OF_DUMPFUNCTION) != 0) {
        sink(" ");
        sink(OrEmpty(location_.function));
        sink("()");
    }
}

void TraceRecord::AppendLocationSuffix(uint32_t flags, bool withFunction) {
    ForEachLocationPiece(flags, withFunction, [this](const char* text) { AppendText(text, std::strlen(text)); });
}

void TraceRecord::AppendWide(const wchar_t* text) {
    size_t end = textPos_ + textLength_;
    size_t n = EncodeUtf8(text, buffer_ + end, kMaxTextLength - end);
    // A character of up to four bytes may not have fitted: encode again from the start.
    if (end + n + 4 > kMaxTextLength && textPos_ > 0) {
        std::memmove(buffer_, buffer_ + textPos_, textLength_);
        textPos_ = 0;
        end = textLength_;
        n = EncodeUtf8(text, buffer_ + end, kMaxTextLength - end);
    }
    textLength_ += n;
    buffer_[textPos_ + textLength_] = '\0';
}

void TraceRecord::RenderFormatted(uint32_t flags) {
    if (format_ != nullptr) {
        AppendFormatted(format_, args_);
    }
    AppendLocationSuffix(flags, true);
}

void TraceRecord::RenderScopeEnter(uint32_t flags) {
    char id[24];
    id[FormatDecimal(id, scopeId_)] = '\0';
    const char* function = OrEmpty(location_.function);
    AppendText(">> ", 3);
    AppendText(function, std::strlen(function));
    AppendText(" ID=", 4);
    AppendText(id, std::strlen(id));
    AppendText(" ", 1);
    if (format_ != nullptr) {
        AppendFormatted(format_, args_);
    }
    AppendLocationSuffix(flags, false);
}

void TraceRecord::RenderScopeLeave() {
    char id[24];
    id[FormatDecimal(id, scopeId_)] = '\0';
    const char* function = OrEmpty(location_.function);
    AppendText("<< ", 3);
    AppendText(function, std::strlen(function));
    AppendText(" ID=", 4);
    AppendText(id, std::strlen(id));
    AppendText(" ", 1);
    if (exception_) {
        AppendText("exception!!! ", 13);
    }
    if (enterMilliseconds_ != 0) {
        const uint64_t now = environment_.MonotonicMilliseconds();
        const uint64_t elapsed = now > enterMilliseconds_ ? now - enterMilliseconds_ : 0;
        char took[64];
        const int n = std::snprintf(took, sizeof took, "took %.3f seconds.", static_cast<double>(elapsed) / 1000.0);
        if (n > 0) {
            AppendText(took, std::strlen(took));
        }
    }
}

void TraceRecord::RenderText(uint32_t flags) {
    haveText_ = false;
    haveLine_ = false;
    textPos_ = kHeadroom;
    textLength_ = 0;
    buffer_[textPos_] = '\0';
    switch (kind_) {
        case RecordKind::Formatted: RenderFormatted(flags); break;
        case RecordKind::Text: AppendWide(text_); break;
        case RecordKind::Data: {
            const FieldFormatterFn hook = GetFieldFormatter();
            LibraryBlock block;
            if (hook != nullptr) {
                try {
                    hook(text_, static_cast<const TraceField*>(data_), static_cast<int32_t>(dataSize_), &block.text);
                } catch (...) {
                    // A host hook that fails leaves the text empty; the library never throws.
                }
                if (block.text != nullptr) {
                    AppendText(block.text, std::strlen(block.text));
                }
            } else {
                AppendWide(text_);
            }
            break;
        }
        case RecordKind::Error: {
            const ErrorFormatterFn hook = GetErrorFormatter();
            LibraryBlock block;
            if (hook != nullptr && error_ != nullptr) {
                uint16_t high = 0;
                uint16_t low = 0;
                try {
                    hook(ChannelBase(), static_cast<int16_t>(level_), error_, &block.text, (flags & OF_DUMPERROR) == 0,
                         &high, &low);
                    codeHigh_ = high;
                    codeLow_ = low;
                } catch (...) {
                    // As above: an empty text.
                }
                if (block.text != nullptr) {
                    AppendText(block.text, std::strlen(block.text));
                }
            }
            break;
        }
        case RecordKind::ScopeEnter: RenderScopeEnter(flags); break;
        case RecordKind::ScopeLeave: RenderScopeLeave(); break;
        case RecordKind::Rendered: break;
    }
    if ((flags & kKeepColourSequences) == 0) {
        textLength_ = StripColourSequences(buffer_ + textPos_, textLength_);
    }
    buffer_[textPos_ + textLength_] = '\0';
    textFlags_ = flags;
    haveText_ = true;
}

std::string_view TraceRecord::BuildLine(uint32_t flags, std::string_view prefix, bool prefixExpanded) {
    if (kind_ == RecordKind::Rendered) {
        return BuildRenderedLine(flags);
    }
    const uint32_t lineFlags = flags & (kLineFlags | kTextFlagsOf[static_cast<size_t>(kind_)]);
    if (haveLine_ && lineFlags_ == lineFlags && linePrefix_ == prefix.data() && linePrefixLength_ == prefix.size() &&
        linePrefixExpanded_ == prefixExpanded) {
        return std::string_view(line_, lineLength_);
    }
    const std::string_view text = MessageText(flags);

    std::string_view usedPrefix = prefix;
    if (!prefixExpanded && prefix.find('{') != std::string_view::npos) {
        expandedPrefix_.clear();
        PlaceholderValues values;
        values.pid = environment_.ProcessId();
        values.pname = environment_.ProcessName();
        values.date = &Time();
        values.target = Target();
        ExpandPrefix(prefix, kAllPlaceholders, values, expandedPrefix_);
        usedPrefix = expandedPrefix_;
    }
    const bool signature = (flags & OF_SIGNATURE) != 0;
    const char* eol = (flags & OF_NOLF) != 0 ? "" : ((flags & OF_NATIVE_EOL) != 0 ? "\r\n" : "\n");
    const size_t tail = std::strlen(eol);
    const size_t head = (signature ? 11 : 0) + usedPrefix.size();

    char* out;
    if (textPos_ >= head && textPos_ + textLength_ + tail <= kMaxTextLength) {
        out = buffer_ + textPos_ - head;
    } else if (head + textLength_ + tail <= kMaxTextLength) {
        std::memmove(buffer_ + head, buffer_ + textPos_, textLength_);
        textPos_ = head;
        out = buffer_;
    } else {
        const size_t needed = head + textLength_ + tail + 1;
        if (needed > heapLineCapacity_) {
            heapLine_.reset(new char[needed]);
            heapLineCapacity_ = needed;
        }
        out = heapLine_.get();
        std::memcpy(out + head, text.data(), textLength_);
    }
    size_t n = 0;
    if (signature) {
        n += FormatSignature(out, level_, (static_cast<uint32_t>(codeHigh_) << 16) | codeLow_);
    }
    std::memcpy(out + n, usedPrefix.data(), usedPrefix.size());
    n += usedPrefix.size() + textLength_;
    std::memcpy(out + n, eol, tail);
    n += tail;
    out[n] = '\0';

    line_ = out;
    lineLength_ = n;
    lineHeadLength_ = head;
    lineFlags_ = lineFlags;
    linePrefix_ = prefix.data();
    linePrefixLength_ = prefix.size();
    linePrefixExpanded_ = prefixExpanded;
    haveLine_ = true;
    return std::string_view(line_, lineLength_);
}

std::string_view TraceRecord::BuildRenderedLine(uint32_t flags) {
    const char* eol = (flags & OF_NOLF) != 0 ? "" : ((flags & OF_NATIVE_EOL) != 0 ? "\r\n" : "\n");
    const size_t tail = std::strlen(eol);
    // Copied even without a line end: the pieces reach C interfaces, which need the NUL.
    const uint32_t lineFlags = flags & (OF_NOLF | OF_NATIVE_EOL);
    if (haveLine_ && lineFlags_ == lineFlags) {
        return std::string_view(line_, lineLength_);
    }
    char* out = buffer_;
    if (renderedLength_ + tail > kMaxTextLength) {
        const size_t needed = renderedLength_ + tail + 1;
        if (needed > heapLineCapacity_) {
            heapLine_.reset(new char[needed]);
            heapLineCapacity_ = needed;
        }
        out = heapLine_.get();
    }
    std::memmove(out, renderedLine_, renderedLength_);
    std::memcpy(out + renderedLength_, eol, tail + 1);
    line_ = out;
    lineLength_ = renderedLength_ + tail;
    lineFlags_ = lineFlags;
    haveLine_ = true;
    return std::string_view(line_, lineLength_);
}

bool TraceRecord::BuildWideLine(uint32_t flags, std::string_view prefix, bool prefixExpanded, std::wstring& line) {
    if (kind_ != RecordKind::Formatted || !HasWideConversion(format_)) {
        return false;
    }
    // The narrow line gives the head and the line end; only the text is rendered again.
    const std::string_view narrow = BuildLine(flags, prefix, prefixExpanded);
    const uint32_t textFlags = flags & kTextFlagsOf[static_cast<size_t>(kind_)];
    const auto widen = [&line](std::string_view bytes) {
        for (const char byte : bytes) {
            line.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
        }
    };
    line.clear();
    widen(narrow.substr(0, lineHeadLength_));
    const size_t textStart = line.size();
    AppendWideFormatted(line, textStart + kMaxTextLength, format_, args_);
    ForEachLocationPiece(textFlags, true, [&](const char* piece) {
        const size_t room = textStart + kMaxTextLength - line.size();
        const std::string_view bytes(piece);
        widen(bytes.substr(0, room < bytes.size() ? room : bytes.size()));
    });
    if ((textFlags & kKeepColourSequences) == 0) {
        line.resize(textStart + StripColourSequences(&line[textStart], line.size() - textStart));
    }
    widen(narrow.substr(lineHeadLength_ + textLength_));
    return true;
}

size_t TraceRecord::FullLinePieces(uint32_t flags, std::string_view prefix, bool prefixExpanded,
                                   std::string_view (&pieces)[5]) {
    size_t count = 0;
    if ((flags & OF_TIMESTAMP) != 0) {
        pieces[count++] = TimestampText((flags & OF_TZD) != 0);
    }
    if ((flags & OF_PNAME) != 0) {
        pieces[count++] = ProcessNameText();
    }
    if ((flags & OF_PID) != 0) {
        pieces[count++] = ProcessIdText();
    }
    if ((flags & OF_TID) != 0) {
        pieces[count++] = ThreadIdText();
    }
    pieces[count++] = BuildLine(flags, prefix, prefixExpanded);
    return count;
}

}  // namespace Logging
