#pragma once

// Channel configurations. Each channel is configured by an object of one of nine types; the
// same data travels across the library's interface as a flat record of fixed layout (each
// record begins with its size and type) and is saved in the tagged form of config_serial.h.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "logging/config_serial.h"
#include "logging/flat_channel_config.h"
#include "logging/log.h"
#include "logging/trace_flags.h"
#include "logging/tracer.h"
#include "logging/tracer_ref.h"

namespace Logging {

// Back-end types; 3 and 5 are not used.
enum BackendType : uint32_t {
    BACKEND_NULL = 0,
    BACKEND_DEBUGGER = 1,
    BACKEND_CONSOLE = 2,
    BACKEND_FILE = 4,
    BACKEND_CUSTOM = 6,
    BACKEND_LOGSCOPE = 7,
    BACKEND_GATE = 8,
    BACKEND_FILEFOLDER = 9,
    BACKEND_SHAREDFILE = 10,
};
constexpr uint32_t kMaxBackendType = BACKEND_SHAREDFILE;

// "null", "debugger", ... "sharedfile"; the empty string for a number that is no type.
const char* BackendTypeName(uint32_t type) noexcept;
// The type named by `name` (any case); nullopt for anything else.
std::optional<uint32_t> BackendTypeFromName(std::string_view name) noexcept;

// Value types of back-end properties.
enum PropertyType : uint32_t {
    PROPERTY_DWORD = 0,
    PROPERTY_BOOL = 1,
    PROPERTY_STRING = 2,
};

class ChannelConfig {
public:
    virtual ~ChannelConfig() = default;

    // Appends the saved form: the base part, then the type's own fields in flat-record order.
    virtual void Save(std::vector<uint8_t>& out) const = 0;
    // Reads what Save wrote. Throws SerialFormatError on a wrong tag, short data or data saved
    // from another type; the configuration is unchanged then.
    virtual void Load(SerialReader& in) = 0;
    // Reads the base part only, with the same checks.
    virtual void LoadBase(SerialReader& in);
    // Copies every field of `source`, which must be of the same type (else an assertion
    // failure, and nothing is copied).
    virtual void Assign(const ChannelConfig& source) = 0;
    // A malloc'd flat record whose strings point into this object: valid while the object
    // lives unchanged; free it with free() (or hold it in FlatConfigPtr). Null when out of memory.
    virtual _log_channel_config* ToFlat() const = 0;
    // A new configuration of the same type with the defaults.
    virtual std::unique_ptr<ChannelConfig> CreateDefault() const = 0;

    uint32_t GetType() const noexcept { return type_; }

private:
    uint32_t type_;

public:
    bool Enabled = true;
    uint32_t Level = INFORMATION;
    uint32_t Flags;
    // May hold the placeholders "{pid}", "{pname}", "{date}" and "{target}".
    std::string MsgPrefix;

protected:
    ChannelConfig(uint32_t type, uint32_t flags) noexcept : type_(type), Flags(flags) {}
    ChannelConfig(const ChannelConfig&) = default;
    ChannelConfig(ChannelConfig&&) = default;
    ChannelConfig& operator=(const ChannelConfig&) = default;
    ChannelConfig& operator=(ChannelConfig&&) = default;

