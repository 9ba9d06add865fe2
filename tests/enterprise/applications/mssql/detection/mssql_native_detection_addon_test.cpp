#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"

#include <gtest/gtest.h>

#include "enterprise/core/addons/app_ids.h"
#include "support/registry.h"

namespace {

using TestSupport::ScopedRegistryKey;

const std::wstring kKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

class SqlServerDetection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kKey, KEY_WOW64_64KEY)) << "prefix not clean";
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kKey, KEY_WOW64_32KEY)) << "prefix not clean";
    }
    MsSql::NativeDetectionAddon addon;
};

TEST_F(SqlServerDetection, MissingKeyInBothViews) {
    EXPECT_FALSE(addon.CheckMsSqlInRegistry(true));
    EXPECT_FALSE(addon.CheckMsSqlInRegistry(false));
    EXPECT_TRUE(addon.GetMachineInstalledApplications().empty());
}

TEST_F(SqlServerDetection, EachViewIsProbedOnItsOwn) {
    {
        ScopedRegistryKey key(kKey, KEY_WOW64_32KEY);
        key.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
        EXPECT_FALSE(addon.CheckMsSqlInRegistry(true));
        EXPECT_TRUE(addon.CheckMsSqlInRegistry(false));
        const auto apps = addon.GetMachineInstalledApplications();
        ASSERT_EQ(apps.size(), 1u);
        EXPECT_EQ(apps.begin()->first, Core::SqlServerAppId);
        EXPECT_EQ(apps.begin()->second, L"");
    }
    {
        ScopedRegistryKey key(kKey, KEY_WOW64_64KEY);
        key.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
        EXPECT_TRUE(addon.CheckMsSqlInRegistry(true));
        EXPECT_FALSE(addon.CheckMsSqlInRegistry(false));
    }
}

TEST_F(SqlServerDetection, OnlyStringValuesCount) {
    ScopedRegistryKey key(kKey, KEY_WOW64_64KEY);
    EXPECT_FALSE(addon.CheckMsSqlInRegistry(true));  // empty key
    key.SetDword(L"A", 1);
    key.SetDword(L"LongerValueName", 2);
    EXPECT_FALSE(addon.CheckMsSqlInRegistry(true));
    // A string after values of other types, with a name shorter than the longest one.
    key.SetString(L"B", L"x");
    EXPECT_TRUE(addon.CheckMsSqlInRegistry(true));
}

TEST_F(SqlServerDetection, KeyInBothViewsGivesOneEntry) {
    ScopedRegistryKey key64(kKey, KEY_WOW64_64KEY);
    key64.SetString(L"MSSQLSERVER", L"x");
    ScopedRegistryKey key32(kKey, KEY_WOW64_32KEY);
    key32.SetString(L"SQLEXPRESS", L"y");
    EXPECT_EQ(addon.GetMachineInstalledApplications().size(), 1u);
}

}  // namespace
