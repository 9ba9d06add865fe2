#pragma once

// Owner types for Win32 and COM resources. A raw handle appears only at the call that
// produces it and is adopted on the same line; cleanup then happens on every path.

// Winsock 2 first: <windows.h> must not bring in the old Winsock header before it.
#include <winsock2.h>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
// The runtime's descriptors and files, zlib's streams.
#include <io.h>
#include <zlib.h>

#include <cstdio>
#include <utility>

#include "core/common/assert.h"

namespace Common {

// Owns one resource of a kind described by Traits:
//   using pointer = ...;  static pointer Invalid();  static void Close(pointer);
template <typename Traits>
class UniqueAny {
public:
    using pointer = typename Traits::pointer;

    UniqueAny() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueAny(pointer value) noexcept : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    pointer get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(pointer value = Traits::Invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }
    // For out-parameters: releases the current value and hands out the slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_;
};

namespace Detail {
struct HandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) { ::CloseHandle(h); }
};
struct FindTraits {
    using pointer = HANDLE;
    static pointer Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) { ::FindClose(h); }
};
struct HkeyTraits {
    using pointer = HKEY;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
    using pointer = HMODULE;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer h) { ::FreeLibrary(h); }
};
struct LocalTraits {
    using pointer = HLOCAL;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer h) { ::LocalFree(h); }
};
struct BstrTraits {
    using pointer = BSTR;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer s) { ::SysFreeString(s); }
};
struct FdTraits {
    using pointer = int;
    static pointer Invalid() { return -1; }
    static void Close(pointer fd) { ::_close(fd); }
};
struct StdioFileTraits {
    using pointer = FILE*;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer f) { std::fclose(f); }
};
struct ViewTraits {
    using pointer = void*;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer view) { ::UnmapViewOfFile(view); }
};
struct GzFileTraits {
    using pointer = gzFile;
    static pointer Invalid() { return nullptr; }
    static void Close(pointer file) { ::gzclose(file); }
};
}  // namespace Detail

using UniqueHandle = UniqueAny<Detail::HandleTraits>;          // events, threads, mutexes
using UniqueFileHandle = UniqueAny<Detail::FileHandleTraits>;  // CreateFile, pipes
using UniqueFindHandle = UniqueAny<Detail::FindTraits>;        // FindFirstFile
using UniqueHkey = UniqueAny<Detail::HkeyTraits>;
using UniqueModule = UniqueAny<Detail::ModuleTraits>;
using UniqueLocal = UniqueAny<Detail::LocalTraits>;
using UniqueBstr = UniqueAny<Detail::BstrTraits>;
using UniqueFd = UniqueAny<Detail::FdTraits>;                // C runtime descriptors (_sopen, _open_osfhandle)
using UniqueStdioFile = UniqueAny<Detail::StdioFileTraits>;  // fopen
using UniqueView = UniqueAny<Detail::ViewTraits>;            // MapViewOfFile
using UniqueGzFile = UniqueAny<Detail::GzFileTraits>;        // zlib streams; gzclose also closes their descriptor

// A COM interface pointer that releases its reference on every path.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr copy(other);
        std::swap(p_, copy.p_);
        return *this;
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    T* get() const noexcept { return p_; }
    // A call through an empty pointer is a programming error: it is reported before it crashes.
    T* operator->() const noexcept {
        if (p_ == nullptr) {
            ReportAssertion("p_ != nullptr", "core/common/handles.h", __LINE__);
        }
        return p_;
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) {
            old->Release();
        }
    }
    // For out-parameters of creating calls: releases the current pointer first.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// A VARIANT cleared on every path. It starts zero-filled, so that reading a wider field than
// the one a callee filled in never sees stack garbage.
class UniqueVariant {
public:
    UniqueVariant() noexcept : v_() { ::VariantInit(&v_); }
    ~UniqueVariant() { ::VariantClear(&v_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* get() noexcept { return &v_; }
    const VARIANT* get() const noexcept { return &v_; }
    VARIANT* put() noexcept {
        ::VariantClear(&v_);
        v_ = VARIANT();
        ::VariantInit(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};

// Balances a successful CoInitializeEx with CoUninitialize; a failed one is not balanced.
class ComInitScope {
public:
    ComInitScope() noexcept = default;
    explicit ComInitScope(HRESULT hr) noexcept : initialized_(SUCCEEDED(hr)) {}
    ~ComInitScope() {
        if (initialized_) {
            ::CoUninitialize();
        }
    }
    ComInitScope(const ComInitScope&) = delete;
    ComInitScope& operator=(const ComInitScope&) = delete;

    bool initialized() const noexcept { return initialized_; }

private:
    bool initialized_ = false;
};

namespace Detail {
struct SocketTraits {
    using pointer = SOCKET;
    static pointer Invalid() { return INVALID_SOCKET; }
    static void Close(pointer s) { ::closesocket(s); }
};
}  // namespace Detail

using UniqueSocket = UniqueAny<Detail::SocketTraits>;

// Balances a successful WSAStartup with WSACleanup.
class WinsockScope {
public:
    WinsockScope() noexcept = default;
    explicit WinsockScope(WORD version) noexcept {
        WSADATA data;
        started_ = ::WSAStartup(version, &data) == 0;
    }
    ~WinsockScope() {
        if (started_) {
            ::WSACleanup();
        }
    }
    WinsockScope(const WinsockScope&) = delete;
    WinsockScope& operator=(const WinsockScope&) = delete;

    bool started() const noexcept { return started_; }

private:
    bool started_ = false;
};

}  // namespace Common
