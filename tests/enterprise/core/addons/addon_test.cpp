#include "enterprise/core/addons/addon.h"

#include <gtest/gtest.h>

#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"
#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"
#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"
#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

namespace {

using MachineManagement::MachineAppDetectionAddon;

template <typename AddonType>
void ExpectAddon(const char* name) {
    AddonType addon;
    Core::Addon& asAddon = addon;
    EXPECT_EQ(asAddon.GetName(), name);
    EXPECT_EQ(asAddon.GetVersion(), 1u);

    MachineAppDetectionAddon* expected = &addon;
    Common::DynamicCaster& caster = addon;
    EXPECT_EQ(caster.Cast(Common::InterfaceName<MachineAppDetectionAddon>()), static_cast<void*>(expected));
    EXPECT_EQ(caster.Cast("MachineAppDetectionAddon"), nullptr);
    EXPECT_EQ(caster.Cast(Common::InterfaceName<Core::Addon>()), nullptr);
    EXPECT_EQ(caster.Cast(nullptr), nullptr);
}

TEST(Addons, NamesVersionsAndTheDetectionInterface) {
    ExpectAddon<MsSql::NativeDetectionAddon>("Microsoft SQL Native Detection Addon");
    ExpectAddon<MsExchange::NativeDetectionAddon>("Microsoft Exchange Native Detection Addon");
    ExpectAddon<ActiveDirectory::NativeDetectionAddon>("Active Directory Native Detection Addon");
    ExpectAddon<OracleBackup::NativeDetectionAddon>("Oracle Native Detection Addon");
}

// An add-on built on AddOnImplBase alone reports the name and version it was given.
class PlainAddon : public Core::AddOnImplBase<MachineAppDetectionAddon> {
public:
    PlainAddon() : AddOnImplBase("Plain", 7) {}
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override { return {}; }
};

TEST(Addons, AddOnImplBaseStoresNameAndVersionAndRegistersTheInterface) {
    PlainAddon addon;
    EXPECT_EQ(addon.GetName(), "Plain");
    EXPECT_EQ(addon.GetVersion(), 7u);
    MachineAppDetectionAddon* expected = &addon;
    EXPECT_EQ(addon.Cast(Common::InterfaceName<MachineAppDetectionAddon>()), static_cast<void*>(expected));
}

TEST(Addons, InterfaceNameIsTheTypeNameOfAPointer) {
    EXPECT_STREQ(Common::InterfaceName<MachineAppDetectionAddon>(), typeid(MachineAppDetectionAddon*).name());
    EXPECT_STRNE(Common::InterfaceName<MachineAppDetectionAddon>(), typeid(MachineAppDetectionAddon).name());
}

}  // namespace
