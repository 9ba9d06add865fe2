// The parts of the command language that need no manager: the words of a line and the
// configuration "tune" builds from them.

#include <optional>
#include <type_traits>

#include "logging/channel_config.h"
#include "logging/result_codes.h"
#include "logging/static/control_commands.h"
#include "logging/static/number_reader.h"
#include "logging/static/text_case.h"

namespace Logging {

namespace {

using Words = std::vector<std::string>;

constexpr char kInvalidParameters[] = "Error: invalid parameters";

// The keys of "tune": each names one field of its configuration type.
template <typename ConfigType>
struct TuneKey {
    const char* key;
    bool ConfigType::*flag = nullptr;
    uint32_t ConfigType::*number = nullptr;
    std::string ConfigType::*text = nullptr;
};

const TuneKey<FileConfig> kFileKeys[] = {
    {"append", &FileConfig::Append},
    {"maxSize", nullptr, &FileConfig::MaxSize},
    {"file", nullptr, nullptr, &FileConfig::File},
};
const TuneKey<SharedFileConfig> kSharedFileKeys[] = {
    {"timeout", nullptr, &SharedFileConfig::Timeout},
    {"maxSize", nullptr, &SharedFileConfig::MaxSize},
    {"file", nullptr, nullptr, &SharedFileConfig::File},
};
const TuneKey<FileFolderConfig> kFileFolderKeys[] = {
    {"folder", nullptr, nullptr, &FileFolderConfig::Folder},
    {"prefix", nullptr, nullptr, &FileFolderConfig::Prefix},
    {"extension", nullptr, nullptr, &FileFolderConfig::Extension},
    {"maxFiles", nullptr, &FileFolderConfig::MaxFiles},
    {"maxAge", nullptr, &FileFolderConfig::MaxAge},
    {"maxSize", nullptr, &FileFolderConfig::MaxSize},
};
const TuneKey<LogScopeConfig> kLogScopeKeys[] = {
    {"prefix", nullptr, nullptr, &LogScopeConfig::Prefix},
    {"maxSize", nullptr, &LogScopeConfig::MaxSize},
    {"maxFiles", nullptr, &LogScopeConfig::MaxFiles},
    {"compress", nullptr, &LogScopeConfig::Compress},
};

// Not among the keys the library's description of "tune" lists: a gate channel needs its
// receiver's address, which is what `logctl tail` asks a process to create.
const TuneKey<GateConfig> kGateKeys[] = {
    {"server", nullptr, nullptr, &GateConfig::Server},
    {"port", nullptr, &GateConfig::Port},
};

std::optional<bool> ReadBool(std::string_view text) {
    if (EqualsIgnoringCase(text, "true")) {
        return true;
    }
    if (EqualsIgnoringCase(text, "false")) {
        return false;
    }
    const std::optional<uint32_t> number = ReadNumber(text);
    return number ? std::optional<bool>(*number != 0) : std::nullopt;
}

// Applies the key=value words from the third argument on; false for a word that is no key of
// the type or whose value does not fit it.
template <typename ConfigType, size_t N>
bool ApplyTuneKeys(ConfigType& config, const TuneKey<ConfigType> (&keys)[N], const Words& args) {
    for (size_t i = 2; i < args.size(); ++i) {
        const size_t equals = args[i].find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::string_view key = std::string_view(args[i]).substr(0, equals);
        const std::string value = args[i].substr(equals + 1);
        const TuneKey<ConfigType>* found = nullptr;
        for (const TuneKey<ConfigType>& candidate : keys) {
            if (EqualsIgnoringCase(key, candidate.key)) {
                found = &candidate;
            }
        }
        if (found == nullptr) {
            return false;
        }
        if (found->text != nullptr) {
            config.*(found->text) = value;
        } else if (found->number != nullptr) {
            const std::optional<uint32_t> number = ReadNumber(value);
            if (!number) {
                return false;
            }
            config.*(found->number) = *number;
        } else {
            const std::optional<bool> flag = ReadBool(value);
            if (!flag) {
                return false;
            }
            config.*(found->flag) = *flag;
        }
    }
    return true;
}

// The configuration "tune" builds, or the error reply.
template <typename ConfigType, size_t N>
std::string BuildTuned(const TuneKey<ConfigType> (&keys)[N], const Words& args, bool needsFile,
                       std::unique_ptr<ChannelConfig>& built) {
    auto config = std::make_unique<ConfigType>();
    if (!ApplyTuneKeys(*config, keys, args)) {
        return kInvalidParameters;
    }
    if constexpr (std::is_same_v<ConfigType, FileConfig> || std::is_same_v<ConfigType, SharedFileConfig>) {
        if (needsFile && config->File.empty()) {
            return "Error: invalid file name";
        }
    }
    built = std::move(config);
    return std::string();
}

}  // namespace

std::string BuildTuneConfiguration(const std::vector<std::string>& args, std::unique_ptr<ChannelConfig>& config) {
    if (args.size() < 2) {
        return kInvalidParameters;
    }
    const std::optional<uint32_t> type = BackendTypeFromName(args[1]);
    switch (type.value_or(BACKEND_CUSTOM)) {
        case BACKEND_FILE: return BuildTuned(kFileKeys, args, true, config);
        case BACKEND_SHAREDFILE: return BuildTuned(kSharedFileKeys, args, true, config);
        case BACKEND_FILEFOLDER: return BuildTuned(kFileFolderKeys, args, false, config);
        case BACKEND_LOGSCOPE: return BuildTuned(kLogScopeKeys, args, false, config);
        case BACKEND_GATE: return BuildTuned(kGateKeys, args, false, config);
        case BACKEND_NULL:
        case BACKEND_DEBUGGER:
        case BACKEND_CONSOLE:
            if (args.size() > 2) {
                return kInvalidParameters;  // these types take no keys
            }
            config = CreateDefaultConfig(*type);
            return std::string();
        default:
            // A custom channel needs a tracer in this process: no command makes one.
            return "Error: unable to tune channel: " + ResultCodeText(LOGGING_RC_UNSUPPORTED_BACKEND_TYPE);
    }
}

std::vector<std::string> SplitCommandWords(std::string_view line) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        if (end > start) {
            words.emplace_back(line.substr(start, end - start));
        }
        start = end + 1;
    }
    return words;
}

}  // namespace Logging
