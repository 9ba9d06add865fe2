#include "logging/common/address_wait.h"

#include <windows.h>

namespace Logging {
namespace Detail {

void WaitOnValue(const volatile void* address, const void* value, size_t size, uint32_t timeoutMs) noexcept {
    ::WaitOnAddress(const_cast<volatile void*>(address), const_cast<void*>(value), size,
                    timeoutMs == kWaitForever ? INFINITE : timeoutMs);
}

void WakeAllOn(void* address) noexcept {
    ::WakeByAddressAll(address);
}

}  // namespace Detail
}  // namespace Logging
