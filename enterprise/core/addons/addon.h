#pragma once

// The add-on object model: every detector is an add-on with a name and a version that a host
// can initialise and ask, by interface name, for the interfaces it implements.

#include <cstdint>
#include <map>
#include <string>

#include "core/common/dynamic_caster.h"
#include "core/common/non_copyable.h"

namespace Core {
class AddonLoaderProvider;
}

namespace MachineManagement {

// Application identifier -> name; the add-ons of this program always store an empty name.
using InstalledApplications = std::map<std::string, std::wstring>;

// The application-detection interface.
class MachineAppDetectionAddon : public Common::NonCopyable {
public:
    ~MachineAppDetectionAddon() override = default;
    virtual InstalledApplications GetMachineInstalledApplications() = 0;
};

}  // namespace MachineManagement

namespace Core {

struct AddonContext {
    AddonLoaderProvider* loaderProvider;
    int32_t traceLevel;
};

class Addon : public virtual Common::DynamicCaster {
public:
    virtual std::string GetName() const = 0;
    virtual uint32_t GetVersion() const = 0;
    virtual void Initialize(const AddonContext& context) = 0;
};

class AddonImpl : public Addon, public Common::DynamicCasterImpl {
public:
    // Installs the host's loader provider and the process-wide minimum trace level.
    void Initialize(const AddonContext& context) override;

protected:
    // Registers this object's I part under I's interface name.
    template <typename I>
    void RegisterInterfaceOf() {
        I* part = dynamic_cast<I*>(static_cast<Common::DynamicCasterImpl*>(this));
        RegisterInterface(Common::InterfaceName<I>(), part);
    }
};

namespace Detail {

struct EmptyBase {};

template <typename I, typename Base>
struct MakeAddOnImplBase {
    class Type : public AddonImpl, public virtual I {
    public:
        Type() { RegisterInterfaceOf<I>(); }
    };
};

}  // namespace Detail

template <typename I, typename Base = Detail::EmptyBase>
class AddOnImplBase : public Detail::MakeAddOnImplBase<I, Base>::Type {
public:
    AddOnImplBase(const std::string& name, uint32_t version) : name(name), version(version) {}

    std::string GetName() const override { return name; }
    uint32_t GetVersion() const override { return version; }

private:
    std::string name;
    uint32_t version;
};

}  // namespace Core
