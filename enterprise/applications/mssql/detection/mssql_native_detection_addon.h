#pragma once

#include "enterprise/core/addons/addon.h"

namespace MsSql {

// Reports SQL Server when the instance-names key holds a string value in either registry view.
class NativeDetectionAddon : public Core::AddonImpl, public MachineManagement::MachineAppDetectionAddon {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;

    // True when the key holds a REG_SZ value in the 64-bit (`view64`) or the 32-bit view.
    bool CheckMsSqlInRegistry(bool view64);
};

}  // namespace MsSql
