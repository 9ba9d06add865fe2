#include "logging/static/gate_datagrams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace Logging;
using namespace Logging::Gate;
using Bytes = std::vector<uint8_t>;

Bytes Encode(const RecordFields& fields) {
    Bytes out(kMaxDatagramSize + 16, 0xEE);
    out.resize(EncodeRecord(fields, out.data()));
    return out;
}

RecordFields Sample(std::string_view text = "hello", std::string_view channel = "app") {
    RecordFields fields;
    fields.serial = 7;
    fields.level = 3;
    fields.codeHigh = 0x1234;
    fields.codeLow = 0xBEEF;
    fields.threadId = 0x1122334455667788ull;
    fields.timestamp = "2024-03-05 14:07:09:042 ";
    fields.text = text;
    fields.channel = channel;
    return fields;
}

auto Fields(const RecordFields& f) {
    return std::make_tuple(f.serial, f.level, f.codeHigh, f.codeLow, f.threadId, f.timestamp, f.text, f.channel);
}

void Put32(Bytes& bytes, size_t at, uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

TEST(GateRecordDatagram, EncodesByteExactlyAndDecodesBack) {
    const Bytes datagram = Encode(Sample("hi", "ch"));
    const char expected[] =
        "NpSg\x4a\0\0\0"
        "\x07\0\0\0\x03\0\0\0"
        "\x34\x12\0\0\xef\xbe\0\0"
        "\x88\x77\x66\x55\x44\x33\x22\x11"
        "\x46\0\0\0\x47\0\0\0"
        "2024-03-05 14:07:09:042 \0\0\0\0"
        "hi\0ch";  // and the name's NUL, the array's own
    ASSERT_EQ(datagram.size(), 74u);
    EXPECT_EQ(0, std::memcmp(datagram.data(), expected, sizeof expected));

    RecordFields back;
    size_t length = 0;
    ASSERT_TRUE(DecodeRecord(datagram.data(), datagram.size(), back, length));
    EXPECT_EQ(length, datagram.size());
    EXPECT_EQ(Fields(back), Fields(Sample("hi", "ch")));
}

TEST(GateRecordDatagram, LongTextIsCutToExactlyTheLargestDatagramWhateverTheNameLength) {
    const std::string text(20000, 'x');
    // The last two names leave no room for any text: they are cut themselves.
    for (size_t nameLength : {0u, 1u, 13u, 300u, 16000u, 16313u, 16314u, 16315u, 40000u}) {
        SCOPED_TRACE(nameLength);
        const std::string name(nameLength, 'n');
        const Bytes datagram = Encode(Sample(text, name));
        EXPECT_EQ(datagram.size(), kMaxDatagramSize);
        RecordFields back;
        size_t length = 0;
        ASSERT_TRUE(DecodeRecord(datagram.data(), datagram.size(), back, length));
        const size_t keptName = nameLength < 16315 ? nameLength : 16314;
        EXPECT_EQ(back.channel.size(), keptName);
        EXPECT_EQ(back.text.size(), 16315 - (keptName + 1));
    }
    // A text that fits is not cut.
    const std::string fits(16315 - 4, 'y');
    EXPECT_EQ(Encode(Sample(fits, "abc")).size(), kMaxDatagramSize);
    EXPECT_EQ(Encode(Sample(fits.substr(1), "abc")).size(), kMaxDatagramSize - 1);
}

TEST(GateRecordDatagram, LengthsAndOffsetsOutsideWhatWasReceivedAreRejected) {
    const Bytes good = Encode(Sample("text", "name"));  // 78 bytes: text end 72, name at 73
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
        size_t received;
    } cases[] = {
        {"whole datagram", 0, 0, good.size()},
        {"cut short", 0, 0, good.size() - 1},
        {"shorter than a header", 0, 0, 67},
        {"total length past the end", 4, 79, good.size()},
        {"total length zero", 4, 0, good.size()},
        {"text end at the received length", 32, 78, good.size()},
        {"text end far away", 32, 0x7fffffff, good.size()},
        {"text end inside the header", 32, 60, good.size()},
        {"name offset at the received length", 36, 78, good.size()},
        {"name offset far away", 36, 0xffffffff, good.size()},
        {"wrong magic", 0, 0x67537043, good.size()},
    };
    for (const Case& c : cases) {
        Bytes datagram = good;
        if (c.field != 0 || c.value != 0) {
            Put32(datagram, c.field, c.value);
        }
        RecordFields back;
        size_t length = 0;
        const bool accepted = DecodeRecord(datagram.data(), c.received, back, length);
        EXPECT_EQ(accepted, c.received == good.size() && c.field == 0 && c.value == 0) << c.what;
    }
}

