#include <mutex>

#include "core/common/assert.h"
#include "enterprise/core/addons/loader_provider.h"

namespace Core {

namespace {

constexpr char kTraceSourceFile[] = "enterprise/core/addons/impl/loader_provider_client";

constexpr uint32_t kNullLoaderCode = 0xC10001;

class NullAddonLoader : public AddonsLoader {
public:
    Common::Error LoadModule(const wchar_t*) override {
        static constexpr char kFunction[] = "Core::`anonymous-namespace'::NullAddonLoader::LoadModule";
        return Common::Error::FromText(COMMON_ERROR_SITE(kTraceSourceFile, kFunction, 35), kNullLoaderCode,
                                       "Null AddonLoader is being used.");
    }
    void UnloadAll() override {}
};

class NullAddonLoaderProvider : public AddonLoaderProvider {
public:
    std::shared_ptr<AddonsLoader> GetLoader() override { return std::make_shared<NullAddonLoader>(); }
};

NullAddonLoaderProvider g_nullProvider;

std::recursive_mutex g_providerMutex;
AddonLoaderProvider* g_provider = nullptr;

}  // namespace

void AddonLoaderProviderClient::SetInstance(AddonLoaderProvider* provider) {
    std::lock_guard<std::recursive_mutex> lock(g_providerMutex);
    COMMON_ASSERT_AT(g_provider == nullptr || g_provider == provider,
                     "!\"AddonLoaderProviderClient: global instance is being set more than once.\"", kTraceSourceFile,
                     79);
    g_provider = provider;
}

AddonLoaderProvider& NullAddonLoaderProviderInstance() {
    return g_nullProvider;
}

}  // namespace Core
