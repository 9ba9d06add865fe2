#include "enterprise/core/addons/addon.h"

#include "core/common/trace_logic.h"
#include "enterprise/core/addons/loader_provider.h"

namespace Core {

void AddonImpl::Initialize(const AddonContext& context) {
    AddonLoaderProviderClient::SetInstance(context.loaderProvider);
    Common::SetMinimumTraceLevel(context.traceLevel);
}

}  // namespace Core