TEST(GateRecordDatagram, TimestampFieldWithoutItsNulGivesAtMostTheFieldAndNameWithoutNulStopsAtTheEnd) {
    Bytes datagram = Encode(Sample("t", "abc"));
    std::memset(datagram.data() + 40, 'z', 28);
    datagram.back() = 'd';  // the name's NUL
    RecordFields back;
    size_t length = 0;
    ASSERT_TRUE(DecodeRecord(datagram.data(), datagram.size(), back, length));
    EXPECT_EQ(back.timestamp, std::string(28, 'z'));
    EXPECT_EQ(back.channel, "abcd");
}

TEST(GateScan, TwoDatagramsWithGarbageBetweenAndAroundAreBothFound) {
    const Bytes first = Encode(Sample("one", "a"));
    const Bytes second = Encode(Sample("two", ""));
    Bytes broken = Encode(Sample("three", "c"));
    Put32(broken, 32, 5000);  // its text end points past everything
    Bytes buffer = {'x', 'N', 'p'};
    buffer.insert(buffer.end(), first.begin(), first.end());
    for (const char* junk : {"NpS", "GpSg", "\x01\x02\x03"}) {
        buffer.insert(buffer.end(), junk, junk + std::strlen(junk));
    }
    buffer.insert(buffer.end(), broken.begin(), broken.end());
    const Bytes request = EncodeFilterRequest();
    buffer.insert(buffer.end(), request.begin(), request.end());
    buffer.insert(buffer.end(), second.begin(), second.end());
    buffer.insert(buffer.end(), {'N', 'p', 'S', 'g', 0xff});

    const std::vector<ScannedItem> items = ScanBuffer(buffer.data(), buffer.size());
    std::string seen;
    for (const ScannedItem& item : items) {
        seen += item.kind == ScannedItem::FilterRequest
                    ? std::string("[request]")
                    : "[" + std::string(item.record.text) + "@" + std::string(item.record.channel) + "]";
    }
    // The broken datagram is stepped over by 4 bytes and its text found as garbage: the scan
    // goes on to the request and the second record.
    EXPECT_EQ(seen, "[one@a][request][two@]");
}

TEST(GateScan, FilterRequestsWithImpossibleLengthsAreSkippedNotLooped) {
    for (uint32_t length : {0u, 4u, 7u, 9u, 0xffffffffu}) {
        Bytes buffer = EncodeFilterRequest();
        Put32(buffer, 4, length);
        EXPECT_TRUE(ScanBuffer(buffer.data(), buffer.size()).empty()) << length;
    }
    Bytes twice = EncodeFilterRequest();
    const Bytes request = EncodeFilterRequest();
    twice.insert(twice.end(), request.begin(), request.end());
    EXPECT_EQ(ScanBuffer(twice.data(), twice.size()).size(), 2u);
    EXPECT_TRUE(ScanBuffer(nullptr, 100).empty());
}

std::unique_ptr<ChannelConfig> Config(uint32_t type, bool enabled, uint32_t level) {
    std::unique_ptr<ChannelConfig> config = CreateDefaultConfig(type);
    config->Enabled = enabled;
    config->Level = level;
    return config;
}

std::vector<FilterEntry> ReadAll(const std::vector<Bytes>& packets, std::string* magics = nullptr) {
    std::vector<FilterEntry> entries;
    for (const Bytes& packet : packets) {
        const FilterPacket kind = ReadFilterReplyPacket(packet.data(), packet.size(), entries);
        if (magics != nullptr) {
            *magics += kind == FilterPacket::More ? "C" : kind == FilterPacket::Last ? "L" : "?";
        }
    }
    return entries;
}

TEST(GateFilterReply, ManyChannelsSpreadOverSeveralPacketsComeBackWhole) {
    FilterReplyWriter writer;
    FileConfig file;
    file.File = std::string(200, 'f');
    file.Level = WARNING;
    for (int i = 0; i < 300; ++i) {
        writer.Add("channel." + std::to_string(i), i == 17 ? kFilterDefaultChannel : 0, file);
    }
    const std::vector<Bytes> packets = writer.Finish();
    ASSERT_GE(packets.size(), 4u);
    std::string magics;
    const std::vector<FilterEntry> entries = ReadAll(packets, &magics);
    EXPECT_EQ(magics, std::string(packets.size() - 1, 'C') + "L");
    for (size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_GE(packets[i].size(), kFilterReplyCloseSize);
        EXPECT_LE(packets[i].size(), kMaxDatagramSize);
    }
    ASSERT_EQ(entries.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(entries[i].name, "channel." + std::to_string(i));
        EXPECT_EQ(entries[i].flags, i == 17 ? kFilterDefaultChannel : 0u);
        ASSERT_EQ(entries[i].config->GetType(), BACKEND_FILE);
        EXPECT_EQ(static_cast<FileConfig&>(*entries[i].config).File, file.File);
        EXPECT_EQ(entries[i].config->Level, static_cast<uint32_t>(WARNING));
    }
}

