#pragma once

#include "enterprise/core/addons/addon.h"

namespace OracleBackup {

class NativeDetectionAddon : public Core::AddonImpl, public MachineManagement::MachineAppDetectionAddon {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;
};

}  // namespace OracleBackup
