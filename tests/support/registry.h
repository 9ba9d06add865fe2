#pragma once

#include <windows.h>

#include <string>

#include "core/common/handles.h"

namespace TestSupport {

// A key below HKEY_LOCAL_MACHINE that the test creates in one registry view (KEY_WOW64_64KEY
// or KEY_WOW64_32KEY), removed with every parent key the creation added when the object goes.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(const std::wstring& path, REGSAM view);
    ~ScopedRegistryKey();

    void SetString(const std::wstring& name, const std::wstring& value);
    void SetDword(const std::wstring& name, DWORD value);
    HKEY get() const { return key_.get(); }

private:
    Common::UniqueHkey key_;
    REGSAM view_;
    std::wstring createdRoot_;  // the outermost key that did not exist before
};

// True when the key exists in the view.
bool RegistryKeyExists(const std::wstring& path, REGSAM view);

}  // namespace TestSupport