TEST(GateFilterReply, EmptyTableGivesOneLastPacketAndHugeEntriesTravelWithoutTheirStrings) {
    const std::vector<Bytes> none = FilterReplyWriter().Finish();
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0], Bytes({'L', 'p', 'S', 'g', 12, 0, 0, 0, 0, 0, 0, 0}));

    FilterReplyWriter writer;
    FileConfig huge;
    huge.File = std::string(20000, 'h');
    huge.Level = ERROR_TRACE;
    huge.Enabled = false;
    EXPECT_TRUE(writer.Add("small", 0, *Config(BACKEND_CONSOLE, true, INFORMATION)));
    EXPECT_TRUE(writer.Add("huge", 0, huge));
    EXPECT_FALSE(writer.Add(std::string(17000, 'n'), 0, *Config(BACKEND_NULL, true, 1)));
    const std::vector<Bytes> packets = writer.Finish();
    const std::vector<FilterEntry> entries = ReadAll(packets);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "huge");
    EXPECT_FALSE(entries[1].config->Enabled);
    EXPECT_EQ(entries[1].config->Level, static_cast<uint32_t>(ERROR_TRACE));
    EXPECT_EQ(static_cast<FileConfig&>(*entries[1].config).File, "");
    for (const Bytes& packet : packets) {
        EXPECT_LE(packet.size(), kMaxDatagramSize);
    }
}

TEST(GateFilterReply, DamagedPacketsKeepTheEntriesBeforeTheDamage) {
    FilterReplyWriter writer;
    for (const char* name : {"a", "b", "c"}) {
        writer.Add(name, 0, *Config(BACKEND_DEBUGGER, true, WARNING));
    }
    const Bytes packet = writer.Finish().at(0);
    struct Case {
        const char* what;
        Bytes bytes;
        FilterPacket kind;
        size_t entries;
    } cases[] = {
        {"whole", packet, FilterPacket::Last, 3},
        {"cut inside the third entry", Bytes(packet.begin(), packet.end() - 3), FilterPacket::Last, 2},
        {"header only", Bytes(packet.begin(), packet.begin() + 12), FilterPacket::Last, 0},
        {"short header", Bytes(packet.begin(), packet.begin() + 11), FilterPacket::Bad, 0},
        {"not a reply", Bytes{'G', 'p', 'S', 'g', 8, 0, 0, 0, 0, 0, 0, 0}, FilterPacket::Bad, 0},
    };
    for (const Case& c : cases) {
        std::vector<FilterEntry> entries;
        EXPECT_EQ(ReadFilterReplyPacket(c.bytes.data(), c.bytes.size(), entries), c.kind) << c.what;
        EXPECT_EQ(entries.size(), c.entries) << c.what;
    }
    // A count beyond the entries, and a saved type that is no type, end the packet.
    Bytes more = packet;
    Put32(more, 8, 1000);
    std::vector<FilterEntry> entries;
    ReadFilterReplyPacket(more.data(), more.size(), entries);
    EXPECT_EQ(entries.size(), 3u);
    Bytes badType = packet;
    const size_t firstType = 12 + 9 + 8;  // "str " 1 "a", "dwrd" flags, then the type's "dwrd"
    ASSERT_EQ(0, std::memcmp(badType.data() + firstType, "dwrd", 4));
    Put32(badType, firstType + 4, 5);
    entries.clear();
    ReadFilterReplyPacket(badType.data(), badType.size(), entries);
    EXPECT_TRUE(entries.empty());
}

TEST(GateFilter, DecisionsFollowTheReceiversChannels) {
    std::vector<FilterEntry> entries;
    entries.push_back({"a", 0, Config(BACKEND_CONSOLE, true, WARNING)});
    entries.push_back({"main", kFilterDefaultChannel, Config(BACKEND_DEBUGGER, false, DEBUG_TRACE)});
    entries.push_back({"open", 0, Config(BACKEND_NULL, true, DEBUG_TRACE)});
    struct Case {
        const char* channel;
        int32_t level;
        bool passes;
    } cases[] = {
        {"a", INFORMATION, false},          {"a", WARNING, true},
        {"a", ERROR_TRACE, true},           {"a#target", ERROR_TRACE, true},
        {"open", DEBUG_TRACE, true},        {"", CRITICAL_ERROR, false},  // the receiver's default is disabled
        {"local", CRITICAL_ERROR, false},  // our default channel is decided by the receiver's
        {"main", ERROR_TRACE, false},      // not our default: the entry of that name, disabled
        {"unknown", CRITICAL_ERROR, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FilterPasses(entries, c.channel, "local", c.level), c.passes) << c.channel << " " << c.level;
    }
    EXPECT_TRUE(FilterPasses({}, "anything", "local", DEBUG_TRACE));
    entries[1].config->Enabled = true;
    EXPECT_TRUE(FilterPasses(entries, "", "local", DEBUG_TRACE));
    EXPECT_TRUE(FilterPasses(entries, "main", "local", ERROR_TRACE));
}

}  // namespace
