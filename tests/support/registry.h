#pragma once

#include <string>

#include "core/common/handles.h"  // and <windows.h>

namespace TestSupport {

// A key below HKEY_LOCAL_MACHINE that the test creates in one registry view (KEY_WOW64_64KEY
// or KEY_WOW64_32KEY), removed with every parent key the creation added when the object goes.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(const std::wstring& path, REGSAM view);
    ~ScopedRegistryKey();

    void SetString(const std::wstring& name, const std::wstring& value) {
        Set(name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
    }
    void SetDword(const std::wstring& name, DWORD value) { Set(name, REG_DWORD, &value, sizeof value); }
    HKEY get() const { return key_.get(); }

private:
    void Set(const std::wstring& name, DWORD type, const void* data, size_t size);

    Common::UniqueHkey key_;
    REGSAM view_;
    std::wstring createdRoot_;  // the outermost key that did not exist before
};

bool RegistryKeyExists(const std::wstring& path, REGSAM view);

}  // namespace TestSupport
