// Saved configurations: a configuration read from the bytes is saved again as exactly the
// bytes it was read from, and a failed read leaves the reader where the bad value starts.

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
    FUZZ_CHECK(saved.size() == reader.Position());
    FUZZ_CHECK(std::equal(saved.begin(), saved.end(), bytes.begin()));

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
