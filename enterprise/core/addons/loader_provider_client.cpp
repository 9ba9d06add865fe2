#include <mutex>

#include "core/common/assert.h"
#include "enterprise/core/addons/loader_provider.h"

namespace Core {

namespace {
std::recursive_mutex g_providerMutex;
AddonLoaderProvider* g_provider = nullptr;
}  // namespace

void AddonLoaderProviderClient::SetInstance(AddonLoaderProvider* provider) {
    std::lock_guard<std::recursive_mutex> lock(g_providerMutex);
    if (g_provider != nullptr && g_provider != provider) {
        Common::ReportAssertion("!\"AddonLoaderProviderClient: global instance is being set more than once.\"",
                                "enterprise/core/addons/impl/loader_provider_client", 79);
    }
    g_provider = provider;
}

}  // namespace Core
