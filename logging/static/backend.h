#pragma once

// The object that writes a channel's records somewhere. Backend carries what every back-end
// shares (fixed bits, links, redirection, properties, the serialising lock); BaseBackend binds
// it to one configuration type. A concrete back-end implements Write and the few operations
// it changes; the manager decides when the serialising lock is held.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "logging/channel_config.h"
#include "logging/common/srw_lock.h"
#include "logging/result_codes.h"
#include "logging/static/trace_record.h"
#include "logging/trace_flags.h"

namespace Logging {

class Backend;

// Reads (get true: fills `value`) or changes (get false: takes `value`) a computed property;
// returns a result code.
using PropertyAccessor = int32_t (*)(Backend& backend, const char* name, std::string& value, bool get);

struct PropertyEntry {
    const char* name;
    uint32_t readOnly;
    uint32_t type;  // PropertyType
    void* storage;  // uint32_t*, bool* or std::string* by type; null: accessor or constant
    PropertyAccessor accessor;
    uint32_t constant;  // a read-only dword with neither storage nor accessor
};

// Called by the log-scope writers with three numbers; what they mean is theirs.
using BackendNotification = void (*)(void* context, uint32_t a, uint32_t b, uint32_t c);

class Backend {
public:
    virtual ~Backend();
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    virtual void Write(TraceRecord& record) = 0;
    // Applies a configuration of the back-end's own type; returns a result code.
    virtual int32_t SetConfig(const char* channel, const ChannelConfig& config) = 0;
    virtual const ChannelConfig& GetConfig() const = 0;
    // Rebuilds the property table for a configuration about to be applied.
    virtual void RegisterProperties(const char* channel, const ChannelConfig& config) = 0;
    virtual int32_t SetLevel(int32_t level) = 0;
    // Releases files and resources before the channel is removed or re-created.
    virtual void Close() {}
    virtual void Flush() {}
    // True when the channel is disabled or the record's level is below the channel's.
    virtual bool IsFiltered(const TraceRecord& record) const;
    // The lowest level at which writing a record has any effect (INT64_MAX: none): the level
    // IsFiltered lets through. The manager builds no record below it for a channel without
    // links and redirection; a back-end that filters otherwise overrides both.
    virtual int64_t LowestWrittenLevel() const;
    virtual int32_t ReadLog(uint32_t lines, std::string& text, uint32_t index);
    // The names of the property table; with `all`, followed by the extra properties.
    virtual std::vector<std::string> GetPropertyNames(bool all) const;
    virtual int32_t GetProperty(const char* name, std::string& value);
    virtual int32_t GetDWordProperty(const char* name, uint32_t& value);
    virtual int32_t MakeTargetName(const char* channel, const char* target, std::string& name);
    // Starts working with the configuration just applied.
    virtual int32_t Open(const char* channel);

    int32_t SetProperty(const char* name, const char* value);

    const std::string& GetRedirection() const { return redirection_; }
    void SetRedirection(std::string target) { redirection_ = std::move(target); }
    const std::vector<std::string>& GetLinks() const { return links_; }
    // 6 when `name` is already linked.
    int32_t AddLink(const std::string& name);
    // 6 when `name` is not linked.
    int32_t RemoveLink(const std::string& name);

    // (configuration flags AND the configurable mask) OR the fixed bits.
    uint32_t EffectiveFlags() const { return (config_->Flags & kConfigurableFlagsMask) | fixedBits_; }
    uint32_t FixedBits() const { return fixedBits_; }
    bool SerialisesWrites() const { return (fixedBits_ & kSerialisedWrites) != 0; }
    uint32_t WriteCount() const { return writeCount_.load(std::memory_order_relaxed); }
    // Counts and writes one record, under the serialising lock when the back-end asks for it.
    // Never throws: a record a back-end fails to write is lost for that back-end only.
    void WriteRecord(TraceRecord& record) noexcept;

    void SetNotification(BackendNotification hook, void* context) {
        notification_ = hook;
        notificationContext_ = context;
    }

protected:
    // `config` is the derived type's own configuration object.
    Backend(uint32_t fixedBits, const ChannelConfig* config) : fixedBits_(fixedBits), config_(config) {}

    void SetFixedBits(uint32_t bits) { fixedBits_ |= bits; }
    void ClearFixedBits(uint32_t bits) { fixedBits_ &= ~bits; }
    void Notify(uint32_t a, uint32_t b, uint32_t c) const {
        if (notification_ != nullptr) {
            notification_(notificationContext_, a, b, c);
        }
    }
    const ChannelConfig& Config() const { return *config_; }

    std::vector<PropertyEntry> properties_;

private:
    const PropertyEntry* FindProperty(const char* name) const;

    uint32_t fixedBits_;
    const ChannelConfig* config_;
    std::string redirection_;
    std::vector<std::string> links_;
    SrwLock writeLock_;
    std::atomic<uint32_t> writeCount_{0};
    std::map<std::string, std::string> extraProperties_;
    BackendNotification notification_ = nullptr;
    void* notificationContext_ = nullptr;
};

// Expands "{pid}" and "{pname}" of a channel prefix once, when a configuration is applied;
// returns true when no placeholder is left for the lines to expand.
bool PreExpandPrefix(std::string& prefix);

template <typename ConfigType, uint32_t Bits>
class BaseBackend : public Backend {
public:
    int32_t SetConfig(const char* channel, const ChannelConfig& config) override {
        RegisterProperties(channel, config);
        config_.Assign(config);
        if (PreExpandPrefix(config_.MsgPrefix)) {
            SetFixedBits(kPrefixExpanded);
        } else {
            ClearFixedBits(kPrefixExpanded);
        }
        return Open(channel);
    }

    const ChannelConfig& GetConfig() const override { return config_; }

    void RegisterProperties(const char*, const ChannelConfig&) override { properties_.clear(); }

    int32_t SetLevel(int32_t level) override {
        config_.Level = static_cast<uint32_t>(level);
        return LOGGING_RC_NOERROR;
    }

    bool IsFiltered(const TraceRecord& record) const override {
        return !config_.Enabled || static_cast<int64_t>(record.Level()) < static_cast<int64_t>(config_.Level);
    }
    int64_t LowestWrittenLevel() const override {
        return config_.Enabled ? static_cast<int64_t>(config_.Level) : INT64_MAX;
    }

protected:
    BaseBackend() : Backend(Bits, &config_) {}

    // The configuration's prefix, ready for BuildLine.
    std::string_view Prefix() const { return config_.MsgPrefix; }
    bool PrefixExpanded() const { return (FixedBits() & kPrefixExpanded) != 0; }

    ConfigType config_;
};

}  // namespace Logging
