#pragma once

#include "enterprise/core/addons/addon.h"

namespace OracleBackup {

// Reports Oracle Database when the Volume Shadow Copy Service knows a writer whose name
// contains "Oracle VSS Writer".
class NativeDetectionAddon : public Core::AddonImpl, public MachineManagement::MachineAppDetectionAddon {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    // Never throws: failures are logged and leave the application unreported.
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;

    // Enumerates the VSS writers' metadata and stops at the first Oracle writer. Never throws.
    bool IsOracleVssWriterPresent();
};

}  // namespace OracleBackup
