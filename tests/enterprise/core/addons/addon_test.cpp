#include "enterprise/core/addons/addon.h"

#include <gtest/gtest.h>

#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"
#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"
#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"
#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

namespace {

using MachineManagement::MachineAppDetectionAddon;

// An add-on built on AddOnImplBase alone reports the name and version it was given.
class PlainAddon : public Core::AddOnImplBase<MachineAppDetectionAddon> {
public:
    PlainAddon() : AddOnImplBase("Plain", 7) {}
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override { return {}; }
};

template <typename AddonType>
void ExpectAddon(const char* name, uint32_t version) {
    AddonType addon;
    const Core::Addon& asAddon = addon;
    EXPECT_EQ(asAddon.GetName(), name);
    EXPECT_EQ(asAddon.GetVersion(), version);
    // Cast hands out the object's detection-interface part, and nothing for any other name.
    Common::DynamicCaster& caster = addon;
    EXPECT_EQ(caster.Cast(Common::InterfaceName<MachineAppDetectionAddon>()),
              static_cast<void*>(static_cast<MachineAppDetectionAddon*>(&addon)));
    for (const char* other : {"MachineAppDetectionAddon", Common::InterfaceName<Core::Addon>(),
                              typeid(MachineAppDetectionAddon).name(), static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(caster.Cast(other), nullptr) << name;
    }
}

TEST(Addons, NamesVersionsAndTheDetectionInterface) {
    ExpectAddon<MsSql::NativeDetectionAddon>("Microsoft SQL Native Detection Addon", 1);
    ExpectAddon<MsExchange::NativeDetectionAddon>("Microsoft Exchange Native Detection Addon", 1);
    ExpectAddon<ActiveDirectory::NativeDetectionAddon>("Active Directory Native Detection Addon", 1);
    ExpectAddon<OracleBackup::NativeDetectionAddon>("Oracle Native Detection Addon", 1);
    ExpectAddon<PlainAddon>("Plain", 7);
}

}  // namespace
