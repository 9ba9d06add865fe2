// Control-command lines, as far as they need no manager: the words of a line, and the
// configuration "tune" builds from them, which is either an error reply or a configuration
// of the named type that saves and loads back to itself.

#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "logging/channel_config.h"
#include "logging/static/control_commands.h"

using namespace Logging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words = SplitCommandWords(line);
    size_t letters = 0;
    for (const std::string& word : words) {
        FUZZ_CHECK(!word.empty() && word.find(' ') == std::string::npos);
        letters += word.size();
    }
    FUZZ_CHECK(letters + (words.empty() ? 0 : words.size() - 1) <= size);
    if (words.empty()) {
        return 0;
    }
    // "tune <channel> <type> key=value...": the line's words after the command.
    words.erase(words.begin());
    std::unique_ptr<ChannelConfig> config;
    const std::string error = BuildTuneConfiguration(words, config);
    if (!error.empty()) {
        FUZZ_CHECK(error.rfind("Error: ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(config != nullptr && words.size() >= 2);
    FUZZ_CHECK(BackendTypeFromName(words[1]) == config->GetType());
    std::vector<uint8_t> saved;
    config->Save(saved);
    SerialReader reader(saved);
    const std::unique_ptr<ChannelConfig> loaded = LoadConfig(reader);
    std::vector<uint8_t> again;
    loaded->Save(again);
    FUZZ_CHECK(again == saved && reader.Remaining() == 0);
    return 0;
}
