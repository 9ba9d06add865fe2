#pragma once

// Usage counting and the lock-free fast routes of the manager: for a name whose delivery
// would only count the record (no channel, or a channel without links and redirection whose
// filter drops it), a trace entry counts it and builds no record at all.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "logging/common/platform.h"
#include "logging/common/srw_lock.h"

namespace Logging {

// Deliveries counted per name. Threads count in different slots, on different cache lines,
// so that two threads logging to one channel do not fight over one counter.
class UsageCounter {
public:
    void Add() { slots_[(Platform::CurrentThreadId() >> 2) % kSlots].value.fetch_add(1, std::memory_order_relaxed); }
    uint64_t Total() const {
        uint64_t total = 0;
        for (const Slot& slot : slots_) {
            total += slot.value.load(std::memory_order_relaxed);
        }
        return total;
    }

private:
    static constexpr size_t kSlots = 4;
    struct Slot {
        std::atomic<uint64_t> value{0};
        char padding[64 - sizeof(std::atomic<uint64_t>)];
    };
    Slot slots_[kSlots];
};

// A record's level from which delivering to a name does more than count it: below it the
// record would be filtered out everywhere it goes.
constexpr int64_t kAlwaysDeliver = INT64_MIN;
constexpr int64_t kNeverWritten = INT64_MAX;

// What the manager knows about names it has delivered to, readable without its lock. The
// slots are filled once and never emptied; every change of the channels refreshes their
// levels under the exclusive lock, so a reader sees either the state before a change or
// after it.
class FastRoutes {
public:
    struct Slot {
        std::atomic<const std::string*> name{nullptr};
        UsageCounter* usage = nullptr;
        std::atomic<int64_t> deliverFrom{kAlwaysDeliver};
    };

    Slot* Find(const char* name) const {
        return FindHashed(Hash(name), [name](const std::string& key) { return std::strcmp(key.c_str(), name) == 0; });
    }
    Slot* Find(std::string_view name) const {
        return FindHashed(Hash(name), [name](const std::string& key) { return key == name; });
    }

    // `name` and `usage` live as long as the manager. Null when the table is full.
    Slot* Insert(const std::string* name, UsageCounter* usage, int64_t deliverFrom) {
        ExclusiveGuard guard(insertLock_);
        const uint32_t hash = Hash(std::string_view(*name));
        for (size_t probe = 0; probe < kProbes; ++probe) {
            Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
            const std::string* key = slot.name.load(std::memory_order_acquire);
            if (key == nullptr) {
                slot.usage = usage;
                slot.deliverFrom.store(deliverFrom, std::memory_order_relaxed);
                slot.name.store(name, std::memory_order_release);
                return &slot;
            }
            if (*key == *name) {
                return &slot;
            }
        }
        return nullptr;
    }

    template <typename Visit>
    void ForEach(const Visit& visit) {
        for (Slot& slot : slots_) {
            if (slot.name.load(std::memory_order_acquire) != nullptr) {
                visit(slot);
            }
        }
    }

private:
    static constexpr size_t kSlots = 1024;
    static constexpr size_t kProbes = 16;

    template <typename Equal>
    Slot* FindHashed(uint32_t hash, const Equal& equal) const {
        for (size_t probe = 0; probe < kProbes; ++probe) {
            Slot& slot = slots_[(hash + probe) & (kSlots - 1)];
            const std::string* key = slot.name.load(std::memory_order_acquire);
            if (key == nullptr) {
                return nullptr;
            }
            if (equal(*key)) {
                return &slot;
            }
        }
        return nullptr;
    }

    // FNV-1a; both overloads give the same value for the same characters.
    static uint32_t Hash(const char* name) {
        uint32_t hash = 2166136261u;
        for (const char* p = name; *p != '\0'; ++p) {
            hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
        }
        return hash;
    }
    static uint32_t Hash(std::string_view name) {
        uint32_t hash = 2166136261u;
        for (const char c : name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        return hash;
    }

    mutable Slot slots_[kSlots];
    SrwLock insertLock_;
};

}  // namespace Logging
