#pragma once

// An owned reference to a TracerIf handle: copies take a reference through the handle's
// AddRef entry, destruction gives it back through Release.

#include <utility>

#include "logging/tracer.h"

namespace Logging {

class TracerIfRef {
public:
    TracerIfRef() noexcept = default;

    // Takes a reference of its own on `handle` (null allowed).
    static TracerIfRef Share(TracerIf* handle) noexcept {
        if (handle != nullptr) {
            handle->AddRef(handle);
        }
        return TracerIfRef(handle);
    }
    // Takes over the reference the caller holds, as returned by MakeTracerStub.
    static TracerIfRef Adopt(TracerIf* handle) noexcept { return TracerIfRef(handle); }

    TracerIfRef(const TracerIfRef& other) noexcept : TracerIfRef(Share(other.handle_)) {}
    TracerIfRef(TracerIfRef&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    TracerIfRef& operator=(TracerIfRef other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~TracerIfRef() { Reset(); }

    void Reset() noexcept {
        if (TracerIf* old = std::exchange(handle_, nullptr)) {
            old->Release(old);
        }
    }

    TracerIf* Get() const noexcept { return handle_; }
    TracerIf* operator->() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }

private:
    explicit TracerIfRef(TracerIf* handle) noexcept : handle_(handle) {}

    TracerIf* handle_ = nullptr;
};

}  // namespace Logging
