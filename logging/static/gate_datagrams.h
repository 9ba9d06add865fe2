#pragma once

// The datagrams by which processes on one machine hand each other trace records and channel
// filters: a record datagram ("NpSg") per record, a filter request ("GpSg") from a sender
// and the receiver's reply ("CpSg" packets while more follow, "LpSg" for the last one),
// whose entries name a channel and carry its configuration in the saved form. Every length
// and offset read from a datagram is checked against what was received before it is used.
//
// Record datagram, numbers in the machine's byte order:
//   0 magic, 4 total length, 8 serial, 12 level, 16 code high, 20 code low, 24 thread id (8),
//   32 offset of the text's end, 36 offset of the channel name, 40 timestamp text (28, NUL
//   padded), 68 text, NUL, channel name, NUL.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logging/channel_config.h"

namespace Logging {
namespace Gate {

constexpr uint32_t MagicOf(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

constexpr uint32_t kRecordMagic = MagicOf("NpSg");
constexpr uint32_t kFilterRequestMagic = MagicOf("GpSg");
constexpr uint32_t kFilterMoreMagic = MagicOf("CpSg");
constexpr uint32_t kFilterLastMagic = MagicOf("LpSg");

constexpr size_t kMaxDatagramSize = 16384;
constexpr size_t kRecordHeaderSize = 68;
constexpr size_t kTimestampFieldSize = 28;
// What the text, its NUL, the name and its NUL may take together.
constexpr size_t kMaxTextAndName = kMaxDatagramSize - kRecordHeaderSize - 1;
constexpr size_t kFilterRequestSize = 8;
constexpr size_t kFilterReplyHeaderSize = 12;
// A reply packet is closed once it holds this much.
constexpr size_t kFilterReplyCloseSize = 15360;

// Flags of a filter entry.
constexpr uint32_t kFilterDefaultChannel = 0x1;
constexpr uint32_t kFilterMirrorChannel = 0x2;

// One record as a datagram carries it; the views point into the caller's buffers.
struct RecordFields {
    uint32_t serial = 0;
    int32_t level = 0;
    uint32_t codeHigh = 0;
    uint32_t codeLow = 0;
    uint64_t threadId = 0;
    std::string_view timestamp;  // at most 27 bytes are carried
    std::string_view text;
    std::string_view channel;  // empty: the receiver's default channel
};

// Writes the datagram of `fields` into `out`, which holds kMaxDatagramSize bytes, and returns
// its length. The text is cut to the room the name leaves; a name that leaves no room at all is
// cut as well, so that no datagram is ever longer than kMaxDatagramSize.
size_t EncodeRecord(const RecordFields& fields, uint8_t* out);

// The record datagram at the start of `data`, of which `size` bytes were received: false
// unless it is at least a header long, has the record magic, its total length fits what was
// received and its text end and name offset lie inside it. `length` is the total length.
bool DecodeRecord(const uint8_t* data, size_t size, RecordFields& fields, size_t& length);

// The 8-byte filter request.
std::vector<uint8_t> EncodeFilterRequest();

// What a received buffer holds: records and filter requests in buffer order. Garbage is
// skipped, by 4 bytes after a magic whose datagram is not acceptable, by 1 byte otherwise.
struct ScannedItem {
    enum Kind { Record, FilterRequest } kind;
    RecordFields record;  // for Record; its views point into the scanned buffer
};
std::vector<ScannedItem> ScanBuffer(const uint8_t* data, size_t size);

// The packets of a filter reply: entries are added in channel order, a packet is closed with
// "CpSg" once it reaches kFilterReplyCloseSize bytes, and Finish closes the last one (possibly
// without entries) with "LpSg".
class FilterReplyWriter {
public:
    FilterReplyWriter();
    // An entry too big for a packet is written with the configuration's defaults in place of
    // its strings (the sender reads only enabled and level from it); false when even that does
    // not fit, and the entry is left out.
    bool Add(std::string_view name, uint32_t flags, const ChannelConfig& config);
    std::vector<std::vector<uint8_t>> Finish();

private:
    void Close(uint32_t magic);

    std::vector<std::vector<uint8_t>> packets_;
    std::vector<uint8_t> current_;
    uint32_t count_ = 0;
};

// One channel of a receiver, as a sender's filter list keeps it.
struct FilterEntry {
    std::string name;
    uint32_t flags = 0;
    std::unique_ptr<ChannelConfig> config;
};

enum class FilterPacket {
    Bad,   // too short or not a reply: no more packets are read
    More,  // "CpSg": another packet follows
    Last,  // "LpSg"
};

// Appends the entries of one received reply packet to `entries`; an entry that cannot be read
// ends the packet, and the entries before it are kept.
FilterPacket ReadFilterReplyPacket(const uint8_t* data, size_t size, std::vector<FilterEntry>& entries);

// Whether a record of `level` for `channel` (cut at "#") passes a receiver's filter list. An
// empty list lets everything pass; the default channel (an empty name or `defaultChannel`) is
// decided by the entry flagged as the receiver's default, any other by the entry of that name.
// No deciding entry, or a disabled one, drops the record.
bool FilterPasses(const std::vector<FilterEntry>& entries, std::string_view channel, std::string_view defaultChannel,
                  int32_t level);

// The line a live view prints for a record: the timestamp text it carries and its text, the
// text's own line ends dropped, and "\n".
std::string TailLine(const RecordFields& fields);

}  // namespace Gate
}  // namespace Logging
