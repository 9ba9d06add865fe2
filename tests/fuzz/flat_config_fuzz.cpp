// Flat channel records as a host hands them over: the record's size and type come from the
// input and the record is allocated exactly that large, so a read beyond the size it states
// is a heap overflow; a record that is accepted reads as the whole record does.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "logging/channel_config.h"

using namespace Logging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz::Input input(data, size);
    const uint32_t type = input.Byte() % (kMaxBackendType + 2);
    const uint32_t claimed = input.Byte();  // the stated size, up to 255 bytes
    // The strings the record points at: a saved configuration of the type supplies them.
    std::unique_ptr<ChannelConfig> source = CreateDefaultConfig(type);
    if (source != nullptr) {
        const std::string_view rest = input.Rest();
        SerialReader reader(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
        try {
            source->Load(reader);
        } catch (const SerialFormatError&) {
        }
    }
    const FlatConfigPtr flat(source != nullptr ? source->ToFlat() : nullptr);
    const size_t realSize = source != nullptr ? FlatConfigSize(type) : sizeof(_log_channel_config);
    const size_t allocated = std::max<size_t>(claimed, sizeof(_log_channel_config));
    std::vector<uint8_t> record(allocated);
    if (flat != nullptr) {
        std::memcpy(record.data(), flat.get(), std::min(realSize, allocated));
    }
    auto* header = reinterpret_cast<_log_channel_config*>(record.data());
    header->size = claimed;
    header->type = type;
    if (flat == nullptr) {
        header->msgPrefix = nullptr;
    }
    const std::unique_ptr<ChannelConfig> config = CreateConfigFromFlat(header);
    if (config == nullptr) {
        return 0;
    }
    FUZZ_CHECK(claimed == FlatConfigSize(type) && config->GetType() == type);
    // The whole record, as ToFlat made it, says the same (its strings end at their first NUL).
    std::vector<uint8_t> expected;
    CreateConfigFromFlat(flat.get())->Save(expected);
    std::vector<uint8_t> got;
    config->Save(got);
    FUZZ_CHECK(got == expected);
    return 0;
}
