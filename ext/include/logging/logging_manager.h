#pragma once

// The process-wide owner of the named channels. Every operation returns a LOGGING_RC_* code
// (see result_codes.h) and reports what it did to the channel "logging-trace".
//
// Channel names: null or empty means the default channel; a name may not hold a blank, a tab
// or "#" when it is created or tuned; a name that starts with "re:" stands for every channel
// whose whole name matches the ECMAScript regular expression after the prefix, where an
// operation accepts it. NoChannel() is invalid everywhere, except as the target of
// RedirectChannel, where it removes the redirection.

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "logging/initialize.h"
#include "logging/log.h"
#include "logging/result_codes.h"

namespace Common {
class Error;
}

namespace Logging {

class ChannelConfig;
struct PanicLogicIf;
struct _log_channel_config;

// The all-ones pointer value.
inline const char* NoChannel() {
    return reinterpret_cast<const char*>(~static_cast<uintptr_t>(0));
}

// The prefix of a regular-expression channel name.
constexpr char kRegexPrefix[] = "re:";
// The library's own channel.
constexpr char kSelfTraceChannel[] = "logging-trace";

class LoggingManager {
public:
    static LoggingManager& Instance();

    // With `local` clear, an empty or regular-expression name is invalid; with it set, a
    // regular-expression name exists when it matches a channel.
    bool ChannelExists(const char* name, bool local);
    int32_t CreateChannel(const char* name, const ChannelConfig& config);
    int32_t TuneChannel(const char* name, const ChannelConfig& config);
    int32_t TuneChannel(const char* name, const _log_channel_config* flat);
    int32_t RemoveChannel(const char* name);
    int32_t SetDefaultChannel(const char* name);
    int32_t SetLevel(const char* name, int32_t level);
    // A null value clears the property.
    int32_t SetProperty(const char* name, const char* property, const char* value);
    int32_t GetProperty(const char* name, const char* property, std::string& value);
    int32_t GetDWordProperty(const char* name, const char* property, uint32_t& value);
    int32_t GetPropertyName(const char* name, uint32_t index, bool all, std::string& property);
    // Records for `from` go to `to` instead; `to` = NoChannel() removes the redirection.
    int32_t RedirectChannel(const char* from, const char* to);
    // Every record delivered to `to` is also delivered to `from`.
    int32_t LinkChannel(const char* from, const char* to);
    int32_t UnlinkChannel(const char* from, const char* to);
    int32_t GetRedirect(const char* name, std::string& target);
    int32_t GetLinks(const char* name, std::vector<std::string>& links);
    // How many records were delivered to the name, through links and redirections included.
    int32_t GetUsageCount(const char* name, uint64_t& count);
    // A copy of the default channel's name; free it with Logging::Free.
    char* GetDefaultChannel();

    // Trace entries: build a record and deliver it. Never throw.
    void TraceFormatted(const char* channel, int32_t level, const TraceLocation& location, const char* format,
                        va_list args);
    void TraceText(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text);
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void* data, uint32_t size);
    void TraceError(const char* channel, int32_t level, const Common::Error& error);

    // Returns the cookie, or 0 when already initialised.
    uint32_t Initialize(const InitParameters* parameters, PanicLogicIf* panic);
    // False unless `cookie` is the current one.
    bool Release(uint32_t cookie);
    bool IsInitialized() const;

    // The state, shared by the library's own files (logging/static/manager_state.h).
    struct Impl;

private:
    friend struct LoggingManagerInternals;

    LoggingManager();
    ~LoggingManager();
    LoggingManager(const LoggingManager&) = delete;
    LoggingManager& operator=(const LoggingManager&) = delete;

    std::unique_ptr<Impl> impl_;
};

}  // namespace Logging
