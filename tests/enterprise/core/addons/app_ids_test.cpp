#include "enterprise/core/addons/app_ids.h"

#include <gtest/gtest.h>

const std::string* OtherUnitExchangeAppId();

namespace {

// The values themselves are checked where they matter, in the detectors' report bytes.
TEST(AppIds, EachUnitHoldsItsOwnEqualCopy) {
    EXPECT_NE(OtherUnitExchangeAppId(), &Core::ExchangeAppId);
    EXPECT_EQ(*OtherUnitExchangeAppId(), Core::ExchangeAppId);
}

}  // namespace
