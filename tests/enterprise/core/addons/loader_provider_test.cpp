#include "enterprise/core/addons/loader_provider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/common/assert.h"
#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"

namespace {

class TestProvider : public Core::AddonLoaderProvider {
public:
    std::shared_ptr<Core::AddonsLoader> GetLoader() override { return nullptr; }
};

TestProvider g_providerA, g_providerB;
std::vector<std::string> g_reportLines;
Core::AddonLoaderProvider* g_setFromHook = nullptr;

// Keeps the report lines of assertions (not their stack traces); may set the slot again.
void RecordReportLine(int32_t, uint16_t, uint16_t, const char* text) {
    if (std::string(text).rfind("Assertion failed: ", 0) == 0) {
        g_reportLines.push_back(text);
        if (g_setFromHook != nullptr) {
            Core::AddonLoaderProviderClient::SetInstance(g_setFromHook);
        }
    }
}

size_t AssertionsOf(Core::AddonLoaderProvider* provider) {
    const size_t before = g_reportLines.size();
    MsSql::NativeDetectionAddon().Initialize({provider, 2});
    return g_reportLines.size() - before;
}

// The default assertion mode sends every assertion to the trace hook.
TEST(LoaderProviderClient, ADifferentProviderAssertsOnceThenReplacesTheFirstNullIncluded) {
    if (std::getenv("TOVALIN_SAFE_ASSERT") != nullptr) {
        GTEST_SKIP() << "needs the default assertion mode";
    }
    const Common::AssertionTraceHook previous = Common::SetAssertionTraceHook(&RecordReportLine);
    Core::AddonLoaderProviderClient::SetInstance(&g_providerA);  // the slot is process-wide
    g_reportLines.clear();
    EXPECT_EQ(AssertionsOf(&g_providerA), 0u);
    EXPECT_EQ(AssertionsOf(&g_providerB), 1u);
    EXPECT_EQ(g_reportLines, std::vector<std::string>{
                                 "Assertion failed: !\"AddonLoaderProviderClient: global instance is being set more "
                                 "than once.\", file enterprise/core/addons/impl/loader_provider_client, line 79"});
    EXPECT_EQ(AssertionsOf(&g_providerB), 0u);
    EXPECT_EQ(AssertionsOf(nullptr), 1u);
    EXPECT_EQ(AssertionsOf(nullptr), 0u);
    EXPECT_EQ(AssertionsOf(&g_providerA), 0u);  // from an empty slot any provider is the first
    // The assertion is reported with the slot's lock held; the same thread may set it then.
    g_setFromHook = &g_providerA;
    EXPECT_EQ(AssertionsOf(&g_providerB), 1u);
    g_setFromHook = nullptr;
    EXPECT_EQ(AssertionsOf(&g_providerB), 0u);
    Common::SetAssertionTraceHook(previous);
}

TEST(NullAddonLoader, EveryLoadFailsWithTheNullLoaderErrorEachGetLoaderMakesAFreshLoader) {
    Core::AddonLoaderProvider& provider = Core::NullAddonLoaderProviderInstance();
    EXPECT_EQ(&provider, &Core::NullAddonLoaderProviderInstance());
    const std::shared_ptr<Core::AddonsLoader> loader = provider.GetLoader();
    ASSERT_NE(loader, nullptr);
    EXPECT_NE(provider.GetLoader(), loader);
    EXPECT_EQ(loader.use_count(), 1);
    for (const wchar_t* path : {L"C:\\addons\\x.dll", L"", static_cast<const wchar_t*>(nullptr)}) {
        const Common::Error error = loader->LoadModule(path);
        EXPECT_EQ(error.Code(), 0xC10001u);
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

}  // namespace
