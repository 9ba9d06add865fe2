#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"

namespace ActiveDirectory {

NativeDetectionAddon::NativeDetectionAddon() {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Active Directory Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    return {};
}

}  // namespace ActiveDirectory
