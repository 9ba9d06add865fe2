#pragma once

// Waiting for a value in memory to change (the system's WaitOnAddress): the cheapest wake-up
// between the library's threads, with no lock and no event object to own.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace Logging {

constexpr uint32_t kWaitForever = 0xFFFFFFFF;

namespace Detail {
void WaitOnValue(const volatile void* address, const void* value, size_t size, uint32_t timeoutMs) noexcept;
void WakeAllOn(void* address) noexcept;
}  // namespace Detail

// Returns when `variable` no longer holds `value`, after `timeoutMs`, or spuriously; the
// caller checks again.
template <typename T>
void WaitWhileEqual(const std::atomic<T>& variable, T value, uint32_t timeoutMs) noexcept {
    static_assert(sizeof(std::atomic<T>) == sizeof(T) && (sizeof(T) == 4 || sizeof(T) == 8));
    Detail::WaitOnValue(&variable, &value, sizeof(T), timeoutMs);
}

// Wakes every thread waiting on `variable`; call after changing it.
template <typename T>
void WakeAllWaiting(std::atomic<T>& variable) noexcept {
    Detail::WakeAllOn(&variable);
}

}  // namespace Logging
