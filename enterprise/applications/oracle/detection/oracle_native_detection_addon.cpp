#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

namespace OracleBackup {

NativeDetectionAddon::NativeDetectionAddon() {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Oracle Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    return {};
}

}  // namespace OracleBackup