    void SaveBase(std::vector<uint8_t>& out) const;
    void ReadBaseFromFlat(const _log_channel_config& header);
    void WriteBaseToFlat(_log_channel_config& header, uint32_t size) const;
    static void ReportTypeMismatch();
};

namespace ConfigField {
// One overload set per direction, chosen by the field's type, so that a type lists its
// fields once (VisitFields) for the flat record and the saved form alike.
inline void Save(std::vector<uint8_t>& out, const bool& value) {
    SerialWriteBool(out, value);
}
inline void Save(std::vector<uint8_t>& out, const uint32_t& value) {
    SerialWriteDword(out, value);
}
inline void Save(std::vector<uint8_t>& out, const std::string& value) {
    SerialWriteString(out, value);
}
// A tracer handle is an address in this process: it is never saved.
inline void Save(std::vector<uint8_t>&, const TracerIfRef&) {}

inline void Load(SerialReader& in, bool& value) {
    value = in.ReadBool();
}
inline void Load(SerialReader& in, uint32_t& value) {
    value = in.ReadDword();
}
inline void Load(SerialReader& in, std::string& value) {
    value = in.ReadString();
}
inline void Load(SerialReader&, TracerIfRef&) {}

inline void ToFlat(const bool& value, uint8_t& flat) {
    flat = value ? 1 : 0;
}
inline void ToFlat(const uint32_t& value, uint32_t& flat) {
    flat = value;
}
inline void ToFlat(const std::string& value, const char*& flat) {
    flat = value.c_str();
}
inline void ToFlat(const TracerIfRef& value, TracerIf*& flat) {
    flat = value.Get();
}

inline void FromFlat(bool& value, const uint8_t& flat) {
    value = flat != 0;
}
inline void FromFlat(uint32_t& value, const uint32_t& flat) {
    value = flat;
}
inline void FromFlat(std::string& value, const char* const& flat) {
    value = flat != nullptr ? flat : "";
}
inline void FromFlat(TracerIfRef& value, TracerIf* const& flat) {
    value = TracerIfRef::Share(flat);
}
}  // namespace ConfigField

// Binds a configuration type to its flat record and type number. A derived type lists its
// own fields, in flat-record order, in a static VisitFields(self, flat, visit).
template <typename Derived, typename Flat, uint32_t TypeNumber>
class BaseConfig : public ChannelConfig {
    static_assert(std::is_standard_layout_v<Flat> && std::is_trivially_copyable_v<Flat>);

public:
    using FlatType = Flat;
    static constexpr uint32_t kType = TypeNumber;

    void Save(std::vector<uint8_t>& out) const override {
        SaveBase(out);
        Flat unused{};
        Derived::VisitFields(Self(), unused, [&out](const auto& field, const auto&) { ConfigField::Save(out, field); });
    }

    void Load(SerialReader& in) override {
        Derived loaded(Self());
        loaded.ChannelConfig::LoadBase(in);
        Flat unused{};
        Derived::VisitFields(loaded, unused, [&in](auto& field, const auto&) { ConfigField::Load(in, field); });
        Self() = std::move(loaded);
    }

    void Assign(const ChannelConfig& source) override {
        if (GetType() != source.GetType()) {
            ReportTypeMismatch();
            return;
        }
        Self() = static_cast<const Derived&>(source);
    }

    _log_channel_config* ToFlat() const override {
        Flat* flat = static_cast<Flat*>(std::calloc(1, sizeof(Flat)));
        if (flat == nullptr) {
            return nullptr;
        }
        WriteBaseToFlat(flat->header, sizeof(Flat));
        Derived::VisitFields(Self(), *flat,
                             [](const auto& field, auto& flatField) { ConfigField::ToFlat(field, flatField); });
        return &flat->header;
    }

    std::unique_ptr<ChannelConfig> CreateDefault() const override { return std::make_unique<Derived>(); }

    // Takes every field from `flat` (its size and type already checked by the caller); a
    // tracer handle gets a reference of this object's own.
    void SetFromFlat(const Flat& flat) {
        ReadBaseFromFlat(flat.header);
        Derived::VisitFields(Self(), flat,
                             [](auto& field, const auto& flatField) { ConfigField::FromFlat(field, flatField); });
    }

    // Types without fields of their own.
    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT&, FlatT&, Visit&&) {}

protected:
    explicit BaseConfig(uint32_t flags = kDefaultOutputFlags) noexcept : ChannelConfig(TypeNumber, flags) {}

private:
    Derived& Self() noexcept { return static_cast<Derived&>(*this); }
    const Derived& Self() const noexcept { return static_cast<const Derived&>(*this); }
};

class NullConfig : public BaseConfig<NullConfig, _log_null_channel_config, BACKEND_NULL> {};

class DebuggerConfig : public BaseConfig<DebuggerConfig, _log_debugger_channel_config, BACKEND_DEBUGGER> {};

class ConsoleConfig : public BaseConfig<ConsoleConfig, _log_console_channel_config, BACKEND_CONSOLE> {
public:
    ConsoleConfig() noexcept : BaseConfig(kDefaultOutputFlags | OF_HIGHLIGHT) {}
};

