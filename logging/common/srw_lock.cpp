#include "logging/common/srw_lock.h"

#include <windows.h>

namespace Logging {

namespace {
PSRWLOCK AsSrw(void** state) {
    static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK is one pointer");
    return reinterpret_cast<PSRWLOCK>(state);
}
}  // namespace

void SrwLock::LockShared() noexcept {
    ::AcquireSRWLockShared(AsSrw(&state_));
}
bool SrwLock::TryLockShared() noexcept {
    return ::TryAcquireSRWLockShared(AsSrw(&state_)) != 0;
}
void SrwLock::UnlockShared() noexcept {
    ::ReleaseSRWLockShared(AsSrw(&state_));
}
void SrwLock::LockExclusive() noexcept {
    ::AcquireSRWLockExclusive(AsSrw(&state_));
}
bool SrwLock::TryLockExclusive() noexcept {
    return ::TryAcquireSRWLockExclusive(AsSrw(&state_)) != 0;
}
void SrwLock::UnlockExclusive() noexcept {
    ::ReleaseSRWLockExclusive(AsSrw(&state_));
}

}  // namespace Logging
