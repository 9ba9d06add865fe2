// Saved configurations: a configuration read from the bytes is saved again in as many bytes
// and reads back to itself, and a failed read reports an offset inside the bytes.

#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "logging/channel_config.h"

using namespace Logging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    SerialReader reader(bytes.data(), bytes.size());
    std::unique_ptr<ChannelConfig> config;
    try {
        config = LoadConfig(reader);
    } catch (const SerialFormatError& error) {
        FUZZ_CHECK(error.Offset() <= size);
        return 0;
    }
    FUZZ_CHECK(config != nullptr);
    FUZZ_CHECK(reader.Position() <= size);
    std::vector<uint8_t> saved;
    config->Save(saved);
    // Saved again, the same values in the same room: only a true other than 1 is written as 1.
    FUZZ_CHECK(saved.size() == reader.Position());
    SerialReader again(saved);
    std::vector<uint8_t> resaved;
    LoadConfig(again)->Save(resaved);
    FUZZ_CHECK(resaved == saved);

    const std::unique_ptr<ChannelConfig> clone = CloneConfig(*config);
    std::vector<uint8_t> cloned;
    clone->Save(cloned);
    FUZZ_CHECK(cloned == saved);
    // The base part alone, and the configuration of another type, read the same bytes.
    SerialReader base(bytes.data(), bytes.size());
    std::unique_ptr<ChannelConfig> other =
        CreateDefaultConfig(config->GetType() == BACKEND_NULL ? BACKEND_FILE : BACKEND_NULL);
    try {
        other->LoadBase(base);
        other->Load(base);
    } catch (const SerialFormatError&) {
    }
    return 0;
}
