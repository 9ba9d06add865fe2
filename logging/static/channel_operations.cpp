// The manager's operations that change channels: creating, tuning, removing, levels,
// properties, the default channel, redirections and links.

#include <regex>

#include "core/common/assert.h"
#include "logging/static/backends/console_backend.h"
#include "logging/static/backends/custom_backend.h"
#include "logging/static/backends/debugger_backend.h"
#include "logging/static/backends/null_backend.h"
#include "logging/static/manager_state.h"

namespace Logging {

namespace {

bool HasBadCharacter(std::string_view name) {
    return name.find_first_of(" \t#") != std::string_view::npos;
}

std::unique_ptr<ChannelConfig> PredefinedConfig(std::string_view name) {
    if (name == "null") {
        return std::make_unique<NullConfig>();
    }
    return std::make_unique<DebuggerConfig>();
}

const char* TypeText(uint32_t type) {
    switch (type) {
        case BACKEND_NULL: return "null";
        case BACKEND_DEBUGGER: return "debugger";
        case BACKEND_CONSOLE: return "console";
        case BACKEND_FILE: return "file";
        case BACKEND_SHAREDFILE: return "shared file";
        case BACKEND_CUSTOM: return "custom";
        case BACKEND_LOGSCOPE: return "logscope";
        case BACKEND_GATE: return "gate";
        case BACKEND_FILEFOLDER: return "filefolder";
        default: return nullptr;
    }
}

std::shared_ptr<Backend> MakeBackend(uint32_t type) {
    switch (type) {
        case BACKEND_NULL: return std::make_shared<NullBackend>();
        case BACKEND_DEBUGGER: return std::make_shared<DebuggerBackend>();
        case BACKEND_CONSOLE: return std::make_shared<ConsoleBackend>();
        case BACKEND_CUSTOM: return std::make_shared<CustomBackend>();
        default: {
            const BackendFactory factory = type <= kMaxBackendType ? g_backendFactories[type] : nullptr;
            return factory != nullptr ? factory() : nullptr;
        }
    }
}

}  // namespace

ChannelEntry* LoggingManager::Impl::Find(std::string_view name) {
    const auto it = channels.find(name);
    return it == channels.end() ? nullptr : &it->second;
}

std::string LoggingManager::Impl::Resolve(const char* name) const {
    return name == nullptr || *name == '\0' ? defaultChannel : std::string(name);
}

std::string LoggingManager::Impl::ResolveForInspection(const char* name) {
    std::string resolved;
    bool missingPredefined = false;
    {
        Lock lock(*this, kShared);
        resolved = Resolve(name);
        missingPredefined = IsPredefined(resolved) && channels.find(resolved) == channels.end();
    }
    // Only a creation needs the exclusive side, which makes every fast route stale.
    if (missingPredefined) {
        Lock lock(*this, kExclusive);
        if (lock.Held()) {
            EnsurePredefined(resolved);
        }
    }
    return resolved;
}

Backend* LoggingManager::Impl::FindBackend(std::string_view name) {
    ChannelEntry* entry = Find(name);
    return entry != nullptr ? entry->backend.get() : nullptr;
}

void LoggingManager::Impl::CreatePredefined(std::string_view name) {
    const std::unique_ptr<ChannelConfig> config = PredefinedConfig(name);
    CreateLocked(std::string(name), *config);
}

void LoggingManager::Impl::EnsurePredefined(std::string_view name) {
    if (IsPredefined(name) && channels.find(name) == channels.end()) {
        CreatePredefined(name);
    }
}

std::vector<std::string> LoggingManager::Impl::Matches(const std::string& name) {
    std::vector<std::string> names;
    if (IsRegexName(name)) {
        const std::regex expression(name.substr(sizeof kRegexPrefix - 1), std::regex::ECMAScript);
        for (const auto& channel : channels) {
            if (std::regex_match(channel.first, expression)) {
                names.push_back(channel.first);
            }
        }
    } else {
        EnsurePredefined(name);
        if (channels.find(name) != channels.end()) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> LoggingManager::Impl::MatchesOrNone(const std::string& name) {
    try {
        return Matches(name);
    } catch (const std::regex_error& error) {
        SelfTrace(__LINE__, "regex_error caught: %s", error.what());
        return {};
    }
}

int32_t LoggingManager::Impl::CreateLocked(const std::string& name, const ChannelConfig& config) {
    if (channels.find(name) != channels.end()) {
        Common::ReportAssertion("!exists", kSelfTraceSource, __LINE__);
        return LOGGING_RC_CHANNEL_IS_ALREADY_EXISTS;
    }
    const uint32_t type = config.GetType();
    const char* typeText = TypeText(type);
    std::shared_ptr<Backend> backend = typeText != nullptr ? MakeBackend(type) : nullptr;
    if (typeText != nullptr) {
        SelfTrace(__LINE__, "CreateChannel: %s (%s)", name.c_str(), typeText);
    }
    if (!backend) {
        Common::ReportAssertion("!\"Unsupported backend type\"", kSelfTraceSource, __LINE__);
        return LOGGING_RC_UNSUPPORTED_BACKEND_TYPE;
    }
    const int32_t rc = backend->SetConfig(name.c_str(), config);
    if (rc != LOGGING_RC_NOERROR) {
        SelfTrace(__LINE__, "CreateChannel: SetConfig for channel %s. status=%Xh", name.c_str(),
                  static_cast<unsigned>(rc));
        backend->Close();
        return rc;
    }
    ChannelEntry entry;
    entry.backend = std::move(backend);
    entry.usage = Usage(name);
    const auto inserted = channels.emplace(name, std::move(entry)).first;
    if (name == "panic") {
        SetPanic(MakePanicLogic(inserted->second.backend));
    }
    return LOGGING_RC_NOERROR;
}

void LoggingManager::Impl::Forget(const std::string& name, const Backend* gone) {
    ForgetReferencesTo(channels, name);
    if (name == defaultChannel && !IsPredefined(name)) {
        defaultChannel = "debugger";
    }
    // A handle of the host's own stays; ours must not keep writing to a closed back-end.
    if (panic != nullptr && panic->Target.get() == gone) {
        SetPanic(nullptr);
    }
}

void LoggingManager::Impl::SetPanic(PanicLogicIf* handle) {
    PanicLogicIf* old = panic;
    panic = handle;
    if (old != nullptr) {
        old->Release(old);
    }
}

int32_t LoggingManager::CreateChannel(const char* name, const ChannelConfig& config) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    if (IsRegexName(resolved) || HasBadCharacter(resolved)) {
        return LOGGING_RC_INVALID_PARAM;
    }
    return impl.CreateLocked(resolved, config);
}

int32_t LoggingManager::TuneChannel(const char* name, const ChannelConfig& config) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    if (IsRegexName(resolved)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    if (HasBadCharacter(resolved)) {
        impl.SelfTrace(__LINE__, "TuneChannel: invalid channel name - %s", resolved.c_str());
        return LOGGING_RC_INVALID_PARAM;
    }
    const uint32_t type = config.GetType();
    if (resolved == "panic" && type != BACKEND_DEBUGGER && type != BACKEND_CONSOLE && type != BACKEND_FILE) {
        impl.SelfTrace(__LINE__, "TuneChannel: not allowed type(%i) for panic channel", static_cast<int>(type));
        return LOGGING_RC_INVALID_PARAM;
    }
    ChannelEntry* entry = impl.Find(resolved);
    if (entry == nullptr) {
        return impl.CreateLocked(resolved, config);
    }
    if (entry->backend->GetConfig().GetType() != type) {
        const std::shared_ptr<Backend> old = std::move(entry->backend);
        old->Close();
        impl.channels.erase(resolved);
        const int32_t rc = impl.CreateLocked(resolved, config);
        if (rc != LOGGING_RC_NOERROR) {
            impl.Forget(resolved, old.get());
        }
        return rc;
    }
    const int32_t rc = entry->backend->SetConfig(resolved.c_str(), config);
    if (rc != LOGGING_RC_NOERROR) {
        impl.SelfTrace(__LINE__, "TuneChannel: SetConfig for channel %s. status=%Xh", resolved.c_str(),
                       static_cast<unsigned>(rc));
        return rc;
    }
    if (resolved == "panic") {
        impl.SetPanic(MakePanicLogic(entry->backend));
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::TuneChannel(const char* name, const _log_channel_config* flat) {
    const std::unique_ptr<ChannelConfig> config = CreateConfigFromFlat(flat);
    if (!config) {
        impl_->SelfTrace(__LINE__, "TuneChannel: invalid param");
        return kLoggingRcNotSupported;
    }
    return TuneChannel(name, *config);
}

int32_t LoggingManager::RemoveChannel(const char* name) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "RemoveChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "RemoveChannel: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    for (const std::string& removed : names) {
        const auto it = impl.channels.find(removed);
        if (it == impl.channels.end()) {
            continue;
        }
        const std::shared_ptr<Backend> gone = std::move(it->second.backend);
        gone->Close();
        impl.channels.erase(it);
        impl.Forget(removed, gone.get());
        impl.SelfTrace(__LINE__, "RemoveChannel: %s", removed.c_str());
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetDefaultChannel(const char* name) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || name == nullptr || *name == '\0' || IsRegexName(name)) {
        impl.SelfTrace(__LINE__, "SetDefaultChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    if (impl.Find(name) == nullptr && !IsPredefined(name)) {
        impl.SelfTrace(__LINE__, "SetDefaultChannel: channel does not exist %s", name);
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    impl.defaultChannel = name;
    impl.SelfTrace(__LINE__, "SetDefaultChannel: %s", name);
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetLevel(const char* name, int32_t level) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name)) {
        impl.SelfTrace(__LINE__, "SetLevel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "SetLevel: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    for (const std::string& channel : names) {
        impl.Find(channel)->backend->SetLevel(level);
        impl.SelfTrace(__LINE__, "SetLevel: %s level=%i", channel.c_str(), static_cast<int>(level));
    }
    return LOGGING_RC_NOERROR;
}

int32_t LoggingManager::SetProperty(const char* name, const char* property, const char* value) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(name) || property == nullptr || IsInvalidPointer(property) || IsInvalidPointer(value)) {
        impl.SelfTrace(__LINE__, "SetProperty: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string resolved = impl.Resolve(name);
    const std::vector<std::string> names = impl.MatchesOrNone(resolved);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "SetProp: channel does not exist %s", resolved.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const char* shown = value != nullptr ? value : "<clear>";
    int32_t first = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = impl.Find(channel)->backend->SetProperty(property, value);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "SetProp: channel=%s %s=%s. Failed rc=%i", channel.c_str(), property, shown,
                           static_cast<int>(rc));
            if (first == LOGGING_RC_NOERROR) {
                first = rc;
            }
        } else {
            impl.SelfTrace(__LINE__, "SetProp: channel=%s %s=%s", channel.c_str(), property, shown);
        }
    }
    return first;
}

int32_t LoggingManager::RedirectChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || (!IsInvalidPointer(to) && to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "RedirectChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "RedirectChannel: no such channel (from) %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    if (IsInvalidPointer(to)) {
        for (const std::string& channel : names) {
            impl.Find(channel)->backend->SetRedirection(std::string());
            impl.SelfTrace(__LINE__, "RedirectChannel: Remove redirection of channel %s", channel.c_str());
        }
        return LOGGING_RC_NOERROR;
    }
    const std::string target = impl.Resolve(to);
    impl.EnsurePredefined(target);
    if (impl.Find(target) == nullptr) {
        impl.SelfTrace(__LINE__, "RedirectChannel: no such channel (to) %s", target.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        Backend& backend = *impl.Find(channel)->backend;
        std::string previous = backend.GetRedirection();
        backend.SetRedirection(target);
        if (ReachesAChannelTwice(impl.channels, channel)) {
            backend.SetRedirection(std::move(previous));
            impl.SelfTrace(__LINE__, "RedirectChannel: invalid redirection %s->%s", channel.c_str(), target.c_str());
            result = LOGGING_RC_ENDLESS_LOOP;
            continue;
        }
        impl.SelfTrace(__LINE__, "RedirectChannel: %s->%s", channel.c_str(), target.c_str());
    }
    return result;
}

int32_t LoggingManager::LinkChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || IsInvalidPointer(to) || (to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "LinkChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel (from) %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const std::string target = impl.Resolve(to);
    impl.EnsurePredefined(target);
    ChannelEntry* targetEntry = impl.Find(target);
    if (targetEntry == nullptr) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel (to) %s", target.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    Backend& backend = *targetEntry->backend;
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = backend.AddLink(channel);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "LinkChannel: add link %s->%s error %Xh", channel.c_str(), target.c_str(),
                           static_cast<unsigned>(rc));
            if (result == LOGGING_RC_NOERROR) {
                result = rc;
            }
            continue;
        }
        if (ReachesAChannelTwice(impl.channels, target)) {
            backend.RemoveLink(channel);
            impl.SelfTrace(__LINE__, "LinkChannel: invalid link %s->%s", channel.c_str(), target.c_str());
            if (result == LOGGING_RC_NOERROR) {
                result = LOGGING_RC_ENDLESS_LOOP;
            }
            continue;
        }
        impl.SelfTrace(__LINE__, "LinkChannel: %s linked to %s", channel.c_str(), target.c_str());
    }
    return result;
}

