#include "enterprise/core/addons/app_ids.h"

#include <gtest/gtest.h>

#include <cctype>

const std::string* OtherUnitExchangeAppId();

namespace {

bool IsGuidForm(const std::string& id) {
    if (id.size() != 36) {
        return false;
    }
    for (size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) {
            return false;
        }
    }
    return true;
}

TEST(AppIds, ValuesAreByteExact) {
    EXPECT_EQ(Core::ExchangeAppId, "9127E80B-C6C3-4bbf-817D-517E4CE428FC");
    EXPECT_EQ(Core::SqlServerAppId, "BC3DA61F-A909-4A22-852E-81B3D92A4B94");
    EXPECT_EQ(Core::ActiveDirectoryAppId, "017131FD-ABB7-4B39-8C5A-6F0A8EB70966");
    EXPECT_EQ(Core::OracleAppId, "02AC1E0B-C6C3-4bbf-817D-517E4CE428FC");
    EXPECT_EQ(Core::MySqlAppId, "zet_sdk.mysql.B715B697-D741-4DD8-B901-345A9CA6029C");
    EXPECT_EQ(Core::AppId0AB8D017, "0AB8D017-65DB-4B8C-8500-41BC300E7DA3");
    EXPECT_EQ(Core::AppId30BFB5EC, "30BFB5EC-1B44-44DA-A547-FCDF8BF34AF0");
    EXPECT_EQ(Core::AppId6FA65817, "6FA65817-181A-4EB3-8ADF-BD10C686CAC5");
    EXPECT_EQ(Core::AppId7D420DD3, "7D420DD3-F162-4036-98EC-B56C283A57DB");
    EXPECT_EQ(Core::AppId8F0372E1, "8F0372E1-9FED-42C3-8F8D-664FDD223C5E");
    EXPECT_EQ(Core::AppIdE260E53C, "E260E53C-86C7-4606-8A6D-C0224A7CD842");
    EXPECT_EQ(Core::AppId09D3EDE7, "09D3EDE7-9B90-4AD9-8FBF-09DF159D26EF");
    EXPECT_EQ(Core::AppIdD8EA452E, "D8EA452E-0767-4EC2-93AE-0F2253FFBF89");
    EXPECT_EQ(Core::AppId29B591D4, "29B591D4-5C9F-4B68-946D-AD32106849AB");
}

TEST(AppIds, ShapeOfEveryIdentifier) {
    for (const std::string* id :
         {&Core::ExchangeAppId, &Core::SqlServerAppId, &Core::ActiveDirectoryAppId, &Core::OracleAppId,
          &Core::AppId0AB8D017, &Core::AppId30BFB5EC, &Core::AppId6FA65817, &Core::AppId7D420DD3, &Core::AppId8F0372E1,
          &Core::AppIdE260E53C, &Core::AppId09D3EDE7, &Core::AppIdD8EA452E, &Core::AppId29B591D4}) {
        EXPECT_TRUE(IsGuidForm(*id)) << *id;
    }
    EXPECT_EQ(Core::MySqlAppId.size(), 50u);
    EXPECT_EQ(Core::MySqlAppId.compare(0, 14, "zet_sdk.mysql."), 0);
    EXPECT_TRUE(IsGuidForm(Core::MySqlAppId.substr(14)));
}

TEST(AppIds, EachUnitHoldsItsOwnEqualCopy) {
    EXPECT_NE(OtherUnitExchangeAppId(), &Core::ExchangeAppId);
    EXPECT_EQ(*OtherUnitExchangeAppId(), Core::ExchangeAppId);
}

}  // namespace
