#include "support/registry.h"

#include <gtest/gtest.h>

namespace TestSupport {

bool RegistryKeyExists(const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

ScopedRegistryKey::ScopedRegistryKey(const std::wstring& path, REGSAM view) : view_(view) {
    // Find the outermost component that is missing, so that cleanup removes exactly what we added.
    for (size_t pos = path.find(L'\\');; pos = path.find(L'\\', pos + 1)) {
        const std::wstring prefix = path.substr(0, pos);
        if (!RegistryKeyExists(prefix, view)) {
            createdRoot_ = prefix;
            break;
        }
        if (pos == std::wstring::npos) {
            break;
        }
    }
    const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                      &key_, nullptr);
    if (rc != ERROR_SUCCESS) {
        ADD_FAILURE() << "RegCreateKeyExW failed: " << rc;
        key_ = nullptr;
    }
}

ScopedRegistryKey::~ScopedRegistryKey() {
    if (key_ != nullptr) {
        ::RegCloseKey(key_);
    }
    if (createdRoot_.empty()) {
        // The key existed before: leave it, the test only added values we cannot tell apart.
        return;
    }
    const size_t slash = createdRoot_.find_last_of(L'\\');
    const std::wstring parentPath = slash == std::wstring::npos ? L"" : createdRoot_.substr(0, slash);
    const std::wstring leaf = slash == std::wstring::npos ? createdRoot_ : createdRoot_.substr(slash + 1);
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS | view_, &parent) == ERROR_SUCCESS) {
        const LONG rc = ::RegDeleteTreeW(parent, leaf.c_str());
        if (rc != ERROR_SUCCESS) {
            ADD_FAILURE() << "RegDeleteTreeW failed: " << rc;
        }
        ::RegCloseKey(parent);
    }
}

void ScopedRegistryKey::SetString(const std::wstring& name, const std::wstring& value) {
    const LONG rc = ::RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ASSERT_EQ(rc, ERROR_SUCCESS);
}

void ScopedRegistryKey::SetDword(const std::wstring& name, DWORD value) {
    const LONG rc =
        ::RegSetValueExW(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ASSERT_EQ(rc, ERROR_SUCCESS);
}

}  // namespace TestSupport
