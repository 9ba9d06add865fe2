// A second unit that includes the identifiers, to compare its copies with another unit's.
#include "enterprise/core/addons/app_ids.h"

const std::string* OtherUnitExchangeAppId() {
    return &Core::ExchangeAppId;
}
