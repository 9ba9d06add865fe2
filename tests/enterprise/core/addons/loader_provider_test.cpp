#include "enterprise/core/addons/loader_provider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/common/assert.h"

namespace {

constexpr char kSecondProviderAssertion[] =
    "Assertion failed: !\"AddonLoaderProviderClient: global instance is being set more than once.\", "
    "file enterprise/core/addons/impl/loader_provider_client, line 79";

class TestProvider : public Core::AddonLoaderProvider {
public:
    std::shared_ptr<Core::AddonsLoader> GetLoader() override { return nullptr; }
};

TestProvider g_providerA;
TestProvider g_providerB;

std::vector<std::string> g_reportLines;
Core::AddonLoaderProvider* g_setFromHook = nullptr;

// Keeps the report lines of assertions (and drops their stack traces).
void RecordReportLine(int32_t, uint16_t, uint16_t, const char* text) {
    if (std::string(text).rfind("Assertion failed: ", 0) == 0) {
        g_reportLines.push_back(text);
        if (g_setFromHook != nullptr) {
            Core::AddonLoaderProviderClient::SetInstance(g_setFromHook);
        }
    }
}

// Observes assertions through the trace hook; the default mode sends every assertion there.
class LoaderProviderClient : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("TOVALIN_SAFE_ASSERT") != nullptr) {
            GTEST_SKIP() << "needs the default assertion mode";
        }
        previous_ = Common::SetAssertionTraceHook(&RecordReportLine);
        // The slot is process-wide: start from a known provider, whatever earlier tests left.
        Core::AddonLoaderProviderClient::SetInstance(&g_providerA);
        g_reportLines.clear();
        g_setFromHook = nullptr;
    }
    void TearDown() override {
        Common::SetAssertionTraceHook(previous_);
        g_setFromHook = nullptr;
    }

    size_t AssertionsOf(Core::AddonLoaderProvider* provider) {
        const size_t before = g_reportLines.size();
        Core::AddonLoaderProviderClient::SetInstance(provider);
        return g_reportLines.size() - before;
    }

    Common::AssertionTraceHook previous_ = nullptr;
};

TEST_F(LoaderProviderClient, SettingTheSameProviderAgainIsNoAssertion) {
    EXPECT_EQ(AssertionsOf(&g_providerA), 0u);
    EXPECT_EQ(AssertionsOf(&g_providerA), 0u);
}

TEST_F(LoaderProviderClient, ADifferentProviderAssertsOnceAndReplacesTheFirst) {
    EXPECT_EQ(AssertionsOf(&g_providerB), 1u);
    ASSERT_EQ(g_reportLines.size(), 1u);
    EXPECT_EQ(g_reportLines[0], kSecondProviderAssertion);
    // The slot now holds B: B again is silent, A is a change again.
    EXPECT_EQ(AssertionsOf(&g_providerB), 0u);
    EXPECT_EQ(AssertionsOf(&g_providerA), 1u);
}

TEST_F(LoaderProviderClient, NullIsStoredLikeAnyProvider) {
    EXPECT_EQ(AssertionsOf(nullptr), 1u);
    EXPECT_EQ(AssertionsOf(nullptr), 0u);
    // From an empty slot any provider is the first one.
    EXPECT_EQ(AssertionsOf(&g_providerB), 0u);
}

// The assertion is reported with the slot's lock held; the same thread may set it again then.
TEST_F(LoaderProviderClient, TheLockIsRecursive) {
    g_setFromHook = &g_providerA;
    EXPECT_EQ(AssertionsOf(&g_providerB), 1u);
    g_setFromHook = nullptr;
    EXPECT_EQ(AssertionsOf(&g_providerB), 0u);
}

TEST(NullAddonLoader, EveryLoadFailsWithTheNullLoaderError) {
    const std::shared_ptr<Core::AddonsLoader> loader = Core::NullAddonLoaderProviderInstance().GetLoader();
    ASSERT_NE(loader, nullptr);
    for (const wchar_t* path : {L"C:\\addons\\x.dll", L"", static_cast<const wchar_t*>(nullptr)}) {
        const Common::Error error = loader->LoadModule(path);
        EXPECT_EQ(error.Code(), 0xC10001u);
        EXPECT_EQ(error.Module(), 0xC1);
        EXPECT_EQ(error.Number(), 1);
        EXPECT_EQ(error.Text(), L"Null AddonLoader is being used.");
        EXPECT_STREQ(error.ParameterNames(), "$module");
        EXPECT_TRUE(error.Cause().IsEmpty());
        const Common::ErrorLocation location = error.Location();
        EXPECT_STREQ(location.file, "enterprise/core/addons/impl/loader_provider_client");
        EXPECT_STREQ(location.function, "Core::`anonymous-namespace'::NullAddonLoader::LoadModule");
        EXPECT_EQ(location.line, 35u);
        EXPECT_EQ(location.tag, Common::SiteTag("enterprise/core/addons/impl/loader_provider_client", 35));
    }
    loader->UnloadAll();
    EXPECT_EQ(loader->LoadModule(L"again").Code(), 0xC10001u);
}

TEST(NullAddonLoader, EachGetLoaderMakesAFreshLoader) {
    Core::AddonLoaderProvider& provider = Core::NullAddonLoaderProviderInstance();
    EXPECT_EQ(&provider, &Core::NullAddonLoaderProviderInstance());
    const std::shared_ptr<Core::AddonsLoader> first = provider.GetLoader();
    const std::shared_ptr<Core::AddonsLoader> second = provider.GetLoader();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_EQ(second.use_count(), 1);
}

}  // namespace
