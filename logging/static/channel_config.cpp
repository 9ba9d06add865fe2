#include "logging/channel_config.h"

#include "core/common/assert.h"
#include "logging/static/text_case.h"

namespace Logging {

namespace {

template <typename Config>
std::unique_ptr<ChannelConfig> MakeDefault() {
    return std::make_unique<Config>();
}

template <typename Config>
std::unique_ptr<ChannelConfig> MakeFromFlat(const _log_channel_config* flat) {
    auto config = std::make_unique<Config>();
    // The header is the first member of every record, so the record starts where it does.
    config->SetFromFlat(*reinterpret_cast<const typename Config::FlatType*>(flat));
    return config;
}

struct TypeEntry {
    const char* name;
    uint32_t flatSize;
    std::unique_ptr<ChannelConfig> (*makeDefault)();
    std::unique_ptr<ChannelConfig> (*makeFromFlat)(const _log_channel_config* flat);
};

template <typename Config>
constexpr TypeEntry Entry(const char* name) {
    return {name, sizeof(typename Config::FlatType), &MakeDefault<Config>, &MakeFromFlat<Config>};
}

constexpr TypeEntry kNoType = {"", 0, nullptr, nullptr};

// Indexed by type number.
constexpr TypeEntry kTypes[kMaxBackendType + 1] = {
    Entry<NullConfig>("null"),
    Entry<DebuggerConfig>("debugger"),
    Entry<ConsoleConfig>("console"),
    kNoType,
    Entry<FileConfig>("file"),
    kNoType,
    Entry<CustomConfig>("custom"),
    Entry<LogScopeConfig>("logscope"),
    Entry<GateConfig>("gate"),
    Entry<FileFolderConfig>("filefolder"),
    Entry<SharedFileConfig>("sharedfile"),
};

const TypeEntry& FindType(uint32_t type) {
    return type <= kMaxBackendType ? kTypes[type] : kNoType;
}

}  // namespace

const char* BackendTypeName(uint32_t type) noexcept {
    return FindType(type).name;
}

std::optional<uint32_t> BackendTypeFromName(std::string_view name) noexcept {
    for (uint32_t type = 0; type <= kMaxBackendType; ++type) {
        if (kTypes[type].makeDefault != nullptr && EqualsIgnoringCase(name, kTypes[type].name)) {
            return type;
        }
    }
    return std::nullopt;
}

void ChannelConfig::LoadBase(SerialReader& in) {
    size_t typeOffset = in.Position();
    uint32_t type = in.ReadDword();
    if (type != type_) {
        throw SerialFormatError(
            "configuration data was saved from type " + std::to_string(type) + ", not " + std::to_string(type_),
            typeOffset);
    }
    bool enabled = in.ReadBool();
    uint32_t level = in.ReadDword();
    uint32_t flags = in.ReadDword();
    std::string prefix = in.ReadString();
    Enabled = enabled;
    Level = level;
    Flags = flags;
    MsgPrefix = std::move(prefix);
}

void ChannelConfig::SaveBase(std::vector<uint8_t>& out) const {
    SerialWriteDword(out, type_);
    SerialWriteBool(out, Enabled);
    SerialWriteDword(out, Level);
    SerialWriteDword(out, Flags);
    SerialWriteString(out, MsgPrefix);
}

void ChannelConfig::ReadBaseFromFlat(const _log_channel_config& header) {
    Enabled = header.enabled != 0;
    Level = header.level;
    Flags = header.flags;
    MsgPrefix = header.msgPrefix != nullptr ? header.msgPrefix : "";
}

void ChannelConfig::WriteBaseToFlat(_log_channel_config& header, uint32_t size) const {
    header.size = size;
    header.type = type_;
    header.enabled = Enabled ? 1 : 0;
    header.level = Level;
    header.flags = Flags;
    header.msgPrefix = MsgPrefix.c_str();
}

void ChannelConfig::ReportTypeMismatch() {
    Common::ReportAssertion("GetType() == source.GetType()", "logging/include/channel_config", 147);
}

uint32_t FlatConfigSize(uint32_t type) noexcept {
    return FindType(type).flatSize;
}

std::unique_ptr<ChannelConfig> CreateDefaultConfig(uint32_t type) {
    const TypeEntry& entry = FindType(type);
    return entry.makeDefault != nullptr ? entry.makeDefault() : nullptr;
}

std::unique_ptr<ChannelConfig> CreateConfigFromFlat(const _log_channel_config* flat) {
    if (flat == nullptr || flat->size < sizeof(_log_channel_config)) {
        return nullptr;
    }
    const TypeEntry& entry = FindType(flat->type);
    if (entry.makeFromFlat == nullptr || flat->size != entry.flatSize) {
        return nullptr;
    }
    return entry.makeFromFlat(flat);
}

std::unique_ptr<ChannelConfig> LoadConfig(SerialReader& in) {
    size_t typeOffset = in.Position();
    uint32_t type = in.PeekDword();
    std::unique_ptr<ChannelConfig> config = CreateDefaultConfig(type);
    if (config == nullptr) {
        throw SerialFormatError("configuration data names no channel type: " + std::to_string(type), typeOffset);
    }
    config->Load(in);
    return config;
}

std::unique_ptr<ChannelConfig> CloneConfig(const ChannelConfig& config) {
    std::unique_ptr<ChannelConfig> copy = config.CreateDefault();
    copy->Assign(config);
    return copy;
}

}  // namespace Logging
