#include "core/common/dynamic_caster.h"

#include <gtest/gtest.h>

namespace {

class Registry : public Common::DynamicCasterImpl {
public:
    using DynamicCasterImpl::RegisterInterface;
};

TEST(DynamicCaster, CastReturnsWhatWasRegisteredUnderTheExactName) {
    Registry registry;
    int a = 0, b = 0;
    registry.RegisterInterface("IFoo", &a);
    EXPECT_EQ(registry.Cast("IFoo"), &a);
    EXPECT_EQ(registry.Cast("IFo"), nullptr);
    EXPECT_EQ(registry.Cast("IFoo "), nullptr);
    EXPECT_EQ(registry.Cast("ifoo"), nullptr);
    EXPECT_EQ(registry.Cast(nullptr), nullptr);

    registry.RegisterInterface("IFoo", &b);  // a later registration replaces
    EXPECT_EQ(registry.Cast("IFoo"), &b);
}

TEST(DynamicCaster, NullArgumentsAreNotRegistered) {
    Registry registry;
    int a = 0;
    registry.RegisterInterface("IFoo", &a);
    registry.RegisterInterface("IFoo", nullptr);
    registry.RegisterInterface(nullptr, &a);
    EXPECT_EQ(registry.Cast("IFoo"), &a);
}

}  // namespace