int32_t LoggingManager::UnlinkChannel(const char* from, const char* to) {
    Impl& impl = *impl_;
    if (IsInvalidPointer(from) || IsInvalidPointer(to) || (to != nullptr && IsRegexName(to))) {
        impl.SelfTrace(__LINE__, "LinkChannel: invalid param");
        return LOGGING_RC_INVALID_PARAM;
    }
    Impl::Lock lock(impl, kExclusive);
    if (!lock.Held()) {
        return LOGGING_RC_INTERNAL;
    }
    const std::string target = impl.Resolve(to);
    ChannelEntry* targetEntry = impl.Find(target);
    if (targetEntry == nullptr) {
        impl.SelfTrace(__LINE__, "UnlinkChannel: channel does not exist");
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    const std::string source = impl.Resolve(from);
    const std::vector<std::string> names = impl.MatchesOrNone(source);
    if (names.empty()) {
        impl.SelfTrace(__LINE__, "LinkChannel: no such channel %s", source.c_str());
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    int32_t result = LOGGING_RC_NOERROR;
    for (const std::string& channel : names) {
        const int32_t rc = targetEntry->backend->RemoveLink(channel);
        if (rc != LOGGING_RC_NOERROR) {
            impl.SelfTrace(__LINE__, "UnlinkChannel: unlink %s from %s. Failed rc=%i", channel.c_str(), target.c_str(),
                           static_cast<int>(rc));
            if (result == LOGGING_RC_NOERROR) {
                result = rc;
            }
            continue;
        }
        impl.SelfTrace(__LINE__, "UnlinkChannel: unlink %s from %s", channel.c_str(), target.c_str());
    }
    return result;
}

}  // namespace Logging
