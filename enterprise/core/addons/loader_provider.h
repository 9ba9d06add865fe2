#pragma once

#include <memory>

#include "core/common/error.h"
#include "core/common/non_copyable.h"

namespace Core {

// Loads further add-on modules for a host.
class AddonsLoader {
public:
    virtual Common::Error LoadModule(const wchar_t* modulePath) = 0;
    virtual void UnloadAll() = 0;
    virtual ~AddonsLoader() = default;
};

// Hands out loaders; the host passes one to every add-on through Initialize.
class AddonLoaderProvider : private Common::NonCopyable {
public:
    ~AddonLoaderProvider() override = default;
    virtual std::shared_ptr<AddonsLoader> GetLoader() = 0;
};

// The process-wide provider slot.
class AddonLoaderProviderClient {
public:
    // Stores `provider` (not owned, may be null); a second, different provider is reported as
    // an assertion first.
    static void SetInstance(AddonLoaderProvider* provider);
};

// The process-wide provider whose loaders refuse every load with error 0xC10001, for hosts
// that load no modules.
AddonLoaderProvider& NullAddonLoaderProviderInstance();

}  // namespace Core
