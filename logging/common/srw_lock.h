#pragma once

// A slim reader-writer lock (the system's SRW lock) and its scope guards. Not recursive:
// a thread must not take it again in any mode while it holds it.

namespace Logging {

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void LockShared() noexcept;
    // Takes the shared side only if that needs no waiting.
    bool TryLockShared() noexcept;
    void UnlockShared() noexcept;
    void LockExclusive() noexcept;
    // False, without waiting, when another holder has the lock.
    bool TryLockExclusive() noexcept;
    void UnlockExclusive() noexcept;

private:
    void* state_ = nullptr;  // SRWLOCK_INIT
};

class SharedGuard {
public:
    explicit SharedGuard(SrwLock& lock) noexcept : lock_(lock) { lock_.LockShared(); }
    ~SharedGuard() { lock_.UnlockShared(); }
    SharedGuard(const SharedGuard&) = delete;
    SharedGuard& operator=(const SharedGuard&) = delete;

private:
    SrwLock& lock_;
};

class ExclusiveGuard {
public:
    explicit ExclusiveGuard(SrwLock& lock) noexcept : lock_(lock) { lock_.LockExclusive(); }
    ~ExclusiveGuard() { lock_.UnlockExclusive(); }
    ExclusiveGuard(const ExclusiveGuard&) = delete;
    ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

private:
    SrwLock& lock_;
};

}  // namespace Logging
