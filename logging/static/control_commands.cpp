#include "logging/static/control_commands.h"

#include <cstdlib>
#include <memory>
#include <optional>

#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "logging/result_codes.h"
#include "logging/static/manager_internal.h"
#include "logging/static/number_reader.h"
#include "logging/static/text_case.h"
#include "logging/static/trace_points.h"
#include "logging/trace_flags.h"
#include "logging/trace_levels.h"

namespace Logging {

namespace {

using Words = std::vector<std::string>;

constexpr char kOk[] = "ok";
constexpr char kInvalidParameters[] = "Error: invalid parameters";

std::string Failure(const char* text, int32_t rc) {
    return text + ResultCodeText(rc);
}

// key=value pairs joined by ",".
class Pairs {
public:
    Pairs& Add(std::string_view key, std::string_view value) {
        if (!text_.empty()) {
            text_ += ',';
        }
        text_.append(key).append("=").append(value);
        return *this;
    }
    Pairs& Add(std::string_view key, uint64_t value) { return Add(key, std::to_string(value)); }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

std::string JoinRecords(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& record : records) {
        text += text.empty() ? "" : ";";
        text += record;
    }
    return text;
}

std::string DefaultChannelName(LoggingManager& manager) {
    char* name = manager.GetDefaultChannel();
    std::string copy = name != nullptr ? name : "";
    Free(name);
    return copy;
}

// "<default>" stands for the default channel.
std::string ChannelWord(LoggingManager& manager, const std::string& word) {
    return word == "<default>" ? DefaultChannelName(manager) : word;
}

// Reads, changes and re-applies a channel's configuration.
template <typename Change>
std::string Reconfigure(LoggingManager& manager, const std::string& channel, const Change& change) {
    std::unique_ptr<ChannelConfig> config;
    const int32_t read = GetChannelConfig(channel.c_str(), config);
    if (read != LOGGING_RC_NOERROR) {
        return Failure("Error: unable to retrieve channel config: ", read);
    }
    change(*config);
    const int32_t tuned = manager.TuneChannel(channel.c_str(), *config);
    return tuned == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to reconfigure channel: ", tuned);
}

std::string Config(LoggingManager& manager, const Words& args) {
    const std::string channel = ChannelWord(manager, args[0]);
    std::unique_ptr<ChannelConfig> config;
    const int32_t rc = GetChannelConfig(channel.c_str(), config);
    if (rc != LOGGING_RC_NOERROR) {
        return Failure("Error: unable to retrieve channel config: ", rc);
    }
    std::string redirect;
    std::vector<std::string> links;
    manager.GetRedirect(channel.c_str(), redirect);
    manager.GetLinks(channel.c_str(), links);
    std::string linkText;
    for (const std::string& link : links) {
        linkText += linkText.empty() ? "" : " ";
        linkText += link;
    }
    Pairs pairs;
    pairs.Add("name", channel)
        .Add("type", BackendTypeName(config->GetType()))
        .Add("enabled", config->Enabled ? "yes" : "no")
        .Add("level", TraceLevelName(static_cast<int32_t>(config->Level)))
        .Add("flags", TraceFlagsToString(config->Flags))
        .Add("msgprefix", config->MsgPrefix)
        .Add("redirect", redirect.empty() ? "<not redirected>" : redirect)
        .Add("links", links.empty() ? "<no links>" : linkText);
    std::string property;
    for (uint32_t index = 0; manager.GetPropertyName(channel.c_str(), index, true, property) == LOGGING_RC_NOERROR;
         ++index) {
        std::string value;
        if (manager.GetProperty(channel.c_str(), property.c_str(), value) == LOGGING_RC_NOERROR) {
            pairs.Add(property, value);
        }
    }
    return pairs.Text();
}

std::string Default(LoggingManager& manager, const Words& args) {
    if (args.empty()) {
        return Pairs().Add("name", DefaultChannelName(manager)).Text();
    }
    const int32_t rc = manager.SetDefaultChannel(ChannelWord(manager, args[0]).c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to set default channel: ", rc);
}

std::string Delete(LoggingManager& manager, const Words& args) {
    const int32_t rc = manager.RemoveChannel(ChannelWord(manager, args[0]).c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to delete channel: ", rc);
}

std::string Disable(LoggingManager& manager, const Words& args) {
    return Reconfigure(manager, ChannelWord(manager, args[0]), [](ChannelConfig& config) { config.Enabled = false; });
}

std::string Enable(LoggingManager& manager, const Words& args) {
    return Reconfigure(manager, ChannelWord(manager, args[0]), [](ChannelConfig& config) { config.Enabled = true; });
}

std::string Flags(LoggingManager& manager, const Words& args) {
    const std::string channel = ChannelWord(manager, args[0]);
    if (args.size() == 1) {
        std::unique_ptr<ChannelConfig> config;
        const int32_t rc = GetChannelConfig(channel.c_str(), config);
        if (rc != LOGGING_RC_NOERROR) {
            return Failure("Error: unable to retrieve channel config: ", rc);
        }
        return Pairs().Add("flags", TraceFlagsToString(config->Flags)).Text();
    }
    uint32_t flags = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!AddTraceFlag(args[i], flags)) {
            return "Error: invalid flag: " + args[i];
        }
    }
    return Reconfigure(manager, channel, [flags](ChannelConfig& config) { config.Flags = flags; });
}

std::string Level(LoggingManager& manager, const Words& args) {
    const std::optional<int32_t> level = ParseTraceLevel(args[1]);
    if (!level) {
        return "Error: invalid level identifier";
    }
    return Reconfigure(manager, ChannelWord(manager, args[0]),
                       [&level](ChannelConfig& config) { config.Level = static_cast<uint32_t>(*level); });
}

std::string Link(LoggingManager& manager, const Words& args) {
    const int32_t rc =
        manager.LinkChannel(ChannelWord(manager, args[0]).c_str(), ChannelWord(manager, args[1]).c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to link channels: ", rc);
}

std::string Unlink(LoggingManager& manager, const Words& args) {
    const int32_t rc =
        manager.UnlinkChannel(ChannelWord(manager, args[0]).c_str(), ChannelWord(manager, args[1]).c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to unlink channels: ", rc);
}

std::string List(LoggingManager& manager, const Words&) {
    const std::string defaultChannel = DefaultChannelName(manager);
    std::vector<std::string> records;
    for (const std::string& name : ChannelNames()) {
        std::unique_ptr<ChannelConfig> config;
        if (GetChannelConfig(name.c_str(), config) != LOGGING_RC_NOERROR) {
            continue;  // removed meanwhile
        }
        records.push_back(Pairs()
                              .Add("name", name)
                              .Add("type", BackendTypeName(config->GetType()))
                              .Add("enabled", config->Enabled ? 1 : 0)
                              .Add("level", TraceLevelName(static_cast<int32_t>(config->Level)))
                              .Add("default", name == defaultChannel ? 1 : 0)
                              .Text());
    }
    return JoinRecords(records);
}

std::string Prop(LoggingManager& manager, const Words& args) {
    const std::string channel = ChannelWord(manager, args[0]);
    const std::string& word = args[1];
    const size_t equals = word.find('=');
    if (equals == std::string::npos) {
        std::string value;
        const int32_t rc = manager.GetProperty(channel.c_str(), word.c_str(), value);
        return rc == LOGGING_RC_NOERROR ? word + "=" + value : Failure("Error: unable to get property: ", rc);
    }
    const std::string name = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    // "name=" with nothing after it clears the property.
    const int32_t rc = manager.SetProperty(channel.c_str(), name.c_str(), value.empty() ? nullptr : value.c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to set property: ", rc);
}

std::string Redirect(LoggingManager& manager, const Words& args) {
    const std::string from = ChannelWord(manager, args[0]);
    const std::string to = ChannelWord(manager, args[1]);
    const int32_t rc = manager.RedirectChannel(from.c_str(), to == "<self>" ? NoChannel() : to.c_str());
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to set redirection: ", rc);
}

std::string Stat(LoggingManager&, const Words&) {
    std::vector<std::string> records;
    for (const UsageStatistic& entry : UsageStatistics()) {
        records.push_back(Pairs()
                              .Add("name", entry.name)
                              .Add("count", entry.count)
                              .Add("exists", entry.exists ? 1 : 0)
                              .Add("usageCount", entry.written)
                              .Text());
    }
    return JoinRecords(records);
}

std::string DescribeTracePoint(const TracePointInfo& point) {
    return Pairs()
        .Add("name", point.name)
        .Add("count", point.count)
        .Add("enabled", point.enabled ? 1 : 0)
        .Add("function", point.function)
        .Add("file", point.file)
        .Add("line", std::to_string(point.line))
        .Text();
}

std::string Trace(LoggingManager&, const Words& args) {
    constexpr char kNotRegistered[] = "Error: tracepoint with specified id is not registered";
    if (args.size() > 2) {
        return kInvalidParameters;
    }
    if (args.empty()) {
        std::vector<std::string> records;
        for (const TracePointInfo& point : ListTracePoints()) {
            records.push_back(DescribeTracePoint(point));
        }
        return JoinRecords(records);
    }
    const std::optional<uint32_t> id = ReadNumber(args[0]);
    const std::optional<TracePointInfo> point = id ? FindTracePoint(*id) : std::nullopt;
    if (!point) {
        return kNotRegistered;
    }
    if (args.size() == 1) {
        return DescribeTracePoint(*point);
    }
    return EnableTracePoint(*id, std::atoi(args[1].c_str()) != 0) ? kOk : kNotRegistered;
}

std::string Tune(LoggingManager& manager, const Words& args) {
    std::unique_ptr<ChannelConfig> config;
    const std::string error = BuildTuneConfiguration(args, config);
    if (!error.empty()) {
        return error;
    }
    const int32_t rc = manager.TuneChannel(ChannelWord(manager, args[0]).c_str(), *config);
    return rc == LOGGING_RC_NOERROR ? kOk : Failure("Error: unable to tune channel: ", rc);
}

struct Command {
    const char* name;
    size_t minimumArguments;
    std::string (*run)(LoggingManager& manager, const Words& args);
};

constexpr Command kCommands[] = {
    {"config", 1, Config}, {"default", 0, Default}, {"delete", 1, Delete},     {"disable", 1, Disable},
    {"enable", 1, Enable}, {"flags", 1, Flags},     {"level", 2, Level},       {"link", 2, Link},
    {"list", 0, List},     {"prop", 2, Prop},       {"redirect", 2, Redirect}, {"stat", 0, Stat},
    {"trace", 0, Trace},   {"tune", 2, Tune},       {"unlink", 2, Unlink},
};

}  // namespace

std::string RunControlCommand(LoggingManager& manager, std::string_view line) {
    Words words = SplitCommandWords(line);
    if (words.empty()) {
        return "Error: unsupported command";
    }
    for (char& c : words[0]) {
        c = ToLowerAscii(c);
    }
    for (const Command& command : kCommands) {
        if (words[0] == command.name) {
            const Words args(words.begin() + 1, words.end());
            if (args.size() < command.minimumArguments) {
                return kInvalidParameters;
            }
            try {
                return command.run(manager, args);
            } catch (const std::exception&) {
                // Out of memory or the like: the command did nothing it could report.
                return Failure("Error: ", LOGGING_RC_INTERNAL);
            }
        }
    }
    return "Error: unsupported command";
}

void RunControlCommands(LoggingManager& manager, std::string_view commands) {
    size_t start = 0;
    while (start <= commands.size()) {
        size_t end = commands.find(';', start);
        if (end == std::string_view::npos) {
            end = commands.size();
        }
        const std::string_view command = commands.substr(start, end - start);
        if (!SplitCommandWords(command).empty()) {
            RunControlCommand(manager, command);
        }
        start = end + 1;
    }
}

void RunEnvironmentCommands(LoggingManager& manager, const char* variable) {
    const char* commands = variable != nullptr ? std::getenv(variable) : nullptr;
    if (commands != nullptr) {
        RunControlCommands(manager, commands);
    }
}

namespace {
// Installed before main, so that the first Initialize runs the environment's commands.
const bool g_commandHookInstalled = (SetCommandHook(&RunEnvironmentCommands), true);
}  // namespace

}  // namespace Logging
