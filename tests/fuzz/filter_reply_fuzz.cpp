// Filter reply packets: what a packet yields is written again by the reply writer and read
// back to the same entries, and the filter decision over them never fails.

#include <vector>

#include "fuzz_support.h"
#include "logging/static/gate_datagrams.h"

using namespace Logging;
using namespace Logging::Gate;

namespace {

std::vector<uint8_t> Saved(const ChannelConfig& config) {
    std::vector<uint8_t> out;
    config.Save(out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer(data, data + size);
    std::vector<FilterEntry> entries;
    const FilterPacket kind = ReadFilterReplyPacket(buffer.data(), buffer.size(), entries);
    if (kind == FilterPacket::Bad) {
        FUZZ_CHECK(entries.empty());
        return 0;
    }
    for (const FilterEntry& entry : entries) {
        FUZZ_CHECK(entry.config != nullptr);
        FilterPasses(entries, entry.name, "", static_cast<int32_t>(entry.config->Level));
        FilterPasses(entries, entry.name + "#part", entry.name, -1);
    }
    FilterPasses(entries, "", "", 0);

    FilterReplyWriter writer;
    size_t written = 0;
    for (const FilterEntry& entry : entries) {
        written += writer.Add(entry.name, entry.flags, *entry.config) ? 1 : 0;
    }
    std::vector<FilterEntry> again;
    const std::vector<std::vector<uint8_t>> packets = writer.Finish();
    for (size_t i = 0; i < packets.size(); ++i) {
        FUZZ_CHECK(packets[i].size() <= kMaxDatagramSize);
        const FilterPacket read = ReadFilterReplyPacket(packets[i].data(), packets[i].size(), again);
        FUZZ_CHECK(read == (i + 1 == packets.size() ? FilterPacket::Last : FilterPacket::More));
    }
    FUZZ_CHECK(again.size() == written);
    if (written == entries.size()) {
        for (size_t i = 0; i < entries.size(); ++i) {
            FUZZ_CHECK(again[i].name == entries[i].name && again[i].flags == entries[i].flags);
            FUZZ_CHECK(again[i].config->GetType() == entries[i].config->GetType());
            FUZZ_CHECK(again[i].config->Enabled == entries[i].config->Enabled &&
                       again[i].config->Level == entries[i].config->Level);
            // Only an entry too big for a packet loses its strings.
            const std::vector<uint8_t> saved = Saved(*entries[i].config);
            if (saved.size() + entries[i].name.size() + 32 < kMaxDatagramSize - kFilterReplyHeaderSize) {
                FUZZ_CHECK(Saved(*again[i].config) == saved);
            }
        }
    }
    return 0;
}
