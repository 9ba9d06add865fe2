// COM objects for the fake libraries the tests put in place of the system's, built on the C form
// of the interfaces (CINTERFACE): every method of a vtable answers E_NOTIMPL until the fake sets
// it. A scenario comes as "key=value;..." in the fake's environment variable; when the library
// goes, "live=<objects not released> released=<letters of the others, in the order of their
// final release>" is written to the file named by that variable with "_LOG" appended.
#pragma once

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace FakeCom {

extern const wchar_t kScenario[];  // the fake's environment variable

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

inline std::wstring Setting(const std::wstring& key) {
    for (const std::wstring& pair : Split(Environment(kScenario), L';')) {
        if (pair.rfind(key + L"=", 0) == 0) {
            return pair.substr(key.size() + 1);
        }
    }
    return std::wstring();
}

inline HRESULT Hex(const std::wstring& text) {
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 16));
}

// Plain storage: it must outlive the library's own static destructors.
inline char g_released[64];
inline size_t g_releasedCount = 0;
inline long g_live = 0;

struct Object {
    const void* vtable;
    const IID* iid;  // the interface it has besides IUnknown
    char letter;
    std::vector<std::wstring> items;  // what it answers with
    size_t next = 0;
    ULONG references = 1;

    static HRESULT STDMETHODCALLTYPE QueryInterface(Object* self, REFIID iid, void** out) {
        *out = iid == IID_IUnknown || iid == *self->iid ? self : nullptr;
        self->references += *out != nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE AddRef(Object* self) { return ++self->references; }
    static ULONG STDMETHODCALLTYPE Release(Object* self) {
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
    static HRESULT STDMETHODCALLTYPE NotImplemented() { return E_NOTIMPL; }
};

template <typename Interface>
Object& Of(Interface* self) {
    return *reinterpret_cast<Object*>(self);
}

template <typename Interface>
Interface* New(const void* vtable, const IID& iid, char letter, std::vector<std::wstring> items = {}) {
    ++g_live;
    return reinterpret_cast<Interface*>(new Object{vtable, &iid, letter, std::move(items)});
}

// Makes an object unless the scenario has `step` fail (its HRESULT in hex) or, with "null",
// succeed without one.
template <typename Interface>
HRESULT Make(const wchar_t* step, Interface** out, const void* vtable, const IID& iid, char letter,
             std::vector<std::wstring> items = {}) {
    const std::wstring outcome = Setting(step);
    const HRESULT hr = outcome == L"null" ? S_OK : Hex(outcome);
    *out = SUCCEEDED(hr) && outcome != L"null" ? New<Interface>(vtable, iid, letter, std::move(items)) : nullptr;
    return hr;
}

template <typename Vtbl, typename Set>
Vtbl Vtable(Set set) {
    using Method = void (*)();  // the function pointer type that converts to and from any other
    const Method methods[] = {reinterpret_cast<Method>(&Object::QueryInterface),
                              reinterpret_cast<Method>(&Object::AddRef), reinterpret_cast<Method>(&Object::Release),
                              reinterpret_cast<Method>(&Object::NotImplemented)};
    Vtbl table;
    for (size_t i = 0; i < sizeof table / sizeof(Method); ++i) {
        std::memcpy(reinterpret_cast<Method*>(&table) + i, &methods[std::min<size_t>(i, 3)], sizeof(Method));
    }
    set(table);
    return table;
}

}  // namespace FakeCom

// Each fake is one unit; its library writes the log when it goes.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    const std::wstring log =
        reason == DLL_PROCESS_DETACH ? FakeCom::Environment(std::wstring(FakeCom::kScenario) + L"_LOG") : L"";
    if (!log.empty()) {
        std::ofstream(std::filesystem::path(log), std::ios::binary)
            << "live=" << FakeCom::g_live << " released=" << std::string(FakeCom::g_released, FakeCom::g_releasedCount);
    }
    return TRUE;
}
