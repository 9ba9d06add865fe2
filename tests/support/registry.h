#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/common/handles.h"  // and <windows.h>

namespace TestSupport {

inline bool OpenHklmKey(const std::wstring& path, REGSAM access, Common::UniqueHkey& key) {
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put()) == ERROR_SUCCESS) {
        return true;
    }
    key.release();  // a failed open leaves no handle to close
    return false;
}

inline bool RegistryKeyExists(const std::wstring& path, REGSAM view) {
    Common::UniqueHkey key;
    return OpenHklmKey(path, KEY_READ | view, key);
}

// The bytes of UTF-16 units, as the registry stores a string.
inline std::string UnitBytes(const std::wstring& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(wchar_t));
}

// A key below HKEY_LOCAL_MACHINE that the test creates in one registry view (KEY_WOW64_64KEY
// or KEY_WOW64_32KEY), removed with every parent key the creation added when the object goes.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(const std::wstring& path, REGSAM view) : view_(view) {
        // The outermost missing component, so that cleanup removes exactly what we added.
        for (size_t pos = 0; pos != std::wstring::npos && createdRoot_.empty();) {
            pos = path.find(L'\\', pos + 1);
            createdRoot_ = RegistryKeyExists(path.substr(0, pos), view) ? L"" : path.substr(0, pos);
        }
        const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                                          nullptr, key_.put(), nullptr);
        if (rc != ERROR_SUCCESS) {
            ADD_FAILURE() << "RegCreateKeyExW failed: " << rc;
            key_.release();
        }
    }
    ~ScopedRegistryKey() {
        key_.reset();
        const size_t slash = createdRoot_.find_last_of(L'\\');
        Common::UniqueHkey parent;  // a key that existed before is left alone
        if (!createdRoot_.empty() && OpenHklmKey(slash == std::wstring::npos ? L"" : createdRoot_.substr(0, slash),
                                                 KEY_ALL_ACCESS | view_, parent)) {
            EXPECT_EQ(::RegDeleteTreeW(parent.get(), createdRoot_.substr(slash + 1).c_str()), ERROR_SUCCESS);
        }
    }

    void SetString(const std::wstring& name, const std::wstring& value) {
        Set(name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
    }
    void SetDword(const std::wstring& name, DWORD value) { Set(name, REG_DWORD, &value, sizeof value); }
    // Stores the bytes as they are, of any type and count. The registry adds the terminator a
    // string's count leaves out when the unit after the data is NUL, so that unit is not one.
    void SetBytes(const std::wstring& name, DWORD type, std::string bytes) {
        const size_t size = bytes.size();
        Set(name, type, bytes.append("##").data(), size);
    }
    HKEY get() const { return key_.get(); }

private:
    void Set(const std::wstring& name, DWORD type, const void* data, size_t size) {
        const auto* bytes = static_cast<const BYTE*>(data);
        ASSERT_EQ(::RegSetValueExW(key_.get(), name.c_str(), 0, type, bytes, static_cast<DWORD>(size)), ERROR_SUCCESS);
    }

    Common::UniqueHkey key_;
    REGSAM view_;
    std::wstring createdRoot_;  // the outermost key that did not exist before
};

}  // namespace TestSupport
