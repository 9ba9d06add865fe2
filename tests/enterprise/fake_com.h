// COM objects for the fake libraries the tests put in place of the system's, built with the C
// form of the interfaces (CINTERFACE): a vtable starts with every method answering E_NOTIMPL
// and a fake sets the few it answers. A scenario arrives in an environment variable as
// "key=value;...". When the library goes, "live=<objects never released> released=<their
// letters, in the order of their final release>" is written to the file the variable
// <scenario variable>_LOG names.
#pragma once

#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

namespace FakeCom {

inline std::wstring Environment(const std::wstring& name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value, 1024);
    return std::wstring(value, length < 1024 ? length : 0);
}

inline std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> items;
    std::wistringstream stream(text);
    for (std::wstring item; std::getline(stream, item, separator);) {
        items.push_back(item);
    }
    return items;
}

inline HRESULT Hex(const std::wstring& text) {
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 16));
}

// The fake's scenario variable, defined by each fake.
extern const wchar_t kScenario[];

inline std::wstring Setting(const std::wstring& key) {
    for (const std::wstring& pair : Split(Environment(kScenario), L';')) {
        if (pair.rfind(key + L"=", 0) == 0) {
            return pair.substr(key.size() + 1);
        }
    }
    return std::wstring();
}

// The HRESULT (hex) a step fails with; "null" gives S_FALSE, a success without an object.
inline HRESULT Outcome(const wchar_t* step) {
    const std::wstring value = Setting(step);
    return value == L"null" ? S_FALSE : Hex(value);
}

struct Object {
    const void* vtable;
    const IID* iid;  // the interface it has besides IUnknown
    char letter;
    std::vector<std::wstring> items;  // what it answers with
    size_t next = 0;
    ULONG references = 1;
};

// Plain storage: it must outlive the library's own static destructors.
inline char g_released[64];
inline size_t g_releasedCount = 0;
inline long g_live = 0;

template <typename Interface>
Interface* New(const void* vtable, const IID& iid, char letter, std::vector<std::wstring> items = {}) {
    ++g_live;
    return reinterpret_cast<Interface*>(new Object{vtable, &iid, letter, std::move(items)});
}

template <typename Interface>
Object& Of(Interface* self) {
    return *reinterpret_cast<Object*>(self);
}

inline HRESULT STDMETHODCALLTYPE QueryInterface(Object* self, REFIID iid, void** out) {
    *out = iid == IID_IUnknown || iid == *self->iid ? self : nullptr;
    if (*out == nullptr) {
        return E_NOINTERFACE;
    }
    ++self->references;
    return S_OK;
}
inline ULONG STDMETHODCALLTYPE AddRef(Object* self) {
    return ++self->references;
}
inline ULONG STDMETHODCALLTYPE Release(Object* self) {
    const ULONG left = --self->references;
    if (left == 0) {
        --g_live;
        if (g_releasedCount < sizeof g_released) {
            g_released[g_releasedCount++] = self->letter;
        }
        delete self;
    }
    return left;
}
// On x64 the caller owns the argument space, so one method serves every signature.
inline HRESULT STDMETHODCALLTYPE NotImplemented() {
    return E_NOTIMPL;
}

// A vtable whose IUnknown methods are the ones above and whose other methods answer E_NOTIMPL,
// until `set` sets those the fake answers.
template <typename Vtbl, typename Set>
Vtbl Vtable(Set set) {
    using Method = void (*)();  // the function pointer type that converts to and from any other
    const Method methods[] = {reinterpret_cast<Method>(&QueryInterface), reinterpret_cast<Method>(&AddRef),
                              reinterpret_cast<Method>(&Release), reinterpret_cast<Method>(&NotImplemented)};
    Vtbl table;
    static_assert(sizeof table % sizeof(Method) == 0, "a vtable holds method pointers only");
    for (size_t i = 0; i < sizeof table / sizeof(Method); ++i) {
        std::memcpy(reinterpret_cast<Method*>(&table) + i, &methods[i < 3 ? i : 3], sizeof(Method));
    }
    set(table);
    return table;
}

inline void WriteLog() {
    const std::wstring path = Environment(std::wstring(kScenario) + L"_LOG");
    if (!path.empty()) {
        const std::string text =
            "live=" + std::to_string(g_live) + " released=" + std::string(g_released, g_releasedCount);
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(file);
    }
}

}  // namespace FakeCom
