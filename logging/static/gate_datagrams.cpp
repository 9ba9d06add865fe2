#include "logging/static/gate_datagrams.h"

#include <cstring>
#include <exception>

#include "logging/config_serial.h"

namespace Logging {
namespace Gate {

namespace {

constexpr size_t kSerialOffset = 8;
constexpr size_t kLevelOffset = 12;
constexpr size_t kCodeHighOffset = 16;
constexpr size_t kCodeLowOffset = 20;
constexpr size_t kThreadOffset = 24;
constexpr size_t kTextEndOffset = 32;
constexpr size_t kNameOffset = 36;
constexpr size_t kTimestampOffset = 40;

void Put32(uint8_t* out, uint32_t value) {
    std::memcpy(out, &value, sizeof value);
}

uint32_t Get32(const uint8_t* data) {
    uint32_t value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

void Append32(std::vector<uint8_t>& out, uint32_t value) {
    const size_t at = out.size();
    out.resize(at + 4);
    Put32(out.data() + at, value);
}

// The bytes up to the first NUL of [data, data + size), or all of them.
std::string_view UpToNul(const uint8_t* data, size_t size) {
    const void* nul = std::memchr(data, 0, size);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
    return std::string_view(reinterpret_cast<const char*>(data), length);
}

void AppendEntry(std::vector<uint8_t>& out, std::string_view name, uint32_t flags, const ChannelConfig& config) {
    SerialWriteString(out, name);
    SerialWriteDword(out, flags);
    config.Save(out);
}

}  // namespace

size_t EncodeRecord(const RecordFields& fields, uint8_t* out) {
    const size_t nameLength = fields.channel.size() < kMaxTextAndName ? fields.channel.size() : kMaxTextAndName - 1;
    const size_t textRoom = kMaxTextAndName - (nameLength + 1);
    const size_t textLength = fields.text.size() < textRoom ? fields.text.size() : textRoom;
    const size_t textEnd = kRecordHeaderSize + textLength;
    const size_t nameOffset = textEnd + 1;
    const size_t total = nameOffset + nameLength + 1;

    std::memset(out, 0, kRecordHeaderSize);
    Put32(out, kRecordMagic);
    Put32(out + 4, static_cast<uint32_t>(total));
    Put32(out + kSerialOffset, fields.serial);
    Put32(out + kLevelOffset, static_cast<uint32_t>(fields.level));
    Put32(out + kCodeHighOffset, fields.codeHigh);
    Put32(out + kCodeLowOffset, fields.codeLow);
    std::memcpy(out + kThreadOffset, &fields.threadId, sizeof fields.threadId);
    Put32(out + kTextEndOffset, static_cast<uint32_t>(textEnd));
    Put32(out + kNameOffset, static_cast<uint32_t>(nameOffset));
    const size_t stampLength =
        fields.timestamp.size() < kTimestampFieldSize ? fields.timestamp.size() : kTimestampFieldSize - 1;
    std::memcpy(out + kTimestampOffset, fields.timestamp.data(), stampLength);
    std::memcpy(out + kRecordHeaderSize, fields.text.data(), textLength);
    out[textEnd] = 0;
    std::memcpy(out + nameOffset, fields.channel.data(), nameLength);
    out[nameOffset + nameLength] = 0;
    return total;
}

bool DecodeRecord(const uint8_t* data, size_t size, RecordFields& fields, size_t& length) {
    if (data == nullptr || size < kRecordHeaderSize || Get32(data) != kRecordMagic) {
        return false;
    }
    const size_t total = Get32(data + 4);
    const size_t textEnd = Get32(data + kTextEndOffset);
    const size_t nameOffset = Get32(data + kNameOffset);
    // Both offsets must lie inside the datagram itself, not only inside the buffer: a buffer
    // may hold the next datagram behind this one.
    if (total > size || textEnd < kRecordHeaderSize || textEnd >= total || nameOffset >= total) {
        return false;
    }
    fields.serial = Get32(data + kSerialOffset);
    fields.level = static_cast<int32_t>(Get32(data + kLevelOffset));
    fields.codeHigh = Get32(data + kCodeHighOffset);
    fields.codeLow = Get32(data + kCodeLowOffset);
    std::memcpy(&fields.threadId, data + kThreadOffset, sizeof fields.threadId);
    fields.timestamp = UpToNul(data + kTimestampOffset, kTimestampFieldSize);
    fields.text =
        std::string_view(reinterpret_cast<const char*>(data + kRecordHeaderSize), textEnd - kRecordHeaderSize);
    fields.channel = UpToNul(data + nameOffset, total - nameOffset);
    length = total;
    return true;
}

std::vector<uint8_t> EncodeFilterRequest() {
    std::vector<uint8_t> request;
    Append32(request, kFilterRequestMagic);
    Append32(request, kFilterRequestSize);
    return request;
}

std::vector<ScannedItem> ScanBuffer(const uint8_t* data, size_t size) {
    std::vector<ScannedItem> items;
    size_t position = 0;
    while (data != nullptr && size - position >= 4) {
        const uint8_t* at = data + position;
        const size_t remaining = size - position;
        const uint32_t magic = Get32(at);
        if (magic == kRecordMagic) {
            ScannedItem item{ScannedItem::Record, {}};
            size_t length = 0;
            if (DecodeRecord(at, remaining, item.record, length)) {
                items.push_back(item);
                position += length;
            } else {
                position += 4;
            }
        } else if (magic == kFilterRequestMagic) {
            // A length below the request's own would never move the scan on.
            const size_t length = remaining >= kFilterRequestSize ? Get32(at + 4) : 0;
            if (length < kFilterRequestSize || length > remaining) {
                position += 4;
            } else {
                items.push_back(ScannedItem{ScannedItem::FilterRequest, {}});
                position += length;
            }
        } else {
            ++position;
        }
    }
    return items;
}

FilterReplyWriter::FilterReplyWriter() {
    current_.resize(kFilterReplyHeaderSize);
}

bool FilterReplyWriter::Add(std::string_view name, uint32_t flags, const ChannelConfig& config) {
    std::vector<uint8_t> entry;
    AppendEntry(entry, name, flags, config);
    constexpr size_t kRoom = kMaxDatagramSize - kFilterReplyHeaderSize;
    if (entry.size() > kRoom) {
        std::unique_ptr<ChannelConfig> reduced = config.CreateDefault();
        reduced->Enabled = config.Enabled;
        reduced->Level = config.Level;
        reduced->Flags = config.Flags;
        entry.clear();
        AppendEntry(entry, name, flags, *reduced);
        if (entry.size() > kRoom) {
            return false;
        }
    }
    // The reader receives at most kMaxDatagramSize bytes a packet.
    if (count_ > 0 && current_.size() + entry.size() > kMaxDatagramSize) {
        Close(kFilterMoreMagic);
    }
    current_.insert(current_.end(), entry.begin(), entry.end());
    ++count_;
    if (current_.size() >= kFilterReplyCloseSize) {
        Close(kFilterMoreMagic);
    }
    return true;
}

void FilterReplyWriter::Close(uint32_t magic) {
    Put32(current_.data(), magic);
    Put32(current_.data() + 4, static_cast<uint32_t>(current_.size()));
    Put32(current_.data() + 8, count_);
    packets_.push_back(std::move(current_));
    current_.assign(kFilterReplyHeaderSize, 0);
    count_ = 0;
}

std::vector<std::vector<uint8_t>> FilterReplyWriter::Finish() {
    Close(kFilterLastMagic);
    return std::move(packets_);
}

FilterPacket ReadFilterReplyPacket(const uint8_t* data, size_t size, std::vector<FilterEntry>& entries) {
    if (data == nullptr || size < kFilterReplyHeaderSize) {
        return FilterPacket::Bad;
    }
    const uint32_t magic = Get32(data);
    if (magic != kFilterMoreMagic && magic != kFilterLastMagic) {
        return FilterPacket::Bad;
    }
    const size_t length = Get32(data + 4);
    const size_t end = length >= kFilterReplyHeaderSize && length < size ? length : size;
    const uint32_t count = Get32(data + 8);
    SerialReader reader(data + kFilterReplyHeaderSize, end - kFilterReplyHeaderSize);
    for (uint32_t i = 0; i < count && reader.Remaining() > 0; ++i) {
        try {
            FilterEntry entry;
            entry.name = reader.ReadString();
            entry.flags = reader.ReadDword();
            entry.config = LoadConfig(reader);
            entries.push_back(std::move(entry));
        } catch (const std::exception&) {
            break;
        }
    }
    return magic == kFilterMoreMagic ? FilterPacket::More : FilterPacket::Last;
}

bool FilterPasses(const std::vector<FilterEntry>& entries, std::string_view channel, std::string_view defaultChannel,
                  int32_t level) {
    if (entries.empty()) {
        return true;
    }
    channel = channel.substr(0, channel.find('#'));
    const bool isDefault = channel.empty() || channel == defaultChannel;
    const FilterEntry* decider = nullptr;
    for (const FilterEntry& entry : entries) {
        if (isDefault ? (entry.flags & kFilterDefaultChannel) != 0 : entry.name == channel) {
            decider = &entry;
            break;
        }
    }
    if (decider == nullptr || decider->config == nullptr || !decider->config->Enabled) {
        return false;
    }
    return static_cast<int64_t>(level) >= static_cast<int64_t>(decider->config->Level);
}

std::string TailLine(const RecordFields& fields) {
    std::string_view text = fields.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::string line;
    line.reserve(fields.timestamp.size() + text.size() + 1);
    line.append(fields.timestamp).append(text).append(1, '\n');
    return line;
}

}  // namespace Gate
}  // namespace Logging
