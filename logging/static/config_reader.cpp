#include "logging/static/config_reader.h"

#include <optional>
#include <string_view>
#include <vector>

#include "core/xml/xml_reader.h"
#include "logging/channel_config.h"
#include "logging/common/file_stream.h"
#include "logging/common/platform.h"
#include "logging/static/manager_state.h"
#include "logging/static/number_reader.h"
#include "logging/static/text_case.h"
#include "logging/trace_flags.h"

namespace Logging {

namespace {

LoggingManager::Impl& Self(LoggingManager& manager) {
    return LoggingManagerInternals::State(manager);
}

// A reader's message, for the channel of the manager it configures.
#define CONFIG_TRACE(manager, ...) Self(manager).SelfTrace(__LINE__, __VA_ARGS__)

// Attribute values, like every name and path of the library, in the ANSI code page.
std::optional<std::string> Text(const Xml::Element& element, const char* name) {
    const std::wstring* value = element.FindAttribute(name);
    return value != nullptr ? std::optional<std::string>(Platform::ToAnsi(*value)) : std::nullopt;
}

// "true", "false", or an integer tested against 0.
std::optional<bool> ReadBool(const Xml::Element& element, const char* name) {
    const std::wstring* value = element.FindAttribute(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    const std::string text = Platform::ToAnsi(*value);
    if (EqualsIgnoringCase(text, "true")) {
        return true;
    }
    if (EqualsIgnoringCase(text, "false")) {
        return false;
    }
    if (const std::optional<int32_t> number = Xml::ToInt32(*value)) {
        return *number != 0;
    }
    CONFIG_TRACE(LoggingManager::Instance(), "GetBool: invalid bool value: %s", text.c_str());
    return std::nullopt;
}

std::optional<uint32_t> ReadNumberAttribute(const Xml::Element& element, const char* name) {
    const std::optional<std::string> text = Text(element, name);
    if (!text) {
        return std::nullopt;
    }
    const std::optional<uint32_t> number = ReadNumber(*text);
    if (!number) {
        CONFIG_TRACE(LoggingManager::Instance(), "GetNumber: invalid number value: %s", text->c_str());
    }
    return number;
}

int32_t GetEventLevel(const std::string& text) {
    struct LevelWord {
        const char* word;
        int32_t level;
    };
    static constexpr LevelWord kWords[] = {
        {"debug", DEBUG_TRACE},
        {"information", INFORMATION},
        {"info", INFORMATION},
        {"warning", WARNING},
        {"warn", WARNING},
        {"error", ERROR_TRACE},
        {"critical_error", CRITICAL_ERROR},
    };
    for (const LevelWord& entry : kWords) {
        if (EqualsIgnoringCase(text, entry.word)) {
            return entry.level;
        }
    }
    CONFIG_TRACE(LoggingManager::Instance(), "GetEventLevel: invalid event level value: %s", text.c_str());
    return INFORMATION;
}

uint32_t GetFlags(const std::string& text) {
    uint32_t flags = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string_view word = std::string_view(text).substr(start, end - start);
        if (!word.empty() && !AddTraceFlag(word, flags)) {
            CONFIG_TRACE(LoggingManager::Instance(), "GetFlags: invalid flag value: %s", std::string(word).c_str());
        }
        start = end + 1;
    }
    return flags;
}

// One attribute of a channel type: the field of its configuration that it sets.
template <typename ConfigType>
struct TypeAttribute {
    const char* name;
    bool ConfigType::*flag = nullptr;
    uint32_t ConfigType::*number = nullptr;
    std::string ConfigType::*text = nullptr;
};

const TypeAttribute<FileConfig> kFileAttributes[] = {
    {"file", nullptr, nullptr, &FileConfig::File},
    {"oneday", &FileConfig::OneDay},
    {"append", &FileConfig::Append},
    {"maxsize", nullptr, &FileConfig::MaxSize},
};
const TypeAttribute<SharedFileConfig> kSharedFileAttributes[] = {
    {"file", nullptr, nullptr, &SharedFileConfig::File},
    {"oneday", &SharedFileConfig::OneDay},
    {"maxsize", nullptr, &SharedFileConfig::MaxSize},
    {"timeout", nullptr, &SharedFileConfig::Timeout},
};
const TypeAttribute<FileFolderConfig> kFileFolderAttributes[] = {
    {"folder", nullptr, nullptr, &FileFolderConfig::Folder},
    {"file", nullptr, nullptr, &FileFolderConfig::File},
    {"prefix", nullptr, nullptr, &FileFolderConfig::Prefix},
    {"extension", nullptr, nullptr, &FileFolderConfig::Extension},
    {"maxfiles", nullptr, &FileFolderConfig::MaxFiles},
    {"maxsize", nullptr, &FileFolderConfig::MaxSize},
    {"maxage", nullptr, &FileFolderConfig::MaxAge},
    {"scanperiod", nullptr, &FileFolderConfig::ScanPeriod},
};
const TypeAttribute<LogScopeConfig> kLogScopeAttributes[] = {
    {"prefix", nullptr, nullptr, &LogScopeConfig::Prefix}, {"oneday", &LogScopeConfig::OneDay},
    {"maxsize", nullptr, &LogScopeConfig::MaxSize},        {"maxfiles", nullptr, &LogScopeConfig::MaxFiles},
    {"compress", nullptr, &LogScopeConfig::Compress},
};

template <typename ConfigType, size_t N>
std::unique_ptr<ChannelConfig> BuildTyped(const Xml::Element& element,
                                          const TypeAttribute<ConfigType> (&attributes)[N]) {
    auto config = std::make_unique<ConfigType>();
    for (const TypeAttribute<ConfigType>& attribute : attributes) {
        if (attribute.text != nullptr) {
            if (std::optional<std::string> text = Text(element, attribute.name)) {
                (*config).*(attribute.text) = std::move(*text);
            }
        } else if (attribute.number != nullptr) {
            if (const std::optional<uint32_t> number = ReadNumberAttribute(element, attribute.name)) {
                (*config).*(attribute.number) = *number;
            }
        } else if (const std::optional<bool> flag = ReadBool(element, attribute.name)) {
            (*config).*(attribute.flag) = *flag;
        }
    }
    return config;
}

struct SingleFlag {
    const char* name;
    uint32_t flag;
};

constexpr SingleFlag kSingleFlags[] = {
    {"timestamp", OF_TIMESTAMP},
    {"tzd", OF_TZD},
    {"tid", OF_TID},
    {"pid", OF_PID},
    {"pname", OF_PNAME},
    {"signature", OF_SIGNATURE},
    {"dumperror", OF_DUMPERROR},
    {"nolf", OF_NOLF},
    {"debug", OF_DEBUG},
    {"dumpline", OF_DUMPLINE},
    {"dumpfunction", OF_DUMPFUNCTION},
    {"highlight", OF_HIGHLIGHT},
    {"eol", OF_NATIVE_EOL},
};

void ApplyCommonAttributes(const Xml::Element& element, ChannelConfig& config) {
    config.Enabled = ReadBool(element, "enabled").value_or(true);
    config.Level = static_cast<uint32_t>(GetEventLevel(Text(element, "level").value_or("information")));
    if (std::optional<std::string> prefix = Text(element, "msgprefix")) {
        config.MsgPrefix = std::move(*prefix);
    }
    if (const std::optional<std::string> flags = Text(element, "flags")) {
        config.Flags = GetFlags(*flags);
    }
    for (const SingleFlag& single : kSingleFlags) {
        if (const std::optional<bool> set = ReadBool(element, single.name)) {
            config.Flags = *set ? config.Flags | single.flag : config.Flags & ~single.flag;
        }
    }
    // Inverted: the attribute says whether the error stream may be used.
    if (const std::optional<bool> useStderr = ReadBool(element, "stderr")) {
        config.Flags = *useStderr ? config.Flags & ~OF_NOSTDERR : config.Flags | OF_NOSTDERR;
    }
}

}  // namespace

void BaseReader::ReadChildren(const Xml::Element& parent) {
    for (const Xml::Element& child : parent.Children()) {
        HandleElement(child);
    }
}

std::unique_ptr<ChannelConfig> BuildChannelConfig(const Xml::Element& channel) {
    const std::string type = Text(channel, "type").value_or("");
    std::unique_ptr<ChannelConfig> config;
    if (type == "debugger") {
        config = std::make_unique<DebuggerConfig>();
    } else if (type == "console") {
        config = std::make_unique<ConsoleConfig>();
    } else if (type == "file" && BackendTypeAvailable(BACKEND_FILE)) {
        config = BuildTyped(channel, kFileAttributes);
    } else if (type == "sharedfile" && BackendTypeAvailable(BACKEND_SHAREDFILE)) {
        config = BuildTyped(channel, kSharedFileAttributes);
    } else if (type == "filefolder" && BackendTypeAvailable(BACKEND_FILEFOLDER)) {
        config = BuildTyped(channel, kFileFolderAttributes);
    } else if (type == "logscope" && BackendTypeAvailable(BACKEND_LOGSCOPE)) {
        config = BuildTyped(channel, kLogScopeAttributes);
    } else {
        config = std::make_unique<NullConfig>();
    }
    ApplyCommonAttributes(channel, *config);
    return config;
}

void ConfigReader::HandleElement(const Xml::Element& element) {
    const std::optional<std::string> id = Text(element, "id");
    if (!id) {
        return;
    }
    const std::wstring& name = element.Name();
    if (name == L"channel") {
        if (!element.FindAttribute("type")) {
            return;
        }
        const std::unique_ptr<ChannelConfig> config = BuildChannelConfig(element);
        manager_.TuneChannel(id->c_str(), *config);
        PropReader(manager_, *id).ReadChildren(element);
    } else if (name == L"setlevel") {
        if (const std::optional<std::string> level = Text(element, "level")) {
            manager_.SetLevel(id->c_str(), GetEventLevel(*level));
        }
    } else if (name == L"redirect" || name == L"link") {
        if (const std::optional<std::string> to = Text(element, "to")) {
            if (name == L"redirect") {
                manager_.RedirectChannel(id->c_str(), to->c_str());
            } else {
                manager_.LinkChannel(id->c_str(), to->c_str());
            }
        }
    } else if (name == L"default") {
        manager_.SetDefaultChannel(id->c_str());
    }
}

void PropReader::HandleElement(const Xml::Element& element) {
    if (element.Name() != L"property") {
        return;
    }
    const std::optional<std::string> name = Text(element, "name");
    if (!name) {
        return;
    }
    const std::string type = Text(element, "type").value_or("string");
    if (type == "string") {
        manager_.SetProperty(channel_.c_str(), name->c_str(), Platform::ToAnsi(element.Text()).c_str());
    } else if (type == "dword") {
        manager_.SetProperty(channel_.c_str(), name->c_str(), Platform::ToAnsi(element.TrimmedText()).c_str());
        uint32_t value = 0;
        if (manager_.GetDWordProperty(channel_.c_str(), name->c_str(), value) != LOGGING_RC_NOERROR) {
            CONFIG_TRACE(manager_, "PropReader: invalid dword property: %s", name->c_str());
        }
    } else {
        CONFIG_TRACE(manager_, "PropReader: unsupported property type: %s", type.c_str());
    }
}

void ApplyConfigurationDocument(LoggingManager& manager, const Xml::Document& document,
                                const std::string& executableName) {
    const std::wstring& root = document.Root().Name();
    const Xml::Element* section = nullptr;
    if (root == L"config") {
        section = document.Find("config/logging");
    } else if (!executableName.empty() && root == Xml::Key(executableName).Text()) {
        section = document.Find(executableName + "/logging");
    }
    if (section != nullptr) {
        ConfigReader(manager).ReadChildren(*section);
    }
}

void ReadConfiguration(LoggingManager& manager, const std::string& directory, const std::string& name, uint32_t mode) {
    std::string folder = directory.empty() ? Platform::ExecutableDirectory() : directory;
    if (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    const std::string executableName = Platform::ExecutableBaseName();
    std::vector<std::string> paths;
    if (mode == 3) {
        paths.push_back(folder + "\\" + name);
    } else {
        CONFIG_TRACE(manager, "Parsing configuration files: %s\\*.config", folder.c_str());
        const std::string wanted = executableName + ".config";
        for (const std::string& file : Platform::ListFiles(folder, "*.config")) {
            const std::string path = folder + "\\" + file;
            // The pattern may also match names whose short form ends so.
            if (file.size() < 7 || !EqualsIgnoringCase(std::string_view(file).substr(file.size() - 7), ".config")) {
                continue;
            }
            if (mode == 1 &&
                (path.size() < wanted.size() ||
                 !EqualsIgnoringCase(std::string_view(path).substr(path.size() - wanted.size()), wanted))) {
                CONFIG_TRACE(manager, "Skip %s", path.c_str());
                continue;
            }
            paths.push_back(path);
        }
    }
    for (const std::string& path : paths) {
        CONFIG_TRACE(manager, "Processing %s", path.c_str());
        FileStream stream(path.c_str());
        std::string bytes;
        if (!stream.ReadAll(bytes, Xml::kMaxDocumentBytes + 1)) {
            continue;
        }
        Xml::Document document;
        Xml::Error error;
        if (!Xml::Parse(bytes, document, error)) {
            CONFIG_TRACE(manager, "XML parser error. Line %i, Column %i", error.line, error.column);
            continue;
        }
        ApplyConfigurationDocument(manager, document, executableName);
    }
}

namespace {

void ReadConfigurationFiles(LoggingManager& manager, uint32_t mode) {
    ReadConfiguration(manager, ConfigDirectory(), ConfigName(), mode);
}

// Installed before main, so that the first delivery after Initialize reads the files.
const bool g_configurationHookInstalled = (SetConfigurationHook(&ReadConfigurationFiles), true);

}  // namespace

}  // namespace Logging
