#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"

namespace MsExchange {

NativeDetectionAddon::NativeDetectionAddon() : AddOnImplBase("UnnamedAddon", 1) {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Microsoft Exchange Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    return {};
}

}  // namespace MsExchange
