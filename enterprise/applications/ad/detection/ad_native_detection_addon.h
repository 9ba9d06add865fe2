#pragma once

#include "enterprise/core/addons/addon.h"

namespace ActiveDirectory {

// Reports Active Directory when WMI says that the local machine is a domain controller.
class NativeDetectionAddon : public Core::AddonImpl, public MachineManagement::MachineAppDetectionAddon {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;

    // True when an object of Win32_ComputerSystem has the domain role of a backup or primary
    // domain controller. Joins the multithreaded apartment for the duration of the call.
    bool IsDomainController();
};

}  // namespace ActiveDirectory
