#pragma once

#include "enterprise/core/addons/addon.h"

namespace MsExchange {

class NativeDetectionAddon
    : public Core::AddOnImplBase<MachineManagement::MachineAppDetectionAddon, Core::Detail::EmptyBase> {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;
};

}  // namespace MsExchange