class FileConfig : public BaseConfig<FileConfig, _log_file_channel_config, BACKEND_FILE> {
public:
    bool Append = true;
    bool OneDay = false;
    uint32_t MaxSize = 0x100000;
    std::string File;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.Append, flat.append);
        visit(self.OneDay, flat.oneday);
        visit(self.MaxSize, flat.maxSize);
        visit(self.File, flat.file);
    }
};

// Hands records to a host Tracer through a reference-counted handle. No handle is a valid
// configuration; the custom back-end refuses to open with it.
class CustomConfig : public BaseConfig<CustomConfig, _log_custom_channel_config, BACKEND_CUSTOM> {
public:
    TracerIfRef TracerIf;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.TracerIf, flat.tracerIf);
    }
};

class LogScopeConfig : public BaseConfig<LogScopeConfig, _log_logscope_config, BACKEND_LOGSCOPE> {
public:
    std::string Folder;
    std::string Prefix;
    std::string Extension = "log";
    uint32_t MaxSize = 0x100000;
    uint32_t MaxFiles = 10;
    uint32_t Compress = 1;
    bool OneDay = false;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.Folder, flat.folder);
        visit(self.Prefix, flat.prefix);
        visit(self.Extension, flat.extension);
        visit(self.MaxSize, flat.maxSize);
        visit(self.MaxFiles, flat.maxFiles);
        visit(self.Compress, flat.compress);
        visit(self.OneDay, flat.oneday);
    }
};

class GateConfig : public BaseConfig<GateConfig, _log_gate_channel_config, BACKEND_GATE> {
public:
    std::string Server;
    uint32_t Port = 0;
    bool Filter = true;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.Server, flat.server);
        visit(self.Port, flat.port);
        visit(self.Filter, flat.filter);
    }
};

class FileFolderConfig : public BaseConfig<FileFolderConfig, _log_file_folder_channel_config, BACKEND_FILEFOLDER> {
public:
    uint32_t MaxSize = 0xFFFFFFFF;
    uint32_t MaxFiles = 0xFFFFFFFF;
    uint32_t MaxAge = 168;
    uint32_t ScanPeriod = 1800000;
    std::string Folder;
    std::string File;
    std::string Prefix;
    std::string Extension;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.MaxSize, flat.maxSize);
        visit(self.MaxFiles, flat.maxFiles);
        visit(self.MaxAge, flat.maxAge);
        visit(self.ScanPeriod, flat.scanPeriod);
        visit(self.Folder, flat.folder);
        visit(self.File, flat.file);
        visit(self.Prefix, flat.prefix);
        visit(self.Extension, flat.extension);
    }
};

class SharedFileConfig : public BaseConfig<SharedFileConfig, _log_shared_file_channel_config, BACKEND_SHAREDFILE> {
public:
    SharedFileConfig() noexcept : BaseConfig(kDefaultOutputFlags | OF_PNAME | OF_PID) {}

    uint32_t MaxSize = 0x2000000;
    uint32_t Timeout = 3000;
    std::string File;
    bool OneDay = false;

    template <typename ConfigT, typename FlatT, typename Visit>
    static void VisitFields(ConfigT& self, FlatT& flat, Visit&& visit) {
        visit(self.MaxSize, flat.maxSize);
        visit(self.Timeout, flat.timeout);
        visit(self.File, flat.file);
        visit(self.OneDay, flat.oneday);
    }
};

// The size of the flat record of `type`; 0 when no configuration has that type.
uint32_t FlatConfigSize(uint32_t type) noexcept;

// A configuration of `type` with the defaults; null when no configuration has that type.
std::unique_ptr<ChannelConfig> CreateDefaultConfig(uint32_t type);

// The configuration a flat record describes, or null when the record is malformed: null, its
// size below the header's, its type no configuration type, or its size not that type's.
std::unique_ptr<ChannelConfig> CreateConfigFromFlat(const _log_channel_config* flat);

// Reads a saved configuration of any type. Throws SerialFormatError as Load does, and for a
// saved type number that is no configuration type.
std::unique_ptr<ChannelConfig> LoadConfig(SerialReader& in);

// A configuration of the same type with every field of `config`.
std::unique_ptr<ChannelConfig> CloneConfig(const ChannelConfig& config);

}  // namespace Logging
