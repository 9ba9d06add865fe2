#pragma once

// The control command language: one line of blank-separated words, the first naming the
// command ("list", "config", "tune", ...), answered by one text, "ok" on success. Commands
// come from the environment variables LOGGING_INIT_CMD and LOGGING_POST_INIT_CMD and from the
// control pipe; they act through the manager's ordinary operations.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Logging {

class ChannelConfig;
class LoggingManager;

// The words of a command line; runs of blanks count as one separator.
std::vector<std::string> SplitCommandWords(std::string_view line);

// Runs one command line and returns its reply: "ok", the data asked for, or "Error: ...".
std::string RunControlCommand(LoggingManager& manager, std::string_view line);

// The configuration that "tune" applies, from its arguments (channel, type name, key=value
// words): the type's defaults with the keys applied. Returns the error reply, or empty text.
std::string BuildTuneConfiguration(const std::vector<std::string>& args, std::unique_ptr<ChannelConfig>& config);

// Runs each ";"-separated command of `commands`; the replies are dropped.
void RunControlCommands(LoggingManager& manager, std::string_view commands);

// The manager's command hook: runs the commands held by the environment variable `variable`.
void RunEnvironmentCommands(LoggingManager& manager, const char* variable);

}  // namespace Logging
