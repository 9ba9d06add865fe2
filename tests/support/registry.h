#pragma once

#include <windows.h>

#include <string>

namespace TestSupport {

// A key below HKEY_LOCAL_MACHINE that the test creates in one registry view and that is
// removed again, with every parent key the creation added, when the object goes away.
class ScopedRegistryKey {
public:
    // `view` is KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    ScopedRegistryKey(const std::wstring& path, REGSAM view);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    void SetString(const std::wstring& name, const std::wstring& value);
    void SetDword(const std::wstring& name, DWORD value);
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
    REGSAM view_;
    std::wstring createdRoot_;  // the outermost key that did not exist before
};

// True when the key exists in the view.
bool RegistryKeyExists(const std::wstring& path, REGSAM view);

}  // namespace TestSupport
